// The two kernels behind warp_run, for warp.cpp and their own files only,
// and the fast kernel's lanes for the morph's frames.
// Both write every pixel of dst (8-bit R, G, B views of one size, checked
// by warp_run) and, when asked, the source
// points, progress and the count of non-finite points (see warp.h).
#pragma once
#include <cstdint>
#include <vector>

#include "warp/exact_quotient.h"
#include "warp/warp.h"

// The reference: the arithmetic in its literal order, column by column.
void warp_literal(const ImageView& src, const ImageView& dst, const Segment* segments, int n, const WarpParams& params,
                  const WarpOptions& options, WarpReport* report);

// The same doubles with the values that depend only on a pair computed once
// per warp, neighbouring pixels of a row in SIMD lanes and whole rows shared
// out to threads.
void warp_fast(const ImageView& src, const ImageView& dst, const Segment* segments, int n, const WarpParams& params,
               const WarpOptions& options, WarpReport* report);

// One pair that is not left out, with the doubles the literal kernel
// computes from its end points alone.
struct FastPair {
    double P_x, P_y, Q_x, Q_y, P1_x, P1_y;
    double PQ_x, PQ_y, PQ_perp_x, PQ_perp_y;
    double PQ1_x, PQ1_y, PQ1_perp_x, PQ1_perp_y;
    double len_PQ, len_PQ1;
    double len_PQ_sq;  // len_PQ * len_PQ
    double len_PQ_p;   // pow(len_PQ, p)
    // The divisors' split reciprocals (exact_quotient.h), and whether the
    // quotients by them may be computed from these: u and v when the second
    // segment allows it, X' when both segments do. Otherwise the lanes
    // divide. With the method newton, split_uv admits the end distance's
    // root from the estimate too, and estimate_weight the weight's quotient.
    SplitReciprocal rec_PQ_sq, rec_PQ, rec_PQ1;
    bool split_uv, split_Xs, estimate_weight;
};

// The pair of segments first (P1 -> Q1) and second (P -> Q); false when the
// pair is left out (a computed length not greater than zero).
bool fast_pair_make(FastPair* pair, const Segment& first, const Segment& second, const WarpParams& params);

struct FastTable {
    std::vector<FastPair> pairs;  // table order
    double a, b;
    bool outer_pow;  // false where pow(x, b) is known to return x
};

void fast_table_build(FastTable* table, const Segment* segments, int n, const WarpParams& params);

// Whether pow(x, b) must be called for the weight (false where it is known
// to return x).
bool fast_outer_pow(double b);

// The two warps of a morph frame at once: W_first by the pairs (first[k],
// line[k]) and W_second by (second[k], line[k]). Both have the frame's line
// as second segment, so u, v, dist and the weight are the same doubles in
// both and are computed once; only X' is computed for each.
struct MorphTable {
    // Entry k: the pair (first segment of warp w, line k) as fast_pair_make
    // makes it, for w = 0 (W_first) and 1 (W_second). Pairs that neither warp
    // uses are not here.
    std::vector<FastPair> pairs[2];
    std::vector<uint8_t> used;  // bit w: warp w uses entry k
    int counts[2];              // entries each warp uses
    double a, b;
    bool outer_pow;
};

// From the frame's two warp tables (morph_frame_tables): entry 2k of each
// is pair k's first segment of that warp, entry 2k + 1 the frame's line k.
void morph_table_build(MorphTable* table, const Segment* first_table, const Segment* second_table, int pairs,
                       const WarpParams& params);

// Source points of pixels (0, y) .. (count - 1, y) into sx[0 .. count - 1]
// and sy[0 .. count - 1], on the instruction set chosen for this CPU; returns
// how many of them are not finite.
int fast_row_points(const FastTable* table, int y, int count, double* sx, double* sy);

// The same for both warps of a morph frame: warp w's points go to sx[w] and
// sy[w].
void morph_row_points(const MorphTable* table, int y, int count, double* const sx[2], double* const sy[2]);
