#include "tests/support/sample_images.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <png.h>

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

Bytes write_rle_bmp(int w, int h, int bits, const std::vector<uint8_t>& palette, const Bytes& stream, int info_size)
{
    const uint32_t colors = static_cast<uint32_t>(palette.size() / 3);
    const uint32_t offset = 14 + info_size + 4 * colors;
    Bytes out = {'B', 'M'};
    put32(out, offset + static_cast<uint32_t>(stream.size()));
    put32(out, 0);
    put32(out, offset);
    put32(out, static_cast<uint32_t>(info_size));
    put32(out, static_cast<uint32_t>(w));
    put32(out, static_cast<uint32_t>(h));
    put16(out, 1);
    put16(out, static_cast<uint32_t>(bits));
    put32(out, bits == 8 ? 1 : 2);
    put32(out, static_cast<uint32_t>(stream.size()));
    put32(out, 2835);
    put32(out, 2835);
    put32(out, colors == (1u << bits) ? 0 : colors);
    put32(out, 0);
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
