// Row sampling of every kind (raster/kinds.h) for loops that fill a result
// row by row: the pixels image_sample gives at a row of real-valued source
// points, bit for bit. SIMD lanes (the widest instruction set the CPU has,
// chosen at run time, as for sample_row) where the source allows, image_sample
// pixel by pixel otherwise. A built KindRowSampler is only read, so threads
// may share it; the caller owns the source.
#pragma once
#include <cstdint>

#include "raster/image.h"
#include "raster/kinds.h"
#include "raster/sample_row.h"

struct KindRowSampler {
    ImageView src;
    unsigned char outside[KIND_MAX_PIXEL_BYTES];  // a pixel of src's kind
    // The lanes read a pixel as words of 4 bytes (pixels of up to 4 bytes)
    // or 8 at its byte offset and on, each moved back to stay inside the
    // pixels near their end and shifted down to match.
    bool lanes;
    int32_t last_word;  // largest offset from which a word lies inside the pixels
};

// With use_lanes false image_sample does every row (tests compare the two
// paths); otherwise the lanes do where they can: a little-endian CPU, rows
// top-down, at least a word of pixels and every offset within 32 bits.
// src must satisfy image_view_valid; outside is a pixel of its kind.
void kind_row_sampler_init(KindRowSampler* sampler, const ImageView& src, const unsigned char* outside,
                           bool use_lanes = true);

// The pixels of the points (sx[i], sy[i]) for i < count, into `row` (count
// pixels of src's kind). sx and sy hold count + SAMPLE_ROW_PAD entries, with
// finite values past count; scratch holds 8 * (count + SAMPLE_ROW_PAD).
void kind_sample_row(const KindRowSampler* sampler, const double* sx, const double* sy, int count,
                     unsigned char* row, uint32_t* scratch);
