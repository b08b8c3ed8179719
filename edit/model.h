// The editor's model, with no SDL in it: the segment table being edited
// (pairs as warp/segment.h lays them out, with at most one first segment
// waiting for its second at the end), the selected pair, the undo and redo
// history, the view (zoom and pan of the panels), hit tests in screen
// pixels, and the pairs file (its text, loading and atomic saving).
// Coordinates: image pixels, x right, y down. A panel shows image point
// (ix, iy) at panel pixel ((ix - pan_x) * zoom, (iy - pan_y) * zoom); in
// morph mode panel 0 shows FIRST and panel 1 SECOND, side by side, with the
// same view.
#pragma once
#include <string>
#include <vector>

#include "io/segment_file.h"
#include "warp/segment.h"

enum EditMode { EDIT_WARP, EDIT_MORPH };

enum { HISTORY_LIMIT = 200, HIT_RADIUS = 6 };

struct EditView {
    double zoom = 1.0;
    double pan_x = 0, pan_y = 0;  // the image point at the panel's top-left corner
    double fit_zoom = 1.0;        // the zoom at which the image fits the panel (at most 1)
};

// A comment or blank line of a loaded pairs file, written again before
// entry `before` of the table, or after the last pair when there are fewer.
struct PairsComment {
    int before;
    std::string text;
};

// What the undo history keeps of each state.
struct EditState {
    std::vector<Segment> segments;
    int selected = -1;
};

struct EditModel {
    EditMode mode = EDIT_WARP;
    int image_w = 0, image_h = 0;
    std::vector<Segment> segments;  // pair k: entries 2k and 2k + 1
    int selected = -1;              // the selected pair, or -1
    std::vector<EditState> undo, redo;
    EditView view;
    std::vector<PairsComment> comments;  // kept where they stood among the pairs
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

// A coordinate as it is stored: whole at 100 % zoom (the caller keeps the pan
// whole there), else rounded to 1/100 pixel.
double round_coordinate(double value, double zoom);
// The image point at panel pixel (px, py), rounded as above.
Vec2 panel_to_image(const EditView& view, int px, int py);
Vec2 image_to_panel(const EditView& view, double x, double y);

// Zoom to `zoom` keeping the image point under panel pixel (px, py) where
// it is; at 100 % the pan is made whole.
void view_zoom_about(EditView* view, double zoom, int px, int py);
// The next zoom step above (direction > 0) or below the current zoom; the
// steps include 100 % and the fit zoom.
double next_zoom(const EditView& view, int direction);
// Sets fit_zoom for an image of w x h in a panel of panel_w x panel_h.
void view_set_fit(EditView* view, int w, int h, int panel_w, int panel_h);

// The end point nearest panel pixel (px, py) on `panel` within HIT_RADIUS
// screen pixels: true with its entry and end (0: x1 y1, 1: x2 y2).
bool hit_end_point(const EditModel& model, int panel, int px, int py, int* segment, int* end);
// The pair with a segment on `panel` passing within HIT_RADIUS screen pixels, or -1.
int hit_pair(const EditModel& model, int panel, int px, int py);

// Changes. Each records the previous state for undo and clears redo.
void add_segment(EditModel* model, const Segment& segment);  // selects its pair
bool remove_selected_pair(EditModel* model);                  // false with no selected pair
void select_pair(EditModel* model, int pair);                 // not a change: no history
// Dragging an end point: begin records the state, move places the point,
// end keeps a history entry only when the point moved.
void drag_begin(EditModel* model, int segment, int end);
void drag_move(EditModel* model, double x, double y);
bool drag_end(EditModel* model);  // true when something changed
bool undo(EditModel* model);
bool redo(EditModel* model);

// The pairs file: the heading comment, then the complete pairs one segment
// a line with the kept comments where they stood, each number written with
// the fewest decimals that read back as the same double.
std::string pairs_file_text(const EditModel& model, const std::string& heading);

// The heading comment naming the image(s).
std::string pairs_heading(EditMode mode, const std::string& first, const std::string& second);

// Reads the pairs file `name` as tavrosk-warp does (the same messages), but
// takes a file without segments as no pairs. Comment and blank lines (other
// than headings this program wrote) go to *comments, each before the
// segment it preceded. False with *message.
bool load_pairs_file(const char* name, std::vector<Segment>* segments, std::vector<PairsComment>* comments,
                     std::string* message);

// The pairs file as the editor keeps it: its name, its heading, and what it
// holds as far as this program knows (a missing file counts as holding no
// pairs, so a first segment alone does not make it).
struct PairsFile {
    std::string name;
    std::string heading;
    std::string saved_text;
    bool saved = false;   // written at least once
    bool failed = false;  // the last write failed: the next change or a forced save tries again
    std::string problem;  // why, "NAME: PROBLEM"
};

// Starts keeping the file: `model` as loaded, or NULL when the file does not exist.
void pairs_file_start(PairsFile* file, const EditModel* loaded);

// Writes the model's pairs when they differ from what the file holds, after
// a failed write, or when forced. True when something was written; false
// with file->failed and file->problem set when a write failed (the model is
// untouched either way).
bool pairs_file_save(PairsFile* file, const EditModel& model, bool force);
