#include "tests/support/sample_images.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

int png_channels(int color_type)
{
    switch (color_type) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

static void append_to_bytes(png_structp png, png_bytep data, size_t length)
{
    Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// Without a setjmp, a libpng error aborts the process.
Bytes write_png(const PngSample& image)
{
    const int channels = png_channels(image.color_type);
    const int bits = image.bit_depth;
    const size_t row_bytes = (static_cast<size_t>(image.w) * channels * bits + 7) / 8;
    std::vector<Bytes> rows(image.h, Bytes(row_bytes, 0));
    for (int y = 0; y < image.h; ++y)
        for (int i = 0; i < image.w * channels; ++i) {
            unsigned v = image.samples[static_cast<size_t>(y) * image.w * channels + i];
            Bytes& row = rows[y];
            if (bits == 16) {
                row[2 * i] = static_cast<uint8_t>(v >> 8);
                row[2 * i + 1] = static_cast<uint8_t>(v);
            } else if (bits == 8) {
                row[i] = static_cast<uint8_t>(v);
            } else {
                // Leftmost sample in the most significant bits of the byte.
                int shift = 8 - bits - (i * bits) % 8;
                row[i * bits / 8] |= static_cast<uint8_t>(v << shift);
            }
        }
    std::vector<png_bytep> pointers;
    for (Bytes& row : rows)
        pointers.push_back(row.data());

    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info)
        std::abort();
    png_set_write_fn(png, &out, append_to_bytes, nullptr);
    png_set_IHDR(png, info, image.w, image.h, bits, image.color_type,
                 image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (size_t i = 0; i + 2 < image.palette.size(); i += 3)
        palette.push_back({image.palette[i], image.palette[i + 1], image.palette[i + 2]});
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!image.palette_alpha.empty())
        png_set_tRNS(png, info, image.palette_alpha.data(), static_cast<int>(image.palette_alpha.size()), nullptr);
    png_write_info(png, info);
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// With libjpeg's own error handler, an error prints its message and exits.
Bytes write_jpeg(const JpegSample& image)
{
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = static_cast<JDIMENSION>(image.w);
    c.image_height = static_cast<JDIMENSION>(image.h);
    c.input_components = image.components;
    c.in_color_space = image.components == 1 ? JCS_GRAYSCALE : image.components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    if (image.ycck)
        jpeg_set_colorspace(&c, JCS_YCCK);
    jpeg_set_quality(&c, image.quality, TRUE);
    if (image.progressive)
        jpeg_simple_progression(&c);
    std::vector<jpeg_scan_info> script;
    if (image.coefficient_scans > 0) {
        jpeg_scan_info dc = {image.components, {0, 1, 2, 3}, 0, 0, 0, 0};
        script.push_back(dc);
        for (int pass = 0; pass < image.coefficient_scans; ++pass)
            for (int component = 0; component < image.components; ++component)
                for (int k = 1; k < 64; ++k) {
                    // With refinement, a first pass of all but the lowest bit.
                    int ah = pass, al = image.coefficient_scans - 1 - pass;
                    script.push_back({1, {component, 0, 0, 0}, k, k, ah, al});
                }
        c.scan_info = script.data();
        c.num_scans = static_cast<int>(script.size());
    }
    c.arith_code = image.arithmetic ? TRUE : FALSE;
    c.restart_in_rows = image.restart_rows;
    jpeg_start_compress(&c, TRUE);
    const size_t stride = static_cast<size_t>(image.w) * image.components;
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.samples.data() + c.next_scanline * stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

void put16(Bytes& out, uint32_t v)
{
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}

void put32(Bytes& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// The file header and the first 40 bytes of the info header, for pixel
// data of `data_size` bytes after `offset`.
static Bytes bmp_head(int w, int h, int bits, uint32_t compression, int info_size, uint32_t offset,
                      uint32_t data_size, uint32_t colors_used)
{
    Bytes out = {'B', 'M'};
    put32(out, offset + data_size);
    put32(out, 0);
    put32(out, offset);
    put32(out, static_cast<uint32_t>(info_size));
    put32(out, static_cast<uint32_t>(w));
    put32(out, static_cast<uint32_t>(h));
    put16(out, 1);
    put16(out, static_cast<uint32_t>(bits));
    put32(out, compression);
    put32(out, data_size);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, colors_used);
    put32(out, 0);
    return out;
}

Bytes write_rle_bmp(int w, int h, int bits, const std::vector<uint8_t>& palette, const Bytes& stream, int info_size)
{
    const uint32_t colors = static_cast<uint32_t>(palette.size() / 3);
    const uint32_t offset = 14 + info_size + 4 * colors;
    Bytes out = bmp_head(w, h, bits, bits == 8 ? 1 : 2, info_size, offset, static_cast<uint32_t>(stream.size()),
                         colors == (1u << bits) ? 0 : colors);
    out.resize(14 + info_size, 0);
    for (uint32_t i = 0; i < colors; ++i) {
        out.push_back(palette[3 * i + 2]);
        out.push_back(palette[3 * i + 1]);
        out.push_back(palette[3 * i]);
        out.push_back(0);
    }
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

Bytes write_bitfields_bmp(int w, int h, int bits, const uint32_t masks[4], int info_size,
                         const std::vector<uint32_t>& pixels)
{
    const uint32_t row = (w * bits / 8 + 3) / 4 * 4;
    Bytes out = bmp_head(w, h, bits, 3 /* BI_BITFIELDS */, info_size, 14 + info_size, row * h, 0);
    for (int i = 0; i < 4; ++i)
        put32(out, masks[i]);
    out.resize(14 + info_size, 0);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x)
            (bits == 16 ? put16 : put32)(out, pixels[static_cast<size_t>(y) * w + x]);
        out.resize(out.size() + row - w * bits / 8, 0);
    }
    return out;
}

Bytes rle_encode(const std::vector<uint8_t>& indices, int w, int h, int bits)
{
    Bytes out;
    for (int y = h - 1; y >= 0; --y) {
        const uint8_t* row = indices.data() + static_cast<size_t>(y) * w;
        // How many pixels from x one run code can give: RLE8 repeats one
        // index, RLE4 alternates the two nibbles of its byte.
        auto run_at = [&](int x) {
            int n = 1;
            while (x + n < w && n < 255 && row[x + n] == row[x + (bits == 8 ? 0 : n % 2)])
                ++n;
            return n;
        };
        int x = 0;
        while (x < w) {
            int run = run_at(x);
            int literal = 0;
            while (x + literal < w && literal < 255 && run_at(x + literal) < 3)
                ++literal;
            if (run >= 3 || literal < 3) {
                int second = bits == 8 || run == 1 ? row[x] : row[x + 1];
                out.push_back(static_cast<uint8_t>(run));
                out.push_back(static_cast<uint8_t>(bits == 8 ? row[x] : row[x] << 4 | second));
                x += run;
                continue;
            }
            out.push_back(0);
            out.push_back(static_cast<uint8_t>(literal));
            size_t start = out.size();
            for (int i = 0; i < literal; ++i) {
                if (bits == 8)
                    out.push_back(row[x + i]);
                else if (i % 2 == 0)
                    out.push_back(static_cast<uint8_t>(row[x + i] << 4));
                else
                    out.back() |= row[x + i];
            }
            if ((out.size() - start) % 2)
                out.push_back(0);
            x += literal;
        }
        out.push_back(0);
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(1);
    return out;
}

Bytes jpeg_with_segment(const Bytes& jpeg, int marker, const Bytes& payload)
{
    const size_t length = payload.size() + 2;
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), {0xFF, static_cast<unsigned char>(marker), static_cast<unsigned char>(length >> 8),
                           static_cast<unsigned char>(length)});
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

Bytes jpeg_with_icc(const Bytes& jpeg, const Bytes& profile)
{
    const size_t per_marker = 65519;
    const size_t count = (profile.size() + per_marker - 1) / per_marker;
    Bytes out = jpeg;
    // Each segment goes in right after SOI, so the last is inserted first.
    for (size_t i = count; i-- > 0;) {
        static const char head[] = "ICC_PROFILE";
        Bytes payload(head, head + sizeof head);
        payload.push_back(static_cast<unsigned char>(i + 1));
        payload.push_back(static_cast<unsigned char>(count));
        const size_t begin = i * per_marker, end = std::min(profile.size(), begin + per_marker);
        payload.insert(payload.end(), profile.begin() + begin, profile.begin() + end);
        out = jpeg_with_segment(out, 0xE2, payload);
    }
    return out;
}

static void put_be32(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(v >> shift));
}

Bytes png_with_chunk(const Bytes& png, const char* type, const Bytes& body)
{
    Bytes chunk;
    put_be32(chunk, static_cast<uint32_t>(body.size()));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), body.begin(), body.end());
    put_be32(chunk, static_cast<uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4))));
    Bytes out(png.begin(), png.begin() + 33);  // signature and IHDR
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + 33, png.end());
    return out;
}

