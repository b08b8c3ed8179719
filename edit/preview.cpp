#include "edit/preview.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "warp/morph.h"

int coarse_factor(double exact_ms)
{
    for (int f : {1, 2, 3, 4, 6})
        if (exact_ms / (f * f) <= COARSE_BUDGET_MS)
            return f;
    return 8;
}

namespace {

// The inputs at one size, with the morph job kept from render to render.
struct PreviewInputs {
    int reduce = 1;
    ImageBuffer first, second;  // the reduced copies (unused at 1)
    MorphJob job;
    bool job_ready = false;
};

struct PreviewRenderer {
    PreviewSetup setup;
    PreviewInputs exact;
    std::unique_ptr<PreviewInputs> coarse;  // the last reduced size asked for
};

// Every reduce-th pixel of every reduce-th row of image into *out; false
// when it cannot be allocated.
bool reduce_image(const ImageView& image, int reduce, ImageBuffer* out)
{
    const int w = std::max(1, image.width / reduce), h = std::max(1, image.height / reduce);
    const int bytes = image_pixel_bytes(image);
    if (!image_buffer_make(out, w, h, image.channels, image.type))
        return false;
    for (int y = 0; y < h; ++y) {
        const unsigned char* in = image_row(image, y * reduce);
        unsigned char* row = image_row(out->view, y);
        for (int x = 0; x < w; ++x)
            std::memcpy(row + bytes * x, in + static_cast<std::ptrdiff_t>(bytes) * x * reduce, bytes);
    }
    return true;
}

// The warp or frame in the inputs' kind when that is not the screen's,
// converted by screen_image into the result's image.
bool show(const ImageBuffer& rendered, int reduce, PreviewResult* result)
{
    return !rendered.data || screen_image(rendered.view, reduce, &result->image);
}

bool render(const PreviewSetup& setup, PreviewInputs* inputs, const PreviewRequest& request,
            const std::vector<Segment>& pairs, PreviewResult* result)
{
    const ImageView& first = inputs->reduce == 1 ? setup.first : inputs->first.view;
    const ImageView& second = inputs->reduce == 1 ? setup.second : inputs->second.view;
    const int w = first.width, h = first.height, n = static_cast<int>(pairs.size());
    WarpOptions options;
    options.threads = setup.threads;
    result->counts = FoldCounts();
    if (!request.folds)
        result->map = ImageBuffer();
    else if (!image_buffer_fit(&result->map, w, h, 3, SAMPLE_U8))
        return false;
    if (!image_buffer_fit(&result->image, w, h, 3, SAMPLE_U8))
        return false;
    const ImageView* map = request.folds ? &result->map.view : nullptr;
    // Kinds other than 8-bit R, G, B are rendered in their own kind first.
    ImageBuffer rendered;
    auto target = [&](ImageKind kind) {
        if (kind_equal(kind, ImageKind{3, SAMPLE_U8}))
            return &result->image.view;
        return image_buffer_make(&rendered, w, h, kind.channels, kind.type) ? &rendered.view : nullptr;
    };

    if (setup.mode == EDIT_WARP) {
        const ImageView* out = target(image_kind(first));
        WarpViews views;
        if (!out || (request.folds && !views.start(first, *out, map, nullptr, &options)))
            return false;
        warp_run(first, *out, pairs.data(), n, setup.params, options);
        if (request.folds) {
            if (!views.finish(pairs.data(), n))
                return false;
            result->counts = views.counts();
        }
        return show(rendered, inputs->reduce, result);
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
    const ImageView* out = target(job.kind);
    if (!out)
        return false;
    morph_render(&job, request.frame, MORPH_FRAMES, *out);
    if (request.folds) {
        // FIRST warped onto the frame's lines: where that warp folds.
        std::vector<Segment> table;
        morph_frame_tables(pairs, morph_time(request.frame, MORPH_FRAMES), &table, nullptr);
        ImageBuffer warped;
        WarpViews views;
        if (!image_buffer_make(&warped, w, h, first.channels, first.type)
            || !views.start(first, warped.view, map, nullptr, &options))
            return false;
        const int count = static_cast<int>(table.size());
        warp_run(first, warped.view, table.data(), count, setup.params, options);
        if (!views.finish(table.data(), count))
            return false;
        result->counts = views.counts();
    }
    return show(rendered, inputs->reduce, result);
}

// Renders request into *result; false when an image cannot be allocated.
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
            PreviewInputs* coarse = renderer->coarse.get();
            coarse->reduce = result->reduce;
            const bool made = reduce_image(setup.first, result->reduce, &coarse->first)
                           && (!setup.second.pixels || reduce_image(setup.second, result->reduce, &coarse->second));
            if (!made) {
                renderer->coarse.reset();
                return false;
            }
        }
        std::vector<Segment> pairs = request.pairs;
        const double f = result->reduce;
        for (Segment& s : pairs)
            s = {s.x1 / f, s.y1 / f, s.x2 / f, s.y2 / f};
        ok = render(setup, renderer->coarse.get(), request, pairs, result);
    }
    result->milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return ok;
}

}  // namespace

bool screen_image(const ImageView& image, int reduce, ImageBuffer* out)
{
    if (!image_buffer_fit(out, image.width, image.height, 3, SAMPLE_U8))
        return false;
    std::vector<uint8_t> board(static_cast<size_t>(image.width) * 3);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const long squares = static_cast<long>(x) * reduce / CHECKER_SQUARE
                               + static_cast<long>(y) * reduce / CHECKER_SQUARE;
            std::memset(&board[3 * static_cast<size_t>(x)], squares % 2 ? CHECKER_LIGHT : CHECKER_DARK, 3);
        }
        kind_row_rgb8(image, y, board.data(), image_row(out->view, y));
    }
    return true;
}

struct PreviewWorker::State {
    PreviewRenderer renderer;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool quit = false;
    bool waiting = false;  // `request` is yet to be rendered
    PreviewRequest request;
    long newest = -1;    // the newest generation requested
    bool ready = false;  // `result` is new and not yet taken
    PreviewResult result;
};

static void work(PreviewWorker::State* worker)
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
        // A render that cannot allocate its images shows nothing new.
        const bool ok = preview_render(&worker->renderer, request, &result);
        lock.lock();
        if (!ok)
            continue;
        // A change made while this render ran makes it stale: dropped.
        if (request.generation == worker->newest) {
            std::swap(worker->result, result);
            worker->ready = true;
        }
    }
}

PreviewWorker::PreviewWorker() : state_(new State) {}

PreviewWorker::~PreviewWorker()
{
    stop();
}

void PreviewWorker::start(const PreviewSetup& setup)
{
    state_->renderer.setup = setup;
    state_->thread = std::thread(work, state_.get());
}

void PreviewWorker::request(PreviewRequest request)
{
    State* worker = state_.get();
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->newest = request.generation;
        worker->request = std::move(request);
        worker->waiting = true;
    }
    worker->wake.notify_one();
}

bool PreviewWorker::take(PreviewResult* result)
{
    State* worker = state_.get();
    std::lock_guard<std::mutex> lock(worker->mutex);
    if (!worker->ready)
        return false;
    std::swap(*result, worker->result);
    worker->ready = false;
    return true;
}

void PreviewWorker::stop()
{
    State* worker = state_.get();
    {
        std::lock_guard<std::mutex> lock(worker->mutex);
        worker->quit = true;
    }
    worker->wake.notify_one();
    if (worker->thread.joinable())
        worker->thread.join();
}
