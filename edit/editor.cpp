#include "edit/editor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "edit/overlay.h"
#include "edit/pairs_file.h"
#include "edit/preview.h"
#include "edit/view.h"
#include "sdl/pixel.h"
#include "sdl/pixel_fast.h"
#include "sdl/text.h"

static const char* const PROGRAM = "tavrosk-edit";

// Screen space kept free of the window for the desktop's panels and the
// window's frame when the image is zoomed to fit.
enum { SCREEN_MARGIN_H = 0, SCREEN_MARGIN_V = 48, PAN_STEP = 50 };
// The status line's text starts this far from the window's left edge.
enum { STATUS_X = 4 };
// The line between two panels lies between them, never over an image's pixels.
enum { PANEL_GAP = 2 };

// The key help: what to press, and what it does.
static const char* const HELP_LINES[][2] = {
    {"Drag", "draw a segment: a pair's first, then its second"},
    {"Drag an end point", "move it (within 6 pixels)"},
    {"Shift+drag", "draw, also from an end point"},
    {"P", "pin the pair: its second = its first"},
    {"Click", "select the pair under the pointer"},
    {"Delete, BackSpace", "remove the selected pair"},
    {"Ctrl+Z", "undo"},
    {"Ctrl+Y, Ctrl+Shift+Z", "redo"},
    {"Ctrl+S", "save again"},
    {"Wheel, + and -", "zoom about the pointer"},
    {"Ctrl+wheel, Ctrl +/-", "zoom in larger steps"},
    {"Z", "fit to the window, or 100 %"},
    {"Middle drag, arrows", "pan"},
    {"Tab", "preview or source"},
    {"0 to 9", "morph: the frame at t = k / 10"},
    {"H", "hide or show the overlays"},
    {"O", "fold overlay and counts"},
    {"F1, ?", "this help"},
    {"Esc", "cancel the segment being drawn, else quit"},
    {"Q", "quit"},
};

// What the status line asks for next, and what it says after a press on
// the other panel.
static const char* const DRAW_ON_FIRST = "draw on FIRST (left)";
static const char* const DRAW_ON_SECOND = "draw on SECOND (right)";
static const char* const DRAW_WHERE_IT_GOES = "draw where it goes";
static const char* const BEGINS_ON_FIRST = "a pair begins on FIRST (left)";
static const char* const SECOND_ON_SECOND = "draw this pair's second on SECOND (right)";
static const char* const HOLDING = "the last segment waits for its second; unsaved till then";

// The key help's layout: a box at (HELP_MARGIN, HELP_MARGIN), a key and
// what it does a line.
enum { HELP_MARGIN = 10, HELP_PAD = 8, HELP_GAP = 18, HELP_LINE_H = GLYPH_H + 5 };

static void help_size(int* key_w, int* box_w, int* box_h)
{
    int what_w = 0;
    *key_w = 0;
    for (const auto& line : HELP_LINES) {
        *key_w = std::max(*key_w, text_width(line[0], 1));
        what_w = std::max(what_w, text_width(line[1], 1));
    }
    *box_w = 2 * HELP_PAD + *key_w + HELP_GAP + what_w;
    // The last line without the space below it.
    *box_h = 2 * HELP_PAD + static_cast<int>(sizeof HELP_LINES / sizeof HELP_LINES[0]) * HELP_LINE_H
           - (HELP_LINE_H - GLYPH_H);
}

static std::string zoom_text(double zoom)
{
    char text[32];
    std::snprintf(text, sizeof text, zoom * 100 == std::floor(zoom * 100) ? "%.0f %%" : "%.1f %%", zoom * 100);
    return text;
}

void window_need(EditMode mode, bool holding, int* need_w, int* need_h)
{
    // The longest status line of ordinary work, or of a file opened with a
    // segment waiting; the fold counts, a failed save's message and the
    // warnings naming files may run past it.
    const std::string start = "pairs 99  " + zoom_text(MAX_ZOOM) + "  x 1234.56 y 1234.56  ";
    const std::string end = mode == EDIT_MORPH ? "  frame t 0.5 ..." : "  preview ...";
    const std::string usual = start + "saved  " + (mode == EDIT_MORPH ? SECOND_ON_SECOND : DRAW_WHERE_IT_GOES) + end;
    const std::string waiting = start + HOLDING + end;
    int key_w, box_w, box_h;
    help_size(&key_w, &box_w, &box_h);
    const int text_w = text_width((holding ? waiting : usual).c_str(), 1);
    *need_w = std::max(STATUS_X + text_w + STATUS_X, 2 * HELP_MARGIN + box_w);
    // Panels of one width, with no column left over.
    if (mode == EDIT_MORPH)
        *need_w += *need_w % 2;
    *need_h = 2 * HELP_MARGIN + box_h + STATUS_H;
}

