// BMP: SDL's own loader and load check first, so that the batch tools get
// exactly the pixels the program gets; RLE8 and RLE4 files, which SDL 1.2
// refuses, are decoded here into the 8-bit palette surface SDL makes for the
// same image stored uncompressed. Either surface is then read into 8-bit
// R, G, B pixels as get_pixel reads it. SDL 1.2 ignores a V3, V4 or V5
// header's alpha mask; its surface keeps the pixels as stored, so the alpha
// is taken from them here.
#include <climits>
#include <cstdint>
#include <cstring>

#include "io/image_codecs.h"
#include "io/surface_check.h"
#include "sdl/pixel.h"
#include "sdl/surface_image.h"

namespace {

enum { FILE_HEADER = 14, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };

struct BmpHeader {
    uint32_t pixel_offset;
    uint32_t info_size;
    long long width, height;  // height < 0: rows stored top-down
    int bits;
    uint32_t compression;
    uint32_t colors_used;
};

uint32_t le16(const unsigned char* p)
{
    return p[0] | p[1] << 8;
}

uint32_t le32(const unsigned char* p)
{
    return le16(p) | le16(p + 2) << 16;
}

// The fields as SDL reads them: a 12-byte core header has 16-bit sizes and no
// compression, any other header size 32-bit signed sizes. False when the file
// is too short to hold them.
bool read_header(const unsigned char* data, size_t size, BmpHeader* h)
{
    if (size < FILE_HEADER + 16)
        return false;
    h->pixel_offset = le32(data + 10);
    h->info_size = le32(data + 14);
    const unsigned char* info = data + FILE_HEADER;
    if (h->info_size == 12) {
        h->width = le16(info + 4);
        h->height = le16(info + 6);
        h->bits = static_cast<int>(le16(info + 10));
        h->compression = 0;
        h->colors_used = 0;
        return true;
    }
    if (size < FILE_HEADER + 40)
        return false;
    h->width = static_cast<int32_t>(le32(info + 4));
    h->height = static_cast<int32_t>(le32(info + 8));
    h->bits = static_cast<int>(le16(info + 14));
    h->compression = le32(info + 16);
    h->colors_used = le32(info + 32);
    return true;
}

// The alpha mask of a BITMAPV3, V4 or V5 header (56, 108 or 124 bytes)
// whose 16- or 32-bit pixels are laid out by bit fields; 0 for any other
// file, whose pixels are opaque.
uint32_t alpha_mask(const unsigned char* data, size_t size, const BmpHeader& h)
{
    const bool has_mask = h.info_size == 56 || h.info_size == 108 || h.info_size == 124;
    if (!has_mask || h.compression != BI_BITFIELDS || (h.bits != 16 && h.bits != 32)
        || size < FILE_HEADER + 56)
        return 0;
    return le32(data + FILE_HEADER + 52);
}

bool is_rle(const BmpHeader& h)
{
    bool info_size_known = h.info_size == 40 || h.info_size == 108 || h.info_size == 124;
    return info_size_known
        && ((h.compression == BI_RLE8 && h.bits == 8) || (h.compression == BI_RLE4 && h.bits == 4));
}

const char* const corrupt_rle = "corrupt RLE data";

// Decodes the stream from `pos` into `surface` (all index 0 beforehand).
// Rows count from the bottom of the image. A stream that ends early leaves
// the rest at index 0. The pixels of a run past the right edge are dropped:
// ImageMagick, for one, encodes each row's padding bytes as pixels. Any
// other code that would place a pixel outside the image or move outside it
// is corrupt. Returns NULL or the problem.
const char* decode_rle_stream(const unsigned char* data, size_t size, size_t pos, int bits, SDL_Surface* surface)
{
    const int w = surface->w, h = surface->h;
    Uint8* const pixels = static_cast<Uint8*>(surface->pixels);
    int x = 0, row = 0;
    auto line = [&]() { return pixels + static_cast<size_t>(h - 1 - row) * surface->pitch; };
    while (size - pos >= 2) {
        const int count = data[pos], value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            // A run: one index, or two alternating nibbles in RLE4.
            if (row >= h)
                return corrupt_rle;
            const int inside = count < w - x ? count : w - x;
            Uint8* out = line() + x;
            for (int i = 0; i < inside; ++i)
                out[i] = static_cast<Uint8>(bits == 8 ? value : (i % 2 == 0 ? value >> 4 : value & 0x0F));
            x += inside;
            continue;
        }
        switch (value) {
        case 0:  // end of line
            if (row >= h)
                return corrupt_rle;
            x = 0;
            ++row;
            break;
        case 1:  // end of bitmap
            return nullptr;
        case 2: {  // delta: right and up
            if (size - pos < 2)
                return nullptr;
            const int dx = data[pos], dy = data[pos + 1];
            pos += 2;
            if (dx > w - x || dy >= h - row)
                return corrupt_rle;
            x += dx;
            row += dy;
            break;
        }
        default: {  // absolute block of `value` indices, padded to 16 bits
            const int n = value;
            if (row >= h || n > w - x)
                return corrupt_rle;
            const size_t bytes = bits == 8 ? n : (n + 1) / 2;
            const size_t present = size - pos < bytes ? size - pos : bytes;
            const int available = static_cast<int>(bits == 8 ? present : 2 * present);
            const int copied = available < n ? available : n;
            Uint8* out = line() + x;
            for (int i = 0; i < copied; ++i) {
                const int byte = data[pos + (bits == 8 ? i : i / 2)];
                out[i] = static_cast<Uint8>(bits == 8 ? byte : (i % 2 == 0 ? byte >> 4 : byte & 0x0F));
            }
            if (present < bytes)
                return nullptr;
            x += n;
            pos += bytes + bytes % 2;
            if (pos > size)
                return nullptr;
            break;
        }
        }
    }
    return nullptr;
}

