#include "edit/overlay.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "sdl/draw.h"
#include "sdl/text.h"

static const Uint8 PAIR_COLOURS[][3] = {
    {255, 64, 64}, {64, 224, 64}, {80, 160, 255}, {255, 224, 0},
    {255, 96, 255}, {0, 240, 240}, {255, 160, 32}, {200, 200, 255},
};
enum { PAIR_COLOUR_COUNT = sizeof PAIR_COLOURS / sizeof PAIR_COLOURS[0] };

// A cut segment keeps its parts whose bounding box comes within NEAR of the
// panel, and a part is taken as it is once both its ends lie within KEEP
// pixels of the panel; KEEP - NEAR bounds how finely the halving goes, and
// the drawing past the panel's edges. Each halving halves a part's extent,
// so MAX_HALVINGS takes the largest doubles (2^1024 times the zoom) below it.
enum { NEAR = 8, KEEP = 264, MAX_HALVINGS = 1100 };

// The window pixel of image point p on the panel whose left edge is x0: the
// floor of its panel coordinate, when within SCREEN_LIMIT. The test is made
// on the doubles, so that nothing beyond an int is converted.
static bool screen_point(const EditView& view, int x0, Vec2 p, int* x, int* y)
{
    const Vec2 q = image_to_panel(view, p.x, p.y);
    const double sx = std::floor(q.x) + x0, sy = std::floor(q.y);
    if (!(std::fabs(sx) <= SCREEN_LIMIT && std::fabs(sy) <= SCREEN_LIMIT))
        return false;
    *x = static_cast<int>(sx);
    *y = static_cast<int>(sy);
    return true;
}

namespace {

// A box in window pixels, and the halving of a segment against it.
struct Box {
    double left, top, right, bottom;
};

struct Cut {
    const EditView* view;
    int x0;
    Box near, keep;
    bool found = false;
    Vec2 first, last;  // the kept parts run from first to last
};

bool within(const Box& box, Vec2 p)
{
    return p.x >= box.left && p.x <= box.right && p.y >= box.top && p.y <= box.bottom;
}

// Keeps the parts of p-q near the panel, in order along the segment. Panel
// coordinates may be infinite here (1e308 at a zoom of 16); they are only
// compared.
void cut_part(Cut* c, Vec2 p, Vec2 q, int halvings)
{
    Vec2 sp = image_to_panel(*c->view, p.x, p.y), sq = image_to_panel(*c->view, q.x, q.y);
    sp.x += c->x0;
    sq.x += c->x0;
    if (std::max(sp.x, sq.x) < c->near.left || std::min(sp.x, sq.x) > c->near.right
        || std::max(sp.y, sq.y) < c->near.top || std::min(sp.y, sq.y) > c->near.bottom)
        return;
    if (within(c->keep, sp) && within(c->keep, sq)) {
        if (!c->found)
            c->first = p;
        c->found = true;
        c->last = q;
        return;
    }
    if (halvings == MAX_HALVINGS)
        return;
    // Halving each coordinate first keeps the sum finite.
    const Vec2 m = {p.x / 2 + q.x / 2, p.y / 2 + q.y / 2};
    cut_part(c, p, m, halvings + 1);
    cut_part(c, m, q, halvings + 1);
}

}  // namespace

bool screen_segment(const EditView& view, const PanelLayout& layout, int panel, Vec2 a, Vec2 b, ScreenSegment* out)
{
    const int x0 = panel * layout.width;
    ScreenSegment s;
    if (screen_point(view, x0, a, &s.ax, &s.ay) && screen_point(view, x0, b, &s.bx, &s.by)) {
        s.start_shown = s.label_shown = true;
        s.label_x = (s.ax + s.bx) / 2 + 5;
        s.label_y = (s.ay + s.by) / 2 + 4;
        *out = s;
        return true;
    }
    Cut c;
    c.view = &view;
    c.x0 = x0;
    c.near = {x0 - 1.0 * NEAR, -1.0 * NEAR, x0 + layout.width + 1.0 * NEAR, layout.height + 1.0 * NEAR};
    c.keep = {x0 - 1.0 * KEEP, -1.0 * KEEP, x0 + layout.width + 1.0 * KEEP, layout.height + 1.0 * KEEP};
    cut_part(&c, a, b, 0);
    // The kept ends lie within KEEP of the panel: well within SCREEN_LIMIT.
    if (!c.found || !screen_point(view, x0, c.first, &s.ax, &s.ay) || !screen_point(view, x0, c.last, &s.bx, &s.by))
        return false;
    s.start_shown = c.first.x == a.x && c.first.y == a.y;
    const Vec2 middle = {a.x / 2 + b.x / 2, a.y / 2 + b.y / 2};
    int mx, my;
    if (screen_point(view, x0, middle, &mx, &my)) {
        s.label_shown = true;
        s.label_x = mx + 5;
        s.label_y = my + 4;
    }
    *out = s;
    return true;
}

