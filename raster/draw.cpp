#include "raster/draw.h"

#include "raster/pixel.h"

void draw_segment(SDL_Surface* surface, int x1, int y1, int x2, int y2, Uint8 r, Uint8 g, Uint8 b,
                  bool invert)
{
    // 64-bit deltas: the difference of two ints can overflow int.
    long long dx = static_cast<long long>(x2) - x1;
    long long dy = static_cast<long long>(y2) - y1;
    bool steep = (dy < 0 ? -dy : dy) > (dx < 0 ? -dx : dx);
    long long major = steep ? dy : dx;
    long long minor = steep ? dx : dy;
    long long step = major < 0 ? -1 : 1;
    // With no minor delta, dividing by the major delta keeps i / k below 1 in
    // magnitude, so the run stays on its axis.
    double k = minor != 0 ? static_cast<double>(major) / minor : static_cast<double>(major);

    for (long long i = 0; i != major; i += step) {
        long long offset = static_cast<long long>(i / k);
        long long px = x1 + (steep ? offset : i);
        long long py = y1 + (steep ? i : offset);
        if (px < 0 || py < 0 || px >= surface->w || py >= surface->h)
            continue;
        if (invert) {
            Uint8 cr, cg, cb;
            get_pixel(surface, static_cast<int>(px), static_cast<int>(py), &cr, &cg, &cb);
            put_pixel(surface, static_cast<int>(px), static_cast<int>(py), 255 - cr, 255 - cg, 255 - cb);
        } else {
            put_pixel(surface, static_cast<int>(px), static_cast<int>(py), r, g, b);
        }
    }
}
