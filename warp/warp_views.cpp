#include "warp/warp_views.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "raster/draw.h"
#include "raster/pixel.h"
#include "raster/sampler.h"

// 1 when the determinant of [[xx, xy], [yx, yy]] is <= 0 or not finite.
static inline int fold_bit(double xx, double xy, double yx, double yy)
{
    const double det = xx * yy - xy * yx;
    // NaN fails both comparisons.
    return !(det > 0 && det < HUGE_VAL);
}

static inline int outside_bit(int src_w, int src_h, double x, double y)
{
    return sample_point_inside(src_w, src_h, x, y) ? 0 : OUTSIDE_FLAG;
}

// The x and y coordinates of one row of source points.
struct PointRow {
    const double* x;
    const double* y;
};

// The flags of one row of w points into out, added to *counts. upper and
// lower are the two rows whose difference is d/dy: the row and the next, or
// the previous and the row for the last; their x is NULL when the image is
// one row high.
static void fold_row(PointRow row, PointRow upper, PointRow lower, int w, int src_w, int src_h, uint8_t* out,
                     FoldCounts* counts)
{
    const double *px = row.x, *py = row.y;
    long long folds = 0, outside = 0;
    if (w == 1 || !upper.x) {
        for (int x = 0; x < w; ++x) {
            out[x] = static_cast<uint8_t>(outside_bit(src_w, src_h, px[x], py[x]));
            outside += out[x] >> 1;
        }
    } else {
        const double *ux = upper.x, *uy = upper.y, *lx = lower.x, *ly = lower.y;
        for (int x = 0; x + 1 < w; ++x) {
            const int f = fold_bit(px[x + 1] - px[x], lx[x] - ux[x], py[x + 1] - py[x], ly[x] - uy[x])
                          | outside_bit(src_w, src_h, px[x], py[x]);
            out[x] = static_cast<uint8_t>(f);
            folds += f & FOLD_FLAG;
            outside += f >> 1;
        }
        const int x = w - 1;
        const int f = fold_bit(px[x] - px[x - 1], lx[x] - ux[x], py[x] - py[x - 1], ly[x] - uy[x])
                      | outside_bit(src_w, src_h, px[x], py[x]);
        out[x] = static_cast<uint8_t>(f);
        folds += f & FOLD_FLAG;
        outside += f >> 1;
    }
    counts->folds += folds;
    counts->outside += outside;
}

FoldCounts analyse_folds(const double* sx, const double* sy, int w, int h, int src_w, int src_h, uint8_t* flags)
{
    FoldCounts counts;
    if (w <= 0 || h <= 0)
        return counts;
    counts.pixels = static_cast<long long>(w) * h;
    std::vector<uint8_t> scratch(flags ? 0 : w);
    auto row_at = [&](int y) {
        const std::ptrdiff_t start = static_cast<std::ptrdiff_t>(y) * w;
        return PointRow{sx + start, sy + start};
    };
    const PointRow none = {nullptr, nullptr};
    for (int y = 0; y < h; ++y) {
        const int upper = y + 1 < h ? y : y - 1;
        fold_row(row_at(y), h > 1 ? row_at(upper) : none, h > 1 ? row_at(upper + 1) : none, w, src_w, src_h,
                 flags ? flags + static_cast<std::ptrdiff_t>(y) * w : scratch.data(), &counts);
    }
    return counts;
}

// count / pixels in hundredths of a percent, to the nearest with halves up:
// floor((20000 * count + pixels) / (2 * pixels)), exact in integers.
static std::string percent(long long count, long long pixels)
{
    const long long hundredths = pixels > 0 ? (20000 * count + pixels) / (2 * pixels) : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%lld.%02lld %%", hundredths / 100, hundredths % 100);
    return text;
}

std::string fold_summary(const FoldCounts& counts)
{
    return "folds: " + std::to_string(counts.folds) + " pixels (" + percent(counts.folds, counts.pixels)
           + "), outside: " + std::to_string(counts.outside) + " pixels (" + percent(counts.outside, counts.pixels)
           + ")";
}

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

