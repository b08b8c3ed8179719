#include "edit/model.h"

#include <algorithm>

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

static EditState current_state(const EditModel& model)
{
    return {model.segments, model.comments, model.selected};
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

bool segment_touches(const Segment& s, int w, int h)
{
    // Liang-Barsky over u in [0, 2] along half the difference of the ends,
    // which stays finite for any finite ends (the difference may not).
    const double hx = 0.5 * s.x2 - 0.5 * s.x1, hy = 0.5 * s.y2 - 0.5 * s.y1;
    // Each bound as p * u <= q.
    const double p[4] = {-hx, hx, -hy, hy};
    const double q[4] = {s.x1, w - s.x1, s.y1, h - s.y1};
    double low = 0, high = 2;
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
        } else if (p[i] < 0) {
            low = std::max(low, q[i] / p[i]);
        } else {
            high = std::min(high, q[i] / p[i]);
        }
    }
    return low <= high;
}

bool cancel_pending(EditModel* model)
{
    if (!pair_pending(*model))
        return false;
    record(model, current_state(*model));
    model->segments.pop_back();
    model->selected = -1;
    return true;
}

bool pin_selected_pair(EditModel* model)
{
    const int n = static_cast<int>(model->segments.size());
    const int first = pair_pending(*model) ? n - 1 : 2 * model->selected;
    if (first < 0 || first >= n)
        return false;
    const Segment s = model->segments[first];
    if (first + 1 == n) {
        add_segment(model, s);
        return true;
    }
    const Segment& second = model->segments[first + 1];
    if (second.x1 == s.x1 && second.y1 == s.y1 && second.x2 == s.x2 && second.y2 == s.y2)
        return false;
    record(model, current_state(*model));
    model->segments[first + 1] = s;
    return true;
}

bool remove_selected_pair(EditModel* model)
{
    const int pair = model->selected;
    if (pair < 0 || 2 * pair >= static_cast<int>(model->segments.size()))
        return false;
    record(model, current_state(*model));
    // The comments of the removed pair stay before the pair that follows it.
    for (SegmentComment& c : model->comments)
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
    model->comments = std::move(from->back().comments);
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
