// Views of the warp itself, made from its source points S(x, y): where the
// mapping folds over or leaves the source, as counts and per-pixel flags,
// drawn as the fold map of warp/fold_map.h (the rules are in
// docs/numerics.md, "Fold map and field"). Each comes in two forms:
// functions of w * h points in arrays ([y * w + x], as
// WarpOptions.points_x/points_y receive them), and WarpViews, which makes the
// same counts and map on the warp's own threads from its rows as they are
// finished, without storing the points, and hands the rows on in order to a
// sink of the caller's (the .flo writer of io/flo.h, for one).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "raster/image.h"
#include "warp/fold_map.h"
#include "warp/segment.h"
#include "warp/warp.h"

struct FoldCounts {
    long long folds = 0;    // pixels with FOLD_FLAG
    long long outside = 0;  // pixels with OUTSIDE_FLAG (a pixel may count in both)
    long long pixels = 0;   // w * h
};

// The Jacobian of pixel (x, y) takes forward differences, S(x + 1, y) -
// S(x, y) and S(x, y + 1) - S(x, y), and backward ones in the last column
// and row; an image one pixel wide or high has no folds. src_w and src_h are
// the source image's size. When flags is not NULL, flags[y * w + x] receives
// the pixel's FOLD_FLAG and OUTSIDE_FLAG bits.
FoldCounts analyse_folds(const double* sx, const double* sy, int w, int h, int src_w, int src_h, uint8_t* flags);

// "folds: F pixels (P %), outside: O pixels (Q %)", without a newline. The
// percentages are of all pixels, to the nearest hundredth with halves
// rounded up, from the exact integer ratio; "0.00 %" when there are no
// pixels.
std::string fold_summary(const FoldCounts& counts);

// The counts and fold map of one warp, made on the warp's threads while each
// row of points is in cache: start points options->rows at the views,
// warp_run hands them the rows, finish completes the results. A row is
// finished as soon as it and the row below it have come, by one thread at a
// time, in order; only the rows waiting for a neighbour are kept.
class WarpViews {
public:
    WarpViews();
    ~WarpViews();
    WarpViews(const WarpViews&) = delete;
    WarpViews& operator=(const WarpViews&) = delete;

    // Prepares the views of a warp of src into result (of any kind). With
    // map (the caller's, 8-bit R, G, B of result's size, which it may reuse), the counts and the fold map, as analyse_folds and fold_map make
    // them. With `ordered`, that sink gets every row of points as it is
    // finished: rows 0 to h - 1 in order, one call at a time, from whichever
    // warp thread finishes them. False with problem() when the map does not
    // fit.
    bool start(const ImageView& src, const ImageView& result, const ImageView* map, const WarpRowSink* ordered,
               WarpOptions* options);

    // After warp_run: draws the second segments on the map. False with
    // problem() when the warp did not deliver every row.
    bool finish(const Segment* segments, int n);

    // Complete after finish, when a map was given.
    const FoldCounts& counts() const;
    // Why start or finish failed.
    const std::string& problem() const;

    struct State;  // defined in warp_views.cpp alone

private:
    std::unique_ptr<State> state_;
};
