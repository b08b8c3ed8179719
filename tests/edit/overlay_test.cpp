// The editor's overlays: where segments with ordinary and with extreme
// finite coordinates land in window pixels, what is drawn of them (lines
// outlined, within their panel), and where labels go.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "edit/overlay.h"
#include "tests/support/test_support.h"

namespace {

struct ScreenCase {
    const char* what;
    double zoom;
    int panel;
    Segment s;
    bool drawn, cut, start_shown, label_shown;
    // Not cut: the ends. Cut: the least x the part covers, and the line's y at x 50.
    int ax, ay, bx, by;
};

// Two panels of 100 x 80 pixels, the view's pan at the origin.
TEST(EditOverlay, SegmentsLandOnTheFloorOfTheirPanelCoordinatesOrAreCutToThePanel)
{
    const ScreenCase cases[] = {
        {"ordinary, second panel", 2, 1, {20.7, 30.2, 12, 5}, true, false, true, true, 141, 60, 124, 10},
        {"subnormal ends", 1, 0, {1e-300, -4.9e-324, 0, 0}, true, false, true, true, 0, -1, 0, 0},
        {"within the limit, far off", 16, 0, {4000, 20, 4010, 20}, true, false, true, true, 64000, 320, 64160, 320},
        {"1e300 through the panel", 1, 0, {1e300, 1e300, -1e300, -1e300}, true, true, false, true, 0, 50, 0, 0},
        {"beyond int, y 0 to 5", 1, 0, {2147483648.0, 0, -2147483649.0, 5}, true, true, false, true, 0, 2, 0, 0},
        {"1e300 from the panel", 1, 0, {20, 15, 1e300, 15}, true, true, true, false, 20, 15, 0, 0},
        {"1e308 at zoom 16", 16, 0, {1e308, 0, 1e308, 1}, false, false, false, false, 0, 0, 0, 0},
        {"3.4e38 off the panel", 2, 0, {3.4e38, 3.4e38, 3.5e38, 3.5e38}, false, false, false, false, 0, 0, 0, 0},
        {"largest doubles across", 4, 0, {-1.7e308, -1.7e308, 1.7e308, 1.7e308}, true, true, false, true, 0, 50, 0, 0},
    };
    const PanelLayout layout = {2, 100, 80};
    for (const ScreenCase& c : cases) {
        SCOPED_TRACE(c.what);
        EditView view;
        view.zoom = c.zoom;
        ScreenSegment s;
        ASSERT_EQ(screen_segment(view, layout, c.panel, {c.s.x1, c.s.y1}, {c.s.x2, c.s.y2}, &s), c.drawn);
        if (!c.drawn)
            continue;
        EXPECT_EQ(s.start_shown, c.start_shown);
        EXPECT_EQ(s.label_shown, c.label_shown);
        if (!c.cut) {
            EXPECT_EQ(s.ax, c.ax);
            EXPECT_EQ(s.ay, c.ay);
            EXPECT_EQ(s.bx, c.bx);
            EXPECT_EQ(s.by, c.by);
            EXPECT_EQ(s.mid_x, (c.ax + c.bx) / 2);
            continue;
        }
        // The part drawn crosses the panel, ending within a few hundred
        // pixels of it, on the line.
        const int left = std::min(s.ax, s.bx), right = std::max(s.ax, s.bx);
        EXPECT_LE(left, c.ax);
        EXPECT_GE(right, 99);
        EXPECT_GE(left, -300);
        EXPECT_LE(right, 400);
        ASSERT_NE(s.ax, s.bx);
        EXPECT_NEAR(s.ay + (s.by - s.ay) * (50.0 - s.ax) / (s.bx - s.ax), c.ay, 1.5);
    }
}

// A mark far right of a 100-pixel window once wrapped round SDL's 16-bit
// rectangle onto its left edge; the 1e300 pair is drawn where it crosses.
TEST(EditOverlay, FarMarksDrawNothingAndAHugePairIsDrawnWhereItCrosses)
{
    SurfacePtr screen(make_surface(100, 80, 32));
    SDL_FillRect(screen.get(), nullptr, 0);
    EditModel m;
    m.segments = {{65546, 20, 65600, 20}, {65546, 40, 65600, 40}};
    draw_overlays(screen.get(), m, EditView(), {1, 100, 80}, nullptr, 0);
    SurfacePtr blank(make_surface(100, 80, 32));
    SDL_FillRect(blank.get(), nullptr, 0);
    EXPECT_EQ(compare_rgb(screen.get(), blank.get()), "");

    m.segments = {{1e300, 1e300, -1e300, -1e300}, {1, 1, 5, 5}};
    draw_overlays(screen.get(), m, EditView(), {1, 100, 80}, nullptr, 0);
    // On the diagonal, to the pixel that rounding of the cut ends allows.
    int red = 0;
    for (int y = 59; y <= 61; ++y) {
        Uint8 r, g, b;
        get_pixel(screen.get(), 60, y, &r, &g, &b);
        red += r == 255 && g == 64 && b == 64;
    }
    EXPECT_GE(red, 1);
}

struct LabelCase {
    const char* what;
    int n;
    int anchors[6][2];
    int width;
    bool right_below;  // each at its own anchor's first place
};

// The first label goes right below its anchor; the others where they cover
// none placed before them while there is room.
TEST(EditOverlay, LabelsOfNeighboursDoNotOverlap)
{
    const LabelCase cases[] = {
        {"a pinned pair: 3A and 3B on one middle", 2, {{50, 50}, {50, 50}}, 13, false},
        {"two pairs' middles 3 pixels apart", 4, {{50, 50}, {53, 51}, {50, 52}, {52, 50}}, 13, false},
        {"far apart", 2, {{10, 10}, {80, 60}}, 19, true},
        {"six on one point", 6, {{40, 40}, {40, 40}, {40, 40}, {40, 40}, {40, 40}, {40, 40}}, 25, false},
        {"left of and above the window", 3, {{-40, -20}, {-38, -21}, {-40, -20}}, 13, false},
        {"across the squares the search keeps", 4, {{27, 30}, {30, 28}, {33, 26}, {29, 35}}, 31, false},
    };
    for (const LabelCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<LabelPlace> labels(c.n);
        for (int i = 0; i < c.n; ++i) {
            labels[i].anchor_x = c.anchors[i][0];
            labels[i].anchor_y = c.anchors[i][1];
            labels[i].width = c.width;
            labels[i].height = 8;
        }
        place_labels(labels.data(), c.n);
        for (int i = 0; i < c.n; ++i) {
            if (i == 0 || c.right_below) {
                EXPECT_EQ(labels[i].x, c.anchors[i][0] + 5);
                EXPECT_EQ(labels[i].y, c.anchors[i][1] + 4);
            }
            // Beside its anchor, within three lines of it.
            EXPECT_LE(std::abs(labels[i].x + c.width / 2 - c.anchors[i][0]), c.width / 2 + 6) << i;
            EXPECT_LE(std::abs(labels[i].y + 4 - c.anchors[i][1]), 3 * 9 + 4) << i;
            for (int j = 0; j < i; ++j) {
                const bool apart = labels[i].x + c.width <= labels[j].x || labels[j].x + c.width <= labels[i].x
                                || labels[i].y + 8 <= labels[j].y || labels[j].y + 8 <= labels[i].y;
                EXPECT_TRUE(apart) << "labels " << j << " and " << i;
            }
        }
    }
}

struct OutlineCase {
    bool selected;
    int line_half, outline_half;  // rows either side of the line in its colour, then in black
};

// Pair 1's red line on a red disc: a dark outline either side, and nothing
// drawn on the second panel by a segment running off the first.
TEST(EditOverlay, LinesHaveADarkOutlineAndKeepToTheirPanel)
{
    const OutlineCase cases[] = {{false, 0, 1}, {true, 1, 2}};
    for (const OutlineCase& c : cases) {
        SCOPED_TRACE(c.selected ? "selected" : "not selected");
        SurfacePtr screen(make_surface(200, 80, 32));
        SDL_FillRect(screen.get(), nullptr, SDL_MapRGB(screen->format, 230, 40, 40));
        SurfacePtr before(make_surface(200, 80, 32));
        SDL_FillRect(before.get(), nullptr, SDL_MapRGB(before->format, 230, 40, 40));
        EditModel m;
        m.segments = {{10, 40, 160, 40}, {10, 60, 20, 60}};
        m.selected = c.selected ? 0 : -1;
        draw_overlays(screen.get(), m, EditView(), {2, 100, 80}, nullptr, 0);
        for (int dy = -c.outline_half - 1; dy <= c.outline_half + 1; ++dy) {
            Uint8 r, g, b;
            get_pixel(screen.get(), 50, 40 + dy, &r, &g, &b);
            const int want = std::abs(dy) <= c.line_half ? 0 : std::abs(dy) <= c.outline_half ? 1 : 2;
            const Uint8 colours[3][3] = {{255, 64, 64}, {0, 0, 0}, {230, 40, 40}};
            EXPECT_EQ(r, colours[want][0]) << "row " << 40 + dy;
            EXPECT_EQ(g, colours[want][1]) << "row " << 40 + dy;
            EXPECT_EQ(b, colours[want][2]) << "row " << 40 + dy;
        }
        SDL_Rect second = {100, 0, 100, 80};
        SurfacePtr panel(make_surface(100, 80, 32)), panel_before(make_surface(100, 80, 32));
        SDL_BlitSurface(screen.get(), &second, panel.get(), nullptr);
        SDL_BlitSurface(before.get(), &second, panel_before.get(), nullptr);
        EXPECT_EQ(compare_rgb(panel.get(), panel_before.get()), "");
    }
}

}  // namespace
