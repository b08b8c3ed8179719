#include "warp/morph.h"

#include <atomic>

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

uint8_t morph_blend_channel(double t, uint8_t f, uint8_t s)
{
    return static_cast<uint8_t>((1 - t) * f + t * s + 0.5);
}

bool morph_job_init(MorphJob* job, const ImageView& first, const ImageView& second)
{
    job->first = first;
    job->second = second;
    if (!image_view_valid(first) || !image_view_valid(second) || !image_same_layout(first, second)
        || !image_is_rgb8(first))
        return false;
    return image_buffer_make(&job->warped_first, first.width, first.height, 3, SAMPLE_U8)
        && image_buffer_make(&job->warped_second, first.width, first.height, 3, SAMPLE_U8);
}

int morph_warps_for_frame(int frame, int frames)
{
    return frame == 0 || frame == frames - 1 ? 0 : 2;
}

namespace {

struct Blend {
    ImageView first, second, frame;
    // mixed[f * 256 + s]: the blended channel for channel values f and s.
    // Each entry is morph_blend_channel itself, so looking it up changes no bit.
    const uint8_t* mixed;
};

// The samples of a row are read and written here, and only here.
void blend_row(const Blend* blend, int y)
{
    const int samples = blend->frame.width * blend->frame.channels;
    const uint8_t* a = image_row(blend->first, y);
    const uint8_t* b = image_row(blend->second, y);
    uint8_t* out = image_row(blend->frame, y);
    for (int i = 0; i < samples; ++i)
        out[i] = blend->mixed[a[i] << 8 | b[i]];
}

void blend_table(double t, std::vector<uint8_t>* mixed)
{
    mixed->resize(256 * 256);
    for (int f = 0; f < 256; ++f)
        for (int s = 0; s < 256; ++s)
            (*mixed)[f << 8 | s] = morph_blend_channel(t, static_cast<uint8_t>(f), static_cast<uint8_t>(s));
}

// Rows are shared out as the fast kernel shares them.
void blend(const ImageView& first, const ImageView& second, double t, int threads, std::vector<uint8_t>* mixed,
           const ImageView& frame)
{
    blend_table(t, mixed);
    const Blend job = {first, second, frame, mixed->data()};
    run_rows(threads, frame.height, [&job]() -> RowWorker { return [&job](int y) { blend_row(&job, y); }; });
}

// Both warps and the blend of a frame, row by row: each row's source points
// of both warps come from one pass over the pairs (morph_row_points), both
// inputs are sampled into that row of the warp results, and the row is
// blended while it is in cache. The same doubles and bytes as two fast warps
// and a blend.
void frame_rows(const MorphJob& job, const MorphTable& table, const Blend& blend)
{
    RowSampler samplers[2];
    row_sampler_init(&samplers[0], job.first, job.warped_first.view);
    row_sampler_init(&samplers[1], job.second, job.warped_second.view);
    const int w = blend.frame.width;
    std::atomic<long long>* const pixels_done = job.options.pixels_done;
    run_rows(job.options.threads, blend.frame.height, [&]() -> RowWorker {
        // Zero-filled, so that the padding past the row holds finite points.
        const size_t padded = w + SAMPLE_ROW_PAD;
        return [&, padded, points = std::vector<double>(4 * padded),
                scratch = std::vector<uint32_t>(padded)](int y) mutable {
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

}  // namespace

bool morph_render(MorphJob* job, int frame_index, int frames, const ImageView& frame)
{
    if (!image_view_valid(frame) || !image_same_layout(frame, job->warped_first.view))
        return false;
    // At the ends the input itself is blended with weight 1 (and again with
    // weight 0), which gives its channels unchanged. warp_run with no pair
    // copies it into the warp result exactly, since each pixel's source
    // point is the pixel itself (docs/numerics.md); it is no warp of the
    // progress count.
    if (frame_index == 0 || frame_index == frames - 1) {
        const bool last = frame_index != 0;
        const ImageView& copy = (last ? job->warped_second : job->warped_first).view;
        WarpOptions options;
        options.threads = job->options.threads;
        warp_run(last ? job->second : job->first, copy, nullptr, 0, WarpParams(), options);
        blend(copy, copy, last ? 1.0 : 0.0, job->options.threads, &job->mixed, frame);
        return true;
    }

    const double t = morph_time(frame_index, frames);
    morph_frame_tables(job->pairs, t, &job->first_table, &job->second_table);
    const int n = static_cast<int>(job->first_table.size());
    if (job->options.kernel == WARP_KERNEL_FAST) {
        MorphTable table;
        morph_table_build(&table, job->first_table.data(), job->second_table.data(), n / 2, job->params);
        blend_table(t, &job->mixed);
        frame_rows(*job, table, {job->warped_first.view, job->warped_second.view, frame, job->mixed.data()});
        return true;
    }
    // The literal kernel: two whole warps, then the blend.
    warp_run(job->first, job->warped_first.view, job->first_table.data(), n, job->params, job->options);
    warp_run(job->second, job->warped_second.view, job->second_table.data(), n, job->params, job->options);
    blend(job->warped_first.view, job->warped_second.view, t, job->options.threads, &job->mixed, frame);
    return true;
}
