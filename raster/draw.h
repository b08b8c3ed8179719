// Segment drawing: one pixel per step along the longer axis, from (x1, y1)
// up to but not including (x2, y2), minor offsets truncated toward zero.
// Pixels outside the w x h image are skipped, without walking their steps. segment_pixels walks the
// pixels for any kind of target (sdl/draw.h draws on SDL surfaces with it);
// draw_segment colours them in an 8-bit image view.
#pragma once
#include <cstdint>

#include "raster/image.h"

// The first n in [a, b] where pred(n) holds, for a pred that once true
// stays true as n grows; b + 1 when it holds nowhere.
template <class Pred>
long long first_where(long long a, long long b, Pred pred)
{
    while (a <= b) {
        const long long middle = a + (b - a) / 2;
        if (pred(middle))
            b = middle - 1;
        else
            a = middle + 1;
    }
    return a;
}

// Calls plot(x, y) for each pixel of the segment inside [0, w) x [0, h).
// Only the steps that land inside are walked: both coordinates of step n
// move one way as n grows, so those steps are one run, found by halving,
// and a segment a million pixels long costs what its part inside costs.
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
    // Step n is i = n * step along the major axis, offset along the minor.
    const auto minor_at = [&](long long n) { return (steep ? x1 : y1) + static_cast<long long>(n * step / k); };

    // The steps inside along the major axis, then those inside along the minor.
    const long long start = steep ? y1 : x1, extent = steep ? h : w, across = steep ? w : h;
    long long first = step > 0 ? -start : start - extent + 1, last = step > 0 ? extent - 1 - start : start;
    first = first > 0 ? first : 0;
    last = last < major * step - 1 ? last : major * step - 1;
    if (first > last)
        return;
    if (minor_at(first) <= minor_at(last)) {
        const long long a = first_where(first, last, [&](long long n) { return minor_at(n) >= 0; });
        last = first_where(a, last, [&](long long n) { return minor_at(n) >= across; }) - 1;
        first = a;
    } else {
        const long long a = first_where(first, last, [&](long long n) { return minor_at(n) < across; });
        last = first_where(a, last, [&](long long n) { return minor_at(n) < 0; }) - 1;
        first = a;
    }
    for (long long n = first; n <= last; ++n) {
        long long i = n * step;
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
