#include "sdl/pixel_fast.h"

#include <cstring>

#include "sdl/pixel.h"

// A channel's value depends only on its own bits of the packed value (SDL
// shifts them down and widens them), so one table entry per value of those
// bits, filled by SDL itself, reproduces SDL_GetRGB exactly. That holds for
// channels of at most 8 bits; wider ones go through get_pixel.
static bool fill_read_tables(FastFormat* f, const SDL_PixelFormat* fmt)
{
    if (fmt->palette) {
        // SDL gives every 8-bit surface a 256-entry colour array, whatever
        // its ncolors, so each byte value indexes it.
        if (fmt->BitsPerPixel != 8 || fmt->BytesPerPixel != 1)
            return false;
        for (int c = 0; c < 3; ++c) {
            f->mask[c] = 0xFF;
            f->shift[c] = 0;
        }
        for (Uint32 i = 0; i < 256; ++i)
            SDL_GetRGB(i, fmt, &f->read_table[0][i], &f->read_table[1][i],
                       &f->read_table[2][i]);
        return true;
    }
    if (fmt->BytesPerPixel < 2)
        return false;
    const Uint32 masks[3] = {fmt->Rmask, fmt->Gmask, fmt->Bmask};
    const int shifts[3] = {fmt->Rshift, fmt->Gshift, fmt->Bshift};
    for (int c = 0; c < 3; ++c) {
        if (shifts[c] > 31 || (masks[c] >> shifts[c]) > 0xFF)
            return false;
        f->mask[c] = masks[c];
        f->shift[c] = shifts[c];
        for (Uint32 v = 0; v <= (masks[c] >> shifts[c]); ++v) {
            Uint8 rgb[3];
            SDL_GetRGB(v << shifts[c], fmt, &rgb[0], &rgb[1], &rgb[2]);
            f->read_table[c][v] = rgb[c];
        }
    }
    return true;
}

// SDL_MapRGB of a packed format ORs one term per channel (and the alpha
// mask), so the packed value is the OR of what each channel maps to alone.
static bool fill_write_tables(FastFormat* f, const SDL_PixelFormat* fmt)
{
    if (fmt->palette || fmt->BytesPerPixel < 2)
        return false;
    for (int v = 0; v < 256; ++v) {
        Uint8 u = static_cast<Uint8>(v);
        f->write_table[0][v] = SDL_MapRGB(fmt, u, 0, 0);
        f->write_table[1][v] = SDL_MapRGB(fmt, 0, u, 0);
        f->write_table[2][v] = SDL_MapRGB(fmt, 0, 0, u);
    }
    return true;
}

void fast_format_init(FastFormat* f, SDL_Surface* surface)
{
    std::memset(f, 0, sizeof *f);
    f->surface = surface;
    f->pixels = static_cast<Uint8*>(surface->pixels);
    f->pitch = surface->pitch;
    f->bytes = surface->format->BytesPerPixel;
    f->w = surface->w;
    f->h = surface->h;
    if (f->bytes >= 1 && f->bytes <= 4) {
        f->fast_read = fill_read_tables(f, surface->format);
        f->fast_write = fill_write_tables(f, surface->format);
    }
}

// The per-depth forms for the inner loops: Bytes is f->bytes and the tables
// are valid (fast_read for reads, fast_write for writes).

template <int Bytes>
static Uint8* pixel_at(const FastFormat* f, int x, int y)
{
    return f->pixels + row_offset(y, f->pitch, Bytes) + static_cast<std::ptrdiff_t>(x) * Bytes;
}

template <int Bytes>
static Uint32 packed_at(const FastFormat* f, int x, int y)
{
    const Uint8* p = pixel_at<Bytes>(f, x, y);
    if (Bytes == 1)
        return p[0];
    if (Bytes == 2) {
        Uint16 v;
        std::memcpy(&v, p, 2);
        return v;
    }
    if (Bytes == 3)
        return load_packed24(p);
    Uint32 v;
    std::memcpy(&v, p, 4);
    return v;
}

static Uint8 channel_of(const FastFormat* f, int c, Uint32 packed)
{
    return f->read_table[c][(packed & f->mask[c]) >> f->shift[c]];
}

template <int Bytes>
static void put_from_tables(const FastFormat* f, int x, int y, Uint8 r, Uint8 g, Uint8 b)
{
    Uint32 color = f->write_table[0][r] | f->write_table[1][g] | f->write_table[2][b];
    Uint8* p = pixel_at<Bytes>(f, x, y);
    if (Bytes == 2) {
        Uint16 v = static_cast<Uint16>(color);
        std::memcpy(p, &v, 2);
    } else if (Bytes == 3) {
        store_packed24(p, color);
    } else {
        std::memcpy(p, &color, 4);
    }
}

template <int Bytes>
static void get_from_tables(const FastFormat* f, int x, int y, Uint8* r, Uint8* g, Uint8* b)
{
    const Uint32 packed = packed_at<Bytes>(f, x, y);
    *r = channel_of(f, 0, packed);
    *g = channel_of(f, 1, packed);
    *b = channel_of(f, 2, packed);
}

void fast_get_pixel(const FastFormat* f, int x, int y, Uint8* r, Uint8* g, Uint8* b)
{
    if (!f->fast_read)
        return get_pixel(f->surface, x, y, r, g, b);
    switch (f->bytes) {
    case 1: return get_from_tables<1>(f, x, y, r, g, b);
    case 2: return get_from_tables<2>(f, x, y, r, g, b);
    case 3: return get_from_tables<3>(f, x, y, r, g, b);
    default: return get_from_tables<4>(f, x, y, r, g, b);
    }
}

void fast_put_pixel(const FastFormat* f, int x, int y, Uint8 r, Uint8 g, Uint8 b)
{
    if (!f->fast_write)
        return put_pixel(f->surface, x, y, r, g, b);
    switch (f->bytes) {
    case 2: return put_from_tables<2>(f, x, y, r, g, b);
    case 3: return put_from_tables<3>(f, x, y, r, g, b);
    default: return put_from_tables<4>(f, x, y, r, g, b);
    }
}
