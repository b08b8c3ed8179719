// Direct pixel access on SDL 1.2 surfaces of 1 to 4 bytes per pixel. This
// folder (sdl/, the target sdl_lib) is the one place that reads, writes and
// draws on SDL surfaces, for the programs with a window (app/, edit/) and
// io's BMP decoder; nothing below it knows SDL.
// Coordinates: x grows right, y grows down from the top-left pixel (0, 0);
// row y starts y * pitch bytes (pitch in bytes) after `pixels`. Callers keep
// 0 <= x < w, 0 <= y < h and lock a surface that needs it (lock_if_needed)
// before any get_pixel/put_pixel, and unlock it before blitting or flipping.
#pragma once
#include <SDL.h>

#include <cstddef>
#include <memory>

// SDL_MUSTLOCK: an offset or a hardware, asynchronous-blit or RLE surface.
bool must_lock(const SDL_Surface* surface);
void lock_if_needed(SDL_Surface* surface);
void unlock_if_needed(SDL_Surface* surface);

// Whether pixel (x, y) lies in `rect`, such as a surface's clip rectangle
// (within the surface, the whole surface unless SDL_SetClipRect set it).
inline bool point_in_rect(const SDL_Rect& rect, int x, int y)
{
    return x >= rect.x && y >= rect.y && x < rect.x + rect.w && y < rect.y + rect.h;
}

// Colour triples go through the surface's own format (SDL_GetRGB/SDL_MapRGB),
// so 8-bit surfaces read and write through their palette.
void get_pixel(SDL_Surface* surface, int x, int y, Uint8* r, Uint8* g, Uint8* b);
void put_pixel(SDL_Surface* surface, int x, int y, Uint8 r, Uint8 g, Uint8 b);

// Byte offset of row y from `pixels`. A 2- or 4-byte pixel is an element of
// a 16- or 32-bit array, so its row starts at y * pitch rounded down to a
// whole number of elements; 1- and 3-byte pixels are addressed byte by byte.
// With the usual pitches (a multiple of the pixel size) this is y * pitch.
// Computed in ptrdiff_t: y * pitch overflows int on the largest images.
inline std::ptrdiff_t row_offset(int y, int pitch, int bytes_per_pixel)
{
    const int unit = bytes_per_pixel == 3 ? 1 : bytes_per_pixel;
    return static_cast<std::ptrdiff_t>(y) * pitch / unit * unit;
}

// A 3-byte pixel in the order SDL_MapRGB/SDL_GetRGB expect on this host:
// the lowest byte of the packed value first on little-endian hosts.
inline Uint32 load_packed24(const Uint8* p)
{
    if (SDL_BYTEORDER == SDL_BIG_ENDIAN)
        return p[0] << 16 | p[1] << 8 | p[2];
    return p[0] | p[1] << 8 | p[2] << 16;
}

inline void store_packed24(Uint8* p, Uint32 color)
{
    int hi = SDL_BYTEORDER == SDL_BIG_ENDIAN ? 0 : 2;
    p[hi] = (color >> 16) & 0xFF;
    p[1] = (color >> 8) & 0xFF;
    p[2 - hi] = color & 0xFF;
}

// A 24-bit surface whose pixel bytes are R, G, B in memory order, so that a
// decoder's RGB rows go straight into it; NULL when SDL cannot allocate it.
SDL_Surface* create_rgb24_surface(int w, int h);
// The same layout over pixels the caller keeps (rows `pitch` bytes apart).
SDL_Surface* create_rgb24_surface_from(void* pixels, int w, int h, int pitch);

// Owns one surface and frees it with SDL_FreeSurface, however the owner's
// scope ends.
struct SurfaceFree {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceFree>;
