#include "warp/morph.h"

#include <atomic>
#include <cstring>

#include "raster/sample_row.h"
#include "warp/kernels.h"
#include "warp/workers.h"

double morph_time(int frame, int frames)
{
    return static_cast<double>(frame) / (frames - 1);
}

Segment morph_segment(const Segment& first, const Segment& second, double t)
{
    return {first.x1 + t * (second.x1 - first.x1), first.y1 + t * (second.y1 - first.y1),
            first.x2 + t * (second.x2 - first.x2), first.y2 + t * (second.y2 - first.y2)};
}

void morph_frame_tables(const std::vector<Segment>& pairs, double t, std::vector<Segment>* first_table,
                        std::vector<Segment>* second_table)
{
    const size_t n = pairs.size() / 2 * 2;
    for (std::vector<Segment>* table : {first_table, second_table})
        if (table)
            table->resize(n);
    for (size_t k = 0; k < n; k += 2) {
        const Segment line = morph_segment(pairs[k], pairs[k + 1], t);
        if (first_table) {
            (*first_table)[k] = pairs[k];
            (*first_table)[k + 1] = line;
        }
        if (second_table) {
            (*second_table)[k] = pairs[k + 1];
            (*second_table)[k + 1] = line;
        }
    }
}

// The input in the frames' kind: itself, or a widened copy in `own`.
static bool in_kind(const ImageView& input, ImageKind kind, ImageBuffer* own, ImageView* view)
{
    if (kind_equal(image_kind(input), kind)) {
        *view = input;
        return true;
    }
    if (!image_convert(input, kind, own))
        return false;
    *view = own->view;
    return true;
}

bool morph_job_init(MorphJob* job, const ImageView& first, const ImageView& second)
{
    if (!image_view_valid(first) || !image_view_valid(second) || first.width != second.width
        || first.height != second.height)
        return false;
    job->kind = kind_wider(image_kind(first), image_kind(second));
    const int w = first.width, h = first.height, channels = job->kind.channels;
    return in_kind(first, job->kind, &job->widened_first, &job->first)
        && in_kind(second, job->kind, &job->widened_second, &job->second)
        && image_buffer_make(&job->warped_first, w, h, channels, job->kind.type)
        && image_buffer_make(&job->warped_second, w, h, channels, job->kind.type);
}

int morph_warps_for_frame(int frame, int frames)
{
    return frame == 0 || frame == frames - 1 ? 0 : 2;
}

namespace {

struct Blend {
    ImageView first, second, frame;
    double t;
    // 8-bit kinds: kind_blend_table's entries for t, which give the blend's
    // values without computing them.
    const uint8_t* mixed;
};

// The samples of a row are read and written here, and only here.
void blend_row(const Blend* blend, int y)
{
    kind_blend_row(image_kind(blend->frame), blend->t, blend->mixed, image_row(blend->first, y),
                   image_row(blend->second, y), image_row(blend->frame, y), blend->frame.width);
}

// The blend of the warp results at t into frame, with the job's table.
Blend blend_of(MorphJob* job, double t, const ImageView& frame)
{
    const uint8_t* mixed = nullptr;
    if (frame.type == SAMPLE_U8) {
        job->mixed.resize(256 * 256);
        kind_blend_table(t, job->mixed.data());
        mixed = job->mixed.data();
    }
    return {job->warped_first.view, job->warped_second.view, frame, t, mixed};
}

// Both warps and the blend of a frame, row by row: each row's source points
// of both warps come from one pass over the pairs (morph_row_points), both
// inputs are sampled into that row of the warp results, and the row is
// blended while it is in cache. The same doubles and bytes as two fast warps
// and a blend.
void frame_rows(const MorphJob& job, const MorphTable& table, const Blend& blend)
{
    unsigned char outside[KIND_MAX_PIXEL_BYTES];
    outside_pixel(job.options.outside, job.kind, outside);
    RowSampler samplers[2];
    row_sampler_init(&samplers[0], job.first, job.warped_first.view, outside);
    row_sampler_init(&samplers[1], job.second, job.warped_second.view, outside);
    const int w = blend.frame.width;
    std::atomic<long long>* const pixels_done = job.options.pixels_done;
    run_rows(job.options.threads, blend.frame.height, [&]() -> RowWorker {
        // Zero-filled, so that the padding past the row holds finite points.
        const size_t padded = w + SAMPLE_ROW_PAD;
        return [&, padded, points = std::vector<double>(4 * padded),
                scratch = std::vector<uint32_t>(sample_row_scratch(w))](int y) mutable {
            double* const sx[2] = {points.data(), points.data() + padded};
            double* const sy[2] = {points.data() + 2 * padded, points.data() + 3 * padded};
            morph_row_points(&table, y, w, sx, sy);
            for (int i = 0; i < 2; ++i)
                sample_row(&samplers[i], y, sx[i], sy[i], scratch.data());
            blend_row(&blend, y);
            if (pixels_done)
                *pixels_done += 2 * w;
        };
    });
}

// The rows of an input already in the frames' kind, copied.
void copy_rows(const ImageView& input, const ImageView& frame)
{
    const size_t bytes = static_cast<size_t>(frame.width) * image_pixel_bytes(frame);
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(image_row(frame, y), image_row(input, y), bytes);
}

}  // namespace

bool morph_render(MorphJob* job, int frame_index, int frames, const ImageView& frame)
{
    if (!image_view_valid(frame) || !image_same_layout(frame, job->warped_first.view))
        return false;
    // The first and last frames are the inputs themselves: no warp, no
    // blend (which would clear the colour under a transparent pixel).
    if (frame_index == 0 || frame_index == frames - 1) {
        copy_rows(frame_index == 0 ? job->first : job->second, frame);
        return true;
    }

    const double t = morph_time(frame_index, frames);
    morph_frame_tables(job->pairs, t, &job->first_table, &job->second_table);
    const int n = static_cast<int>(job->first_table.size());
    if (job->options.kernel == WARP_KERNEL_FAST) {
        MorphTable table;
        morph_table_build(&table, job->first_table.data(), job->second_table.data(), n / 2, job->params);
        frame_rows(*job, table, blend_of(job, t, frame));
        return true;
    }
    // The literal kernel: two whole warps, then the blend, its rows shared
    // out as the fast kernel shares them.
    warp_run(job->first, job->warped_first.view, job->first_table.data(), n, job->params, job->options);
    warp_run(job->second, job->warped_second.view, job->second_table.data(), n, job->params, job->options);
    const Blend blend = blend_of(job, t, frame);
    run_rows(job->options.threads, frame.height,
             [&blend]() -> RowWorker { return [&blend](int y) { blend_row(&blend, y); }; });
    return true;
}
