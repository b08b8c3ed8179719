#include "raster/fold_map.h"

#include <cmath>
#include <vector>

#include "raster/draw.h"
#include "raster/pixel.h"

// shade[f][c][v]: channel c of result value v on a pixel with flags f.
struct ShadeTable {
    Uint8 shade[4][3][256];
    ShadeTable()
    {
        const Uint8* const tints[4] = {nullptr, FOLD_TINT, OUTSIDE_TINT, BOTH_TINT};
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v) {
                shade[0][c][v] = static_cast<Uint8>(v / 2);
                for (int f = 1; f < 4; ++f)
                    shade[f][c][v] = static_cast<Uint8>((v + 3 * tints[f][c]) / 4);
            }
    }
};
static const ShadeTable shades;

// A result in the map's own layout, as the warp tools make it, is dimmed a
// whole pixel at a time; other packed 32-bit results are read through the
// format's tables; any other pixel by pixel.
void fold_map_row(SDL_Surface* result, const FastFormat& format, int y, const uint8_t* flags, SDL_Surface* map)
{
    const Uint8* in = format.pixels + row_offset(y, format.pitch, format.bytes);
    Uint32* out = reinterpret_cast<Uint32*>(static_cast<Uint8*>(map->pixels) + row_offset(y, map->pitch, 4));
    const bool packed32 = format.fast_read && format.bytes == 4;
    const bool same_layout =
        packed32 && format.mask[0] == 0xFF0000 && format.mask[1] == 0x00FF00 && format.mask[2] == 0x0000FF;
    for (int x = 0; x < format.w; ++x) {
        const int f = outside_hatched(x, y) ? flags[x] & 3 : flags[x] & FOLD_FLAG;
        Uint8 r, g, b;
        if (packed32) {
            const Uint32 p = reinterpret_cast<const Uint32*>(in)[x];
            if (same_layout && f == 0) {
                // Each 8-bit channel halved.
                out[x] = p >> 1 & 0x7F7F7F;
                continue;
            }
            r = format.read_table[0][(p & format.mask[0]) >> format.shift[0]];
            g = format.read_table[1][(p & format.mask[1]) >> format.shift[1]];
            b = format.read_table[2][(p & format.mask[2]) >> format.shift[2]];
        } else {
            get_pixel(result, x, y, &r, &g, &b);
        }
        const auto& s = shades.shade[f];
        out[x] = static_cast<Uint32>(s[0][r]) << 16 | static_cast<Uint32>(s[1][g]) << 8 | s[2][b];
    }
}

SDL_Surface* new_fold_map(int w, int h)
{
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
}

bool is_fold_map(const SDL_Surface* map, int w, int h)
{
    const SDL_PixelFormat* f = map->format;
    return map->w == w && map->h == h && f->BytesPerPixel == 4 && !f->palette && f->Rmask == 0xFF0000
           && f->Gmask == 0x00FF00 && f->Bmask == 0x0000FF && !must_lock(map);
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

void fold_map_segments(SDL_Surface* map, const Segment* segments, int n)
{
    std::vector<Segment> visible;
    for (int k = 1; segments && k < n; k += 2) {
        Segment s = segments[k];
        if (clip_segment(&s, -2, -2, map->w + 1.0, map->h + 1.0))
            visible.push_back(s);
    }
    auto draw = [map](const Segment& s, int dx, int dy, const Uint8* colour) {
        draw_segment(map, static_cast<int>(s.x1) + dx, static_cast<int>(s.y1) + dy, static_cast<int>(s.x2) + dx,
                     static_cast<int>(s.y2) + dy, colour[0], colour[1], colour[2], false);
    };
    static const int around[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    for (const auto& d : around)
        for (const Segment& s : visible)
            draw(s, d[0], d[1], OUTLINE_COLOUR);
    for (const Segment& s : visible)
        draw(s, 0, 0, SEGMENT_COLOUR);
}

SDL_Surface* fold_map(SDL_Surface* result, const uint8_t* flags, const Segment* segments, int n)
{
    if (!result)
        return nullptr;
    SDL_Surface* map = new_fold_map(result->w, result->h);
    if (!map)
        return nullptr;
    lock_if_needed(result);
    FastFormat format;
    fast_format_init(&format, result);
    for (int y = 0; y < result->h; ++y)
        fold_map_row(result, format, y, flags + static_cast<std::ptrdiff_t>(y) * result->w, map);
    unlock_if_needed(result);
    fold_map_segments(map, segments, n);
    return map;
}
