// Segment drawing: one pixel per step along the longer axis, from (x1, y1)
// up to but not including (x2, y2), minor offsets truncated toward zero.
// Pixels outside the w x h image are skipped. segment_pixels walks the
// pixels for any kind of target (sdl/draw.h draws on SDL surfaces with it);
// draw_segment colours them in an 8-bit image view.
#pragma once
#include <cstdint>

#include "raster/image.h"

// Calls plot(x, y) for each pixel of the segment inside [0, w) x [0, h).
template <class Plot>
void segment_pixels(int x1, int y1, int x2, int y2, int w, int h, Plot plot)
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
        if (px < 0 || py < 0 || px >= w || py >= h)
            continue;
        plot(static_cast<int>(px), static_cast<int>(py));
    }
}

// The segment in `colour` (one sample a channel) on an 8-bit view.
void draw_segment(const ImageView& image, int x1, int y1, int x2, int y2, const uint8_t* colour);
