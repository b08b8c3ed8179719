// The editor's overlays: where segments with ordinary and with extreme
// finite coordinates land in window pixels, and what is drawn of them.
#include <gtest/gtest.h>

#include <algorithm>

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
            EXPECT_EQ(s.label_x, (c.ax + c.bx) / 2 + 5);
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

}  // namespace
