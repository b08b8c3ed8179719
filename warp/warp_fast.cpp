#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "raster/sample_row.h"
#include "warp/kernels.h"
#include "warp/workers.h"

bool fast_pair_make(FastPair* pair, const Segment& first, const Segment& second, const WarpParams& params)
{
    pair->P1_x = first.x1;
    pair->P1_y = first.y1;
    pair->P_x = second.x1;
    pair->P_y = second.y1;
    pair->Q_x = second.x2;
    pair->Q_y = second.y2;
    pair->PQ_x = second.x2 - second.x1;
    pair->PQ_y = second.y2 - second.y1;
    pair->PQ_perp_x = -pair->PQ_y;
    pair->PQ_perp_y = pair->PQ_x;
    pair->PQ1_x = first.x2 - first.x1;
    pair->PQ1_y = first.y2 - first.y1;
    pair->PQ1_perp_x = -pair->PQ1_y;
    pair->PQ1_perp_y = pair->PQ1_x;
    pair->len_PQ = std::sqrt(pair->PQ_x * pair->PQ_x + pair->PQ_y * pair->PQ_y);
    pair->len_PQ1 = std::sqrt(pair->PQ1_x * pair->PQ1_x + pair->PQ1_y * pair->PQ1_y);
    // The literal kernel's rule: a segment whose length is not greater
    // than zero (NaN included) leaves its pair out.
    if (!(pair->len_PQ > 0) || !(pair->len_PQ1 > 0))
        return false;
    pair->len_PQ_sq = pair->len_PQ * pair->len_PQ;
    pair->len_PQ_p = std::pow(pair->len_PQ, params.p);
    pair->split_uv = exact_quotient_segment(second);
    pair->split_Xs = pair->split_uv && exact_quotient_segment(first);
    pair->estimate_weight = pair->split_uv && estimate_weight_admitted(pair->len_PQ_p, params.a);
    if (pair->split_uv) {
        pair->rec_PQ_sq = split_reciprocal(pair->len_PQ_sq);
        pair->rec_PQ = split_reciprocal(pair->len_PQ);
    }
    if (pair->split_Xs)
        pair->rec_PQ1 = split_reciprocal(pair->len_PQ1);
    return true;
}

bool fast_outer_pow(double b)
{
    // glibc's pow is accurate to within 0.52 ulp of which 0.5 is the final
    // rounding, so where the exact result x is a double it returns x itself:
    // pow(x, 1.0) == x for every x (tests/warp checks it). Other C libraries
    // make no such promise and keep the call.
#if defined(__GLIBC__)
    return !(b == 1.0);
#else
    (void)b;
    return true;
#endif
}

void fast_table_build(FastTable* table, const Segment* segments, int n, const WarpParams& params)
{
    table->pairs.clear();
    for (int k = 0; k + 1 < n; k += 2) {
        FastPair pair;
        if (fast_pair_make(&pair, segments[k], segments[k + 1], params))
            table->pairs.push_back(pair);
    }
    table->a = params.a;
    table->b = params.b;
    table->outer_pow = fast_outer_pow(params.b);
}

void morph_table_build(MorphTable* table, const Segment* first_table, const Segment* second_table, int pairs,
                       const WarpParams& params)
{
    for (int w = 0; w < 2; ++w) {
        table->pairs[w].clear();
        table->counts[w] = 0;
    }
    table->used.clear();
    for (int k = 0; k < pairs; ++k) {
        FastPair made[2] = {};
        const Segment& line = first_table[2 * k + 1];
        const uint8_t used = (fast_pair_make(&made[0], first_table[2 * k], line, params) ? 1 : 0)
                           | (fast_pair_make(&made[1], second_table[2 * k], line, params) ? 2 : 0);
        if (!used)
            continue;
        for (int w = 0; w < 2; ++w) {
            table->pairs[w].push_back(made[w]);
            table->counts[w] += used >> w & 1;
        }
        table->used.push_back(used);
    }
    table->a = params.a;
    table->b = params.b;
    table->outer_pow = fast_outer_pow(params.b);
}

void warp_fast(const ImageView& src, const ImageView& dst, const Segment* segments, int n,
               const WarpParams& params, const WarpOptions& options, WarpReport* report)
{
    FastTable table;
    fast_table_build(&table, segments, n, params);
    unsigned char outside[KIND_MAX_PIXEL_BYTES];
    outside_pixel(options.outside, image_kind(src), outside);
    RowSampler sampler;
    row_sampler_init(&sampler, src, dst, outside);
    const int w = dst.width;
    std::atomic<long long> nonfinite(0);
    run_rows(options.threads, dst.height, [&]() -> RowWorker {
        // Zero-filled, so that the padding past the row holds finite points.
        const size_t padded = w + SAMPLE_ROW_PAD;
        return [&, sx = std::vector<double>(padded), sy = std::vector<double>(padded),
                scratch = std::vector<uint32_t>(sample_row_scratch(w))](int y) mutable {
            if (const int count = fast_row_points(&table, y, w, sx.data(), sy.data()))
                nonfinite += count;
            if (options.points_x) {
                std::memcpy(options.points_x + static_cast<std::ptrdiff_t>(y) * w, sx.data(), sizeof(double) * w);
                std::memcpy(options.points_y + static_cast<std::ptrdiff_t>(y) * w, sy.data(), sizeof(double) * w);
            }
            sample_row(&sampler, y, sx.data(), sy.data(), scratch.data());
            if (options.rows)
                options.rows->row(options.rows->context, y, sx.data(), sy.data());
            if (options.pixels_done)
                *options.pixels_done += w;
        };
    });
    report->nonfinite_points = nonfinite;
}
