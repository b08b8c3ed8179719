#include "raster/pixel.h"

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
