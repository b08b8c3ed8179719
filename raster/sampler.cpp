#include "raster/sampler.h"

#include "raster/pixel.h"

void sample_bilinear(SDL_Surface* surface, double x, double y, Uint8* r, Uint8* g, Uint8* b)
{
    // In the last column and row strips the missing neighbour is replaced by
    // the last column or row; the weights stay those of the unclamped
    // neighbours, so x = w reads column w - 1 with full weight.
    BilinearTaps t;
    if (!bilinear_taps(surface->w, surface->h, x, y, &t)) {
        *r = *g = *b = 0;
        return;
    }
    Uint8 c_r[4], c_g[4], c_b[4];
    get_pixel(surface, t.cx0, t.cy0, &c_r[0], &c_g[0], &c_b[0]);
    get_pixel(surface, t.cx1, t.cy0, &c_r[1], &c_g[1], &c_b[1]);
    get_pixel(surface, t.cx0, t.cy1, &c_r[2], &c_g[2], &c_b[2]);
    get_pixel(surface, t.cx1, t.cy1, &c_r[3], &c_g[3], &c_b[3]);
    const Uint8* channels[3] = {c_b, c_g, c_r};
    Uint8* out[3] = {b, g, r};
    for (int i = 0; i < 3; ++i) {
        const Uint8* c = channels[i];
        Uint8 top = lerp_trunc(t.wx0, c[0], t.wx1, c[1]);
        Uint8 bottom = lerp_trunc(t.wx0, c[2], t.wx1, c[3]);
        *out[i] = lerp_trunc(t.wy0, top, t.wy1, bottom);
    }
}
