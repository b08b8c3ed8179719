#include "warp/warp_views.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

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

struct WarpViews::State {
    FoldCounts counts;    // when a map was given
    std::string problem;  // why start or finish failed

    // Set by start.
    int w = 0, h = 0, src_w = 0, src_h = 0;
    ImageView result;                    // read row by row for the map
    ImageView map;                       // the caller's; no pixels: no map
    const WarpRowSink* ordered = nullptr;
    WarpRowSink sink = {nullptr, nullptr};

    // Under mutex: rows[y] holds row y's points (x, then y) from its arrival
    // until row y + 1 is finished; spare holds buffers for reuse.
    std::mutex mutex;
    std::vector<double*> rows;
    std::vector<std::unique_ptr<double[]>> buffers;
    std::vector<double*> spare;
    int next = 0;           // the next row to finish
    bool draining = false;  // a thread is finishing rows

    // The finishing thread's own.
    std::vector<uint8_t> flags_row;
};

// Row y's counts and map row, then the caller's sink, from buffers of x then
// y points (upper and lower as in fold_row, NULL for an image one row high).
static void finish_row(WarpViews::State* v, int y, const double* row, const double* upper, const double* lower)
{
    const int w = v->w;
    if (v->map.pixels) {
        auto split = [w](const double* points) { return PointRow{points, points ? points + w : nullptr}; };
        fold_row(split(row), split(upper), split(lower), w, v->src_w, v->src_h, v->flags_row.data(), &v->counts);
        fold_map_row(v->result, y, v->flags_row.data(), v->map);
    }
    if (v->ordered)
        v->ordered->row(v->ordered->context, y, row, row + w);
}

// The row sink: keeps a copy of the row, then, unless another thread is at
// it, finishes every row that has its neighbour below, in order.
static void views_row(void* context, int y, const double* sx, const double* sy)
{
    WarpViews::State* v = static_cast<WarpViews::State*>(context);
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

WarpViews::WarpViews() : state_(new State) {}

WarpViews::~WarpViews() = default;

bool WarpViews::start(const ImageView& src, const ImageView& result, const ImageView* map,
                      const WarpRowSink* ordered, WarpOptions* options)
{
    State* v = state_.get();
    v->w = result.width;
    v->h = result.height;
    v->src_w = src.width;
    v->src_h = src.height;
    v->result = result;
    v->map = ImageView();
    v->ordered = ordered;
    v->problem.clear();
    v->counts = FoldCounts();
    v->counts.pixels = static_cast<long long>(v->w) * v->h;
    if (map) {
        if (!image_view_valid(*map) || !image_is_rgb8(*map) || map->width != result.width
            || map->height != result.height) {
            v->problem = "the fold map is not an 8-bit RGB image of the result's size";
            return false;
        }
        v->map = *map;
        v->flags_row.resize(v->w);
    }
    v->rows.assign(v->h, nullptr);
    v->next = 0;
    v->sink = {views_row, v};
    options->rows = &v->sink;
    return true;
}

bool WarpViews::finish(const Segment* segments, int n)
{
    State* v = state_.get();
    if (v->next != v->h && v->problem.empty())
        v->problem = "the warp did not deliver every row";
    if (v->map.pixels)
        fold_map_segments(v->map, segments, n);
    return v->problem.empty();
}

const FoldCounts& WarpViews::counts() const
{
    return state_->counts;
}

const std::string& WarpViews::problem() const
{
    return state_->problem;
}
