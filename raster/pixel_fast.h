// Table-driven pixel reads, writes and bilinear sampling for loops that touch
// every pixel (the warp). The tables are filled from SDL_GetRGB/SDL_MapRGB of
// the surface's own format, so each channel value is the one get_pixel and
// put_pixel give; formats the tables cannot hold go through those calls.
// Coordinates and bounds as in pixel.h. The surface must not need locking,
// and its format and palette must not change while a FastFormat built from it
// is in use; once built, a FastFormat is only read, so threads may share it.
#pragma once
#include <SDL.h>

#include <cstddef>
#include <cstring>

#include "raster/pixel.h"
#include "raster/sampler.h"

struct FastFormat {
    SDL_Surface* surface;
    Uint8* pixels;
    int pitch, bytes, w, h;
    // Reads: channel c of a packed value is read_table[c][(packed & mask[c]) >>
    // shift[c]]; a palette is the case mask 0xFF, shift 0.
    bool fast_read;
    Uint32 mask[3];
    int shift[3];
    Uint8 read_table[3][256];
    // Writes: the packed value of (r, g, b) is the OR of write_table[0][r],
    // write_table[1][g] and write_table[2][b]. Not for palettes, whose
    // nearest-colour search has no such form.
    bool fast_write;
    Uint32 write_table[3][256];
};

void fast_format_init(FastFormat* format, SDL_Surface* surface);

// Any depth, tables or not: the same values as get_pixel, put_pixel and
// sample_bilinear on format->surface.
void fast_get_pixel(const FastFormat* format, int x, int y, Uint8* r, Uint8* g, Uint8* b);
void fast_put_pixel(const FastFormat* format, int x, int y, Uint8 r, Uint8 g, Uint8 b);
void fast_sample_bilinear(const FastFormat* format, double x, double y, Uint8* r, Uint8* g, Uint8* b);

// The per-depth forms for inner loops: Bytes is format->bytes and the tables
// are valid (fast_read for reads, fast_write for writes).

// Row offsets as pixel.cpp computes them, in ptrdiff_t.
inline Uint8* fast_row(const FastFormat* format, int y, int unit)
{
    return format->pixels + static_cast<std::ptrdiff_t>(y) * format->pitch / unit * unit;
}

template <int Bytes>
inline Uint32 fast_packed(const FastFormat* format, int x, int y)
{
    const Uint8* p = fast_row(format, y, Bytes == 3 ? 1 : Bytes) + static_cast<std::ptrdiff_t>(x) * Bytes;
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

inline Uint8 fast_channel(const FastFormat* format, int c, Uint32 packed)
{
    return format->read_table[c][(packed & format->mask[c]) >> format->shift[c]];
}

template <int Bytes>
inline void fast_put(const FastFormat* format, int x, int y, Uint8 r, Uint8 g, Uint8 b)
{
    Uint32 color = format->write_table[0][r] | format->write_table[1][g] | format->write_table[2][b];
    Uint8* p = fast_row(format, y, Bytes == 3 ? 1 : Bytes) + static_cast<std::ptrdiff_t>(x) * Bytes;
    if (Bytes == 1) {
        p[0] = static_cast<Uint8>(color);
    } else if (Bytes == 2) {
        Uint16 v = static_cast<Uint16>(color);
        std::memcpy(p, &v, 2);
    } else if (Bytes == 3) {
        store_packed24(p, color);
    } else {
        std::memcpy(p, &color, 4);
    }
}

// sample_bilinear step for step: black outside [0, w] x [0, h] or for NaN,
// neighbours clamped to the last column and row with the unclamped weights,
// both stages truncated.
template <int Bytes>
inline void fast_sample(const FastFormat* format, double x, double y, Uint8* r, Uint8* g, Uint8* b)
{
    BilinearTaps t;
    if (!bilinear_taps(format->w, format->h, x, y, &t)) {
        *r = *g = *b = 0;
        return;
    }
    Uint32 packed[4] = {fast_packed<Bytes>(format, t.cx0, t.cy0), fast_packed<Bytes>(format, t.cx1, t.cy0),
                        fast_packed<Bytes>(format, t.cx0, t.cy1), fast_packed<Bytes>(format, t.cx1, t.cy1)};
    Uint8* out[3] = {r, g, b};
    for (int c = 0; c < 3; ++c) {
        Uint8 top = lerp_trunc(t.wx0, fast_channel(format, c, packed[0]), t.wx1, fast_channel(format, c, packed[1]));
        Uint8 bottom = lerp_trunc(t.wx0, fast_channel(format, c, packed[2]), t.wx1, fast_channel(format, c, packed[3]));
        *out[c] = lerp_trunc(t.wy0, top, t.wy1, bottom);
    }
}