// Row y of the fold map from row y of result (format is result's) and the
// row's flags. A result in the map's own layout, as the warp tools make it,
// is dimmed a whole pixel at a time; other packed 32-bit results are read
// through the format's tables; any other pixel by pixel.
static void shade_row(SDL_Surface* result, const FastFormat& format, int y, const uint8_t* flags, SDL_Surface* map)
{
    const Uint8* in = format.pixels + row_offset(y, format.pitch, format.bytes);
    Uint32* out = reinterpret_cast<Uint32*>(static_cast<Uint8*>(map->pixels) + row_offset(y, map->pitch, 4));
    const bool packed32 = format.fast_read && format.bytes == 4;
    const bool same_layout =
        packed32 && format.mask[0] == 0xFF0000 && format.mask[1] == 0x00FF00 && format.mask[2] == 0x0000FF;
    for (int x = 0; x < format.w; ++x) {
        const int f = flags[x] & 3;
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

// Whether map has the layout of new_fold_map and the size w x h.
static bool is_fold_map(const SDL_Surface* map, int w, int h)
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

static void draw_second_segments(SDL_Surface* map, const Segment* segments, int n)
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
        shade_row(result, format, y, flags + static_cast<std::ptrdiff_t>(y) * result->w, map);
    unlock_if_needed(result);
    draw_second_segments(map, segments, n);
    return map;
}

static void store_le32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

static bool write_failed(std::string* problem)
{
    const int error = errno;
    *problem = error ? std::string("cannot write: ") + std::strerror(error) : "cannot write";
    return false;
}

static bool write_flo_header(std::FILE* out, int w, int h, std::string* problem)
{
    unsigned char header[12] = {'P', 'I', 'E', 'H'};
    store_le32(header + 4, static_cast<uint32_t>(w));
    store_le32(header + 8, static_cast<uint32_t>(h));
    errno = 0;
    return std::fwrite(header, 1, sizeof header, out) == sizeof header || write_failed(problem);
}

// Room for at least one row of w pixels and about 64 KiB.
static void size_field_buffer(FieldBuffer* buffer, int w)
{
    buffer->floats.resize(std::max<size_t>(static_cast<size_t>(w) * 2, 16384));
    buffer->used = 0;
}

// Writes what the buffer holds in little-endian byte order.
static bool flush_field(std::FILE* out, FieldBuffer* buffer, std::string* problem)
{
    static_assert(sizeof(float) == 4, "the format's floats are 32-bit");
    float* floats = buffer->floats.data();
    if (SDL_BYTEORDER == SDL_BIG_ENDIAN)
        for (size_t i = 0; i < buffer->used; ++i) {
            uint32_t bits;
            std::memcpy(&bits, &floats[i], sizeof bits);
            store_le32(reinterpret_cast<unsigned char*>(&floats[i]), bits);
        }
    errno = 0;
    const size_t count = buffer->used;
    buffer->used = 0;
    return std::fwrite(floats, sizeof(float), count, out) == count || write_failed(problem);
}

// Adds row y of the field, u and v of each of its w pixels.
static bool add_field_row(std::FILE* out, FieldBuffer* buffer, const double* px, const double* py, int w, int y,
                          std::string* problem)
{
    if (buffer->used + 2 * static_cast<size_t>(w) > buffer->floats.size() && !flush_field(out, buffer, problem))
        return false;
    float* row = buffer->floats.data() + buffer->used;
    buffer->used += 2 * static_cast<size_t>(w);
    // Written so that the loop can run in SIMD registers; fabs(v) <= DBL_MAX
    // fails for infinities and NaN.
    for (int x = 0; x < w; ++x) {
        const bool known = std::fabs(px[x]) <= DBL_MAX && std::fabs(py[x]) <= DBL_MAX;
        row[2 * x] = known ? static_cast<float>(px[x] - x) : 1e10f;
        row[2 * x + 1] = known ? static_cast<float>(py[x] - y) : 1e10f;
    }
    return true;
}

// The rest of the buffer, then a flush of the stream.
static bool finish_field(std::FILE* out, FieldBuffer* buffer, std::string* problem)
{
    if (!flush_field(out, buffer, problem))
        return false;
    errno = 0;
    return (std::fflush(out) == 0 && !std::ferror(out)) || write_failed(problem);
}

bool write_flo(std::FILE* out, const double* sx, const double* sy, int w, int h, std::string* problem)
{
    if (!write_flo_header(out, w, h, problem))
        return false;
    FieldBuffer buffer;
    size_field_buffer(&buffer, w);
    for (int y = 0; y < h; ++y) {
        const std::ptrdiff_t start = static_cast<std::ptrdiff_t>(y) * w;
        if (!add_field_row(out, &buffer, sx + start, sy + start, w, y, problem))
            return false;
    }
    return finish_field(out, &buffer, problem);
}

// Row y's counts, map row and field row, from buffers of x then y points
// (upper and lower as in fold_row, NULL for an image one row high).
static void finish_row(WarpViews* v, int y, const double* row, const double* upper, const double* lower)
{
    const int w = v->w;
    if (v->map) {
        auto split = [w](const double* points) { return PointRow{points, points ? points + w : nullptr}; };
        fold_row(split(row), split(upper), split(lower), w, v->src_w, v->src_h, v->flags_row.data(), &v->counts);
        shade_row(v->result, v->format, y, v->flags_row.data(), v->map);
    }
    if (v->field && v->problem.empty())
        add_field_row(v->field, &v->field_buffer, row, row + w, w, y, &v->problem);
}

// The row sink: keeps a copy of the row, then, unless another thread is at
// it, finishes every row that has its neighbour below, in order.
static void views_row(void* context, int y, const double* sx, const double* sy)
{
    WarpViews* v = static_cast<WarpViews*>(context);
    const size_t w = static_cast<size_t>(v->w);
    std::unique_lock<std::mutex> lock(v->mutex);
    if (v->spare.empty()) {
        v->buffers.emplace_back(new double[2 * w]);
        v->spare.push_back(v->buffers.back().get());
    }
    double* copy = v->spare.back();
    v->spare.pop_back();
    lock.unlock();
    std::memcpy(copy, sx, w * sizeof(double));
    std::memcpy(copy + w, sy, w * sizeof(double));
    lock.lock();
    v->rows[y] = copy;
    if (v->draining)
        return;
    v->draining = true;
    for (int r = v->next; r < v->h && v->rows[r] && (r + 1 == v->h || v->rows[r + 1]); r = v->next) {
        const double* row = v->rows[r];
        const double* upper = v->h == 1 ? nullptr : r + 1 < v->h ? row : v->rows[r - 1];
        const double* lower = v->h == 1 ? nullptr : r + 1 < v->h ? v->rows[r + 1] : row;
        lock.unlock();
        finish_row(v, r, row, upper, lower);
        lock.lock();
        if (r > 0) {
            v->spare.push_back(v->rows[r - 1]);
            v->rows[r - 1] = nullptr;
        }
        v->next = r + 1;
    }
    v->draining = false;
}

bool views_start(WarpViews* views, SDL_Surface* src, SDL_Surface* result, SDL_Surface* map, std::FILE* field,
                 WarpOptions* options)
{
    WarpViews* v = views;
    v->w = result->w;
    v->h = result->h;
    v->src_w = src->w;
    v->src_h = src->h;
    v->result = result;
    v->map = map;
    v->field = field;
    v->counts = FoldCounts();
    v->counts.pixels = static_cast<long long>(v->w) * v->h;
    if (map) {
        if (!is_fold_map(map, v->w, v->h)) {
            v->problem = "the fold map is not a surface from new_fold_map of the result's size";
            return false;
        }
        fast_format_init(&v->format, result);
        v->flags_row.resize(v->w);
    }
    if (field) {
        size_field_buffer(&v->field_buffer, v->w);
        if (!write_flo_header(field, v->w, v->h, &v->problem))
            return false;
    }
    v->rows.assign(v->h, nullptr);
    v->next = 0;
    v->sink = {views_row, v};
    options->rows = &v->sink;
    return true;
}

bool views_finish(WarpViews* views, const Segment* segments, int n)
{
    if (views->next != views->h && views->problem.empty())
        views->problem = "the warp did not deliver every row";
    if (views->map)
        draw_second_segments(views->map, segments, n);
    if (views->field && views->problem.empty())
        finish_field(views->field, &views->field_buffer, &views->problem);
    return views->problem.empty();
}
