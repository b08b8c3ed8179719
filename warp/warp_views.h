// Views of the warp itself, made from its source points S(x, y): where the
// mapping folds over or leaves the source, as counts, per-pixel flags and a
// diagnostic image, and the displacement field S(x, y) - (x, y) as a
// Middlebury .flo file (the rules are in docs/numerics.md, "Fold map and
// field"). Each comes in two forms: functions of w * h points in arrays
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

#include "raster/pixel_fast.h"
#include "warp/segment.h"
#include "warp/warp.h"

enum : uint8_t {
    FOLD_FLAG = 1,     // the Jacobian of S has a determinant <= 0 or not finite
    OUTSIDE_FLAG = 2,  // S is outside the source by the sampler's test: the result is black
};

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

// The colours of the fold map. A pixel whose result channels are (r, g, b)
// becomes (r / 2, g / 2, b / 2) without flags, and otherwise (c + 3 * t) / 4
// in each channel c with the tint t below (integer division), so that a
// tinted pixel has a channel of at least 191 and an untinted one none above
// 127.
inline constexpr Uint8 FOLD_TINT[3] = {255, 0, 0};         // red
inline constexpr Uint8 OUTSIDE_TINT[3] = {0, 96, 255};     // blue
inline constexpr Uint8 BOTH_TINT[3] = {255, 0, 255};       // magenta
inline constexpr Uint8 SEGMENT_COLOUR[3] = {255, 255, 0};  // yellow
inline constexpr Uint8 OUTLINE_COLOUR[3] = {0, 0, 0};      // black

// A 32-bit software surface for a w x h fold map, red, green and blue in
// the masks 0xFF0000, 0x00FF00 and 0x0000FF (as SDL_CreateRGBSurface makes a
// 32-bit surface given no masks); NULL when it cannot be created.
SDL_Surface* new_fold_map(int w, int h);

// A new fold map of result (any depth, read as get_pixel reads it): result
// dimmed and tinted by flags (w * h, from analyse_folds), with the second
// segment of each pair drawn over it by draw_segment in SEGMENT_COLOUR with
// an OUTLINE_COLOUR pixel left, right, above and below each of its pixels
// (all outlines first, so none covers a segment). Segments are clipped to
// the image (two pixels around it) first, so a huge one costs no more than
// one across the image; one with a coordinate that is not finite is not
// drawn. The caller frees the surface; NULL when result is NULL or the
// surface cannot be created.
SDL_Surface* fold_map(SDL_Surface* result, const uint8_t* flags, const Segment* segments, int n);

// Writes the displacement field as a Middlebury .flo file: the bytes "PIEH",
// w and h as little-endian 32-bit integers, then for each row from the top
// and each pixel from the left the little-endian 32-bit floats Sx - x and
// Sy - y, each computed in double and rounded once to the nearest float; a
// pixel whose source point is not finite gets 1e10 in both, the format's
// "unknown". 12 + 8 * w * h bytes, then a flush. False with *problem
// ("cannot write: ERROR") when the stream failed.
bool write_flo(std::FILE* out, const double* sx, const double* sy, int w, int h, std::string* problem);

// Rows of the field gathered in floats, so that the stream gets them in
// writes of about 64 KiB rather than one a row.
struct FieldBuffer {
    std::vector<float> floats;
    size_t used = 0;
};

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
