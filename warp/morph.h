// The frames of a morph from FIRST to SECOND (docs/numerics.md, "Morph
// frames"). In pair k of the table, entry 2k marks a feature in FIRST and
// entry 2k + 1 the same feature in SECOND. Frame i of n lies at
// t = i / (n - 1): its lines are the pairs' end points moved the fraction t
// of the way, FIRST and SECOND are each warped onto those lines, and the two
// warps are blended with weights 1 - t and t. Frame 0 is FIRST and frame
// n - 1 is SECOND, pixel for pixel.
#pragma once
#include <cstdint>
#include <vector>

#include "raster/image.h"
#include "raster/kinds.h"
#include "warp/segment.h"
#include "warp/warp.h"

// i / (n - 1) as a double; n >= 2.
double morph_time(int frame, int frames);

// The frame's line between `first` and `second`: each end point coordinate is
// c_first + t * (c_second - c_first).
Segment morph_segment(const Segment& first, const Segment& second, double t);

// The tables of the two warps of the frame at t: entry 2k of *first_table is
// the first segment of pair k and entry 2k + 1 the frame's line between it
// and the second (morph_segment); *second_table likewise with the second
// segment. An unpaired last segment is left out. Either may be NULL.
void morph_frame_tables(const std::vector<Segment>& pairs, double t, std::vector<Segment>* first_table,
                        std::vector<Segment>* second_table);

// Inputs, scratch and settings of one morph. The frames have the wider kind
// of the two inputs (kind_wider, raster/kinds.h): colour, alpha, 16 bits or
// floats if either input has them. first and second are the inputs in that
// kind: the caller's views where an input already has it (the caller keeps
// their pixels), else widened copies the job owns. warped_first and
// warped_second, of the same size and kind, are the job's own: the warps
// fill them.
struct MorphJob {
    ImageKind kind;
    ImageView first, second;
    ImageBuffer widened_first, widened_second;
    ImageBuffer warped_first, warped_second;
    std::vector<Segment> pairs;  // an even count
    WarpParams params;
    WarpOptions options;  // kernel, threads, progress count and outside colour of every warp
    // Reused from frame to frame: the frame's two warp tables, and for 8-bit
    // kinds the blend of every pair of sample values.
    std::vector<Segment> first_table;
    std::vector<Segment> second_table;
    std::vector<uint8_t> mixed;
};

// Sets the inputs, of any kinds, and makes the warp results; false when the
// inputs are not valid views of one size or memory runs out.
bool morph_job_init(MorphJob* job, const ImageView& first, const ImageView& second);

// How many warps frame i of n takes: two, or none for the first and last
// frames, which are copies of the inputs.
int morph_warps_for_frame(int frame, int frames);

// Renders frame i of n into `frame`, a view of the inputs' size and of
// job->kind; false, with nothing written, when it is not one. Frames 0 and
// n - 1 are the inputs in that kind, byte for byte. Runs the warps with
// job->options: with the fast kernel, both warps and the blend of a row in
// one pass, rows shared out to job->options.threads threads (all cores for
// 0), each row counted twice in the progress count (a row of each warp);
// with the literal kernel, two whole warps and then the blend.
bool morph_render(MorphJob* job, int frame_index, int frames, const ImageView& frame);
