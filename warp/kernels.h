// The two kernels behind warp_run, for warp.cpp and their own files only.
// Both write every pixel of dst (src's size) and, when asked, the source
// points, progress and the count of non-finite points (see warp.h).
#pragma once
#include <SDL.h>

#include <vector>

#include "warp/warp.h"

// The reference: the arithmetic in its literal order, column by column.
void warp_literal(SDL_Surface* src, SDL_Surface* dst, const Segment* segments, int n, const WarpParams& params,
                  const WarpOptions& options, WarpReport* report);

// The same doubles with the values that depend only on a pair computed once
// per warp, neighbouring pixels of a row in SIMD lanes and whole rows shared
// out to threads.
void warp_fast(SDL_Surface* src, SDL_Surface* dst, const Segment* segments, int n, const WarpParams& params,
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
};

struct FastTable {
    std::vector<FastPair> pairs;  // table order
    double a, b;
    bool outer_pow;  // false where pow(x, b) is known to return x
};

void fast_table_build(FastTable* table, const Segment* segments, int n, const WarpParams& params);

// Source points of pixels (0, y) .. (count - 1, y) into sx[0 .. count - 1]
// and sy[0 .. count - 1], on the instruction set chosen for this CPU; returns
// how many of them are not finite.
int fast_row_points(const FastTable* table, int y, int count, double* sx, double* sy);
