#include "warp/morph.h"

#include <atomic>

#include "raster/pixel.h"
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

Uint8 morph_blend_channel(double t, Uint8 f, Uint8 s)
{
    return static_cast<Uint8>((1 - t) * f + t * s + 0.5);
}

MorphJob::~MorphJob()
{
    SDL_FreeSurface(warped_first);
    SDL_FreeSurface(warped_second);
}

bool morph_job_init(MorphJob* job, SDL_Surface* first, SDL_Surface* second)
{
    job->first = first;
    job->second = second;
    job->warped_first = SDL_CreateRGBSurface(SDL_SWSURFACE, first->w, first->h, 32, 0, 0, 0, 0);
    job->warped_second = SDL_CreateRGBSurface(SDL_SWSURFACE, first->w, first->h, 32, 0, 0, 0, 0);
    return job->warped_first && job->warped_second;
}

int morph_warps_for_frame(int frame, int frames)
{
    return frame == 0 || frame == frames - 1 ? 0 : 2;
}

namespace {

Uint8* row_of(SDL_Surface* surface, int y)
{
    return static_cast<Uint8*>(surface->pixels) + row_offset(y, surface->pitch, surface->format->BytesPerPixel);
}

struct Blend {
    SDL_Surface* first;
    SDL_Surface* second;
    SDL_Surface* frame;
    // mixed[f * 256 + s]: the blended channel for channel values f and s.
    // Each entry is morph_blend_channel itself, so looking it up changes no bit.
    const Uint8* mixed;
    std::atomic<int> next_row;
};

// first and second are the job's 32-bit warp results, whose channels are
// bytes of the packed value at the format's shifts (what get_pixel reads);
// the frame takes red, green and blue bytes in that order.
void blend_row(const Blend* blend, int y)
{
    const SDL_PixelFormat* f = blend->first->format;
    const int shifts[3] = {f->Rshift, f->Gshift, f->Bshift};
    const int w = blend->frame->w;
    const Uint32* a = reinterpret_cast<const Uint32*>(row_of(blend->first, y));
    const Uint32* b = reinterpret_cast<const Uint32*>(row_of(blend->second, y));
    Uint8* out = row_of(blend->frame, y);
    for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
            *out++ = blend->mixed[(a[x] >> shifts[c] & 0xFF) << 8 | (b[x] >> shifts[c] & 0xFF)];
}

void blend_rows(Blend* blend)
{
    for (int y = blend->next_row.fetch_add(1); y < blend->frame->h; y = blend->next_row.fetch_add(1))
        blend_row(blend, y);
}

void blend_table(double t, std::vector<Uint8>* mixed)
{
    mixed->resize(256 * 256);
    for (int f = 0; f < 256; ++f)
        for (int s = 0; s < 256; ++s)
            (*mixed)[f << 8 | s] = morph_blend_channel(t, static_cast<Uint8>(f), static_cast<Uint8>(s));
}

// Rows are shared out as the fast kernel shares them.
void blend(SDL_Surface* first, SDL_Surface* second, double t, int threads, std::vector<Uint8>* mixed,
           SDL_Surface* frame)
{
    blend_table(t, mixed);
    Blend job;
    job.first = first;
    job.second = second;
    job.frame = frame;
    job.mixed = mixed->data();
    job.next_row = 0;
    run_workers(threads, frame->h, [&job] { blend_rows(&job); });
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
    const int w = job->blend->frame->w, h = job->blend->frame->h;
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

void morph_render(MorphJob* job, int frame_index, int frames, SDL_Surface* frame)
{
    // At the ends the input itself is blended with weight 1 (and again with
    // weight 0), which gives its channels unchanged. warp_run with no pair
    // copies it into the 32-bit layout exactly, since each pixel's source
    // point is the pixel itself (docs/numerics.md); it is no warp of the
    // progress count.
    if (frame_index == 0 || frame_index == frames - 1) {
        const bool last = frame_index != 0;
        SDL_Surface* copy = last ? job->warped_second : job->warped_first;
        WarpOptions options;
        options.threads = job->options.threads;
        warp_run(last ? job->second : job->first, copy, nullptr, 0, WarpParams(), options);
        return blend(copy, copy, last ? 1.0 : 0.0, job->options.threads, &job->mixed, frame);
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
        row_sampler_init(&samplers[0], job->first, job->warped_first);
        row_sampler_init(&samplers[1], job->second, job->warped_second);
        blend_table(t, &job->mixed);
        Blend rows;
        rows.first = job->warped_first;
        rows.second = job->warped_second;
        rows.frame = frame;
        rows.mixed = job->mixed.data();
        rows.next_row = 0;
        FrameRows work = {&table, {&samplers[0], &samplers[1]}, &rows, job->options.pixels_done};
        run_workers(job->options.threads, frame->h, [&work] { frame_rows(&work); });
        return;
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
    warp_run(job->first, job->warped_first, job->first_table.data(), n, job->params, job->options);
    warp_run(job->second, job->warped_second, job->second_table.data(), n, job->params, job->options);
    blend(job->warped_first, job->warped_second, t, job->options.threads, &job->mixed, frame);
}
