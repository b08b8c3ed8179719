#include "sdl/surface_image.h"

#include <cstring>

#include "sdl/pixel.h"
#include "sdl/pixel_fast.h"

bool surface_to_rgb8(SDL_Surface* surface, ImageBuffer* image)
{
    if (!image_buffer_make(image, surface->w, surface->h, 3, SAMPLE_U8))
        return false;
    lock_if_needed(surface);
    FastFormat format;
    fast_format_init(&format, surface);
    for (int y = 0; y < surface->h; ++y) {
        Uint8* out = image_row(image->view, y);
        for (int x = 0; x < surface->w; ++x, out += 3)
            fast_get_pixel(&format, x, y, &out[0], &out[1], &out[2]);
    }
    unlock_if_needed(surface);
    return true;
}

void rgb8_to_surface(const ImageView& image, SDL_Surface* surface)
{
    lock_if_needed(surface);
    FastFormat format;
    fast_format_init(&format, surface);
    for (int y = 0; y < surface->h; ++y) {
        const Uint8* in = image_row(image, y);
        for (int x = 0; x < surface->w; ++x, in += 3)
            fast_put_pixel(&format, x, y, in[0], in[1], in[2]);
    }
    unlock_if_needed(surface);
}

SDL_Surface* surface_from_rgb8(const ImageView& image)
{
    SDL_Surface* surface = create_rgb24_surface(image.width, image.height);
    if (!surface)
        return nullptr;
    for (int y = 0; y < image.height; ++y)
        std::memcpy(static_cast<Uint8*>(surface->pixels) + row_offset(y, surface->pitch, 3), image_row(image, y),
                    3 * static_cast<size_t>(image.width));
    return surface;
}
