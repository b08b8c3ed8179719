#include "sdl/draw.h"

#include "raster/draw.h"
#include "sdl/pixel.h"

void draw_segment(SDL_Surface* surface, int x1, int y1, int x2, int y2, Uint8 r, Uint8 g, Uint8 b,
                  bool invert)
{
    const SDL_Rect clip = surface->clip_rect;
    segment_pixels(x1, y1, x2, y2, surface->w, surface->h, [=](int x, int y) {
        if (!point_in_rect(clip, x, y))
            return;
        if (invert) {
            Uint8 cr, cg, cb;
            get_pixel(surface, x, y, &cr, &cg, &cb);
            put_pixel(surface, x, y, 255 - cr, 255 - cg, 255 - cb);
        } else {
            put_pixel(surface, x, y, r, g, b);
        }
    });
}
