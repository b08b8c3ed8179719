// The editor's window: SDL 1.2 events and drawing over the pairs of
// edit/model.h, the view of edit/view.h, the file of edit/pairs_file.h and
// the preview of edit/preview.h. The window holds one panel (warp mode) or
// two side by side (morph mode: FIRST, then SECOND) and a status line below
// them; drawing goes through sdl/ (segments, text in the bitmap font).
// Every change is saved at once.
#pragma once
#include <SDL.h>

#include <string>
#include <vector>

#include "edit/model.h"
#include "raster/image.h"
#include "warp/warp.h"

enum { STATUS_H = 12 };

struct EditorSetup {
    EditMode mode = EDIT_WARP;
    const char* first_name = nullptr;
    const char* second_name = nullptr;
    const char* pairs_name = nullptr;
    bool pairs_exist = false;  // loaded from the file (else it is made at the first change)
    std::vector<std::string> warnings;  // about the file, for the status line until the first change
    WarpParams params;
    int threads = 0;
};

// The least window size at which the status line of ordinary work in
// `mode` (counts, zoom, coordinates, what to draw next, the preview), or of
// a file `holding` its last segment until it has a second, and the key help
// show whole.
void window_need(EditMode mode, bool holding, int* need_w, int* need_h);

// The window size for images of w x h in `panels` panels on a screen of
// screen_w x screen_h: the images at *zoom (1, or less to fit), the window
// at least need_w x need_h (the images centred in it) and never larger than
// the screen.
void window_size(int w, int h, int panels, int screen_w, int screen_h, int need_w, int need_h, int* win_w, int* win_h,
                 double* zoom);

// Opens the window and runs until the user quits or the window closes.
// Returns the exit status.
// first and second (NULL in warp mode) are 8-bit R, G, B images of one size.
int run_editor(const EditorSetup& setup, const ImageView& first, const ImageView* second, std::vector<Segment> segments,
               std::vector<SegmentComment> comments);
