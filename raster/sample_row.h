// Row sampling for loops that fill a result row by row (the warp): the
// samples sample_bilinear gives at a row of real-valued source points, bit
// for bit, written as one row of the result. SIMD lanes (the widest
// instruction set the CPU has, chosen at run time) where the views allow,
// sample_bilinear pixel by pixel otherwise. Source and result are 8-bit
// views with the same channels; a built RowSampler is only read, so threads
// may share it. The caller owns both images.
#pragma once
#include <cstdint>

#include "raster/image.h"

// Point rows and the scratch row hold this many entries past the row's end,
// with finite values in the point rows: the lanes compute a last vector
// whole, reaching into them.
enum { SAMPLE_ROW_PAD = 16 };

struct RowSampler {
    ImageView src, dst;
    // The lanes read each neighbour's pixel as one 4-byte word at its byte
    // offset, moved back to stay inside the pixels near their end and
    // shifted down to match; channel c is then byte c of that word.
    bool lanes;          // false: sample_bilinear pixel by pixel
    int32_t last_word;   // largest offset from which 4 bytes lie inside the pixels
    uint32_t word_mask;  // the pixel's own bytes of the word
};

// With use_lanes false sample_bilinear does every row (tests compare the two
// paths); otherwise the lanes do where they can: a little-endian CPU, rows
// top-down and every offset within 32 bits.
void row_sampler_init(RowSampler* sampler, const ImageView& src, const ImageView& dst, bool use_lanes = true);

// Row y of dst from the points (sx[i], sy[i]) for i < dst.width. sx, sy and
// scratch hold dst.width + SAMPLE_ROW_PAD entries.
void sample_row(const RowSampler* sampler, int y, const double* sx, const double* sy, uint32_t* scratch);

// Name of the instruction set the lanes run on now (tests force each one in
// turn through Highway's target mask).
const char* sample_row_target_name();
