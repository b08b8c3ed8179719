// The editor's preview, rendered off the event loop. preview_render is the
// render itself, the same engine calls as the batch tools: in warp mode
// warp_run of IMAGE by the pairs into a 32-bit surface, with the weight
// parameters and threads tavrosk-warp takes; in morph mode morph_render of
// frame k of MORPH_FRAMES, as tavrosk-morph --frames 11 makes it. With folds,
// the fold analysis of that warp (in morph mode, of FIRST's warp onto the
// frame's lines) and its fold map. A PreviewWorker runs renders on a thread
// of its own: a newer request replaces a waiting one, and a render whose
// request was overtaken meanwhile is thrown away, never shown. While an end
// point is dragged the window may ask for a coarse preview: the images
// reduced by a whole factor (every factor-th pixel), the pairs scaled to
// match; the exact one follows when the drag ends.
#pragma once
#include <SDL.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "edit/model.h"
#include "raster/pixel.h"
#include "warp/morph.h"
#include "warp/warp.h"
#include "warp/warp_views.h"

enum { MORPH_FRAMES = 11 };

struct PreviewRequest {
    long generation = 0;
    std::vector<Segment> pairs;  // complete pairs only
    int frame = 5;               // morph mode: frame k of MORPH_FRAMES
    bool folds = false;
    int reduce = 1;  // 1: exact; else the coarse preview at 1 / reduce of the size
};

struct PreviewResult {
    long generation = -1;
    SurfacePtr image;  // the warp (32-bit) or the morph frame (24-bit RGB)
    SurfacePtr map;    // the fold map, with folds
    FoldCounts counts;
    int reduce = 1;           // the request's: image pixel (x, y) is at (x / reduce, y / reduce)
    double milliseconds = 0;  // how long the render took
};

// Inputs and settings; `second` is NULL in warp mode. The caller keeps the images.
struct PreviewSetup {
    EditMode mode = EDIT_WARP;
    SDL_Surface* first = nullptr;
    SDL_Surface* second = nullptr;
    WarpParams params;
    int threads = 0;  // 0: every core
};

// The inputs at one size, with the morph job kept from render to render.
struct PreviewInputs {
    int reduce = 1;
    SurfacePtr first, second;  // the reduced copies (the setup's own at 1)
    MorphJob job;
    bool job_ready = false;
};

struct PreviewRenderer {
    PreviewSetup setup;
    PreviewInputs exact;
    std::unique_ptr<PreviewInputs> coarse;  // the last reduced size asked for
};

// The time a coarse preview may take while an end point is dragged: some 20
// updates a second with the drawing and the events around it.
inline constexpr double COARSE_BUDGET_MS = 30;

// The reduction for a coarse preview when the exact one took exact_ms: the
// smallest of 1, 2, 3, 4, 6 and 8 whose preview takes about COARSE_BUDGET_MS
// or less (each factor f divides the work by f * f).
int coarse_factor(double exact_ms);

// Every reduce-th pixel of every reduce-th row of image, in a 24-bit RGB surface.
SDL_Surface* reduce_image(SDL_Surface* image, int reduce);

// Renders request into *result; false when a surface cannot be allocated.
bool preview_render(PreviewRenderer* renderer, const PreviewRequest& request, PreviewResult* result);

struct PreviewWorker {
    PreviewRenderer renderer;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool quit = false;
    bool waiting = false;   // `request` is yet to be rendered
    PreviewRequest request;
    long newest = -1;       // the newest generation requested
    bool ready = false;     // `result` is new and not yet taken
    PreviewResult result;
    bool failed = false;    // a render could not allocate its surfaces
};

void preview_start(PreviewWorker* worker, const PreviewSetup& setup);
// Replaces any request not yet started; a render in progress is discarded when it ends.
void preview_request(PreviewWorker* worker, PreviewRequest request);
// Takes a finished result of the newest request: true once for each.
bool preview_take(PreviewWorker* worker, PreviewResult* result);
void preview_stop(PreviewWorker* worker);