SDL_Surface* decode_rle(const unsigned char* data, size_t size, const BmpHeader& header, std::string* problem)
{
    if (header.height < 0) {
        *problem = "top-down RLE BMP images are not valid";
        return nullptr;
    }
    if (!image_size_allowed(header.width, header.height)) {
        *problem = image_size_problem(header.width, header.height);
        return nullptr;
    }
    const uint32_t colors = header.colors_used ? header.colors_used : 1u << header.bits;
    if (colors > 256) {
        *problem = "BMP palette of " + std::to_string(colors) + " colours";
        return nullptr;
    }
    const size_t palette_at = FILE_HEADER + static_cast<size_t>(header.info_size);
    if (size < palette_at + 4 * colors) {
        *problem = "truncated BMP data";
        return nullptr;
    }
    const int w = static_cast<int>(header.width), h = static_cast<int>(header.height);
    SDL_Surface* surface = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 8, 0, 0, 0, 0);
    if (!surface || !surface->format->palette) {
        SDL_FreeSurface(surface);
        *problem = no_memory_problem(w, h);
        return nullptr;
    }
    // Pixels the stream skips are index 0.
    for (int y = 0; y < h; ++y)
        std::memset(static_cast<Uint8*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch, 0, w);
    SDL_Color palette[256];
    for (uint32_t i = 0; i < colors; ++i) {
        const unsigned char* entry = data + palette_at + 4 * i;
        palette[i].b = entry[0];
        palette[i].g = entry[1];
        palette[i].r = entry[2];
        palette[i].unused = 0;
    }
    SDL_SetColors(surface, palette, 0, static_cast<int>(colors));
    // As SDL's loader does: the palette holds as many colours as the file.
    surface->format->palette->ncolors = static_cast<int>(colors);

    const size_t start = header.pixel_offset < size ? header.pixel_offset : size;
    if (const char* why = decode_rle_stream(data, size, start, header.bits, surface)) {
        SDL_FreeSurface(surface);
        *problem = why;
        return nullptr;
    }
    return surface;
}

