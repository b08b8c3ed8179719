// PNG through libpng's classic API. libpng reports errors by longjmp, so each
// setjmp sits in a function whose frame holds no C++ object with a destructor
// and whose state lives in a plain record owned by the caller; the frames
// libpng jumps over (our callbacks) hold none either.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "io/image_codecs.h"
#include "raster/pixel.h"

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
    SDL_Surface* surface;
    png_uint_32 w, h;
    bool no_memory;  // SDL could not allocate the w x h surface
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
    // Every colour type and depth becomes 8-bit RGB: palettes and grey below
    // 8 bits expand, 16-bit channels are reduced to 8 with rounding
    // (v * 255 / 65535 to the nearest), grey is copied into all three
    // channels, and alpha (including tRNS) is dropped, not composited: the
    // warp works on colour only. No gamma correction is applied.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 w = r->w = png_get_image_width(png, info), h = r->h = png_get_image_height(png, info);
    if (png_get_channels(png, info) != 3 || png_get_bit_depth(png, info) != 8 || png_get_rowbytes(png, info) != 3 * w)
        png_error(png, "unexpected row layout after the transformations");
    r->surface = create_rgb24_surface(static_cast<int>(w), static_cast<int>(h));
    if (!r->surface) {
        r->no_memory = true;
        png_error(png, "no memory");
    }
    // Each interlace pass fills in the rows the earlier passes left, in place.
    Uint8* pixels = static_cast<Uint8*>(r->surface->pixels);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < h; ++y)
            png_read_row(png, pixels + static_cast<size_t>(y) * r->surface->pitch, nullptr);
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
    png_set_read_fn(r->png, r, png_read_memory);
    png_read_all(r);
    return true;
}

uint32_t be32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

struct PngWrite {
    PngMessage message;
    png_structp png;
    png_infop info;
    SDL_Surface* image;
    unsigned char* row;  // 3 * w bytes, owned by the caller
    std::FILE* out;
};

void png_write_all(PngWrite* wr)
{
    SDL_Surface* image = wr->image;
    png_init_io(wr->png, wr->out);
    png_set_IHDR(wr->png, wr->info, image->w, image->h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(wr->png, wr->info);
    for (int y = 0; y < image->h; ++y) {
        read_rgb_row(image, y, wr->row);
        png_write_row(wr->png, wr->row);
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

SDL_Surface* decode_png(const unsigned char* data, size_t size, std::string* problem)
{
    // The size from IHDR, read before libpng, so that the refusal names it;
    // libpng's user limits above are a second guard.
    if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        uint32_t w = be32(data + 16), h = be32(data + 20);
        if (!image_size_allowed(w, h)) {
            *problem = image_size_problem(w, h);
            return nullptr;
        }
    }
    PngRead r = {};
    r.data = data;
    r.size = size;
    bool ok = png_read_guarded(&r);
    // Destroying clears the pointers: take what they say first.
    const bool created = r.png && r.info;
    png_destroy_read_struct(r.png ? &r.png : nullptr, r.info ? &r.info : nullptr, nullptr);
    if (ok)
        return r.surface;
    SDL_FreeSurface(r.surface);
    if (r.message.truncated)
        *problem = "truncated PNG data";
    else if (r.no_memory)
        *problem = no_memory_problem(static_cast<int>(r.w), static_cast<int>(r.h));
    else if (!created)
        *problem = "not enough memory to decode a PNG image";
    else
        *problem = std::string("not a PNG image that can be decoded (") + r.message.text + ")";
    return nullptr;
}

bool encode_png(SDL_Surface* image, std::FILE* out, std::string* problem)
{
    std::vector<unsigned char> row(3 * static_cast<size_t>(image->w));
    PngWrite wr = {};
    wr.image = image;
    wr.row = row.data();
    wr.out = out;
    bool ok = png_write_guarded(&wr);
    const bool created = wr.png && wr.info;
    png_destroy_write_struct(wr.png ? &wr.png : nullptr, wr.info ? &wr.info : nullptr);
    if (!ok)
        *problem = std::string("PNG encoder error (") + (created ? wr.message.text : "no memory") + ")";
    return ok;
}
