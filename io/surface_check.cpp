#include "io/surface_check.h"

// One run of 4 to 8 set bits inside the low `bits` bits of the pixel. A run
// narrower than 4 bits makes SDL_GetRGB shift left by a negative amount; a
// wider or broken run does not describe an 8-bit channel.
static bool mask_usable(Uint32 mask, int bits)
{
    if (mask == 0)
        return false;
    if (bits < 32 && (mask >> bits) != 0)
        return false;
    int shift = 0;
    while (!(mask & 1u)) {
        mask >>= 1;
        ++shift;
    }
    int width = 0;
    while (mask & 1u) {
        mask >>= 1;
        ++width;
    }
    return mask == 0 && width >= 4 && width <= 8;
}

static bool palette_indices_usable(const SDL_Surface* surface, int ncolors)
{
    if (ncolors >= 256)
        return true;
    const Uint8* row = static_cast<const Uint8*>(surface->pixels);
    for (int y = 0; y < surface->h; ++y, row += surface->pitch)
        for (int x = 0; x < surface->w; ++x)
            if (row[x] >= ncolors)
                return false;
    return true;
}

bool surface_usable(const SDL_Surface* surface)
{
    if (!surface || !surface->format || !surface->pixels)
        return false;
    if (surface->w < 1 || surface->h < 1)
        return false;
    const SDL_PixelFormat* format = surface->format;
    int bytes = format->BytesPerPixel;
    if (bytes < 1 || bytes > 4)
        return false;
    if (surface->pitch < static_cast<long>(surface->w) * bytes)
        return false;
    switch (bytes) {
    case 1: {
        if (format->BitsPerPixel != 8 || !format->palette || !format->palette->colors)
            return false;
        int ncolors = format->palette->ncolors;
        if (ncolors < 1 || ncolors > 256)
            return false;
        return palette_indices_usable(surface, ncolors);
    }
    case 2:
        if (format->BitsPerPixel != 15 && format->BitsPerPixel != 16)
            return false;
        break;
    case 3:
        if (format->BitsPerPixel != 24)
            return false;
        break;
    case 4:
        if (format->BitsPerPixel != 32)
            return false;
        break;
    }
    if (format->palette)
        return false;
    int bits = 8 * bytes;
    return mask_usable(format->Rmask, bits) && mask_usable(format->Gmask, bits)
        && mask_usable(format->Bmask, bits);
}

SDL_Surface* load_bmp_rw_checked(SDL_RWops* src)
{
    SDL_Surface* surface = SDL_LoadBMP_RW(src, 1);
    if (surface && !surface_usable(surface)) {
        SDL_FreeSurface(surface);
        surface = nullptr;
    }
    return surface;
}

SDL_Surface* load_bmp_checked(const char* path)
{
    return load_bmp_rw_checked(SDL_RWFromFile(path, "rb"));
}