void window_size(int w, int h, int panels, int screen_w, int screen_h, int need_w, int need_h, int* win_w, int* win_h,
                 double* zoom)
{
    const int room_w = std::max(64, screen_w - SCREEN_MARGIN_H);
    const int room_h = std::max(64, screen_h - SCREEN_MARGIN_V);
    EditView view;
    const int gaps = (panels - 1) * PANEL_GAP;
    view_set_fit(&view, w, h, (room_w - gaps) / panels, room_h - STATUS_H);
    *zoom = std::min(1.0, view.fit_zoom);
    *win_w = std::max(1, static_cast<int>(std::floor(w * *zoom))) * panels + gaps;
    *win_h = std::max(1, static_cast<int>(std::floor(h * *zoom))) + STATUS_H;
    *win_w = std::min(room_w, std::max(*win_w, need_w));
    *win_h = std::min(room_h, std::max(*win_h, need_h));
}

namespace {

struct Editor {
    EditorSetup setup;
    EditModel model;
    EditView view;
    const ImageView* images[2] = {nullptr, nullptr};
    int panels = 1;
    SDL_Surface* screen = nullptr;
    int win_w = 0, win_h = 0;
    PairsFile file;

    bool show_preview = false, hide_overlays = false, show_folds = false, show_help = false;
    int frame = 5;
    PreviewWorker worker;
    PreviewResult shown;  // the newest result taken
    long generation = 0;
    PreviewRequest last_request;
    bool requested = false;
    double exact_ms = 0;  // how long the last exact preview took

