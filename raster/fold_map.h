// The fold map: a diagnostic picture of a warp's result, dimmed, with the
// pixels where the mapping folds over itself or leaves its source tinted,
// and the pairs' second segments drawn over it. Maps are 32-bit software
// surfaces (never locked) in the layout new_fold_map makes; a result is read
// as get_pixel reads it, locked here when it must be. The flags come from
// the fold analysis of warp/warp_views.h, one byte a pixel, row by row.
#pragma once
#include <SDL.h>

#include <cstdint>

#include "raster/pixel_fast.h"
#include "warp/segment.h"

// The bits of a pixel's flags.
enum : uint8_t {
    FOLD_FLAG = 1,     // the Jacobian of S has a determinant <= 0 or not finite
    OUTSIDE_FLAG = 2,  // S is outside the source by the sampler's test: the result is black
};

// The colours of the fold map. A pixel whose result channels are (r, g, b)
// becomes (r / 2, g / 2, b / 2) without flags, and otherwise (c + 3 * t) / 4
// in each channel c with the tint t below (integer division), so that a
// tinted pixel has a channel of at least 191 and an untinted one none above
// 127. The outside flag is hatched rather than filled: it counts only on
// diagonal stripes, the pixels where outside_hatched(x, y), and elsewhere the
// pixel is shaded by its other flags. Outside pixels are black in the
// result, so the outside shows as stripes of its tint on black (magenta on
// red where it folds too), which no dimmed picture content resembles.
inline constexpr Uint8 FOLD_TINT[3] = {255, 0, 0};         // red
inline constexpr Uint8 OUTSIDE_TINT[3] = {0, 96, 255};     // blue
inline constexpr Uint8 BOTH_TINT[3] = {255, 0, 255};       // magenta
inline constexpr Uint8 SEGMENT_COLOUR[3] = {255, 255, 0};  // yellow
inline constexpr Uint8 OUTLINE_COLOUR[3] = {0, 0, 0};      // black

// The outside hatching: stripes 4 pixels wide (along a row) every 8 pixels,
// rising to the right at 45 degrees, fixed to the image's pixel grid.
inline bool outside_hatched(int x, int y)
{
    return (x + y) % 8 < 4;
}

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


// Whether map has the layout of new_fold_map and the size w x h.
bool is_fold_map(const SDL_Surface* map, int w, int h);

// Row y of the map from row y of result (format from fast_format_init of
// result, which the caller locks) and the row's w flags.
void fold_map_row(SDL_Surface* result, const FastFormat& format, int y, const uint8_t* flags, SDL_Surface* map);

// The second segment of each pair drawn on the map, as fold_map draws them.
void fold_map_segments(SDL_Surface* map, const Segment* segments, int n);
