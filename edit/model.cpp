#include "edit/model.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io/output_file.h"
#include "io/segment_file.h"

static const char* const HEADING_START = "# tavrosk-edit:";

int pair_count(const EditModel& model)
{
    return static_cast<int>(model.segments.size() / 2);
}

bool pair_pending(const EditModel& model)
{
    return model.segments.size() % 2 != 0;
}

int waiting_panel(const EditModel& model)
{
    return model.mode == EDIT_MORPH && pair_pending(model) ? 1 : 0;
}

bool segment_on_panel(const EditModel& model, int i, int panel)
{
    return model.mode == EDIT_WARP ? panel == 0 : i % 2 == panel;
}

double round_coordinate(double value, double zoom)
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

bool hit_end_point(const EditModel& model, int panel, int px, int py, int* segment, int* end)
{
    double best = HIT_RADIUS + 1e-9;
    bool found = false;
    for (int i = 0; i < static_cast<int>(model.segments.size()); ++i) {
        if (!segment_on_panel(model, i, panel))
            continue;
        const Segment& s = model.segments[i];
        for (int e = 0; e < 2; ++e) {
            Vec2 p = image_to_panel(model.view, e ? s.x2 : s.x1, e ? s.y2 : s.y1);
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

int hit_pair(const EditModel& model, int panel, int px, int py)
{
    double best = HIT_RADIUS + 1e-9;
    int pair = -1;
    for (int i = 0; i < static_cast<int>(model.segments.size()); ++i) {
        if (!segment_on_panel(model, i, panel))
            continue;
        const Segment& s = model.segments[i];
        double d = distance_to_segment(image_to_panel(model.view, s.x1, s.y1),
                                       image_to_panel(model.view, s.x2, s.y2), px, py);
        if (d <= best) {
            best = d;
            pair = i / 2;
        }
    }
    return pair;
}

static EditState current_state(const EditModel& model)
{
    return {model.segments, model.selected};
}

static void record(EditModel* model, EditState before)
{
    model->undo.push_back(std::move(before));
    if (model->undo.size() > HISTORY_LIMIT)
        model->undo.erase(model->undo.begin());
    model->redo.clear();
}

void add_segment(EditModel* model, const Segment& segment)
{
    record(model, current_state(*model));
    model->segments.push_back(segment);
    model->selected = static_cast<int>(model->segments.size() - 1) / 2;
}

bool remove_selected_pair(EditModel* model)
{
    const int pair = model->selected;
    if (pair < 0 || 2 * pair >= static_cast<int>(model->segments.size()))
        return false;
    record(model, current_state(*model));
    // The comments of the removed pair stay before the pair that follows it.
    for (PairsComment& c : model->comments)
        c.before = c.before > 2 * pair + 1 ? c.before - 2 : std::min(c.before, 2 * pair);
    auto first = model->segments.begin() + 2 * pair;
    model->segments.erase(first, first + std::min<size_t>(2, model->segments.size() - 2 * pair));
    model->selected = -1;
    return true;
}

void select_pair(EditModel* model, int pair)
{
    model->selected = pair;
}

void drag_begin(EditModel* model, int segment, int end)
{
    model->drag_before = current_state(*model);
    model->drag_segment = segment;
    model->drag_end = end;
    model->selected = segment / 2;
}

void drag_move(EditModel* model, double x, double y)
{
    if (model->drag_segment < 0)
        return;
    Segment& s = model->segments[model->drag_segment];
    (model->drag_end ? s.x2 : s.x1) = x;
    (model->drag_end ? s.y2 : s.y1) = y;
}

bool drag_end(EditModel* model)
{
    if (model->drag_segment < 0)
        return false;
    const Segment& now = model->segments[model->drag_segment];
    const Segment& was = model->drag_before.segments[model->drag_segment];
    const bool moved = now.x1 != was.x1 || now.y1 != was.y1 || now.x2 != was.x2 || now.y2 != was.y2;
    model->drag_segment = -1;
    if (moved)
        record(model, std::move(model->drag_before));
    return moved;
}

static bool step_history(EditModel* model, std::vector<EditState>* from, std::vector<EditState>* to)
{
    if (from->empty() || model->drag_segment >= 0)
        return false;
    to->push_back(current_state(*model));
    model->segments = std::move(from->back().segments);
    model->selected = from->back().selected;
    from->pop_back();
    return true;
}

bool undo(EditModel* model)
{
    return step_history(model, &model->undo, &model->redo);
}

bool redo(EditModel* model)
{
    return step_history(model, &model->redo, &model->undo);
}

std::string pairs_file_text(const EditModel& model, const std::string& heading)
{
    std::string text = heading + "\n";
    const int complete = pair_count(model) * 2;
    auto comments_before = [&](int i, bool last) {
        for (const PairsComment& c : model.comments)
            if (c.before == i || (last && c.before > i))
                text += c.text + "\n";
    };
    for (int i = 0; i < complete; ++i) {
        comments_before(i, false);
        text += segment_line(model.segments[i]) + "\n";
    }
    comments_before(complete, true);
    return text;
}

std::string pairs_heading(EditMode mode, const std::string& first, const std::string& second)
{
    if (mode == EDIT_WARP)
        return std::string(HEADING_START) + " warp pairs for " + first;
    return std::string(HEADING_START) + " morph pairs from " + first + " to " + second;
}

bool load_pairs_file(const char* name, std::vector<Segment>* segments, std::vector<PairsComment>* comments,
                     std::string* message)
{
    std::FILE* in = std::fopen(name, "r");
    if (!in) {
        *message = std::string(name) + ": cannot open: " + std::strerror(errno);
        return false;
    }
    long line = 0;
    std::string problem;
    bool ok = read_segments(in, segments, &line, &problem);
    // An editor's file may hold no pairs yet: every one was removed.
    if (!ok && line == 0 && segments->empty() && problem.rfind("no segments", 0) == 0)
        ok = true;
    if (!ok)
        *message = segment_file_message(name, line, problem);
    if (ok) {
        std::rewind(in);
        char* buffer = nullptr;
        size_t capacity = 0;
        ssize_t length;
        int read = 0;
        while ((length = getline(&buffer, &capacity, in)) >= 0) {
            std::string text(buffer, static_cast<size_t>(length));
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            Segment ignored;
            std::string why;
            if (parse_segment_line(text, &ignored, &why) == SEGMENT_LINE_READ)
                ++read;
            else if (text.compare(0, std::strlen(HEADING_START), HEADING_START) != 0)
                comments->push_back({read, text});
        }
        std::free(buffer);
    }
    std::fclose(in);
    return ok;
}

void pairs_file_start(PairsFile* file, const EditModel* loaded)
{
    file->saved_text = pairs_file_text(loaded ? *loaded : EditModel(), file->heading);
}

bool pairs_file_save(PairsFile* file, const EditModel& model, bool force)
{
    const std::string text = pairs_file_text(model, file->heading);
    if (!force && !file->failed && text == file->saved_text)
        return false;
    file->failed = !write_segment_file(file->name, text, &file->problem);
    if (file->failed)
        return false;
    file->saved_text = text;
    file->saved = true;
    return true;
}