    // The pointer.
    int pointer_x = 0, pointer_y = 0;
    bool drawing = false;  // a new segment: from draw_from to the pointer
    int draw_panel = 0, press_x = 0, press_y = 0;
    Vec2 draw_from = {0, 0}, draw_to = {0, 0};
    bool dragging_point = false;
    bool panning = false;
    int pan_x = 0, pan_y = 0;
    // Shift and Ctrl as of the event in hand. SDL_GetModState() tells them as
    // of the last event read, which under load may be a key let go after the
    // press or wheel turn being handled.
    int mods = 0;
    std::string notice;
};

int panel_w(const Editor& e)
{
    return std::max(1, (e.win_w - (e.panels - 1) * PANEL_GAP) / e.panels);
}

// The window column of the panel's left edge.
int panel_left(const Editor& e, int panel)
{
    return panel * (panel_w(e) + PANEL_GAP);
}

int panel_h(const Editor& e)
{
    return std::max(1, e.win_h - STATUS_H);
}

// The panel under window pixel (x, y), or -1 (the status line, between the panels).
int panel_at(const Editor& e, int x, int y)
{
    if (y >= panel_h(e) || x < 0)
        return -1;
    const int panel = std::min(e.panels - 1, x / (panel_w(e) + PANEL_GAP));
    return x - panel_left(e, panel) < panel_w(e) ? panel : -1;
}

bool preview_wanted(const Editor& e)
{
    return e.show_preview || e.show_folds;
}

void save(Editor* e, bool force)
{
    if (!pairs_file_save(&e->file, e->model, force) && e->file.failed)
        std::fprintf(stderr, "%s: %s\n", PROGRAM, e->file.problem.c_str());
}

void request_preview(Editor* e)
{
    if (!preview_wanted(*e))
        return;
    PreviewRequest request;
    request.pairs.assign(e->model.segments.begin(), e->model.segments.begin() + 2 * pair_count(e->model));
    request.frame = e->frame;
    request.folds = e->show_folds;
    // While an end point is dragged, a preview coarse enough to keep up
    // with the pointer: each factor quarters the work.
    if (e->dragging_point)
        request.reduce = coarse_factor(e->exact_ms);
    if (e->requested && request.frame == e->last_request.frame && request.folds == e->last_request.folds
        && request.reduce == e->last_request.reduce
        && request.pairs.size() == e->last_request.pairs.size()
        && std::equal(request.pairs.begin(), request.pairs.end(), e->last_request.pairs.begin(),
                      [](const Segment& a, const Segment& b) {
                          return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
                      }))
        return;
    request.generation = ++e->generation;
    e->last_request = request;
    e->requested = true;
    e->worker.request(std::move(request));
}

bool preview_current(const Editor& e)
{
    return e.shown.image.data && e.shown.generation == e.generation && e.shown.reduce == 1;
}

// Copies `image` (8-bit R, G, B; image pixel (x, y) at (x / reduce, y /
// reduce) in it) into the panel's rectangle at the view's zoom, nearest
// pixel; outside the image, dark grey. The screen is locked.
void draw_image(Editor* e, const ImageView& image, int reduce, int panel)
{
    SDL_Surface* screen = e->screen;
    const EditView& v = e->view;
    const int x0 = panel_left(*e, panel), w = panel_w(*e), h = panel_h(*e);
    const Uint32 background = SDL_MapRGB(screen->format, 48, 48, 48);
    std::vector<int> columns(w);
    for (int px = 0; px < w; ++px) {
        double ix = std::floor(std::floor(v.pan_x + px / v.zoom) / reduce);
        columns[px] = ix >= 0 && ix < image.width ? static_cast<int>(ix) : -1;
    }
    FastFormat format;
    fast_format_init(&format, screen);
    for (int py = 0; py < h && py < screen->h; ++py) {
        const double iy = std::floor(std::floor(v.pan_y + py / v.zoom) / reduce);
        Uint8* row = static_cast<Uint8*>(screen->pixels) + row_offset(py, screen->pitch, 4);
        Uint32* out = reinterpret_cast<Uint32*>(row) + x0;
        if (iy < 0 || iy >= image.height) {
            std::fill(out, out + w, background);
            continue;
        }
        const Uint8* in = image_row(image, static_cast<int>(iy));
        for (int px = 0; px < w; ++px) {
            const int x = columns[px];
            if (x < 0) {
                out[px] = background;
                continue;
            }
            const Uint8* rgb = in + 3 * static_cast<std::ptrdiff_t>(x);
            out[px] = format.fast_write ? format.write_table[0][rgb[0]] | format.write_table[1][rgb[1]]
                                              | format.write_table[2][rgb[2]]
                                        : SDL_MapRGB(screen->format, rgb[0], rgb[1], rgb[2]);
        }
    }
}

void draw_overlays(Editor* e)
{
    const Segment drawing = {e->draw_from.x, e->draw_from.y, e->draw_to.x, e->draw_to.y};
    draw_overlays(e->screen, e->model, e->view, {e->panels, panel_w(*e), panel_h(*e), PANEL_GAP},
                  e->drawing ? &drawing : nullptr, e->draw_panel);
}

void draw_status(Editor* e)
{
    SDL_Surface* s = e->screen;
    const int y = panel_h(*e);
    fill_rect(s, 0, y, e->win_w, e->win_h, 24, 24, 24);
    const EditModel& m = e->model;
    std::string text = "pairs " + std::to_string(pair_count(m)) + "  " + zoom_text(e->view.zoom);
    const int panel = panel_at(*e, e->pointer_x, e->pointer_y);
    if (panel >= 0) {
        Vec2 p = panel_to_image(e->view, e->pointer_x - panel_left(*e, panel), e->pointer_y);
        text += "  x " + format_coordinate(p.x) + " y " + format_coordinate(p.y);
    }
    text += e->file.failed ? "  NOT SAVED" : e->file.saved ? "  saved" : "";
    // A notice, or the file's waiting segment, says what to draw next in
    // its own words.
    if (e->file.holding && e->notice.empty())
        text += std::string("  ") + HOLDING;
    else if (m.mode == EDIT_MORPH && e->notice.empty())
        text += std::string("  ") + (waiting_panel(m) ? DRAW_ON_SECOND : DRAW_ON_FIRST);
    else if (m.mode == EDIT_WARP && pair_pending(m) && e->notice.empty())
        text += std::string("  ") + DRAW_WHERE_IT_GOES;
    if (preview_wanted(*e)) {
        text += m.mode == EDIT_MORPH ? "  frame t 0." + std::to_string(e->frame) : "  preview";
        if (e->frame == 10 && m.mode == EDIT_MORPH)
            text.replace(text.size() - 3, 3, "1.0");
        if (!preview_current(*e))
            text += " ...";
    }
    if (e->show_folds && e->shown.map.data)
        text += "  " + fold_summary(e->shown.counts);
    if (!e->notice.empty())
        text += "  " + e->notice;
    if (e->file.failed)
        text += "  " + e->file.problem;
    // What is odd about the file stays in view until the first change.
    if (m.undo.empty() && m.redo.empty())
        for (const std::string& warning : e->setup.warnings)
            if (warning.find("waits for its second") == std::string::npos)
                text += "  warning: " + warning;
    static const Uint8 grey[3] = {220, 220, 220};
    draw_text(s, text.c_str(), STATUS_X, y + (STATUS_H - GLYPH_H) / 2, 1, grey[0], grey[1], grey[2]);
}

void draw_help(Editor* e)
{
    int key_w, box_w, box_h;
    help_size(&key_w, &box_w, &box_h);
    const int x = HELP_MARGIN + HELP_PAD, y = HELP_MARGIN + HELP_PAD;
    fill_rect(e->screen, HELP_MARGIN, HELP_MARGIN, HELP_MARGIN + box_w, HELP_MARGIN + box_h, 0, 0, 0);
    for (size_t i = 0; i < sizeof HELP_LINES / sizeof HELP_LINES[0]; ++i) {
        const int line_y = y + static_cast<int>(i) * HELP_LINE_H;
        draw_text(e->screen, HELP_LINES[i][0], x, line_y, 1, 255, 224, 0);
        draw_text(e->screen, HELP_LINES[i][1], x + key_w + HELP_GAP, line_y, 1, 255, 255, 255);
    }
}

// What panel shows: the preview (or its fold map) on panel 0 when asked
// for and ready, else the panel's image.
const ImageView& panel_image(Editor* e, int panel, int* reduce)
{
    *reduce = 1;
    if (panel != 0 || !preview_wanted(*e) || !e->shown.image.data)
        return *e->images[panel];
    *reduce = e->shown.reduce;
    return e->show_folds && e->shown.map.data && !e->hide_overlays ? e->shown.map.view : e->shown.image.view;
}

void draw_all(Editor* e)
{
    lock_if_needed(e->screen);
    for (int panel = 0; panel < e->panels; ++panel) {
        int reduce;
        const ImageView& image = panel_image(e, panel, &reduce);
        draw_image(e, image, reduce, panel);
    }
    if (!e->hide_overlays)
        draw_overlays(e);
    unlock_if_needed(e->screen);
    if (e->panels == 2)
        fill_rect(e->screen, panel_w(*e), 0, panel_left(*e, 1), panel_h(*e), 0, 0, 0);
    draw_status(e);
    if (e->show_help)
        draw_help(e);
    SDL_Flip(e->screen);
}

// Sets the window's size, with the view fitted again when it was the fit
// and the images centred along an axis where they fit.
bool set_video_mode(Editor* e, int w, int h)
{
    SDL_Surface* screen = SDL_SetVideoMode(w, h, 32, SDL_SWSURFACE | SDL_RESIZABLE);
    if (!screen)
        return false;
    e->screen = screen;
    e->win_w = screen->w;
    e->win_h = screen->h;
    const int image_w = e->images[0]->width, image_h = e->images[0]->height;
    if (e->view.fitted)
        view_fit(&e->view, image_w, image_h, panel_w(*e), panel_h(*e));
    else {
        view_set_fit(&e->view, image_w, image_h, panel_w(*e), panel_h(*e));
        view_centre(&e->view, image_w, image_h, panel_w(*e), panel_h(*e));
    }
    return true;
}

void set_zoom(Editor* e, double zoom, int x, int y)
{
    const int panel = std::max(0, panel_at(*e, x, y));
    view_zoom_about(&e->view, zoom, x - panel_left(*e, panel), std::min(y, panel_h(*e) - 1));
}

// Z: the fit, or from the fit 100 %, the images centred where they fit.
void toggle_fit(Editor* e)
{
    EditView& v = e->view;
    const int image_w = e->images[0]->width, image_h = e->images[0]->height;
    if (v.fitted) {
        v.zoom = 1.0;
        v.fitted = false;
        v.pan_x = v.pan_y = 0;
        view_centre(&v, image_w, image_h, panel_w(*e), panel_h(*e));
    } else {
        view_fit(&v, image_w, image_h, panel_w(*e), panel_h(*e));
    }
}

Vec2 pointer_image(const Editor& e, int x, int y, int panel)
{
    return panel_to_image(e.view, x - panel_left(e, panel), std::min(y, panel_h(e) - 1));
}

void on_press(Editor* e, int x, int y)
{
    e->notice.clear();
    const int panel = panel_at(*e, x, y);
    if (panel < 0)
        return;
    int segment, end;
    // Shift draws even from an end point: a segment may start where another ends.
    const bool draw = e->mods & KMOD_SHIFT;
    if (!draw && !e->hide_overlays
        && hit_end_point(e->model, e->view, panel, x - panel_left(*e, panel), y, &segment, &end)) {
        drag_begin(&e->model, segment, end);
        e->dragging_point = true;
        return;
    }
    if (panel != waiting_panel(e->model)) {
        e->notice = waiting_panel(e->model) ? SECOND_ON_SECOND : BEGINS_ON_FIRST;
        // A click there still selects.
        const int pair = hit_pair(e->model, e->view, panel, x - panel_left(*e, panel), y);
        if (pair >= 0)
            select_pair(&e->model, pair);
        return;
    }
    e->drawing = true;
    e->draw_panel = panel;
    e->press_x = x;
    e->press_y = y;
    e->draw_from = e->draw_to = pointer_image(*e, x, y, panel);
}

void on_motion(Editor* e, int x, int y)
{
    e->pointer_x = x;
    e->pointer_y = y;
    if (e->dragging_point) {
        const int panel = segment_on_panel(e->model, e->model.drag_segment, 1) && e->panels == 2 ? 1 : 0;
        Vec2 p = pointer_image(*e, x, y, panel);
        drag_move(&e->model, p.x, p.y);
    } else if (e->drawing) {
        e->draw_to = pointer_image(*e, x, y, e->draw_panel);
    } else if (e->panning) {
        view_pan(&e->view, e->pan_x - x, e->pan_y - y);
        e->pan_x = x;
        e->pan_y = y;
    }
}

void on_release(Editor* e, int x, int y)
{
    on_motion(e, x, y);
    if (e->dragging_point) {
        e->dragging_point = false;
        if (drag_end(&e->model))
            save(e, false);
        return;
    }
    if (!e->drawing)
        return;
    e->drawing = false;
    const bool moved = (x != e->press_x || y != e->press_y)
                    && (e->draw_from.x != e->draw_to.x || e->draw_from.y != e->draw_to.y);
    if (!moved) {
        select_pair(&e->model, hit_pair(e->model, e->view, e->draw_panel, x - panel_left(*e, e->draw_panel), y));
        return;
    }
    add_segment(&e->model, {e->draw_from.x, e->draw_from.y, e->draw_to.x, e->draw_to.y});
    save(e, false);
}

// Returns true to quit.
bool on_key(Editor* e, const SDL_keysym& key)
{
    const bool ctrl = key.mod & KMOD_CTRL, shift = key.mod & KMOD_SHIFT;
    const Uint16 ch = key.unicode;
    e->notice.clear();
    if (key.sym == SDLK_ESCAPE) {
        // A segment being drawn, else a pair's first waiting for its second.
        if (e->drawing) {
            e->drawing = false;
            return false;
        }
        if (e->dragging_point)
            return false;
        if (cancel_pending(&e->model)) {
            save(e, false);
            return false;
        }
        return true;
    }
    if (key.sym == SDLK_q && !ctrl)
        return true;
    if (ctrl && (key.sym == SDLK_y || (key.sym == SDLK_z && shift))) {
        if (!e->drawing && redo(&e->model))
            save(e, false);
    } else if (ctrl && key.sym == SDLK_z) {
        if (!e->drawing && undo(&e->model))
            save(e, false);
    } else if (ctrl && key.sym == SDLK_s) {
        save(e, true);
    } else if (key.sym == SDLK_DELETE || key.sym == SDLK_BACKSPACE) {
        if (!e->drawing && !e->dragging_point && remove_selected_pair(&e->model))
            save(e, false);
    } else if (key.sym == SDLK_F1 || ch == '?') {
        e->show_help = !e->show_help;
    } else if (ch == '+' || key.sym == SDLK_PLUS || key.sym == SDLK_KP_PLUS || key.sym == SDLK_EQUALS) {
        set_zoom(e, next_zoom(e->view, 1, ctrl), e->pointer_x, e->pointer_y);
    } else if (ch == '-' || key.sym == SDLK_MINUS || key.sym == SDLK_KP_MINUS) {
        set_zoom(e, next_zoom(e->view, -1, ctrl), e->pointer_x, e->pointer_y);
    } else if (key.sym == SDLK_z) {
        toggle_fit(e);
    } else if (key.sym == SDLK_LEFT || key.sym == SDLK_RIGHT || key.sym == SDLK_UP || key.sym == SDLK_DOWN) {
        view_pan(&e->view, key.sym == SDLK_LEFT ? -PAN_STEP : key.sym == SDLK_RIGHT ? PAN_STEP : 0,
                 key.sym == SDLK_UP ? -PAN_STEP : key.sym == SDLK_DOWN ? PAN_STEP : 0);
    } else if (key.sym == SDLK_TAB) {
        e->show_preview = !e->show_preview;
    } else if (key.sym == SDLK_p) {
        if (!e->drawing && !e->dragging_point && pin_selected_pair(&e->model))
            save(e, false);
    } else if (key.sym == SDLK_h) {
        e->hide_overlays = !e->hide_overlays;
    } else if (key.sym == SDLK_o) {
        e->show_folds = !e->show_folds;
    } else if (key.sym >= SDLK_0 && key.sym <= SDLK_9) {
        e->frame = key.sym - SDLK_0;
    }
    return false;
}

// Opens the window at the size the images want on this screen. False after
// a message on stderr.
bool open_window(Editor* e)
{
    const EditorSetup& setup = e->setup;
    const SDL_VideoInfo* info = SDL_GetVideoInfo();
    int screen_w = info && info->current_w > 0 ? info->current_w : 1024;
    int screen_h = info && info->current_h > 0 ? info->current_h : 768;
    int need_w, need_h, w, h;
    window_need(setup.mode, e->file.holding, &need_w, &need_h);
    window_size(e->images[0]->width, e->images[0]->height, e->panels, screen_w, screen_h, need_w, need_h, &w, &h,
                &e->view.zoom);
    // Opened zoomed down, the view follows the window's size.
    e->view.fitted = e->view.zoom != 1.0;
    std::string title = std::string(PROGRAM) + " - " + (setup.mode == EDIT_WARP ? setup.first_name : setup.first_name
                        + std::string(" to ") + setup.second_name) + " - " + setup.pairs_name;
    SDL_WM_SetCaption(title.c_str(), PROGRAM);
    if (!set_video_mode(e, w, h)) {
        std::fprintf(stderr, "%s: cannot open a %d x %d window: %s\n", PROGRAM, w, h, SDL_GetError());
        return false;
    }
    SDL_EnableUNICODE(1);
    SDL_EnableKeyRepeat(SDL_DEFAULT_REPEAT_DELAY, SDL_DEFAULT_REPEAT_INTERVAL);
    return true;
}

// The modifiers once this key event has happened: a key's event carries
// them as they were before it, when that key is pressed.
int mods_after(const SDL_KeyboardEvent& key)
{
    int bit = 0;
    switch (key.keysym.sym) {
    case SDLK_LSHIFT: bit = KMOD_LSHIFT; break;
    case SDLK_RSHIFT: bit = KMOD_RSHIFT; break;
    case SDLK_LCTRL: bit = KMOD_LCTRL; break;
    case SDLK_RCTRL: bit = KMOD_RCTRL; break;
    default: break;
    }
    return key.type == SDL_KEYDOWN ? key.keysym.mod | bit : key.keysym.mod & ~bit;
}

// Returns true to quit.
bool on_event(Editor* e, const SDL_Event& event)
{
    switch (event.type) {
    case SDL_QUIT:
        return true;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        e->mods = mods_after(event.key);
        return event.type == SDL_KEYDOWN && on_key(e, event.key.keysym);
    case SDL_ACTIVEEVENT:
        // Keys pressed while the window had no focus send no event.
        e->mods = SDL_GetModState();
        break;
    case SDL_MOUSEMOTION:
        on_motion(e, event.motion.x, event.motion.y);
        break;
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_LEFT)
            on_press(e, event.button.x, event.button.y);
        else if (event.button.button == SDL_BUTTON_MIDDLE) {
            e->panning = true;
            e->pan_x = event.button.x;
            e->pan_y = event.button.y;
        } else if (event.button.button == SDL_BUTTON_WHEELUP || event.button.button == SDL_BUTTON_WHEELDOWN)
            set_zoom(e, next_zoom(e->view, event.button.button == SDL_BUTTON_WHEELUP ? 1 : -1,
                                  e->mods & KMOD_CTRL),
                     event.button.x, event.button.y);
        break;
    case SDL_MOUSEBUTTONUP:
        if (event.button.button == SDL_BUTTON_LEFT)
            on_release(e, event.button.x, event.button.y);
        else if (event.button.button == SDL_BUTTON_MIDDLE)
            e->panning = false;
        break;
    case SDL_VIDEORESIZE: {
        int need_w, need_h;
        window_need(e->model.mode, e->file.holding, &need_w, &need_h);
        if (!set_video_mode(e, std::max(need_w, event.resize.w), std::max(need_h, event.resize.h))) {
            std::fprintf(stderr, "%s: cannot resize the window: %s\n", PROGRAM, SDL_GetError());
            return true;
        }
        break;
    }
    default:
        break;
    }
    return false;
}