// The surface as SDL_LoadBMP would give it, or NULL with *problem.
SDL_Surface* decode_surface(const unsigned char* data, size_t size, std::string* problem)
{
    BmpHeader header;
    const bool have_header = read_header(data, size, &header);
    // SDL allocates from the header alone: refuse a huge image before it does.
    // Sizes below 1 are SDL's and the load check's to refuse.
    if (have_header && header.width >= 1 && header.height != 0) {
        long long rows = header.height < 0 ? -header.height : header.height;
        if (!image_size_allowed(header.width, rows)) {
            *problem = image_size_problem(header.width, rows);
            return nullptr;
        }
    }
    if (size > INT_MAX) {
        *problem = "not a BMP image that can be loaded (file too large)";
        return nullptr;
    }
    SDL_ClearError();
    SDL_Surface* image = load_bmp_rw_checked(SDL_RWFromConstMem(data, static_cast<int>(size)));
    if (image)
        return image;
    if (have_header && is_rle(header))
        return decode_rle(data, size, header, problem);
    const char* why = SDL_GetError();
    *problem = std::string("not a BMP image that can be loaded")
        + (why && *why ? std::string(" (") + why + ")" : std::string());
    return nullptr;
}

}  // namespace

SDL_Surface* decode_bmp_surface(const unsigned char* data, size_t size, std::string* problem)
{
    SDL_Surface* surface = decode_surface(data, size, problem);
    if (surface && !surface_usable(surface)) {
        SDL_FreeSurface(surface);
        *problem = "not an image that can be used";
        return nullptr;
    }
    return surface;
}

namespace {

// The image's alpha from each pixel's `mask` bits (v of n bits as
// v * 255 / (2^n - 1) to the nearest), beside the colours in `rgb`, into
// *rgba. A mask that is not one run of bits inside the pixel, apart from
// the colours' masks, describes no alpha, nor does one that gives every
// pixel the same alpha: the image stays opaque (true, *rgba empty). False
// when memory runs out.
bool with_alpha(SDL_Surface* surface, uint32_t mask, const ImageView& rgb, ImageBuffer* rgba)
{
    const SDL_PixelFormat* f = surface->format;
    const int bytes = f->BytesPerPixel;
    const uint32_t run = mask ? mask >> __builtin_ctz(mask) : 0;
    if (run == 0 || (run & (run + 1)) != 0 || (bytes != 2 && bytes != 4) || (bytes == 2 && mask > 0xFFFF)
        || f->BitsPerPixel != 8 * bytes || (mask & (f->Rmask | f->Gmask | f->Bmask)) != 0)
        return true;
    if (!image_buffer_make(rgba, rgb.width, rgb.height, 4, SAMPLE_U8))
        return false;
    const uint64_t top = run;
    lock_if_needed(surface);
    for (int y = 0; y < rgb.height; ++y) {
        const Uint8* in = static_cast<const Uint8*>(surface->pixels) + row_offset(y, surface->pitch, bytes);
        const unsigned char* colour = image_row(rgb, y);
        unsigned char* out = image_row(rgba->view, y);
        for (int x = 0; x < rgb.width; ++x, in += bytes, colour += 3, out += 4) {
            uint32_t pixel;
            if (bytes == 2) {
                Uint16 p16;
                std::memcpy(&p16, in, 2);
                pixel = p16;
            } else {
                std::memcpy(&pixel, in, 4);
            }
            const uint64_t v = (pixel & mask) >> __builtin_ctz(mask);
            std::memcpy(out, colour, 3);
            out[3] = static_cast<unsigned char>((v * 510 + top) / (2 * top));
        }
    }
    unlock_if_needed(surface);
    // Writers put an alpha mask on opaque images (ImageMagick's are all 255,
    // others all 0): an alpha that is the same everywhere says nothing.
    const ImageView& v = rgba->view;
    bool varies = false;
    for (int y = 0; y < v.height && !varies; ++y)
        for (int x = 0; x < v.width && !varies; ++x)
            varies = image_row(v, y)[4 * x + 3] != v.pixels[3];
    if (!varies)
        *rgba = ImageBuffer();
    return true;
}

}  // namespace

bool decode_bmp(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem)
{
    SurfacePtr surface(decode_bmp_surface(data, size, problem));
    if (!surface)
        return false;
    BmpHeader header;
    const uint32_t mask = read_header(data, size, &header) ? alpha_mask(data, size, header) : 0;
    ImageBuffer rgba;
    if (!surface_to_rgb8(surface.get(), image) || (mask && !with_alpha(surface.get(), mask, image->view, &rgba))) {
        *image = ImageBuffer();
        *problem = no_memory_problem(surface->w, surface->h);
        return false;
    }
    if (rgba.data)
        *image = std::move(rgba);
    return true;
}
