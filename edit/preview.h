// The editor's preview, rendered off the event loop with the same engine
// calls as the batch tools: in warp mode
// warp_run of IMAGE by the pairs into an image of IMAGE's kind, with the weight
// parameters and threads tavrosk-warp takes; in morph mode morph_render of
// frame k of MORPH_FRAMES, as tavrosk-morph --frames 11 makes it. With folds,
// the fold analysis of that warp (in morph mode, of FIRST's warp onto the
// frame's lines) and its fold map. A PreviewWorker runs renders on a thread
// of its own: a newer request replaces a waiting one, and a render whose
// request was overtaken meanwhile is thrown away, never shown. While an end
// point is dragged the window may ask for a coarse preview: the images
// reduced by a whole factor (every factor-th pixel), the pairs scaled to
// match; the exact one follows when the drag ends. What is shown is 8-bit
// R, G, B: an image of another kind is reduced to 8 bits and its alpha laid
// over a grey checkerboard (screen_image), so the preview of an 8-bit R, G,
// B image is the tool's result itself, and of another kind the 8-bit
// reduction of that result over the checkerboard.
#pragma once
#include <memory>
#include <vector>

#include "edit/model.h"
#include "raster/image.h"
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
    ImageBuffer image;  // the warp or the morph frame as shown (screen_image)
    ImageBuffer map;    // the fold map, with folds (else no pixels)
    FoldCounts counts;
    int reduce = 1;           // the request's: image pixel (x, y) is at (x / reduce, y / reduce)
    double milliseconds = 0;  // how long the render took
};

// Inputs and settings: views of one size, of any kinds; `second` has no
// pixels in warp mode. The caller keeps the images while the worker runs.
struct PreviewSetup {
    EditMode mode = EDIT_WARP;
    ImageView first, second;
    WarpParams params;
    int threads = 0;  // 0: every core
};

// The checkerboard that shows through transparent pixels: squares of
// CHECKER_SQUARE image pixels, fixed to the image, in two greys.
enum { CHECKER_SQUARE = 8, CHECKER_DARK = 102, CHECKER_LIGHT = 153 };

// *out (resized to fit) made the 8-bit R, G, B image the editor shows of
// `image`: kind_row_rgb8 (raster/kinds.h) over the checkerboard, whose
// squares are laid out for an image reduced by `reduce` (pixel (x, y) of it
// is (x * reduce, y * reduce) of the full one). False when memory runs out.
bool screen_image(const ImageView& image, int reduce, ImageBuffer* out);

// The time a coarse preview may take while an end point is dragged: some 20
// updates a second with the drawing and the events around it.
inline constexpr double COARSE_BUDGET_MS = 30;

// The reduction for a coarse preview when the exact one took exact_ms: the
// smallest of 1, 2, 3, 4, 6 and 8 whose preview takes about COARSE_BUDGET_MS
// or less (each factor f divides the work by f * f).
int coarse_factor(double exact_ms);

// Runs the renders on a thread of its own, from start until stop (or the
// end of the worker).
class PreviewWorker {
public:
    PreviewWorker();
    ~PreviewWorker();
    PreviewWorker(const PreviewWorker&) = delete;
    PreviewWorker& operator=(const PreviewWorker&) = delete;

    void start(const PreviewSetup& setup);
    // Replaces any request not yet started; a render in progress is
    // discarded when it ends.
    void request(PreviewRequest request);
    // Takes a finished result of the newest request: true once for each.
    bool take(PreviewResult* result);
    void stop();

    struct State;  // defined in preview.cpp alone

private:
    std::unique_ptr<State> state_;
};
