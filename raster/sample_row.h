// Row sampling for loops that fill a result row by row (the warp): the
// colours sample_bilinear gives at a row of real-valued source points, bit for
// bit, written as one row of the result. SIMD lanes (the widest instruction
// set the CPU has, chosen at run time) where the two formats allow, the
// table-driven sampler pixel by pixel otherwise. Neither surface may need
// locking or change format while a RowSampler built from them is in use; a
// built RowSampler is only read, so threads may share it. The caller owns
// both surfaces.
#pragma once
#include <SDL.h>

#include <cstdint>

#include "raster/pixel_fast.h"

// Point rows and the scratch row hold this many entries past the row's end,
// with finite values in the point rows: the lanes compute a last vector
// whole, reaching into them.
enum { SAMPLE_ROW_PAD = 16 };

// A source as the lanes read it: each neighbour's pixel comes from one 4-byte
// read at its byte offset, moved back to stay inside the pixels near their
// end and shifted down to match; a channel is then either its own byte of
// that word (direct) or a table entry, as in FastFormat.
struct LaneSource {
    int32_t last_word;      // largest offset from which 4 bytes lie inside the pixels
    uint32_t word_mask;     // the pixel's own bytes of the word
    bool direct;            // each channel is (word >> shift) & 0xFF
    int32_t table[3][256];  // the read tables, widened for gathers
};

struct RowSampler {
    FastFormat src, dst;
    bool lanes;  // false: the table-driven sampler, pixel by pixel
    LaneSource lane_source;
    int shift[3];  // where the lanes put each channel of a result pixel
};

// With use_lanes false the table-driven sampler does every row (tests compare
// the two paths); otherwise the lanes do, where they can read src (tables, a
// little-endian CPU, 4 bytes of pixels, offsets within 32 bits, a pitch of
// whole pixels) and pack dst (32 bits a pixel, each channel a plain shift).
void row_sampler_init(RowSampler* sampler, SDL_Surface* src, SDL_Surface* dst, bool use_lanes = true);

// Row y of dst from the points (sx[i], sy[i]) for i < dst->w. sx, sy and
// scratch hold dst->w + SAMPLE_ROW_PAD entries.
void sample_row(const RowSampler* sampler, int y, const double* sx, const double* sy, uint32_t* scratch);

// Name of the instruction set the lanes run on now (tests force each one in
// turn through Highway's target mask).
const char* sample_row_target_name();
