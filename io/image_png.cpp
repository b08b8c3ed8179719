// PNG through libpng's classic API. libpng reports errors by longjmp, so each
// setjmp sits in a function whose frame holds no C++ object with a destructor
// and whose state lives in a plain record owned by the caller; the frames
// libpng jumps over (our callbacks) hold none either. The chunks that
// describe colour (iCCP, sRGB, gAMA, cHRM) are read from the bytes here and
// written back with png_write_chunk, as they were, so that libpng's checks
// of a profile neither drop nor alter one.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "io/image_codecs.h"

namespace {

enum { MESSAGE_SIZE = 200 };

struct PngMessage {
    char text[MESSAGE_SIZE];
    bool truncated;  // the data ended before libpng was done with it
};

void png_fail(png_structp png, png_const_charp message)
{
    PngMessage* m = static_cast<PngMessage*>(png_get_error_ptr(png));
    std::snprintf(m->text, sizeof m->text, "%s", message);
    png_longjmp(png, 1);
}

void png_ignore_warning(png_structp, png_const_charp) {}

struct PngRead {
    PngMessage message;
    const unsigned char* data;
    size_t size, pos;
    png_structp png;
    png_infop info;
    ImageBuffer* image;  // the caller's, filled here
    png_uint_32 w, h;
    bool no_memory;  // the w x h image could not be allocated
};

void png_read_memory(png_structp png, png_bytep out, size_t length)
{
    PngRead* r = static_cast<PngRead*>(png_get_io_ptr(png));
    if (length > r->size - r->pos) {
        r->message.truncated = true;
        png_error(png, "truncated");
    }
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
}

// Everything from the header to the end chunk; libpng may longjmp out of it.
void png_read_all(PngRead* r)
{
    png_structp png = r->png;
    png_infop info = r->info;
    png_read_info(png, info);
    // Grey, grey + alpha, RGB and RGBA keep their channels and their 8 or 16
    // bits. Grey below 8 bits is scaled up to 8, a palette is looked up
    // into RGB, and a tRNS chunk becomes an alpha channel, except a
    // palette's that makes no entry transparent. No gamma correction is
    // applied.
    png_bytep palette_alpha = nullptr;
    int entries = 0;
    png_set_expand(png);
    if (png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE
        && png_get_tRNS(png, info, &palette_alpha, &entries, nullptr) && palette_alpha
        && std::all_of(palette_alpha, palette_alpha + entries, [](png_byte a) { return a == 255; }))
        png_set_strip_alpha(png);
    // Samples of 16 bits in the host's order.
    if (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
        png_set_swap(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 w = r->w = png_get_image_width(png, info), h = r->h = png_get_image_height(png, info);
    const int channels = png_get_channels(png, info), bits = png_get_bit_depth(png, info);
    if (channels < 1 || channels > 4 || (bits != 8 && bits != 16)
        || png_get_rowbytes(png, info) != size_t(w) * channels * (bits / 8))
        png_error(png, "unexpected row layout after the transformations");
    if (!image_buffer_make(r->image, static_cast<int>(w), static_cast<int>(h), channels,
                           bits == 16 ? SAMPLE_U16 : SAMPLE_U8)) {
        r->no_memory = true;
        png_error(png, "no memory");
    }
    // Each interlace pass fills in the rows the earlier passes left, in place.
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < h; ++y)
            png_read_row(png, image_row(r->image->view, static_cast<int>(y)), nullptr);
    // The chunks after the pixels, up to IEND, must be there as well.
    png_read_end(png, nullptr);
}

bool png_read_guarded(PngRead* r)
{
    r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r->message, png_fail, png_ignore_warning);
    if (!r->png)
        return false;
    r->info = png_create_info_struct(r->png);
    if (!r->info)
        return false;
    if (setjmp(png_jmpbuf(r->png)))
        return false;
    png_set_user_limits(r->png, IMAGE_MAX_SIDE, IMAGE_MAX_SIDE);
    // Text and other ancillary chunks, and what libpng inflates of them,
    // are held whole: no more than the largest profile kept.
    png_set_chunk_malloc_max(r->png, IMAGE_MAX_ICC + 4096);
    png_set_read_fn(r->png, r, png_read_memory);
    png_read_all(r);
    return true;
}

uint32_t be32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// The colour chunks before the first IDAT (libpng, like the format, ignores
// them after it), the first of each kind; a later one is ignored as libpng
// ignores it. A chunk that cannot be read (bad CRC, wrong length, a profile
// that does not inflate) refuses the image: dropping it would change how
// the result looks. Called once libpng has read the whole file, so every
// chunk length is known to fit.
bool read_colour_chunks(const unsigned char* data, size_t size, ImageMeta* meta, std::string* problem)
{
    bool seen_icc = false;
    for (size_t pos = 8; size - pos >= 12;) {
        const uint32_t length = be32(data + pos);
        if (length > size - pos - 12)
            break;
        const std::string type(reinterpret_cast<const char*>(data + pos + 4), 4);
        const unsigned char* body = data + pos + 8;
        pos += 12 + static_cast<size_t>(length);
        if (type == "IDAT")
            break;
        std::vector<unsigned char>* raw = type == "sRGB" ? &meta->srgb
                                        : type == "gAMA" ? &meta->gama
                                        : type == "cHRM" ? &meta->chrm
                                                         : nullptr;
        if (!(raw && raw->empty()) && !(type == "iCCP" && !seen_icc))
            continue;
        const std::string what = "not a PNG image that can be decoded (" + type + ": ";
        if (crc32(crc32(0, nullptr, 0), body - 4, length + 4) != be32(body + length)) {
            *problem = what + "CRC error)";
            return false;
        }
        if (raw) {
            const uint32_t want = type == "sRGB" ? 1 : type == "gAMA" ? 4 : 32;
            if (length != want) {
                *problem = what + std::to_string(length) + " bytes, " + std::to_string(want) + " expected)";
                return false;
            }
            if ((type == "sRGB" && body[0] > 3) || (type == "gAMA" && be32(body) == 0)) {
                *problem = what + "value out of range)";
                return false;
            }
            raw->assign(body, body + length);
            continue;
        }
        seen_icc = true;
        // A name of 1 to 79 bytes, its NUL, compression method 0, then zlib data.
        const unsigned char* nul = static_cast<const unsigned char*>(std::memchr(body, 0, std::min<size_t>(length, 80)));
        if (!nul || nul == body || size_t(nul - body) + 2 > length || nul[1] != 0) {
            *problem = what + "bad profile name or compression method)";
            return false;
        }
        meta->icc_name.assign(reinterpret_cast<const char*>(body), static_cast<size_t>(nul - body));
        z_stream z = {};
        if (inflateInit(&z) != Z_OK) {
            *problem = "not enough memory to decode a PNG image";
            return false;
        }
        z.next_in = const_cast<unsigned char*>(nul + 2);
        z.avail_in = static_cast<uInt>(length - (nul + 2 - body));
        int status = Z_OK;
        unsigned char chunk[16384];
        while (status == Z_OK && meta->icc.size() <= IMAGE_MAX_ICC) {
            z.next_out = chunk;
            z.avail_out = sizeof chunk;
            status = inflate(&z, Z_NO_FLUSH);
            meta->icc.insert(meta->icc.end(), chunk, chunk + (sizeof chunk - z.avail_out));
            if (status == Z_BUF_ERROR && z.avail_in > 0)
                status = Z_OK;
        }
        inflateEnd(&z);
        if (meta->icc.size() > IMAGE_MAX_ICC) {
            *problem = what + "profile over " + std::to_string(IMAGE_MAX_ICC) + " bytes)";
            return false;
        }
        if (status != Z_STREAM_END || meta->icc.empty()) {
            *problem = what + "profile data corrupt or cut short)";
            return false;
        }
    }
    return true;
}

struct PngChunk {
    const char* type;
    const unsigned char* data;
    size_t size;
};

struct PngWrite {
    PngMessage message;
    png_structp png;
    png_infop info;
    const ImageView* image;  // 1 to 4 channels of 8 or 16 bits
    std::FILE* out;
    const PngChunk* chunks;  // written after IHDR, owned by the caller
    int chunk_count;
    int level;                           // zlib's, 0 to 9
    std::atomic<long long>* rows_done;  // or NULL
};

void png_write_all(PngWrite* wr)
{
    const ImageView& image = *wr->image;
    png_init_io(wr->png, wr->out);
    static const int colour_types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                       PNG_COLOR_TYPE_RGB_ALPHA};
    const bool deep = image.type == SAMPLE_U16;
    png_set_IHDR(wr->png, wr->info, image.width, image.height, deep ? 16 : 8, colour_types[image.channels - 1],
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(wr->png, wr->level);
    // Stored data gains nothing from filtering: the rows go as they are.
    if (wr->level == 0)
        png_set_filter(wr->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(wr->png, wr->info);
    // The file's 16-bit samples are big-endian; libpng swaps a copy of each row.
    if (deep && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
        png_set_swap(wr->png);
    for (int i = 0; i < wr->chunk_count; ++i) {
        const PngChunk& c = wr->chunks[i];
        png_write_chunk(wr->png, reinterpret_cast<png_const_bytep>(c.type), c.data, c.size);
    }
    for (int y = 0; y < image.height; ++y) {
        png_write_row(wr->png, image_row(image, y));
        if (wr->rows_done)
            ++*wr->rows_done;
    }
    png_write_end(wr->png, nullptr);
}

bool png_write_guarded(PngWrite* wr)
{
    wr->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &wr->message, png_fail, png_ignore_warning);
    if (!wr->png)
        return false;
    wr->info = png_create_info_struct(wr->png);
    if (!wr->info)
        return false;
    if (setjmp(png_jmpbuf(wr->png)))
        return false;
    png_write_all(wr);
    return true;
}

}  // namespace

bool decode_png(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem, ImageMeta* meta)
{
    // The size from IHDR, read before libpng, so that the refusal names it;
    // libpng's user limits above are a second guard.
    if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        uint32_t w = be32(data + 16), h = be32(data + 20);
        if (!image_size_allowed(w, h)) {
            *problem = image_size_problem(w, h);
            return false;
        }
    }
    // A chunk that claims more bytes than the file holds would have libpng
    // allocate that much before it finds the data missing.
    for (size_t pos = 8; pos < size;) {
        if (size - pos < 12 || be32(data + pos) > size - pos - 12) {
            *problem = "truncated PNG data";
            return false;
        }
        const bool end = std::memcmp(data + pos + 4, "IEND", 4) == 0;
        pos += 12 + static_cast<size_t>(be32(data + pos));
        if (end)
            break;
    }
    PngRead r = {};
    r.data = data;
    r.size = size;
    r.image = image;
    bool ok = png_read_guarded(&r);
    // Destroying clears the pointers: take what they say first.
    const bool created = r.png && r.info;
    png_destroy_read_struct(r.png ? &r.png : nullptr, r.info ? &r.info : nullptr, nullptr);
    if (ok && read_colour_chunks(data, size, meta, problem))
        return true;
    *image = ImageBuffer();
    if (ok)
        *meta = ImageMeta();
    else if (r.message.truncated)
        *problem = "truncated PNG data";
    else if (r.no_memory)
        *problem = no_memory_problem(static_cast<int>(r.w), static_cast<int>(r.h));
    else if (!created)
        *problem = "not enough memory to decode a PNG image";
    else
        *problem = std::string("not a PNG image that can be decoded (") + r.message.text + ")";
    return false;
}

