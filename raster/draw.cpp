#include "raster/draw.h"

#include <cstring>

void draw_segment(const ImageView& image, int x1, int y1, int x2, int y2, const uint8_t* colour)
{
    const int channels = image.channels;
    segment_pixels(x1, y1, x2, y2, image.width, image.height, [&](int x, int y) {
        std::memcpy(image_row(image, y) + static_cast<std::ptrdiff_t>(x) * channels, colour, channels);
    });
}
