#include "edit/overlay.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdl/draw.h"
#include "sdl/text.h"
#include "warp/fold_map.h"

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
    const int x0 = panel * (layout.width + layout.gap);
    ScreenSegment s;
    if (screen_point(view, x0, a, &s.ax, &s.ay) && screen_point(view, x0, b, &s.bx, &s.by)) {
        s.start_shown = s.label_shown = true;
        s.mid_x = (s.ax + s.bx) / 2;
        s.mid_y = (s.ay + s.by) / 2;
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
    s.label_shown = screen_point(view, x0, middle, &s.mid_x, &s.mid_y);
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

// Pixels of overlap of two boxes.
static long long overlap(const LabelPlace& a, const LabelPlace& b)
{
    const long long w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const long long h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    return w > 0 && h > 0 ? w * h : 0;
}

// The squares of side LABEL_CELL that a label's box touches, by row and
// column (floor division: boxes may lie left of or above the window).
enum { LABEL_CELL = 32 };

static int cell_of(int v)
{
    return v >= 0 ? v / LABEL_CELL : -((-v + LABEL_CELL - 1) / LABEL_CELL);
}

template <class Visit>
static void cells_of(const LabelPlace& l, Visit visit)
{
    for (int row = cell_of(l.y); row <= cell_of(l.y + l.height - 1); ++row)
        for (int column = cell_of(l.x); column <= cell_of(l.x + l.width - 1); ++column)
            visit(static_cast<long long>(row) * (1LL << 32) + static_cast<uint32_t>(column));
}

void place_labels(LabelPlace* labels, int n)
{
    // From the anchor to the label's near corner, and between rings.
    enum { SIDE = 5, BELOW = 4, ABOVE = 4, RINGS = 3 };
    // The labels placed so far, by the cells their boxes touch, so that a
    // place is compared with its neighbours only; `seen` counts each once.
    std::unordered_map<long long, std::vector<int>> placed;
    std::vector<int> seen(n, -1);
    int trial = 0;
    for (int i = 0; i < n; ++i) {
        LabelPlace& l = labels[i];
        long long least = -1;
        int best_x = 0, best_y = 0;
        for (int ring = 0; ring < RINGS && least != 0; ++ring) {
            const int out = ring * (l.height + 1);
            const int xs[2] = {l.anchor_x + SIDE, l.anchor_x - SIDE - l.width};
            const int ys[2] = {l.anchor_y + BELOW + out, l.anchor_y - ABOVE - l.height - out};
            for (int place = 0; place < 4 && least != 0; ++place, ++trial) {
                l.x = xs[place / 2];
                l.y = ys[place % 2];
                long long covered = 0;
                cells_of(l, [&](long long cell) {
                    const auto found = placed.find(cell);
                    if (found == placed.end())
                        return;
                    for (int j : found->second)
                        if (seen[j] != trial) {
                            seen[j] = trial;
                            covered += overlap(l, labels[j]);
                        }
                });
                if (least < 0 || covered < least) {
                    least = covered;
                    best_x = l.x;
                    best_y = l.y;
                }
            }
        }
        l.x = best_x;
        l.y = best_y;
        cells_of(l, [&](long long cell) { placed[cell].push_back(i); });
    }
}

// Text with a dark shadow, readable over any image.
static void shadow_text(SDL_Surface* s, const std::string& text, int x, int y, const Uint8* colour)
{
    draw_text(s, text.c_str(), x + 1, y + 1, 1, 0, 0, 0);
    draw_text(s, text.c_str(), x, y, 1, colour[0], colour[1], colour[2]);
}

namespace {

// A segment as it is drawn on a panel.
struct Drawn {
    ScreenSegment s;
    const Uint8* colour;
    int radius;  // the line's half-width: its pixels and those within this many steps across and along
    std::string label;
};

// The segment drawn once for each offset (dx, dy) with |dx| + |dy| <= radius.
void draw_widened(SDL_Surface* screen, const ScreenSegment& s, int radius, const Uint8* colour)
{
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = std::abs(dy) - radius; dx <= radius - std::abs(dy); ++dx)
            draw_segment(screen, s.ax + dx, s.ay + dy, s.bx + dx, s.by + dy, colour[0], colour[1], colour[2], false);
}

void draw_panel_overlays(SDL_Surface* screen, const std::vector<Drawn>& drawn)
{
    for (const Drawn& d : drawn)
        draw_widened(screen, d.s, d.radius + 1, OUTLINE_COLOUR);
    for (const Drawn& d : drawn)
        draw_widened(screen, d.s, d.radius, d.colour);
    // The start: a filled square, since the direction matters to the warp.
    for (const Drawn& d : drawn) {
        if (!d.s.start_shown)
            continue;
        fill_rect(screen, d.s.ax - 3, d.s.ay - 3, d.s.ax + 4, d.s.ay + 4, 0, 0, 0);
        fill_rect(screen, d.s.ax - 2, d.s.ay - 2, d.s.ax + 3, d.s.ay + 3, d.colour[0], d.colour[1], d.colour[2]);
    }
    std::vector<LabelPlace> places;
    std::vector<const Drawn*> labelled;
    for (const Drawn& d : drawn) {
        if (d.label.empty() || !d.s.label_shown)
            continue;
        LabelPlace place;
        place.anchor_x = d.s.mid_x;
        place.anchor_y = d.s.mid_y;
        place.width = text_width(d.label.c_str(), 1) + 1;
        place.height = GLYPH_H + 1;
        places.push_back(place);
        labelled.push_back(&d);
    }
    place_labels(places.data(), static_cast<int>(places.size()));
    for (size_t i = 0; i < places.size(); ++i)
        shadow_text(screen, labelled[i]->label, places[i].x, places[i].y, labelled[i]->colour);
}

}  // namespace

void draw_overlays(SDL_Surface* screen, const EditModel& model, const EditView& view, const PanelLayout& layout,
                   const Segment* drawing, int drawing_panel)
{
    static const Uint8 white[3] = {255, 255, 255};
    std::vector<Drawn> drawn;
    for (int panel = 0; panel < layout.count; ++panel) {
        SDL_Rect clip = {static_cast<Sint16>(panel * (layout.width + layout.gap)), 0, static_cast<Uint16>(layout.width),
                         static_cast<Uint16>(layout.height)};
        SDL_SetClipRect(screen, &clip);
        drawn.clear();
        auto add = [&](const Segment& segment, const Uint8* colour, int radius, std::string label) {
            ScreenSegment s;
            if (screen_segment(view, layout, panel, {segment.x1, segment.y1}, {segment.x2, segment.y2}, &s))
                drawn.push_back({s, colour, radius, std::move(label)});
        };
        for (int i = 0; i < static_cast<int>(model.segments.size()); ++i) {
            if (!segment_on_panel(model, i, panel))
                continue;
            const int pair = i / 2;
            add(model.segments[i], PAIR_COLOURS[pair % PAIR_COLOUR_COUNT], pair == model.selected ? 1 : 0,
                std::to_string(pair + 1) + (model.mode == EDIT_WARP ? (i % 2 ? "B" : "A") : ""));
        }
        if (drawing && drawing_panel == panel)
            add(*drawing, white, 0, "");
        draw_panel_overlays(screen, drawn);
    }
    SDL_SetClipRect(screen, nullptr);
}
