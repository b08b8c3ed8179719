#include "raster/sampler.h"

#include "raster/kinds.h"

void sample_bilinear(const ImageView& image, double x, double y, uint8_t* out)
{
    static const unsigned char none[KIND_MAX_PIXEL_BYTES] = {};
    image_sample(image, x, y, none, out);
}
