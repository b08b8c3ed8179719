// The pairs being edited and their history, with no SDL in it: the segment
// table (pairs as warp/segment.h lays them out, with at most one first
// segment waiting for its second at the end), the selected pair, the undo
// and redo history, an end point being dragged, and the comments of the
// pairs file kept where they stood among the pairs. Coordinates: image
// pixels, x right, y down. In morph mode a pair's first segment lies on
// FIRST (panel 0) and its second on SECOND (panel 1); in warp mode both lie
// on the one panel.
#pragma once
#include <vector>

#include "io/segment_file.h"
#include "warp/segment.h"

enum EditMode { EDIT_WARP, EDIT_MORPH };

enum { HISTORY_LIMIT = 200 };

// What the undo history keeps of each state.
struct EditState {
    std::vector<Segment> segments;
    std::vector<SegmentComment> comments;  // a removal moves them
    int selected = -1;
};

struct EditModel {
    EditMode mode = EDIT_WARP;
    std::vector<Segment> segments;  // pair k: entries 2k and 2k + 1
    int selected = -1;              // the selected pair, or -1
    std::vector<EditState> undo, redo;
    std::vector<SegmentComment> comments;  // kept where they stood among the pairs
    // An end point being dragged: entry `drag_segment`, end 0 (x1, y1) or 1.
    int drag_segment = -1, drag_end = 0;
    EditState drag_before;
};

// The number of complete pairs, and whether a first segment waits for its second.
int pair_count(const EditModel& model);
bool pair_pending(const EditModel& model);

// The panel (0 or 1) on which the next segment is drawn: in warp mode
// always 0; in morph mode 0 for a pair's first segment, 1 for its second.
int waiting_panel(const EditModel& model);
// Whether entry i of the table is shown on `panel`.
bool segment_on_panel(const EditModel& model, int i, int panel);

// Whether some point of the segment lies in the image of w x h, the
// rectangle from (0, 0) to (w, h) edges included; any finite coordinates.
bool segment_touches(const Segment& segment, int w, int h);

// Changes. Each records the previous state for undo and clears redo.
void add_segment(EditModel* model, const Segment& segment);  // selects its pair
// Removes a first segment waiting for its second: false when none waits.
bool cancel_pending(EditModel* model);
// A pinned pair, which holds its feature still: a first segment waiting
// for its second gets itself as its second; with none waiting, the
// selected pair's second becomes its first. False with neither, or when
// the second is the first already.
bool pin_selected_pair(EditModel* model);
bool remove_selected_pair(EditModel* model);                  // false with no selected pair
void select_pair(EditModel* model, int pair);                 // not a change: no history
// Dragging an end point: begin records the state, move places the point,
// end keeps a history entry only when the point moved.
void drag_begin(EditModel* model, int segment, int end);
void drag_move(EditModel* model, double x, double y);
bool drag_end(EditModel* model);  // true when something changed
bool undo(EditModel* model);
bool redo(EditModel* model);