Bytes iccp_body(const char* name, const Bytes& profile)
{
    Bytes body(name, name + std::strlen(name));
    body.insert(body.end(), {0, 0});
    uLongf size = compressBound(static_cast<uLong>(profile.size()));
    const size_t head = body.size();
    body.resize(head + size);
    if (compress(body.data() + head, &size, profile.data(), static_cast<uLong>(profile.size())) != Z_OK)
        std::abort();
    body.resize(head + size);
    return body;
}

Bytes icc_profile(size_t size, uint32_t seed, bool rgb)
{
    Bytes p;
    put_be32(p, static_cast<uint32_t>(size));
    uint32_t x = seed * 2654435761u + 1;
    while (p.size() < size) {
        x = x * 1103515245u + 12345u;
        p.push_back(static_cast<unsigned char>(x >> 16));
    }
    std::memcpy(&p[12], "mntr", 4);
    std::memcpy(&p[16], rgb ? "RGB " : "GRAY", 4);
    std::memcpy(&p[20], "XYZ ", 4);
    std::memcpy(&p[36], "acsp", 4);
    return p;
}

Bytes exif_block(bool little, int orientation, bool thumbnail)
{
    auto u16 = [&](Bytes& b, uint32_t v) {
        b.push_back(static_cast<unsigned char>(little ? v : v >> 8));
        b.push_back(static_cast<unsigned char>(little ? v >> 8 : v));
    };
    auto u32 = [&](Bytes& b, uint32_t v) {
        u16(b, little ? v & 0xFFFF : v >> 16);
        u16(b, little ? v >> 16 : v & 0xFFFF);
    };
    // An entry whose value fits in 4 bytes holds it there, left-aligned.
    auto entry = [&](Bytes& b, uint32_t tag, uint32_t type, uint32_t count, uint32_t value, bool is_short) {
        u16(b, tag);
        u16(b, type);
        u32(b, count);
        if (is_short) {
            u16(b, value);
            u16(b, 0);
        } else {
            u32(b, value);
        }
    };
    const char make[20] = "Tavrosk test camera";
    const char when[20] = "2026:12:08 14:00:00";
    const uint32_t ifd0_entries = orientation > 0 ? 3 : 2;
    const uint32_t ifd0 = 8, make_at = ifd0 + 2 + 12 * ifd0_entries + 4, exif_ifd = make_at + 20;
    const uint32_t when_at = exif_ifd + 2 + 12 + 4, ifd1 = when_at + 20, thumb_at = ifd1 + 2 + 24 + 4;
    Bytes b = {static_cast<unsigned char>(little ? 'I' : 'M'), static_cast<unsigned char>(little ? 'I' : 'M')};
    u16(b, 42);
    u32(b, ifd0);
    u16(b, ifd0_entries);
    entry(b, 0x010F, 2, 20, make_at, false);  // Make, ASCII
    if (orientation > 0)
        entry(b, 0x0112, 3, 1, static_cast<uint32_t>(orientation), true);
    entry(b, 0x8769, 4, 1, exif_ifd, false);
    u32(b, thumbnail ? ifd1 : 0);
    b.insert(b.end(), make, make + 20);
    u16(b, 1);
    entry(b, 0x9003, 2, 20, when_at, false);  // DateTimeOriginal
    u32(b, 0);
    b.insert(b.end(), when, when + 20);
    if (thumbnail) {
        u16(b, 2);
        entry(b, 0x0201, 4, 1, thumb_at, false);
        entry(b, 0x0202, 4, 1, 64, false);
        u32(b, 0);
        Bytes jpeg(64, 0x55);
        jpeg[0] = 0xFF, jpeg[1] = 0xD8, jpeg[62] = 0xFF, jpeg[63] = 0xD9;
        b.insert(b.end(), jpeg.begin(), jpeg.end());
    }
    return b;
}

Bytes exif_app1(const Bytes& tiff)
{
    Bytes payload(6 + tiff.size(), 0);
    std::memcpy(payload.data(), "Exif", 4);
    std::copy(tiff.begin(), tiff.end(), payload.begin() + 6);
    return payload;
}
