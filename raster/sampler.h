// Bilinear sampling of an image view at a real-valued point: the taps every
// sampler shares. Pixel (i, j) sits at the integer point (i, j); points
// outside [0, w] x [0, h] or not a number are not read (docs/numerics.md).
// Nothing outside the image is ever read.
#pragma once
#include <cstdint>

#include "raster/image.h"

// image_sample (raster/kinds.h) with every sample 0 outside: black, or
// transparent where the kind has alpha. out receives one pixel of the
// view's kind.
void sample_bilinear(const ImageView& image, double x, double y, uint8_t* out);

// The four neighbours' columns and rows (clamped to the last column and row)
// and the weights of the unclamped neighbours, shared by every sampler so that
// all of them compute the same doubles.
struct BilinearTaps {
    int cx0, cx1, cy0, cy1;
    double wx0, wx1, wy0, wy1;
};

// The sampler's own test: false for a point outside [0, w] x [0, h] or with
// a coordinate that is not a number, which samples as the outside pixel.
inline bool sample_point_inside(int w, int h, double x, double y)
{
    // Written so that NaN fails the test too.
    return x >= 0 && x <= w && y >= 0 && y <= h;
}

// False for a point the sampler does not read (outside).
inline bool bilinear_taps(int w, int h, double x, double y, BilinearTaps* t)
{
    if (!sample_point_inside(w, h, x, y))
        return false;
    int x0 = static_cast<int>(x);
    int y0 = static_cast<int>(y);
    int x1 = x0 + 1;
    int y1 = y0 + 1;
    t->cx0 = x0 < w ? x0 : w - 1;
    t->cx1 = x1 < w ? x1 : w - 1;
    t->cy0 = y0 < h ? y0 : h - 1;
    t->cy1 = y1 < h ? y1 : h - 1;
    t->wx0 = x1 - x;
    t->wx1 = x - x0;
    t->wy0 = y1 - y;
    t->wy1 = y - y0;
    return true;
}
