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
    view->pan_x = ix - px / zoom;
    view->pan_y = iy - py / zoom;
    if (zoom == 1.0) {
        view->pan_x = std::round(view->pan_x);
        view->pan_y = std::round(view->pan_y);
    }
}

void view_pan(EditView* view, int dx, int dy)
{
    view->pan_x += dx / view->zoom;
    view->pan_y += dy / view->zoom;
    if (view->zoom == 1.0) {
        view->pan_x = std::round(view->pan_x);
        view->pan_y = std::round(view->pan_y);
    }
}

double next_zoom(const EditView& view, int direction)
{
    std::vector<double> steps = {0.05, 0.1, 0.125, 0.25, 1.0 / 3, 0.5, 2.0 / 3, 1, 1.5, 2, 3, 4, 6, 8, 12, 16};
    steps.push_back(view.fit_zoom);
    std::sort(steps.begin(), steps.end());
    if (direction > 0) {
        for (double s : steps)
            if (s > view.zoom * (1 + 1e-9))
                return s;
        return steps.back();
    }
    for (auto it = steps.rbegin(); it != steps.rend(); ++it)
        if (*it < view.zoom * (1 - 1e-9))
            return *it;
    return steps.front();
}

void view_set_fit(EditView* view, int w, int h, int panel_w, int panel_h)
{
    double fit = std::min(1.0, std::min(static_cast<double>(panel_w) / w, static_cast<double>(panel_h) / h));
    view->fit_zoom = fit > 0 ? fit : 1.0;
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
