// The fast kernel: the literal kernel's arithmetic, bit for bit, with the
// values that depend only on a pair computed once per warp, neighbouring
// pixels of a row in SIMD lanes (one pixel a lane, the widest instruction set
// the CPU has, chosen at run time) and whole rows shared out to threads.
// Coordinates as in warp.h; the caller owns every surface and table.
#pragma once
#include <SDL.h>

#include <cstdint>
#include <vector>

#include "raster/pixel_fast.h"
#include "warp/segment.h"

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

void fast_table_build(FastTable* table, const Segment* segments, int n, double p, double b, double a);

// Source points of pixels (0, y) .. (count - 1, y) into sx[0 .. count - 1]
// and sy[0 .. count - 1], on the instruction set chosen for this CPU.
void fast_row_points(const FastTable* table, int y, int count, double* sx, double* sy);

// A source image as the lane sampler reads it. Each neighbour's pixel comes
// from one 4-byte read at its byte offset, moved back to stay inside the
// pixels near their end and shifted down to match; a channel is then either
// its own byte of that word (direct) or a table entry, as in FastFormat.
struct LaneSource {
    const FastFormat* format;  // pixels, size, pitch, channel masks and shifts
    int32_t last_word;         // largest offset from which 4 bytes lie inside the pixels
    uint32_t word_mask;        // the pixel's own bytes of the word
    bool direct;               // each channel is (word >> shift) & 0xFF
    int32_t table[3][256];     // format's read tables, widened for gathers
};

// False where the lane sampler cannot read format (no tables, a big-endian
// CPU, fewer than 4 bytes of pixels, offsets beyond 32 bits): the scalar
// sampler then does the row.
bool lane_source_init(LaneSource* source, const FastFormat* format);

// Rows of sx, sy and packed hold FAST_ROW_PAD entries past count, with
// finite values in sx and sy: the last vector of a row is computed whole.
enum { FAST_ROW_PAD = 16 };

// sample_bilinear's channels at (sx[i], sy[i]) for i < count, bit for bit,
// packed as r << shift[0] | g << shift[1] | b << shift[2] (a result whose
// SDL_MapRGB is that and nothing more), on the instruction set chosen for
// this CPU.
void fast_sample_row_packed(const LaneSource* source, const double* sx, const double* sy, int count,
                            const int shift[3], uint32_t* packed);

// Name of the instruction set fast_row_points runs on now (for tests, which
// force each one in turn through Highway's target mask, and for benchmarks).
const char* fast_target_name();

// Writes every pixel of dst (src's size) on `threads` threads (0: one per
// hardware thread) and returns when all are written.
void warp_fast(SDL_Surface* src, SDL_Surface* dst, const Segment* segments, int n, double p, double b, double a,
               int threads);
