#include "warp/morph.h"

#include <atomic>
#include <system_error>
#include <thread>

#include "raster/pixel.h"
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
void blend_rows(Blend* blend)
{
    const SDL_PixelFormat* f = blend->first->format;
    const int shifts[3] = {f->Rshift, f->Gshift, f->Bshift};
    const int w = blend->frame->w;
    for (int y = blend->next_row.fetch_add(1); y < blend->frame->h; y = blend->next_row.fetch_add(1)) {
        const Uint32* a = reinterpret_cast<const Uint32*>(row_of(blend->first, y));
        const Uint32* b = reinterpret_cast<const Uint32*>(row_of(blend->second, y));
        Uint8* out = row_of(blend->frame, y);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                *out++ = blend->mixed[(a[x] >> shifts[c] & 0xFF) << 8 | (b[x] >> shifts[c] & 0xFF)];
    }
}

// Rows are shared out as the fast kernel shares them.
void blend(SDL_Surface* first, SDL_Surface* second, double t, int threads, std::vector<Uint8>* mixed,
           SDL_Surface* frame)
{
    mixed->resize(256 * 256);
    for (int f = 0; f < 256; ++f)
        for (int s = 0; s < 256; ++s)
            (*mixed)[f << 8 | s] = morph_blend_channel(t, static_cast<Uint8>(f), static_cast<Uint8>(s));
    Blend job;
    job.first = first;
    job.second = second;
    job.frame = frame;
    job.mixed = mixed->data();
    job.next_row = 0;
    run_workers(threads, frame->h, [&job] { blend_rows(&job); });
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
    auto warp_first = [&](const WarpOptions& options) {
        warp_run(job->first, job->warped_first, job->first_table.data(), n, job->params, options);
    };
    auto warp_second = [&](const WarpOptions& options) {
        warp_run(job->second, job->warped_second, job->second_table.data(), n, job->params, options);
    };
    // The two warps cost about the same, so on two threads or more they run
    // side by side, each on half of them: one wait for both instead of one
    // for each, and fewer threads to share each image's rows. The literal
    // kernel keeps to its one thread.
    const int threads = worker_count(job->options.threads);
    if (job->options.kernel == WARP_KERNEL_FAST && threads >= 2) {
        WarpOptions first_options = job->options, second_options = job->options;
        first_options.threads = threads / 2;
        second_options.threads = threads - threads / 2;
        std::thread helper;
        try {
            helper = std::thread(warp_first, first_options);
        } catch (const std::system_error&) {
            // No helper thread: one warp after the other below.
        }
        if (helper.joinable()) {
            warp_second(second_options);
            helper.join();
            return blend(job->warped_first, job->warped_second, t, job->options.threads, &job->mixed, frame);
        }
    }
    warp_first(job->options);
    warp_second(job->options);
    blend(job->warped_first, job->warped_second, t, job->options.threads, &job->mixed, frame);
}
