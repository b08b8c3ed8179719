#include "raster/sampler.h"

void sample_bilinear(const ImageView& image, double x, double y, uint8_t* out)
{
    // In the last column and row strips the missing neighbour is replaced by
    // the last column or row; the weights stay those of the unclamped
    // neighbours, so x = w reads column w - 1 with full weight.
    const int channels = image.channels;
    BilinearTaps t;
    if (!bilinear_taps(image.width, image.height, x, y, &t)) {
        for (int c = 0; c < channels; ++c)
            out[c] = 0;
        return;
    }
    const uint8_t* row0 = image_row(image, t.cy0);
    const uint8_t* row1 = image_row(image, t.cy1);
    const uint8_t* p[4] = {row0 + t.cx0 * channels, row0 + t.cx1 * channels, row1 + t.cx0 * channels,
                           row1 + t.cx1 * channels};
    for (int c = 0; c < channels; ++c) {
        const uint8_t top = lerp_trunc(t.wx0, p[0][c], t.wx1, p[1][c]);
        const uint8_t bottom = lerp_trunc(t.wx0, p[2][c], t.wx1, p[3][c]);
        out[c] = lerp_trunc(t.wy0, top, t.wy1, bottom);
    }
}
