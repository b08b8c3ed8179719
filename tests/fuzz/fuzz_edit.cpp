// Fuzz target: the editor's pairs, view and pairs file driven by the input,
// and its overlays drawn on an off-screen surface the size of a small
// window (no display). The input is a pairs file, then a NUL byte, then the
// set-up (mode, window and image size, the images' names) and operations:
// draw a segment, drag an end point, click to select, delete, undo, redo,
// zoom about a point or fit, pan, hit tests, save and load again, draw the
// window.
// Checked on the way: a file is loaded or refused in one printable line
// naming it; every change is undone to the same pairs, comments and
// selection and redone to the same again; hit tests name what is on their
// panel; a save holds the complete pairs and the comments, and loads again
// to the same; a file loaded with a segment waiting is not written while it
// waits. Any fault aborts, so that the fuzzer keeps the input.
#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "edit/editor.h"
#include "edit/model.h"
#include "edit/overlay.h"
#include "edit/pairs_file.h"
#include "edit/view.h"

// Bounds on the work of one input: operations, and drawings of the window.
enum { MAX_OPERATIONS = 64, MAX_DRAWINGS = 4 };

[[noreturn]] static void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_edit: %s\n", what);
    std::abort();
}

// The input after the pairs file, byte by byte; zero once used up.
struct Bytes {
    const uint8_t* data;
    size_t left;
};

static uint8_t next(Bytes* b)
{
    if (b->left == 0)
        return 0;
    --b->left;
    return *b->data++;
}

// A pointer position: over the window as often as a little outside it.
static int next_position(Bytes* b, int extent)
{
    return static_cast<int>(next(b) % (extent + 32)) - 16;
}

// A folder of its own in memory (files there cost no disk), made once.
static std::string scratch(const char* name)
{
    static std::string folder;
    if (folder.empty()) {
        char pattern[] = "/dev/shm/fuzz_edit.XXXXXX";
        char fallback[] = "/tmp/fuzz_edit.XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made)
            made = mkdtemp(fallback);
        if (!made)
            fail("no scratch folder");
        folder = made;
        static const std::string removed = folder;
        std::atexit([] {
            for (const char* f : {"/in.txt", "/saved.txt"})
                unlink((removed + f).c_str());
            rmdir(removed.c_str());
        });
    }
    return folder + "/" + name;
}

static void write_whole(const std::string& path, const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        fail("cannot write the scratch file");
}

static void check_message(const std::string& message, const std::string& name)
{
    if (message.compare(0, name.size() + 1, name + ":") != 0)
        fail("a refusal that does not name the file");
    for (unsigned char c : message)
        if (c < 0x20 || c == 0x7F)
            fail("a refusal with a control character");
}

static bool same_segments(const std::vector<Segment>& a, const std::vector<Segment>& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const Segment& p, const Segment& q) {
               return p.x1 == q.x1 && p.y1 == q.y1 && p.x2 == q.x2 && p.y2 == q.y2;
           });
}

static bool same_comments(const std::vector<SegmentComment>& a, const std::vector<SegmentComment>& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& p, const auto& q) {
               return p.before == q.before && p.text == q.text;
           });
}

// What undo and redo must give back.
struct Snapshot {
    std::vector<Segment> segments;
    std::vector<SegmentComment> comments;
    int selected;
};

static Snapshot snapshot(const EditModel& m)
{
    return {m.segments, m.comments, m.selected};
}

static bool same(const Snapshot& s, const EditModel& m)
{
    return same_segments(s.segments, m.segments) && same_comments(s.comments, m.comments) && s.selected == m.selected;
}

// After a change from `before`: undo gives `before` back, redo the change.
static void check_undo_redo(EditModel* m, const Snapshot& before)
{
    const Snapshot after = snapshot(*m);
    if (!undo(m))
        fail("a change without an undo");
    if (!same(before, *m))
        fail("undo does not restore the state before the change");
    if (!redo(m))
        fail("an undo without a redo");
    if (!same(after, *m))
        fail("redo does not restore the change");
}

// Saves, loads the file again, and compares: the complete pairs, and the
// comments in the order the file holds them, each before the entry that
// follows it there.
static void check_save_and_load(PairsFile* file, const EditModel& m)
{
    // A file loaded with its last segment waiting is not written, forced or
    // not, until that segment has its second.
    const bool holding = file->holding && pair_pending(m);
    const std::string before = file->saved_text;
    const bool written = pairs_file_save(file, m, true);
    if (holding) {
        if (written || file->saved_text != before)
            fail("a file holding a waiting segment was written");
        return;
    }
    if (!written)
        fail(("a forced save failed: " + file->problem).c_str());
    std::vector<Segment> segments;
    std::vector<SegmentComment> comments;
    std::string message;
    if (!load_pairs_file(file->name.c_str(), &segments, &comments, &message))
        fail(("the saved file is refused: " + message).c_str());
    const int complete = 2 * pair_count(m);
    if (!same_segments(segments, std::vector<Segment>(m.segments.begin(), m.segments.begin() + complete)))
        fail("the saved file does not hold the complete pairs");
    std::vector<SegmentComment> expected = m.comments;
    for (SegmentComment& c : expected)
        c.before = std::min(c.before, complete);
    std::stable_sort(expected.begin(), expected.end(),
                     [](const SegmentComment& a, const SegmentComment& b) { return a.before < b.before; });
    if (!same_comments(comments, expected))
        fail("the saved file does not hold the comments where they stood");
}

