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
    std::atomic<int> next_row;
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

void blend_rows(Blend* blend)
{
    for (int y = blend->next_row.fetch_add(1); y < blend->frame.height; y = blend->next_row.fetch_add(1))
        blend_row(blend, y);
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
    Blend job;
    job.first = first;
    job.second = second;
    job.frame = frame;
    job.mixed = mixed->data();
    job.next_row = 0;
    run_workers(threads, frame.height, [&job] { blend_rows(&job); });
}

// Both warps and the blend of a frame, row by row: each row's source points
// of both warps come from one pass over the pairs (morph_row_points), both
// inputs are sampled into that row of the warp results, and the row is
// blended while it is in cache. The same doubles and bytes as two fast warps
// and a blend.
struct FrameRows {
    const MorphTable* table;
    const RowSampler* samplers[2];
    Blend* blend;
    std::atomic<long long>* pixels_done;
};

void frame_rows(FrameRows* job)
{
    const int w = job->blend->frame.width, h = job->blend->frame.height;
    // Zero-filled, so that the padding past the row holds finite points.
    std::vector<double> points(4 * static_cast<size_t>(w + SAMPLE_ROW_PAD));
    double* const sx[2] = {points.data(), points.data() + (w + SAMPLE_ROW_PAD)};
    double* const sy[2] = {points.data() + 2 * (w + SAMPLE_ROW_PAD), points.data() + 3 * (w + SAMPLE_ROW_PAD)};
    std::vector<uint32_t> scratch(w + SAMPLE_ROW_PAD);
    for (int y = job->blend->next_row.fetch_add(1); y < h; y = job->blend->next_row.fetch_add(1)) {
        morph_row_points(job->table, y, w, sx, sy);
        for (int i = 0; i < 2; ++i)
            sample_row(job->samplers[i], y, sx[i], sy[i], scratch.data());
        blend_row(job->blend, y);
        if (job->pixels_done)
            *job->pixels_done += 2 * w;
    }
}

}  // namespace

bool morph_render(MorphJob* job, int frame_index, int frames, const ImageView& frame)
{
    if (!image_view_valid(frame) || !image_same_layout(frame, job->warped_first.view))
        return false;
    // At the ends the input itself is blended with weight 1 (and again with
    // weight 0), which gives its channels unchanged. warp_run with no pair
    // copies it into the 32-bit layout exactly, since each pixel's source
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
    const size_t pairs = job->pairs.size() / 2;
    if (job->options.kernel == WARP_KERNEL_FAST) {
        std::vector<Segment> first(pairs), second(pairs), lines(pairs);
        for (size_t k = 0; k < pairs; ++k) {
            first[k] = job->pairs[2 * k];
            second[k] = job->pairs[2 * k + 1];
            lines[k] = morph_segment(first[k], second[k], t);
        }
        MorphTable table;
        morph_table_build(&table, first.data(), second.data(), lines.data(), static_cast<int>(pairs), job->params);
        RowSampler samplers[2];
        row_sampler_init(&samplers[0], job->first, job->warped_first.view);
        row_sampler_init(&samplers[1], job->second, job->warped_second.view);
        blend_table(t, &job->mixed);
        Blend rows;
        rows.first = job->warped_first.view;
        rows.second = job->warped_second.view;
        rows.frame = frame;
        rows.mixed = job->mixed.data();
        rows.next_row = 0;
        FrameRows work = {&table, {&samplers[0], &samplers[1]}, &rows, job->options.pixels_done};
        run_workers(job->options.threads, frame.height, [&work] { frame_rows(&work); });
        return true;
    }
    // The literal kernel: two whole warps by the tables (first segment, the
    // frame's line) and (second segment, the frame's line), then the blend.
    job->first_table.resize(2 * pairs);
    job->second_table.resize(2 * pairs);
    for (size_t k = 0; k < pairs; ++k) {
        const Segment& first = job->pairs[2 * k];
        const Segment& second = job->pairs[2 * k + 1];
        const Segment between = morph_segment(first, second, t);
        job->first_table[2 * k] = first;
        job->first_table[2 * k + 1] = between;
        job->second_table[2 * k] = second;
        job->second_table[2 * k + 1] = between;
    }
    const int n = static_cast<int>(2 * pairs);
    warp_run(job->first, job->warped_first.view, job->first_table.data(), n, job->params, job->options);
    warp_run(job->second, job->warped_second.view, job->second_table.data(), n, job->params, job->options);
    blend(job->warped_first.view, job->warped_second.view, t, job->options.threads, &job->mixed, frame);
    return true;
}
