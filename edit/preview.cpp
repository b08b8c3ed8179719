#include "edit/preview.h"

#include <utility>

bool preview_render(PreviewRenderer* renderer, const PreviewRequest& request, PreviewResult* result)
{
    const PreviewSetup& setup = renderer->setup;
    SDL_Surface* first = setup.first;
    const int n = static_cast<int>(request.pairs.size());
    WarpOptions options;
    options.threads = setup.threads;
    result->generation = request.generation;
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
        warp_run(first, result->image.get(), request.pairs.data(), n, setup.params, options);
        if (request.folds) {
            if (!views_finish(&views, request.pairs.data(), n))
                return false;
            result->counts = views.counts;
        }
        return true;
    }

    if (!renderer->job_ready) {
        if (!morph_job_init(&renderer->job, first, setup.second))
            return false;
        renderer->job_ready = true;
    }
    MorphJob& job = renderer->job;
    job.pairs = request.pairs;
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
        std::vector<Segment> table(request.pairs.size());
        for (int k = 0; k + 1 < n; k += 2) {
            table[k] = request.pairs[k];
            table[k + 1] = morph_segment(request.pairs[k], request.pairs[k + 1], t);
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
