#include "warp/fold_map.h"

#include <cmath>
#include <vector>

#include "raster/draw.h"
#include "raster/kinds.h"

// shade[f][c][v]: channel c of result value v on a pixel with flags f.
struct ShadeTable {
    uint8_t shade[4][3][256];
    ShadeTable()
    {
        const uint8_t* const tints[4] = {nullptr, FOLD_TINT, OUTSIDE_TINT, BOTH_TINT};
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v) {
                shade[0][c][v] = static_cast<uint8_t>(v / 2);
                for (int f = 1; f < 4; ++f)
                    shade[f][c][v] = static_cast<uint8_t>((v + 3 * tints[f][c]) / 4);
            }
    }
};
static const ShadeTable shades;

void fold_map_row(const ImageView& result, int y, const uint8_t* flags, const ImageView& map)
{
    // Other kinds are drawn from their 8-bit R, G, B over black, kept in a
    // row of the thread's own: rows are made on the warp's threads.
    thread_local std::vector<uint8_t> reduced;
    const uint8_t* in = image_row(result, y);
    if (!image_is_rgb8(result)) {
        reduced.resize(static_cast<size_t>(result.width) * 3);
        kind_row_rgb8(result, y, nullptr, reduced.data());
        in = reduced.data();
    }
    uint8_t* out = image_row(map, y);
    for (int x = 0; x < result.width; ++x, in += 3, out += 3) {
        const int f = outside_hatched(x, y) ? flags[x] & 3 : flags[x] & FOLD_FLAG;
        const auto& s = shades.shade[f];
        for (int c = 0; c < 3; ++c)
            out[c] = s[c][in[c]];
    }
}

// Clips the segment to [x0, x1] x [y0, y1] (Liang-Barsky); false when no part
// of it is inside or a coordinate or delta is not finite. End points inside
// are kept as they are.
static bool clip_segment(Segment* s, double x0, double y0, double x1, double y1)
{
    const double dx = s->x2 - s->x1, dy = s->y2 - s->y1;
    if (!std::isfinite(s->x1) || !std::isfinite(s->y1) || !std::isfinite(dx) || !std::isfinite(dy))
        return false;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {s->x1 - x0, x1 - s->x1, s->y1 - y0, y1 - s->y1};
    double t0 = 0, t1 = 1;
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0 && t > t0)
            t0 = t;
        if (p[i] > 0 && t < t1)
            t1 = t;
    }
    if (t0 > t1)
        return false;
    const Segment whole = *s;
    if (t0 > 0) {
        s->x1 = whole.x1 + t0 * dx;
        s->y1 = whole.y1 + t0 * dy;
    }
    if (t1 < 1) {
        s->x2 = whole.x1 + t1 * dx;
        s->y2 = whole.y1 + t1 * dy;
    }
    // Rounding may leave a computed end a hair outside the box.
    s->x1 = std::fmin(std::fmax(s->x1, x0), x1);
    s->x2 = std::fmin(std::fmax(s->x2, x0), x1);
    s->y1 = std::fmin(std::fmax(s->y1, y0), y1);
    s->y2 = std::fmin(std::fmax(s->y2, y0), y1);
    return true;
}

void fold_map_segments(const ImageView& map, const Segment* segments, int n)
{
    std::vector<Segment> visible;
    for (int k = 1; segments && k < n; k += 2) {
        Segment s = segments[k];
        if (clip_segment(&s, -2, -2, map.width + 1.0, map.height + 1.0))
            visible.push_back(s);
    }
    auto draw = [&map](const Segment& s, int dx, int dy, const uint8_t* colour) {
        draw_segment(map, static_cast<int>(s.x1) + dx, static_cast<int>(s.y1) + dy, static_cast<int>(s.x2) + dx,
                     static_cast<int>(s.y2) + dy, colour);
    };
    static const int around[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    for (const auto& d : around)
        for (const Segment& s : visible)
            draw(s, d[0], d[1], OUTLINE_COLOUR);
    for (const Segment& s : visible)
        draw(s, 0, 0, SEGMENT_COLOUR);
}

bool fold_map(const ImageView& result, const uint8_t* flags, const Segment* segments, int n, ImageBuffer* map)
{
    if (!image_view_valid(result) || !image_buffer_make(map, result.width, result.height, 3, SAMPLE_U8))
        return false;
    for (int y = 0; y < result.height; ++y)
        fold_map_row(result, y, flags + static_cast<std::ptrdiff_t>(y) * result.width, map->view);
    fold_map_segments(map->view, segments, n);
    return true;
}
