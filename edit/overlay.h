// The editor's overlays over its panels: every segment of the table, with a
// mark at its start and its pair's label beside its middle, and the segment
// being drawn. Image points reach the screen only through screen_segment,
// which decides in doubles what can be drawn before it converts anything to
// an integer, so that a pairs file with any finite numbers (1e300, 3.4e38,
// 1e-300) is drawn as far as it shows and never overflows a conversion.
// Window pixels: x right from the window's left edge, y down from its top.
#pragma once
#include <SDL.h>

#include "edit/model.h"
#include "edit/view.h"

// A segment whose two ends lie within this many window pixels of the
// window's origin is drawn whole, as it is; draw_segment skips its pixels
// outside the surface.
enum { SCREEN_LIMIT = 1 << 20 };

// The panels: `count` side by side from the window's left edge, each
// width x height pixels, `gap` pixels apart.
struct PanelLayout {
    int count = 1;
    int width = 1, height = 1;
    int gap = 0;
};

// What of a segment is drawn, in window pixels: from (ax, ay) to (bx, by),
// each the floor of the point's panel coordinate plus the panel's left edge.
struct ScreenSegment {
    int ax = 0, ay = 0, bx = 0, by = 0;
    bool start_shown = false;  // (ax, ay) is the segment's start, not where it was cut
    bool label_shown = false;  // the segment's middle lies within SCREEN_LIMIT
    int mid_x = 0, mid_y = 0;  // the middle, beside which the label goes
};

// A label of `width` x `height` window pixels (its shadow included) to be
// placed beside the point (anchor_x, anchor_y); (x, y) its top-left corner.
struct LabelPlace {
    int anchor_x = 0, anchor_y = 0, width = 0, height = 0;
    int x = 0, y = 0;
};

// Places the labels in order, each at the first of the places around its
// anchor (right below, right above, left below, left above, then the same a
// line further out) that overlaps no label placed before it, else where it
// overlaps them least. Anchors are within SCREEN_LIMIT, so nothing overflows.
void place_labels(LabelPlace* labels, int n);

// The segment from image point a to b as drawn on `panel`: the whole
// segment when both ends lie within SCREEN_LIMIT; else the part of it near
// the panel, found by halving (each midpoint is rounded relative to its own
// size, so the part is on the line however far the ends are). False when no
// part of it comes near the panel.
bool screen_segment(const EditView& view, const PanelLayout& layout, int panel, Vec2 a, Vec2 b, ScreenSegment* out);

// Draws the overlays of `model`, each panel clipped to itself: every line
// with a dark outline (all outlines first, so that none covers a line), the
// selected pair thick, `drawing`, when not NULL, in white on
// `drawing_panel`, then the start marks and the labels, placed by
// place_labels. The caller locks the screen when it must be locked.
void draw_overlays(SDL_Surface* screen, const EditModel& model, const EditView& view, const PanelLayout& layout,
                   const Segment* drawing, int drawing_panel);

// Fills the rectangle from (x0, y0) up to (x1, y1), cut to the surface first
// so that no coordinate wraps in SDL's 16-bit rectangle.
void fill_rect(SDL_Surface* s, int x0, int y0, int x1, int y1, Uint8 r, Uint8 g, Uint8 b);
