#include "sdl/pixel.h"

#include <cstring>

bool must_lock(const SDL_Surface* surface)
{
    return SDL_MUSTLOCK(surface);
}

void lock_if_needed(SDL_Surface* surface)
{
    if (must_lock(surface))
        SDL_LockSurface(surface);
}

void unlock_if_needed(SDL_Surface* surface)
{
    if (must_lock(surface))
        SDL_UnlockSurface(surface);
}

static Uint8* row_start(SDL_Surface* surface, int y)
{
    return static_cast<Uint8*>(surface->pixels) + row_offset(y, surface->pitch, surface->format->BytesPerPixel);
}

void get_pixel(SDL_Surface* surface, int x, int y, Uint8* r, Uint8* g, Uint8* b)
{
    Uint32 color = 0;
    switch (surface->format->BytesPerPixel) {
    case 1:
        color = row_start(surface, y)[x];
        break;
    case 2:
        color = reinterpret_cast<Uint16*>(row_start(surface, y))[x];
        break;
    case 3:
        color = load_packed24(row_start(surface, y) + 3 * static_cast<std::ptrdiff_t>(x));
        break;
    case 4:
        color = reinterpret_cast<Uint32*>(row_start(surface, y))[x];
        break;
    }
    SDL_GetRGB(color, surface->format, r, g, b);
}

void put_pixel(SDL_Surface* surface, int x, int y, Uint8 r, Uint8 g, Uint8 b)
{
    Uint32 color = SDL_MapRGB(surface->format, r, g, b);
    switch (surface->format->BytesPerPixel) {
    case 1:
        row_start(surface, y)[x] = static_cast<Uint8>(color);
        break;
    case 2:
        reinterpret_cast<Uint16*>(row_start(surface, y))[x] = static_cast<Uint16>(color);
        break;
    case 3:
        store_packed24(row_start(surface, y) + 3 * static_cast<std::ptrdiff_t>(x), color);
        break;
    case 4:
        reinterpret_cast<Uint32*>(row_start(surface, y))[x] = color;
        break;
    }
}

// The masks that put R, G and B bytes in that order in memory.
static const bool big_endian = SDL_BYTEORDER == SDL_BIG_ENDIAN;
static const Uint32 red_mask = big_endian ? 0xFF0000 : 0x0000FF, blue_mask = big_endian ? 0x0000FF : 0xFF0000;

SDL_Surface* create_rgb24_surface(int w, int h)
{
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, red_mask, 0x00FF00, blue_mask, 0);
}

SDL_Surface* create_rgb24_surface_from(void* pixels, int w, int h, int pitch)
{
    return SDL_CreateRGBSurfaceFrom(pixels, w, h, 24, pitch, red_mask, 0x00FF00, blue_mask, 0);
}
