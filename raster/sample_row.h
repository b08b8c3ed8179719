// Row sampling for loops that fill a result row by row (the warp): the
// pixels image_sample gives at a row of real-valued source points, bit for
// bit, written as one row of the result. SIMD lanes (the widest instruction
// set the CPU has, chosen at run time) where the views allow, image_sample
// pixel by pixel otherwise. Source and result have the same kind, any of
// raster/kinds.h; a built RowSampler is only read, so threads may share it.
// The caller owns both images.
#pragma once
#include <cstdint>

#include "raster/image.h"
#include "raster/kinds.h"

// Point rows hold this many entries past the row's end, with finite values:
// the lanes compute a last vector whole, reaching into them.
enum { SAMPLE_ROW_PAD = 16 };

// The scratch a row of `width` pixels needs, in 32-bit entries.
inline int sample_row_scratch(int width)
{
    return 8 * (width + SAMPLE_ROW_PAD);
}

enum RowLanes {
    ROW_LANES_NONE,  // image_sample pixel by pixel
    ROW_LANES_RGB8,  // 8-bit R, G, B with a black outside: each pixel one 4-byte word
    ROW_LANES_KIND,  // any kind
};

struct RowSampler {
    ImageView src, dst;
    unsigned char outside[KIND_MAX_PIXEL_BYTES];  // a pixel of src's kind
    // The lanes read each neighbour's pixel as words of 4 bytes (pixels of
    // up to 4 bytes) or 8 at its byte offset and on, each moved back to stay
    // inside the pixels near their end and shifted down to match.
    RowLanes lanes;
    int32_t last_word;  // largest offset from which a word lies inside the pixels
};

// outside is the pixel of src's kind that points outside the source give
// (NULL: every sample 0). With use_lanes false image_sample does every row
// (tests compare the paths); otherwise the lanes do where they can: a
// little-endian CPU, source rows top-down, at least a word of pixels and
// every offset within 32 bits.
void row_sampler_init(RowSampler* sampler, const ImageView& src, const ImageView& dst, const unsigned char* outside,
                      bool use_lanes = true);

// Row y of dst from the points (sx[i], sy[i]) for i < dst.width. sx and sy
// hold dst.width + SAMPLE_ROW_PAD entries, scratch sample_row_scratch's.
void sample_row(const RowSampler* sampler, int y, const double* sx, const double* sy, uint32_t* scratch);

// Name of the instruction set the lanes run on now (tests force each one in
// turn through Highway's target mask).
const char* sample_row_target_name();
