#include "edit/view.h"

#include <algorithm>
#include <cmath>
#include <vector>

// Whole at 100 %, else to 1/100 pixel.
static double round_coordinate(double value, double zoom)
{
    if (zoom == 1.0)
        return std::round(value);
    return std::round(value * 100.0) / 100.0;
}

Vec2 panel_to_image(const EditView& view, int px, int py)
{
    return {round_coordinate(view.pan_x + px / view.zoom, view.zoom),
            round_coordinate(view.pan_y + py / view.zoom, view.zoom)};
}

Vec2 image_to_panel(const EditView& view, double x, double y)
{
    return {(x - view.pan_x) * view.zoom, (y - view.pan_y) * view.zoom};
}

void view_zoom_about(EditView* view, double zoom, int px, int py)
{
    const double ix = view->pan_x + px / view->zoom;
    const double iy = view->pan_y + py / view->zoom;
    view->zoom = zoom;
    view->fitted = false;
    view->pan_x = ix - px / zoom;
    view->pan_y = iy - py / zoom;
    if (zoom == 1.0) {
        view->pan_x = std::round(view->pan_x);
        view->pan_y = std::round(view->pan_y);
    }
}

void view_pan(EditView* view, int dx, int dy)
{
    view->fitted = false;
    view->pan_x += dx / view->zoom;
    view->pan_y += dy / view->zoom;
    if (view->zoom == 1.0) {
        view->pan_x = std::round(view->pan_x);
        view->pan_y = std::round(view->pan_y);
    }
}

double next_zoom(const EditView& view, int direction, bool large)
{
    // Each step is at least ZOOM_STEP times the one below it.
    std::vector<double> steps = {MIN_ZOOM, 1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 0.25, 1.0 / 3, 0.5, 2.0 / 3,
                                 1,        1.5,      2,        3,       4,       6,    8,       12,  16,  24, MAX_ZOOM};
    steps.push_back(view.fit_zoom);
    std::sort(steps.begin(), steps.end());
    const double factor = large ? ZOOM_LARGE_STEP : ZOOM_STEP;
    // A zoom within this relative distance of a step counts as that step.
    const double slack = 1e-9;
    if (direction > 0) {
        for (double s : steps)
            if (s >= view.zoom * factor * (1 - slack))
                return s;
        return std::max(view.zoom, steps.back());
    }
    for (auto it = steps.rbegin(); it != steps.rend(); ++it)
        if (*it <= view.zoom / factor * (1 + slack))
            return *it;
    return std::min(view.zoom, steps.front());
}

void view_set_fit(EditView* view, int w, int h, int panel_w, int panel_h)
{
    double fit = std::min(MAX_ZOOM, std::min(static_cast<double>(panel_w) / w, static_cast<double>(panel_h) / h));
    view->fit_zoom = fit > 0 ? fit : 1.0;
}

// The pan that centres an image of `size` pixels in a panel of `room` on one axis.
static double centred_pan(double zoom, int size, int room)
{
    const double pan = (size - room / zoom) / 2;
    return zoom == 1.0 ? std::floor(pan) : pan;
}

void view_centre(EditView* view, int w, int h, int panel_w, int panel_h)
{
    if (w * view->zoom <= panel_w)
        view->pan_x = centred_pan(view->zoom, w, panel_w);
    if (h * view->zoom <= panel_h)
        view->pan_y = centred_pan(view->zoom, h, panel_h);
}

void view_fit(EditView* view, int w, int h, int panel_w, int panel_h)
{
    view_set_fit(view, w, h, panel_w, panel_h);
    view->zoom = view->fit_zoom;
    view->pan_x = view->pan_y = 0;
    view_centre(view, w, h, panel_w, panel_h);
    view->fitted = true;
}

bool hit_end_point(const EditModel& model, const EditView& view, int panel, int px, int py, int* segment, int* end)
{
    double best = HIT_RADIUS + 1e-9;
    bool found = false;
    for (int i = 0; i < static_cast<int>(model.segments.size()); ++i) {
        if (!segment_on_panel(model, i, panel))
            continue;
        const Segment& s = model.segments[i];
        for (int e = 0; e < 2; ++e) {
            Vec2 p = image_to_panel(view, e ? s.x2 : s.x1, e ? s.y2 : s.y1);
            double d = std::hypot(p.x - px, p.y - py);
            if (d <= best) {
                best = d;
                *segment = i;
                *end = e;
                found = true;
            }
        }
    }
    return found;
}

// Distance from (px, py) to the segment from a to b.
static double distance_to_segment(Vec2 a, Vec2 b, double px, double py)
{
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double length2 = dx * dx + dy * dy;
    double u = length2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / length2 : 0;
    u = std::clamp(u, 0.0, 1.0);
    return std::hypot(a.x + u * dx - px, a.y + u * dy - py);
}

int hit_pair(const EditModel& model, const EditView& view, int panel, int px, int py)
{
    double best = HIT_RADIUS + 1e-9;
    int pair = -1;
    for (int i = 0; i < static_cast<int>(model.segments.size()); ++i) {
        if (!segment_on_panel(model, i, panel))
            continue;
        const Segment& s = model.segments[i];
        double d = distance_to_segment(image_to_panel(view, s.x1, s.y1),
                                       image_to_panel(view, s.x2, s.y2), px, py);
        if (d <= best) {
            best = d;
            pair = i / 2;
        }
    }
    return pair;
}
