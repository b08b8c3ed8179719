// Views of the warp itself, made from its source points S(x, y): where the
// mapping folds over or leaves the source, as counts and per-pixel flags,
// drawn as the fold map of raster/fold_map.h, and the displacement field
// S(x, y) - (x, y) as the .flo file of io/flo.h (the rules are in
// docs/numerics.md, "Fold map and field"). Each comes in two forms: functions of w * h points in arrays
// ([y * w + x], as WarpOptions.points_x/points_y receive them), and
// WarpViews, which makes the same counts, map and file bytes on the warp's
// own threads from its rows as they are finished, without storing the points.
#pragma once
#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "io/flo.h"
#include "raster/fold_map.h"
#include "raster/pixel_fast.h"
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

// The counts, fold map and field of one warp, made on the warp's threads
// while each row of points is in cache: views_start points options->rows at
// `views`, warp_run hands it the rows, views_finish completes the results.
// A row is finished as soon as it and the row below it have come, by one
// thread at a time, in order, so the field is written as it goes; only the
// rows waiting for a neighbour are kept.
struct WarpViews {
    // The results, complete after views_finish.
    FoldCounts counts;    // when a map was given
    std::string problem;  // why views_start or views_finish failed

    // Set by views_start.
    int w = 0, h = 0, src_w = 0, src_h = 0;
    SDL_Surface* result = nullptr;  // read row by row for the map
    FastFormat format;              // result's
    SDL_Surface* map = nullptr;     // the caller's
    std::FILE* field = nullptr;
    WarpRowSink sink = {nullptr, nullptr};

    // Under mutex: rows[y] holds row y's points (x, then y) from its arrival
    // until row y + 1 is finished; spare holds buffers for reuse.
    std::mutex mutex;
    std::vector<double*> rows;
    std::vector<std::unique_ptr<double[]>> buffers;
    std::vector<double*> spare;
    int next = 0;           // the next row to finish
    bool draining = false;  // a thread is finishing rows

    // The finishing thread's own.
    std::vector<uint8_t> flags_row;
    FieldBuffer field_buffer;
};

// Prepares the views of a warp of src into result: with map (from
// new_fold_map, result's size; the caller's, which it may reuse), the counts
// and the fold map, as analyse_folds and fold_map make them; with field, the
// .flo file on that stream (its header at once), as write_flo writes it.
// False with views->problem when the map does not fit or the header cannot
// be written.
bool views_start(WarpViews* views, SDL_Surface* src, SDL_Surface* result, SDL_Surface* map, std::FILE* field,
                 WarpOptions* options);

// After warp_run: draws the second segments on the map and flushes the
// field. False with views->problem when the field could not be written or
// the warp did not deliver every row.
bool views_finish(WarpViews* views, const Segment* segments, int n);
