// The fold map: a diagnostic picture of a warp's result, dimmed, with the
// pixels where the mapping folds over itself or leaves its source tinted,
// and the pairs' second segments drawn over it. Maps are 8-bit R, G, B views
// of their result's size; a result of another kind is drawn from its 8-bit
// R, G, B over black (kind_row_rgb8 of raster/kinds.h). The flags come from
// the fold analysis of warp/warp_views.h, one byte a pixel, row by row.
#pragma once
#include <cstdint>

#include "raster/image.h"
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
// result by default (transparent ones are drawn as black), so the outside
// shows as stripes of its tint on black (magenta on red where it folds too),
// which no dimmed picture content resembles.
inline constexpr uint8_t FOLD_TINT[3] = {255, 0, 0};         // red
inline constexpr uint8_t OUTSIDE_TINT[3] = {0, 96, 255};     // blue
inline constexpr uint8_t BOTH_TINT[3] = {255, 0, 255};       // magenta
inline constexpr uint8_t SEGMENT_COLOUR[3] = {255, 255, 0};  // yellow
inline constexpr uint8_t OUTLINE_COLOUR[3] = {0, 0, 0};      // black

// The outside hatching: stripes 4 pixels wide (along a row) every 8 pixels,
// rising to the right at 45 degrees, fixed to the image's pixel grid.
inline bool outside_hatched(int x, int y)
{
    return (x + y) % 8 < 4;
}

// Makes *map the fold map of result: result dimmed and tinted by flags
// (w * h, from analyse_folds), with the second segment of each pair drawn
// over it by draw_segment in SEGMENT_COLOUR with an OUTLINE_COLOUR pixel
// left, right, above and below each of its pixels (all outlines first, so
// none covers a segment). Segments are clipped to the image (two pixels
// around it) first, so a huge one costs no more than one across the image;
// one with a coordinate that is not finite is not drawn. False when result
// is not a valid view or the map cannot be allocated.
bool fold_map(const ImageView& result, const uint8_t* flags, const Segment* segments, int n, ImageBuffer* map);

// Row y of map (result's size) from row y of result and the row's flags.
void fold_map_row(const ImageView& result, int y, const uint8_t* flags, const ImageView& map);

// The second segment of each pair drawn on the map, as fold_map draws them.
void fold_map_segments(const ImageView& map, const Segment* segments, int n);
