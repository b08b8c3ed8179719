#include <cmath>

#include "raster/kinds.h"
#include "warp/kernels.h"

static double length(Vec2 v)
{
    return std::sqrt(v.x * v.x + v.y * v.y);
}

static double dot(Vec2 a, Vec2 b)
{
    return a.x * b.x + a.y * b.y;
}

// The source point of pixel X by every pair of the table, the arithmetic in
// its literal order: X itself when no pair is used.
static Vec2 source_point(Vec2 X, const Segment* segments, int n, const WarpParams& params)
{
    const double p = params.p, a = params.a, b = params.b;
    double sum_x = 0, sum_y = 0, sum_w = 0;
    int used = 0;
    for (int k = 0; k + 1 < n; k += 2) {
        const Segment& first = segments[k];
        const Segment& second = segments[k + 1];
        Vec2 P1 = {first.x1, first.y1};
        Vec2 Q1 = {first.x2, first.y2};
        Vec2 P = {second.x1, second.y1};
        Vec2 Q = {second.x2, second.y2};

        Vec2 PQ = {Q.x - P.x, Q.y - P.y};
        Vec2 PX = {X.x - P.x, X.y - P.y};
        Vec2 PQ_perp = {-PQ.y, PQ.x};
        Vec2 PQ1 = {Q1.x - P1.x, Q1.y - P1.y};
        Vec2 PQ1_perp = {-PQ1.y, PQ1.x};

        double len_PQ = length(PQ);
        double len_PQ1 = length(PQ1);
        // A zero-length segment would make this pair's displacement 0/0 at
        // every pixel and blacken the whole result.
        if (!(len_PQ > 0) || !(len_PQ1 > 0))
            continue;
        ++used;

        double u = dot(PX, PQ) / (len_PQ * len_PQ);
        double v = dot(PX, PQ_perp) / len_PQ;
        Vec2 Xs = {P1.x + u * PQ1.x + v * PQ1_perp.x / len_PQ1, P1.y + u * PQ1.y + v * PQ1_perp.y / len_PQ1};
        Vec2 D = {Xs.x - X.x, Xs.y - X.y};

        double dist;
        if (u < 0) {
            dist = length(PX);
        } else if (u >= 1) {
            Vec2 QX = {Q.x - X.x, Q.y - X.y};
            dist = length(QX);
        } else {
            dist = std::fabs(v);
        }
        double weight = std::pow(std::pow(len_PQ, p) / (a + dist), b);
        sum_x += weight * D.x;
        sum_y += weight * D.y;
        sum_w += weight;
    }
    if (used == 0)
        return X;
    return {X.x + sum_x / sum_w, X.y + sum_y / sum_w};
}

void warp_literal(const ImageView& src, const ImageView& dst, const Segment* segments, int n, const WarpParams& params,
                  const WarpOptions& options, WarpReport* report)
{
    const long long w = src.width;
    const int bytes = image_pixel_bytes(src);
    unsigned char outside[KIND_MAX_PIXEL_BYTES];
    outside_pixel(options.outside, image_kind(src), outside);
    double* const points_x = options.points_x;
    double* const points_y = options.points_y;
    long long nonfinite = 0;
    for (int x = 0; x < src.width; ++x) {
        for (int y = 0; y < src.height; ++y) {
            const Vec2 S = source_point({static_cast<double>(x), static_cast<double>(y)}, segments, n, params);
            if (points_x) {
                points_x[y * w + x] = S.x;
                points_y[y * w + x] = S.y;
            }
            nonfinite += !std::isfinite(S.x) || !std::isfinite(S.y);
            // The samples are written here, and only here.
            image_sample(src, S.x, S.y, outside, image_row(dst, y) + static_cast<std::ptrdiff_t>(x) * bytes);
        }
        if (options.pixels_done)
            *options.pixels_done += src.height;
    }
    report->nonfinite_points = nonfinite;
}