// Until the user quits: the events as they come, the preview as it is
// ready, a redraw after either.
void event_loop(Editor* e)
{
    bool done = false, redraw = true;
    SDL_Event event;
    while (!done) {
        bool any = false;
        while (SDL_PollEvent(&event)) {
            any = true;
            done = on_event(e, event) || done;
        }
        redraw = redraw || any;
        request_preview(e);
        if (e->worker.take(&e->shown)) {
            redraw = true;
            if (e->shown.reduce == 1)
                e->exact_ms = e->shown.milliseconds;
        }
        if (redraw) {
            draw_all(e);
            redraw = false;
        }
        if (!any)
            SDL_Delay(5);
    }
}

}  // namespace

int run_editor(const EditorSetup& setup, const ImageView& first, const ImageView* second, std::vector<Segment> segments,
               std::vector<SegmentComment> comments)
{
    Editor e;
    e.setup = setup;
    // The panels show the images as the preview shows its results; 8-bit
    // R, G, B as they are.
    const ImageView* inputs[2] = {&first, second};
    ImageBuffer screens[2];
    for (int i = 0; i < 2; ++i) {
        e.images[i] = inputs[i];
        if (!inputs[i] || image_is_rgb8(*inputs[i]))
            continue;
        if (!screen_image(*inputs[i], 1, &screens[i])) {
            std::fprintf(stderr, "%s: not enough memory for the images on the screen\n", PROGRAM);
            return 1;
        }
        e.images[i] = &screens[i].view;
    }
    e.panels = second ? 2 : 1;
    e.model.mode = setup.mode;
    e.model.segments = std::move(segments);
    e.model.comments = std::move(comments);
    e.file.name = setup.pairs_name;
    e.file.heading = pairs_heading(setup.mode, setup.first_name, setup.second_name ? setup.second_name : "");
    pairs_file_start(&e.file, setup.pairs_exist ? &e.model : nullptr);
    if (!open_window(&e))
        return 1;

    PreviewSetup preview;
    preview.mode = setup.mode;
    preview.first = first;
    if (second)
        preview.second = *second;
    preview.params = setup.params;
    preview.threads = setup.threads;
    e.worker.start(preview);
    event_loop(&e);
    e.worker.stop();
    return 0;
}
