#include "raster/sampler.h"

#include "raster/pixel.h"

static Uint8 lerp_trunc(double w0, Uint8 c0, double w1, Uint8 c1)
{
    return static_cast<Uint8>(static_cast<int>(w0 * c0 + w1 * c1));
}

void sample_bilinear(SDL_Surface* surface, double x, double y, Uint8* r, Uint8* g, Uint8* b)
{
    // Written so that NaN fails the test too.
    if (!(x >= 0 && x <= surface->w && y >= 0 && y <= surface->h)) {
        *r = *g = *b = 0;
        return;
    }
    int x0 = static_cast<int>(x);
    int y0 = static_cast<int>(y);
    int x1 = x0 + 1;
    int y1 = y0 + 1;

    // In the last column and row strips the missing neighbour is replaced by
    // the last column or row; the weights stay those of the unclamped
    // neighbours, so x = w reads column w - 1 with full weight.
    int cx0 = x0 < surface->w ? x0 : surface->w - 1;
    int cx1 = x1 < surface->w ? x1 : surface->w - 1;
    int cy0 = y0 < surface->h ? y0 : surface->h - 1;
    int cy1 = y1 < surface->h ? y1 : surface->h - 1;

    Uint8 c_r[4], c_g[4], c_b[4];
    get_pixel(surface, cx0, cy0, &c_r[0], &c_g[0], &c_b[0]);
    get_pixel(surface, cx1, cy0, &c_r[1], &c_g[1], &c_b[1]);
    get_pixel(surface, cx0, cy1, &c_r[2], &c_g[2], &c_b[2]);
    get_pixel(surface, cx1, cy1, &c_r[3], &c_g[3], &c_b[3]);

    double wx0 = x1 - x, wx1 = x - x0;
    double wy0 = y1 - y, wy1 = y - y0;
    const Uint8* channels[3] = {c_b, c_g, c_r};
    Uint8* out[3] = {b, g, r};
    for (int i = 0; i < 3; ++i) {
        const Uint8* c = channels[i];
        Uint8 top = lerp_trunc(wx0, c[0], wx1, c[1]);
        Uint8 bottom = lerp_trunc(wx0, c[2], wx1, c[3]);
        *out[i] = lerp_trunc(wy0, top, wy1, bottom);
    }
}
