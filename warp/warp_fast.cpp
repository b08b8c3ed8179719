#include "warp/warp_fast.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>

#include "raster/pixel_fast.h"

void fast_table_build(FastTable* table, const Segment* segments, int n, double p, double b, double a)
{
    table->pairs.clear();
    for (int k = 0; k + 1 < n; k += 2) {
        const Segment& first = segments[k];
        const Segment& second = segments[k + 1];
        FastPair pair;
        pair.P1_x = first.x1;
        pair.P1_y = first.y1;
        pair.P_x = second.x1;
        pair.P_y = second.y1;
        pair.Q_x = second.x2;
        pair.Q_y = second.y2;
        pair.PQ_x = second.x2 - second.x1;
        pair.PQ_y = second.y2 - second.y1;
        pair.PQ_perp_x = -pair.PQ_y;
        pair.PQ_perp_y = pair.PQ_x;
        pair.PQ1_x = first.x2 - first.x1;
        pair.PQ1_y = first.y2 - first.y1;
        pair.PQ1_perp_x = -pair.PQ1_y;
        pair.PQ1_perp_y = pair.PQ1_x;
        pair.len_PQ = std::sqrt(pair.PQ_x * pair.PQ_x + pair.PQ_y * pair.PQ_y);
        pair.len_PQ1 = std::sqrt(pair.PQ1_x * pair.PQ1_x + pair.PQ1_y * pair.PQ1_y);
        // The literal kernel's rule: a segment whose length is not greater
        // than zero (NaN included) leaves its pair out.
        if (!(pair.len_PQ > 0) || !(pair.len_PQ1 > 0))
            continue;
        pair.len_PQ_sq = pair.len_PQ * pair.len_PQ;
        pair.len_PQ_p = std::pow(pair.len_PQ, p);
        table->pairs.push_back(pair);
    }
    table->a = a;
    table->b = b;
    // glibc's pow is accurate to within 0.52 ulp of which 0.5 is the final
    // rounding, so where the exact result x is a double it returns x itself:
    // pow(x, 1.0) == x for every x (tests/fast checks it). Other C libraries
    // make no such promise and keep the call.
#if defined(__GLIBC__)
    table->outer_pow = !(b == 1.0);
#else
    table->outer_pow = true;
#endif
}

bool lane_source_init(LaneSource* s, const FastFormat* f)
{
    // The lanes read whole rows as pitch * y + bytes * x, which is the row
    // offset fast_row takes only when the pitch is a whole number of units.
    const int unit = f->bytes == 3 ? 1 : f->bytes;
    if (!f->fast_read || SDL_BYTEORDER != SDL_LIL_ENDIAN || f->pitch % unit != 0)
        return false;
    const int64_t extent = static_cast<int64_t>(f->h - 1) * f->pitch + static_cast<int64_t>(f->w) * f->bytes;
    if (extent < 4 || extent > INT32_MAX)
        return false;
    s->format = f;
    s->last_word = static_cast<int32_t>(extent - 4);
    s->word_mask = f->bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * f->bytes)) - 1;
    s->direct = true;
    for (int c = 0; c < 3; ++c) {
        bool identity = (f->mask[c] >> f->shift[c]) == 0xFF;
        for (int v = 0; v < 256; ++v) {
            s->table[c][v] = f->read_table[c][v];
            identity = identity && f->read_table[c][v] == v;
        }
        s->direct = s->direct && identity;
    }
    return true;
}

// Sources or results the lanes cannot handle (rare: see lane_source_init
// and packs_by_shifts), pixel by pixel through the table-driven calls.
static void sample_row_scalar(const FastFormat* src, const FastFormat* dst, int y, const double* sx,
                              const double* sy)
{
    for (int x = 0; x < dst->w; ++x) {
        Uint8 r, g, b;
        fast_sample_bilinear(src, sx[x], sy[x], &r, &g, &b);
        fast_put_pixel(dst, x, y, r, g, b);
    }
}

// True, with the shifts, where dst's SDL_MapRGB is each channel shifted into
// place and nothing more, so that lanes can pack a row.
static bool packs_by_shifts(const FastFormat* dst, int shift[3])
{
    if (!dst->fast_write || dst->bytes != 4)
        return false;
    for (int c = 0; c < 3; ++c) {
        shift[c] = 0;
        while (shift[c] < 24 && dst->write_table[c][1] != 1u << shift[c])
            ++shift[c];
        for (Uint32 v = 0; v < 256; ++v)
            if (dst->write_table[c][v] != v << shift[c])
                return false;
    }
    return true;
}

struct RowJob {
    const FastTable* table;
    const FastFormat* src;
    const FastFormat* dst;
    const LaneSource* lanes;  // NULL: the scalar sampler
    int shift[3];             // of the result's channels, for the lanes
    std::atomic<int> next_row;
};

// Each worker takes the next whole row until none is left, so a worker that
// the machine slows down simply takes fewer rows.
static void run_rows(RowJob* job)
{
    const int w = job->dst->w, h = job->dst->h;
    // Zero-filled, so that the padding past the row holds finite points.
    std::vector<double> sx(w + FAST_ROW_PAD), sy(w + FAST_ROW_PAD);
    std::vector<uint32_t> packed(w + FAST_ROW_PAD);
    for (int y = job->next_row.fetch_add(1); y < h; y = job->next_row.fetch_add(1)) {
        fast_row_points(job->table, y, w, sx.data(), sy.data());
        if (job->lanes) {
            fast_sample_row_packed(job->lanes, sx.data(), sy.data(), w, job->shift, packed.data());
            std::memcpy(fast_row(job->dst, y, 4), packed.data(), sizeof(uint32_t) * w);
        } else {
            sample_row_scalar(job->src, job->dst, y, sx.data(), sy.data());
        }
    }
}

void warp_fast(SDL_Surface* src, SDL_Surface* dst, const Segment* segments, int n, double p, double b, double a,
               int threads)
{
    FastTable table;
    fast_table_build(&table, segments, n, p, b, a);
    FastFormat src_format, dst_format;
    fast_format_init(&src_format, src);
    fast_format_init(&dst_format, dst);

    RowJob job;
    job.table = &table;
    job.src = &src_format;
    job.dst = &dst_format;
    // The lanes need a source they can read and a result they can pack.
    LaneSource lanes;
    const bool use_lanes = lane_source_init(&lanes, &src_format) && packs_by_shifts(&dst_format, job.shift);
    job.lanes = use_lanes ? &lanes : nullptr;
    job.next_row = 0;

    if (threads <= 0)
        threads = static_cast<int>(std::thread::hardware_concurrency());
    if (threads > dst->h)
        threads = dst->h;
    // The calling thread is one of the workers. A helper that cannot be
    // started only means fewer workers: the others take its rows.
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i) {
        try {
            helpers.emplace_back(run_rows, &job);
        } catch (const std::system_error&) {
            break;
        }
    }
    run_rows(&job);
    for (std::thread& helper : helpers)
        helper.join();
}