bool encode_png(const ImageView& image, std::FILE* out, std::string* problem, const ImageMeta* meta, int level,
                std::atomic<long long>* rows_done)
{
    // iCCP: the profile's name (ours when it came from a JPEG), a NUL,
    // method 0 and the zlib data.
    std::vector<unsigned char> iccp;
    std::vector<PngChunk> chunks;
    if (meta) {
        if (image_icc_fits(*meta, image.channels)) {
            const std::string name = meta->icc_name.empty() ? "ICC profile" : meta->icc_name;
            uLongf packed = compressBound(static_cast<uLong>(meta->icc.size()));
            iccp.assign(name.begin(), name.end());
            iccp.insert(iccp.end(), {0, 0});
            const size_t head = iccp.size();
            iccp.resize(head + packed);
            if (compress2(iccp.data() + head, &packed, meta->icc.data(), static_cast<uLong>(meta->icc.size()), 9)
                != Z_OK) {
                *problem = "PNG encoder error (cannot compress the ICC profile)";
                return false;
            }
            iccp.resize(head + packed);
        }
        const struct {
            const char* type;
            const std::vector<unsigned char>& body;
        } kinds[] = {{"gAMA", meta->gama}, {"cHRM", meta->chrm}, {"sRGB", meta->srgb}, {"iCCP", iccp}};
        for (const auto& k : kinds)
            if (!k.body.empty())
                chunks.push_back({k.type, k.body.data(), k.body.size()});
    }
    PngWrite wr = {};
    wr.image = &image;
    wr.out = out;
    wr.chunks = chunks.data();
    wr.chunk_count = static_cast<int>(chunks.size());
    wr.level = level;
    wr.rows_done = rows_done;
    bool ok = png_write_guarded(&wr);
    const bool created = wr.png && wr.info;
    png_destroy_write_struct(wr.png ? &wr.png : nullptr, wr.info ? &wr.info : nullptr);
    if (!ok)
        *problem = std::string("PNG encoder error (") + (created ? wr.message.text : "no memory") + ")";
    return ok;
}