static void check_hits(const EditModel& m, const EditView& view, int panel, int px, int py)
{
    int segment = -1, end = -1;
    if (hit_end_point(m, view, panel, px, py, &segment, &end)
        && (segment < 0 || segment >= static_cast<int>(m.segments.size()) || (end != 0 && end != 1)
            || !segment_on_panel(m, segment, panel)))
        fail("an end point hit that is not on the panel");
    const int pair = hit_pair(m, view, panel, px, py);
    if (pair < -1 || 2 * pair >= static_cast<int>(m.segments.size()))
        fail("a pair hit that is not in the table");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t text_size = nul ? static_cast<size_t>(nul - data) : size;
    Bytes in = {data + text_size + (nul ? 1 : 0), nul ? size - text_size - 1 : 0};

    const std::string loaded_name = scratch("in.txt");
    write_whole(loaded_name, data, text_size);
    EditModel m;
    std::string message;
    if (!load_pairs_file(loaded_name.c_str(), &m.segments, &m.comments, &message)) {
        check_message(message, loaded_name);
        return 0;
    }

    // The set-up: mode, a small window, the image, and the images' names
    // (any bytes but NUL, as a command line gives them).
    m.mode = next(&in) & 1 ? EDIT_MORPH : EDIT_WARP;
    const int panels = m.mode == EDIT_MORPH ? 2 : 1;
    const int panel_w = 16 + next(&in) % 112, panel_h = 16 + next(&in) % 80;
    const int image_w = 1 + next(&in) * 16 + next(&in) % 16, image_h = 1 + next(&in) * 16 + next(&in) % 16;
    std::string names[2];
    for (std::string& name : names)
        for (int n = next(&in) % 8; n > 0 && in.left > 0; --n)
            name += static_cast<char>(1 + next(&in) % 255);
    EditView view;
    view_set_fit(&view, image_w, image_h, panel_w, panel_h);
    view.zoom = view.fit_zoom;
    const PanelLayout layout = {panels, panel_w, panel_h};
    SDL_Surface* screen = SDL_CreateRGBSurface(SDL_SWSURFACE, panels * panel_w, panel_h + STATUS_H, 32, 0xFF0000,
                                               0x00FF00, 0x0000FF, 0);
    if (!screen)
        fail("no surface");

    PairsFile file;
    file.name = scratch("saved.txt");
    file.heading = pairs_heading(m.mode, names[0], names[1]);
    pairs_file_start(&file, &m);
    check_save_and_load(&file, m);

    int drawings = 0;
    for (int op = 0; op < MAX_OPERATIONS && in.left > 0; ++op) {
        const uint8_t code = next(&in);
        const int panel = next(&in) % panels;
        const int px = next_position(&in, panel_w), py = next_position(&in, panel_h);
        const Snapshot before = snapshot(m);
        switch (code % 10) {
        case 0: {  // draw a segment on the panel that waits for one, as a drag there does
            const int qx = next_position(&in, panel_w), qy = next_position(&in, panel_h);
            const Vec2 a = panel_to_image(view, px, py), b = panel_to_image(view, qx, qy);
            add_segment(&m, {a.x, a.y, b.x, b.y});
            check_undo_redo(&m, before);
            break;
        }
        case 1: {  // drag an end point under the pointer, or any one
            int segment = -1, end = 0;
            if (!hit_end_point(m, view, panel, px, py, &segment, &end) && !m.segments.empty()) {
                segment = next(&in) % static_cast<int>(m.segments.size());
                end = next(&in) & 1;
            }
            if (segment < 0)
                break;
            const int qx = next_position(&in, panel_w), qy = next_position(&in, panel_h);
            drag_begin(&m, segment, end);
            const Vec2 to = panel_to_image(view, qx, qy);
            drag_move(&m, to.x, to.y);
            if (drag_end(&m))
                check_undo_redo(&m, before);
            else if (!same_segments(before.segments, m.segments))
                fail("a drag that moved nothing changed the table");
            break;
        }
        case 2:  // a click: selects the pair under the pointer, or none
            select_pair(&m, hit_pair(m, view, panel, px, py));
            break;
        case 3:
            if (remove_selected_pair(&m))
                check_undo_redo(&m, before);
            else if (!same(before, m))
                fail("a removal of nothing changed the state");
            break;
        case 4:
            undo(&m);
            break;
        case 5:
            redo(&m);
            break;
        case 6: {  // a zoom press, small or large (Ctrl); now and then Z's fit
            const uint8_t how = next(&in);
            if (how >= 0xF0)
                view_fit(&view, image_w, image_h, panel_w, panel_h);
            else
                view_zoom_about(&view, next_zoom(view, how & 1 ? 1 : -1, how & 2), px, py);
            break;
        }
        case 7:  // pan by the pointer's offset from the panel's centre
            view_pan(&view, px - panel_w / 2, py - panel_h / 2);
            break;
        case 8:
            check_hits(m, view, panel, px, py);
            break;
        case 9:
            check_save_and_load(&file, m);
            break;
        }
        if (code >= 0xF0 && drawings < MAX_DRAWINGS) {
            ++drawings;
            const Segment drawing = {panel_to_image(view, px, py).x, panel_to_image(view, px, py).y,
                                     m.segments.empty() ? 0 : m.segments.back().x2,
                                     m.segments.empty() ? 0 : m.segments.back().y2};
            draw_overlays(screen, m, view, layout, &drawing, waiting_panel(m));
        }
    }
    draw_overlays(screen, m, view, layout, nullptr, 0);
    check_save_and_load(&file, m);
    SDL_FreeSurface(screen);
    return 0;
}