void fill_rect(SDL_Surface* s, int x0, int y0, int x1, int y1, Uint8 r, Uint8 g, Uint8 b)
{
    const int w = std::min(s->w, 32767), h = std::min(s->h, 32767);
    x0 = std::clamp(x0, 0, w);
    x1 = std::clamp(x1, x0, w);
    y0 = std::clamp(y0, 0, h);
    y1 = std::clamp(y1, y0, h);
    SDL_Rect rect = {static_cast<Sint16>(x0), static_cast<Sint16>(y0), static_cast<Uint16>(x1 - x0),
                     static_cast<Uint16>(y1 - y0)};
    SDL_FillRect(s, &rect, SDL_MapRGB(s->format, r, g, b));
}

// Text with a dark shadow, readable over any image.
static void shadow_text(SDL_Surface* s, const std::string& text, int x, int y, const Uint8* colour)
{
    draw_text(s, text.c_str(), x + 1, y + 1, 1, 0, 0, 0);
    draw_text(s, text.c_str(), x, y, 1, colour[0], colour[1], colour[2]);
}

static void draw_one_segment(SDL_Surface* screen, const EditView& view, const PanelLayout& layout, int panel,
                             const Segment& segment, const Uint8* colour, const char* label, bool thick)
{
    ScreenSegment s;
    if (!screen_segment(view, layout, panel, {segment.x1, segment.y1}, {segment.x2, segment.y2}, &s))
        return;
    for (int d = thick ? -1 : 0; d <= (thick ? 1 : 0); ++d) {
        draw_segment(screen, s.ax, s.ay + d, s.bx, s.by + d, colour[0], colour[1], colour[2], false);
        draw_segment(screen, s.ax + d, s.ay, s.bx + d, s.by, colour[0], colour[1], colour[2], false);
    }
    // The start: a filled square, since the direction matters to the warp.
    if (s.start_shown) {
        fill_rect(screen, s.ax - 3, s.ay - 3, s.ax + 4, s.ay + 4, 0, 0, 0);
        fill_rect(screen, s.ax - 2, s.ay - 2, s.ax + 3, s.ay + 3, colour[0], colour[1], colour[2]);
    }
    if (label && s.label_shown)
        shadow_text(screen, label, s.label_x, s.label_y, colour);
}

void draw_overlays(SDL_Surface* screen, const EditModel& model, const EditView& view, const PanelLayout& layout,
                   const Segment* drawing, int drawing_panel)
{
    for (int panel = 0; panel < layout.count; ++panel) {
        SDL_Rect clip = {static_cast<Sint16>(panel * layout.width), 0, static_cast<Uint16>(layout.width),
                         static_cast<Uint16>(layout.height)};
        SDL_SetClipRect(screen, &clip);
        for (int i = 0; i < static_cast<int>(model.segments.size()); ++i) {
            if (!segment_on_panel(model, i, panel))
                continue;
            const int pair = i / 2;
            const std::string label = std::to_string(pair + 1) + (model.mode == EDIT_WARP ? (i % 2 ? "B" : "A") : "");
            draw_one_segment(screen, view, layout, panel, model.segments[i],
                             PAIR_COLOURS[pair % PAIR_COLOUR_COUNT], label.c_str(), pair == model.selected);
        }
        if (drawing && drawing_panel == panel) {
            static const Uint8 white[3] = {255, 255, 255};
            draw_one_segment(screen, view, layout, panel, *drawing, white, nullptr, false);
        }
    }
    SDL_SetClipRect(screen, nullptr);
}
