#include "raster/pixel.h"

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

SDL_Surface* create_rgb24_surface(int w, int h)
{
    const bool big = SDL_BYTEORDER == SDL_BIG_ENDIAN;
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, big ? 0xFF0000 : 0x0000FF, 0x00FF00,
                                big ? 0x0000FF : 0xFF0000, 0);
}

// A channel that is a whole 8-bit field of the packed value: SDL_GetRGB
// gives its bits back as they are, widening nothing.
static bool whole_byte_channel(Uint32 mask, Uint8 shift, Uint8 loss)
{
    return loss == 0 && shift <= 24 && mask == 0xFFu << shift;
}

bool rgb_byte_offsets(const SDL_PixelFormat* f, int offsets[3])
{
    const int bytes = f->BytesPerPixel;
    if (f->palette || (bytes != 3 && bytes != 4))
        return false;
    const Uint32 masks[3] = {f->Rmask, f->Gmask, f->Bmask};
    const Uint8 shifts[3] = {f->Rshift, f->Gshift, f->Bshift}, losses[3] = {f->Rloss, f->Gloss, f->Bloss};
    for (int c = 0; c < 3; ++c) {
        if (!whole_byte_channel(masks[c], shifts[c], losses[c]) || shifts[c] % 8 != 0 || shifts[c] / 8 >= bytes)
            return false;
        // The packed value is read from memory in the host's byte order.
        offsets[c] = SDL_BYTEORDER == SDL_BIG_ENDIAN ? bytes - 1 - shifts[c] / 8 : shifts[c] / 8;
    }
    return true;
}

// The packed values of row y, 3 or 4 bytes each, read as get_pixel reads
// them; each channel is the byte at its shift.
template <int Bytes>
static void read_byte_channels(SDL_Surface* image, int y, unsigned char* rgb)
{
    const SDL_PixelFormat* f = image->format;
    const int rs = f->Rshift, gs = f->Gshift, bs = f->Bshift;
    const Uint8* p = static_cast<const Uint8*>(image->pixels) + row_offset(y, image->pitch, Bytes);
    for (int x = 0; x < image->w; ++x, p += Bytes, rgb += 3) {
        Uint32 v;
        if (Bytes == 3)
            v = load_packed24(p);
        else
            std::memcpy(&v, p, 4);
        rgb[0] = static_cast<unsigned char>(v >> rs);
        rgb[1] = static_cast<unsigned char>(v >> gs);
        rgb[2] = static_cast<unsigned char>(v >> bs);
    }
}

void read_rgb_row(SDL_Surface* image, int y, unsigned char* rgb)
{
    // 24- and 32-bit pixels with 8-bit channels (the warp's result, the
    // decoders' surfaces, most BMPs) skip the call to SDL for every pixel,
    // which cost more than the JPEG encoder itself.
    const SDL_PixelFormat* f = image->format;
    if (!f->palette && (f->BytesPerPixel == 3 || f->BytesPerPixel == 4)
        && whole_byte_channel(f->Rmask, f->Rshift, f->Rloss) && whole_byte_channel(f->Gmask, f->Gshift, f->Gloss)
        && whole_byte_channel(f->Bmask, f->Bshift, f->Bloss)) {
        if (f->BytesPerPixel == 3)
            read_byte_channels<3>(image, y, rgb);
        else
            read_byte_channels<4>(image, y, rgb);
        return;
    }
    for (int x = 0; x < image->w; ++x, rgb += 3)
        get_pixel(image, x, y, &rgb[0], &rgb[1], &rgb[2]);
}
