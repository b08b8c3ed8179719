#include "edit/preview.h"

#include <algorithm>
#include <chrono>
#include <utility>

int coarse_factor(double exact_ms)
{
    for (int f : {1, 2, 3, 4, 6})
        if (exact_ms / (f * f) <= COARSE_BUDGET_MS)
            return f;
    return 8;
}

SDL_Surface* reduce_image(SDL_Surface* image, int reduce)
{
    const int w = std::max(1, image->w / reduce), h = std::max(1, image->h / reduce);
    SDL_Surface* out = create_rgb24_surface(w, h);
    if (!out)
        return nullptr;
    lock_if_needed(image);
    for (int y = 0; y < h; ++y) {
        Uint8* row = static_cast<Uint8*>(out->pixels) + row_offset(y, out->pitch, 3);
        for (int x = 0; x < w; ++x)
            get_pixel(image, x * reduce, y * reduce, &row[3 * x], &row[3 * x + 1], &row[3 * x + 2]);
    }
    unlock_if_needed(image);
    return out;
}

static bool render(const PreviewSetup& setup, PreviewInputs* inputs, const PreviewRequest& request,
                   const std::vector<Segment>& pairs, PreviewResult* result)
{
    SDL_Surface* first = inputs->reduce == 1 ? setup.first : inputs->first.get();
    SDL_Surface* second = inputs->reduce == 1 ? setup.second : inputs->second.get();
    const int n = static_cast<int>(pairs.size());
    WarpOptions options;
    options.threads = setup.threads;
    result->counts = FoldCounts();
    result->map.reset(request.folds ? new_fold_map(first->w, first->h) : nullptr);
    if (request.folds && !result->map)
        return false;

    if (setup.mode == EDIT_WARP) {
        // As tavrosk-warp: a 32-bit surface with SDL's default masks.
        if (!result->image || result->image->w != first->w || result->image->h != first->h
            || result->image->format->BytesPerPixel != 4)
            result->image.reset(SDL_CreateRGBSurface(0, first->w, first->h, 32, 0, 0, 0, 0));
        if (!result->image)
            return false;
        WarpViews views;
        if (request.folds && !views_start(&views, first, result->image.get(), result->map.get(), nullptr, &options))
            return false;
        warp_run(first, result->image.get(), pairs.data(), n, setup.params, options);
        if (request.folds) {
            if (!views_finish(&views, pairs.data(), n))
                return false;
            result->counts = views.counts;
        }
        return true;
    }

    if (!inputs->job_ready) {
        if (!morph_job_init(&inputs->job, first, second))
            return false;
        inputs->job_ready = true;
    }
    MorphJob& job = inputs->job;
    job.pairs = pairs;
    job.params = setup.params;
    job.options = options;
    if (!result->image || result->image->w != first->w || result->image->h != first->h
        || result->image->format->BytesPerPixel != 3)
        result->image.reset(create_rgb24_surface(first->w, first->h));
    if (!result->image)
        return false;
    morph_render(&job, request.frame, MORPH_FRAMES, result->image.get());
    if (request.folds) {
        // FIRST warped onto the frame's lines: where that warp folds.
        const double t = morph_time(request.frame, MORPH_FRAMES);
        std::vector<Segment> table(pairs.size());
        for (int k = 0; k + 1 < n; k += 2) {
            table[k] = pairs[k];
            table[k + 1] = morph_segment(pairs[k], pairs[k + 1], t);
        }
        SurfacePtr warped(SDL_CreateRGBSurface(0, first->w, first->h, 32, 0, 0, 0, 0));
        WarpViews views;
        if (!warped || !views_start(&views, first, warped.get(), result->map.get(), nullptr, &options))
            return false;
        warp_run(first, warped.get(), table.data(), n, setup.params, options);
        if (!views_finish(&views, table.data(), n))
            return false;
        result->counts = views.counts;
    }
    return true;
}

bool preview_render(PreviewRenderer* renderer, const PreviewRequest& request, PreviewResult* result)
{
    const auto start = std::chrono::steady_clock::now();
    const PreviewSetup& setup = renderer->setup;
    result->generation = request.generation;
    result->reduce = std::max(1, request.reduce);
    bool ok;
    if (result->reduce == 1) {
        ok = render(setup, &renderer->exact, request, request.pairs, result);
    } else {
        if (!renderer->coarse || renderer->coarse->reduce != result->reduce) {
            renderer->coarse = std::make_unique<PreviewInputs>();
            renderer->coarse->reduce = result->reduce;
            renderer->coarse->first.reset(reduce_image(setup.first, result->reduce));
            if (setup.second)
                renderer->coarse->second.reset(reduce_image(setup.second, result->reduce));
        }
        PreviewInputs* inputs = renderer->coarse.get();
        if (!inputs->first || (setup.second && !inputs->second))
            return false;
        std::vector<Segment> pairs = request.pairs;
        const double f = result->reduce;
        for (Segment& s : pairs)
            s = {s.x1 / f, s.y1 / f, s.x2 / f, s.y2 / f};
        ok = render(setup, inputs, request, pairs, result);
    }
    result->milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return ok;
}

static void work(PreviewWorker* worker)
{
    std::unique_lock<std::mutex> lock(worker->mutex);
    PreviewResult result;
    for (;;) {
        worker->wake.wait(lock, [&] { return worker->quit || worker->waiting; });
        if (worker->quit)
            return;
        PreviewRequest request = std::move(worker->request);
        worker->waiting = false;
        lock.unlock();
        const bool ok = preview_render(&worker->renderer, request, &result);
        lock.lock();
        if (!ok) {
            worker->failed = true;
            continue;
        }
        // A change made while this render ran makes it stale: dropped.
        if (request.generation == worker->newest) {
            std::swap(worker->result, result);
            worker->ready = true;
        }
    }
}

void preview_start(PreviewWorker* worker, const PreviewSetup& setup)
{
    worker->renderer.setup = setup;
    worker->thread = std::thread(work, worker);
}

void preview_request(PreviewWorker* worker, PreviewRequest request)
{
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->newest = request.generation;
        worker->request = std::move(request);
        worker->waiting = true;
    }
    worker->wake.notify_one();
}

bool preview_take(PreviewWorker* worker, PreviewResult* result)
{
    std::lock_guard<std::mutex> lock(worker->mutex);
    if (!worker->ready)
        return false;
    std::swap(*result, worker->result);
    worker->ready = false;
    return true;
}

void preview_stop(PreviewWorker* worker)
{
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->quit = true;
    }
    worker->wake.notify_one();
    if (worker->thread.joinable())
        worker->thread.join();
}
