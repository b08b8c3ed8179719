// The editor's view of its panels, with no SDL in it: the zoom and pan they
// share, conversions between panel pixels and image points, the zoom steps,
// and hit tests of the pairs in screen pixels. A panel shows image point
// (ix, iy) at panel pixel ((ix - pan_x) * zoom, (iy - pan_y) * zoom); in
// morph mode panel 0 shows FIRST and panel 1 SECOND, side by side, with the
// same view.
#pragma once
#include "edit/model.h"
#include "warp/segment.h"

enum { HIT_RADIUS = 6 };

// The zooms a press reaches: the steps of next_zoom lie between these, and
// the fit zoom never goes above MAX_ZOOM. A press moves at least by
// ZOOM_STEP, a large one (Ctrl) by ZOOM_LARGE_STEP, but for the last one
// to the first or last step.
inline constexpr double MIN_ZOOM = 1.0 / 20, MAX_ZOOM = 32;
inline constexpr double ZOOM_STEP = 1.25, ZOOM_LARGE_STEP = 2;

struct EditView {
    double zoom = 1.0;
    double pan_x = 0, pan_y = 0;  // the image point at the panel's top-left corner
    double fit_zoom = 1.0;        // the zoom at which the whole image fills the panel, small images enlarged
    bool fitted = false;          // the view is the fit: fitted again when the panel changes size
};

// The image point at panel pixel (px, py), as it is stored: whole at 100 %
// zoom (the caller keeps the pan whole there), else rounded to 1/100 pixel.
Vec2 panel_to_image(const EditView& view, int px, int py);
Vec2 image_to_panel(const EditView& view, double x, double y);

// Zoom to `zoom` keeping the image point under panel pixel (px, py) where
// it is; at 100 % the pan is made whole.
void view_zoom_about(EditView* view, double zoom, int px, int py);
// Moves the image by (dx, dy) screen pixels under the panels; at 100 % the
// pan stays whole.
void view_pan(EditView* view, int dx, int dy);
// The next zoom step above (direction > 0) or below the current zoom, at
// least ZOOM_STEP (large: ZOOM_LARGE_STEP) times or 1 / that away; the steps
// include 100 % and the fit zoom.
double next_zoom(const EditView& view, int direction, bool large = false);
// Sets fit_zoom for an image of w x h in a panel of panel_w x panel_h.
void view_set_fit(EditView* view, int w, int h, int panel_w, int panel_h);
// Centres the image of w x h in the panel along each axis on which it is
// no larger than the panel at the view's zoom (whole pan at 100 %).
void view_centre(EditView* view, int w, int h, int panel_w, int panel_h);
// The fit: fit_zoom, the image centred, and `fitted` set.
void view_fit(EditView* view, int w, int h, int panel_w, int panel_h);

// The end point nearest panel pixel (px, py) on `panel` within HIT_RADIUS
// screen pixels: true with its entry and end (0: x1 y1, 1: x2 y2).
bool hit_end_point(const EditModel& model, const EditView& view, int panel, int px, int py, int* segment, int* end);
// The pair with a segment on `panel` passing within HIT_RADIUS screen pixels, or -1.
int hit_pair(const EditModel& model, const EditView& view, int panel, int px, int py);
