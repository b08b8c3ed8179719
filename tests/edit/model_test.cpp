// The editor's parts driven directly: the view (hit tests at several zooms,
// coordinate rounding, zoom steps), the pairs and their undo and redo over
// every kind of change, what the pairs file holds, and the window's size on
// a screen.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "edit/editor.h"
#include "edit/model.h"
#include "edit/pairs_file.h"
#include "edit/preview.h"
#include "edit/view.h"
#include "tests/support/test_support.h"

namespace {

struct HitCase {
    double zoom, pan_x, pan_y;
    int px, py;
    bool hit;
};

// One segment from image (100, 50) to (140, 50); the pointer before its start.
TEST(EditModel, EndPointHitWithinSixScreenPixelsAtEveryZoom)
{
    const HitCase cases[] = {
        {1, 0, 0, 94, 50, true},    {1, 0, 0, 93, 50, false},   {2, 0, 0, 195, 100, true},
        {2, 0, 0, 193, 100, false}, {0.5, 0, 0, 45, 25, true},  {0.5, 0, 0, 43, 25, false},
        {4, 90, 40, 36, 36, true},  {4, 90, 40, 35, 35, false}, {0.25, 0, 0, 25, 18, true},
    };
    for (const HitCase& c : cases) {
        EditModel m;
        EditView v;
        v.zoom = c.zoom;
        v.pan_x = c.pan_x;
        v.pan_y = c.pan_y;
        m.segments = {{100, 50, 140, 50}};
        int segment = -1, end = -1;
        EXPECT_EQ(hit_end_point(m, v, 0, c.px, c.py, &segment, &end), c.hit)
            << "zoom " << c.zoom << " at " << c.px << "," << c.py;
        if (c.hit) {
            EXPECT_EQ(end, 0);
        }
        EXPECT_EQ(hit_pair(m, v, 0, c.px, c.py), c.hit ? 0 : -1) << "zoom " << c.zoom;
    }
}

TEST(EditModel, MorphPanelsHitOnlyTheirOwnSegments)
{
    EditModel m;
    const EditView v;
    m.mode = EDIT_MORPH;
    m.segments = {{10, 10, 50, 10}, {10, 10, 50, 30}, {100, 100, 120, 100}};
    int segment, end;
    ASSERT_TRUE(hit_end_point(m, v, 0, 50, 12, &segment, &end));
    EXPECT_EQ(segment, 0);
    EXPECT_EQ(end, 1);
    ASSERT_TRUE(hit_end_point(m, v, 1, 50, 28, &segment, &end));
    EXPECT_EQ(segment, 1);
    EXPECT_FALSE(hit_end_point(m, v, 1, 100, 100, &segment, &end));
    EXPECT_EQ(hit_pair(m, v, 1, 30, 21), 0);
    EXPECT_EQ(waiting_panel(m), 1);
    m.segments.pop_back();
    EXPECT_EQ(waiting_panel(m), 0);
}

struct RoundCase {
    double zoom, pan_x;
    int px;
    double expected;
};

TEST(EditModel, CoordinatesAreWholeAtFullSizeAndHundredthsOtherwise)
{
    const RoundCase cases[] = {
        {1, 10, 5, 15}, {1, 0, 639, 639}, {2, 0, 5, 2.5}, {3, 0, 10, 3.33},
        {0.3, 0, 10, 33.33}, {1.5, 7.25, 1, 7.92}, {0.75, 0, 2, 2.67},
    };
    for (const RoundCase& c : cases) {
        EditView v;
        v.zoom = c.zoom;
        v.pan_x = v.pan_y = c.pan_x;
        Vec2 p = panel_to_image(v, c.px, c.px);
        EXPECT_EQ(p.x, c.expected) << "zoom " << c.zoom << " pixel " << c.px;
        EXPECT_EQ(p.y, c.expected);
        EXPECT_EQ(std::strtod(format_coordinate(p.x).c_str(), nullptr), p.x);
    }
    const std::pair<double, const char*> written[] = {
        {100, "100"}, {3.33, "3.33"}, {-0.5, "-0.5"}, {0.1, "0.1"}, {-0.0, "0"}, {1e20, "1e+20"},
    };
    for (const auto& [value, text] : written)
        EXPECT_EQ(format_coordinate(value), text);
}

TEST(EditModel, ZoomingToFullSizeKeepsThePointUnderThePointerAndAWholePan)
{
    EditView v;
    v.zoom = 0.5;
    v.pan_x = 3;
    view_zoom_about(&v, 2, 100, 40);  // image point (203, 83) stays under (100, 40)
    EXPECT_DOUBLE_EQ(v.pan_x + 100 / v.zoom, 203);
    EXPECT_DOUBLE_EQ(v.pan_y + 40 / v.zoom, 80);
    v.pan_x = 10.3;
    view_zoom_about(&v, 1, 7, 7);
    EXPECT_EQ(v.pan_x, std::round(v.pan_x));
    EXPECT_EQ(v.pan_y, std::round(v.pan_y));
    v.fit_zoom = 0.4;
    v.zoom = 0.5;
    EXPECT_EQ(next_zoom(v, -1), 0.4);
    EXPECT_EQ(next_zoom(v, 1), 2.0 / 3);
    v.zoom = 2.0 / 3;
    EXPECT_EQ(next_zoom(v, 1), 1.0);
}

struct StepCase {
    double zoom, fit;
    int direction;
    bool large;
    double expected;
};

TEST(EditView, AZoomPressMovesAtLeastAQuarterAndCtrlDoubles)
{
    const StepCase cases[] = {
        {1, 1, 1, false, 1.5},           {1, 0.98, -1, false, 2.0 / 3}, {0.98, 0.98, 1, false, 1.5},
        {1, 0.7, -1, false, 0.7},        {1, 1, 1, true, 2},            {16, 1, 1, true, MAX_ZOOM},
        {MAX_ZOOM, 1, 1, false, MAX_ZOOM}, {30, 30, 1, false, MAX_ZOOM}, {0.02, 0.02, -1, false, 0.02},
        {0.02, 0.02, 1, false, MIN_ZOOM}, {18.375, 18.375, -1, true, 8},
    };
    for (const StepCase& c : cases) {
        EditView v;
        v.zoom = c.zoom;
        v.fit_zoom = c.fit;
        EXPECT_DOUBLE_EQ(next_zoom(v, c.direction, c.large), c.expected)
            << c.zoom << (c.direction > 0 ? " up" : " down") << (c.large ? " large" : "") << ", fit " << c.fit;
    }
    // Whatever the fit, every press but one onto the last step moves by
    // ZOOM_STEP or more, and from 100 % four large presses reach 1600 %.
    for (double fit : {0.03, 0.37, 0.98, 1.0, 1.1, 7.3, MAX_ZOOM}) {
        for (int direction : {1, -1}) {
            EditView v;
            v.fit_zoom = fit;
            for (int press = 0; press < 40; ++press) {
                const double next = next_zoom(v, direction);
                const double ratio = direction > 0 ? next / v.zoom : v.zoom / next;
                if (next == v.zoom)
                    break;
                if (next != MAX_ZOOM && next != MIN_ZOOM) {
                    EXPECT_GE(ratio, ZOOM_STEP * (1 - 1e-9)) << "fit " << fit << " from " << v.zoom;
                }
                v.zoom = next;
            }
            EXPECT_EQ(v.zoom, direction > 0 ? MAX_ZOOM : std::min(MIN_ZOOM, fit));
        }
        EditView v;
        v.fit_zoom = fit;
        for (int press = 0; press < 4; ++press)
            v.zoom = next_zoom(v, 1, true);
        EXPECT_GE(v.zoom, 16) << "fit " << fit;
    }
}

struct FitCase {
    int w, h, panel_w, panel_h;
    double zoom;  // 0: the fit
    double expected_zoom;
    bool centred_x, centred_y;
};

// The image's centre lands on the panel's centre along each axis on which
// it fits, to half a pixel at 100 % where the pan stays whole.
TEST(EditView, TheFitFillsThePanelBothWaysAndCentresTheImage)
{
    const FitCase cases[] = {
        {32, 32, 600, 588, 0, 18.375, true, true},     {3000, 2000, 1024, 708, 0, 0.3413, true, true},
        {10, 10, 1000, 1000, 0, MAX_ZOOM, true, true}, {640, 480, 640, 480, 0, 1, true, true},
        {32, 32, 401, 300, 1, 1, true, true},          {3000, 200, 1024, 708, 1, 1, false, true},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " in " + std::to_string(c.panel_w) + "x"
                     + std::to_string(c.panel_h));
        EditView v;
        v.pan_x = v.pan_y = 7;
        if (c.zoom == 0) {
            view_fit(&v, c.w, c.h, c.panel_w, c.panel_h);
            EXPECT_TRUE(v.fitted);
        } else {
            v.zoom = c.zoom;
            view_centre(&v, c.w, c.h, c.panel_w, c.panel_h);
        }
        EXPECT_NEAR(v.zoom, c.expected_zoom, 5e-5);
        const Vec2 centre = image_to_panel(v, c.w / 2.0, c.h / 2.0);
        const double slack = v.zoom == 1 ? 0.5 : 1e-9;
        if (c.centred_x) {
            EXPECT_NEAR(centre.x, c.panel_w / 2.0, slack);
        } else {
            EXPECT_EQ(v.pan_x, 7);
        }
        if (c.centred_y) {
            EXPECT_NEAR(centre.y, c.panel_h / 2.0, slack);
        }
        if (v.zoom == 1) {
            EXPECT_EQ(v.pan_x, std::round(v.pan_x));
            EXPECT_EQ(v.pan_y, std::round(v.pan_y));
        }
    }
    // A zoom or a pan leaves the fit.
    EditView v;
    view_fit(&v, 32, 32, 600, 588);
    view_pan(&v, 1, 0);
    EXPECT_FALSE(v.fitted);
}

// Every kind of change, then undone one by one back to the start and
// redone to the end: each step gives the state recorded before it.
TEST(EditModel, UndoAndRedoEveryKindOfChange)
{
    EditModel m;
    std::vector<std::vector<Segment>> states = {m.segments};
    auto keep = [&] { states.push_back(m.segments); };
    add_segment(&m, {1, 1, 5, 5});
    keep();
    add_segment(&m, {2, 2, 6, 6});
    keep();
    add_segment(&m, {10, 10, 20, 20});
    keep();
    add_segment(&m, {11, 11, 21, 21});
    keep();
    drag_begin(&m, 2, 1);
    drag_move(&m, 30, 31);
    drag_move(&m, 32, 33);
    ASSERT_TRUE(drag_end(&m));
    keep();
    select_pair(&m, 0);
    ASSERT_TRUE(remove_selected_pair(&m));
    keep();
    ASSERT_EQ(m.segments.size(), 2u);
    EXPECT_EQ(m.segments[0].x2, 32);
    EXPECT_EQ(m.segments[0].y2, 33);
    add_segment(&m, {7, 7, 8, 8});  // a first segment still waiting
    keep();

    auto same = [](const std::vector<Segment>& a, const std::vector<Segment>& b) {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i].x1 != b[i].x1 || a[i].y1 != b[i].y1 || a[i].x2 != b[i].x2 || a[i].y2 != b[i].y2)
                return false;
        return true;
    };
    for (size_t i = states.size() - 1; i > 0; --i) {
        ASSERT_TRUE(undo(&m));
        EXPECT_TRUE(same(m.segments, states[i - 1])) << "undo to state " << i - 1;
    }
    EXPECT_FALSE(undo(&m));
    for (size_t i = 1; i < states.size(); ++i) {
        ASSERT_TRUE(redo(&m));
        EXPECT_TRUE(same(m.segments, states[i])) << "redo to state " << i;
    }
    EXPECT_FALSE(redo(&m));
    // A new change after an undo drops what could be redone.
    ASSERT_TRUE(undo(&m));
    add_segment(&m, {0, 0, 1, 1});
    EXPECT_FALSE(redo(&m));
}

TEST(EditModel, ADragThatDoesNotMoveAndARemovalWithoutSelectionAreNoChanges)
{
    EditModel m;
    m.segments = {{1, 1, 5, 5}, {2, 2, 6, 6}};
    drag_begin(&m, 1, 0);
    drag_move(&m, 2, 2);
    EXPECT_FALSE(drag_end(&m));
    EXPECT_EQ(m.selected, 0);
    EXPECT_TRUE(m.undo.empty());
    select_pair(&m, -1);
    EXPECT_FALSE(remove_selected_pair(&m));
    EXPECT_TRUE(m.undo.empty());
}

TEST(EditModel, HistoryHoldsAtLeastAHundredSteps)
{
    EditModel m;
    for (int i = 0; i < 150; ++i)
        add_segment(&m, {0, 0, 1.0 + i, 1});
    int undone = 0;
    while (undo(&m))
        ++undone;
    EXPECT_GE(undone, 100);
    EXPECT_EQ(m.segments.size(), 150u - undone);
}

struct TouchCase {
    Segment s;
    bool touches;
};

// A 640 x 480 image, edges included; ends too far apart for their difference
// to be a finite double.
TEST(EditModel, ASegmentTouchesTheImageWhereSomePointOfItLiesInIt)
{
    const TouchCase cases[] = {
        {{10, 10, 20, 20}, true},          {{-50, 240, 700, 240}, true},     {{-10, -10, -1, 400}, false},
        {{700, 0, 800, 480}, false},       {{640, 480, 700, 500}, true},     {{-1e308, -1e308, 1e308, 1e308}, true},
        {{-1e308, 1e308, 1e308, 1e308}, false}, {{-10, 5, 5, -10}, false}, {{-10, 15, 15, -10}, true},
        {{300, 300, 300, 300}, true},      {{300, 481, 300, 481}, false},    {{1e300, -1e300, -1e300, 1e300}, true},
    };
    for (const TouchCase& c : cases)
        EXPECT_EQ(segment_touches(c.s, 640, 480), c.touches) << segment_line(c.s);
}

struct PendingCase {
    std::vector<Segment> before;
    int selected;
    bool pin;  // else cancel_pending
    bool changed;
    std::vector<Segment> after;
};

// Esc's cancel and P's pin, each undone to where it began.
TEST(EditModel, CancelDropsTheWaitingSegmentAndPinCopiesTheFirstSegmentAsTheSecond)
{
    const Segment a = {1, 2, 3, 4}, b = {5, 6, 7, 8}, c = {9, 9, 9, 8};
    const PendingCase cases[] = {
        {{a, b, c}, 1, false, true, {a, b}},   {{a, b}, 0, false, false, {a, b}},
        {{a, b, c}, -1, true, true, {a, b, c, c}}, {{a, b}, 0, true, true, {a, a}},
        {{a, b}, -1, true, false, {a, b}},     {{a, a}, 0, true, false, {a, a}},
        {{}, -1, true, false, {}},
    };
    for (const PendingCase& k : cases) {
        EditModel m;
        m.segments = k.before;
        m.selected = k.selected;
        EXPECT_EQ(k.pin ? pin_selected_pair(&m) : cancel_pending(&m), k.changed);
        std::string got, want, was;
        for (const Segment& s : m.segments)
            got += segment_line(s) + ";";
        for (const Segment& s : k.after)
            want += segment_line(s) + ";";
        for (const Segment& s : k.before)
            was += segment_line(s) + ";";
        EXPECT_EQ(got, want) << (k.pin ? "pin " : "cancel ") << was;
        EXPECT_EQ(undo(&m), k.changed);
        EXPECT_EQ(m.segments.size(), k.before.size());
    }
}

class EditFile : public ScratchDirTest {};

TEST_F(EditFile, OnlyCompletePairsAreSavedWithTheHeadingAndTheCommentsWhereTheyStood)
{
    const std::string name = at("pairs.txt");
    write_file(name, "# tavrosk-edit: warp pairs for old.png\n# eyes\n1 2 3 4  # the eye\n5 6 7 8\n\n  # end\n");
    EditModel m;
    std::string message;
    ASSERT_TRUE(load_pairs_file(name.c_str(), &m.segments, &m.comments, &message)) << message;
    ASSERT_EQ(m.comments.size(), 3u);
    add_segment(&m, {9.25, 10, 11, 12.5});  // waits for its second
    PairsFile file;
    file.name = name;
    file.heading = pairs_heading(EDIT_WARP, "photo.jpg", "");
    auto save = [&] { ASSERT_TRUE(pairs_file_save(&file, m, true)) << file.problem; };
    save();
    EXPECT_EQ(read_file(name), "# tavrosk-edit: warp pairs for photo.jpg\n# eyes\n1 2 3 4\n5 6 7 8\n\n  # end\n");
    add_segment(&m, {-1.5, 0.01, 100, 200});
    save();
    EXPECT_EQ(read_file(name), "# tavrosk-edit: warp pairs for photo.jpg\n# eyes\n1 2 3 4\n5 6 7 8\n\n  # end\n"
                               "9.25 10 11 12.5\n-1.5 0.01 100 200\n");
    std::vector<Segment> back;
    std::vector<SegmentComment> comments;
    ASSERT_TRUE(load_pairs_file(name.c_str(), &back, &comments, &message)) << message;
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(back[2].x1, 9.25);
    EXPECT_EQ(back[3].y1, 0.01);
    EXPECT_EQ(comments.size(), 3u);  // the heading is not kept twice
    select_pair(&m, 0);
    ASSERT_TRUE(remove_selected_pair(&m));
    save();
    EXPECT_EQ(read_file(name), "# tavrosk-edit: warp pairs for photo.jpg\n# eyes\n\n  # end\n"
                               "9.25 10 11 12.5\n-1.5 0.01 100 200\n");
    ASSERT_TRUE(undo(&m));  // the comments go back where they stood
    save();
    EXPECT_EQ(read_file(name), "# tavrosk-edit: warp pairs for photo.jpg\n# eyes\n1 2 3 4\n5 6 7 8\n\n  # end\n"
                               "9.25 10 11 12.5\n-1.5 0.01 100 200\n");
    EXPECT_EQ(pairs_heading(EDIT_MORPH, "a.png", "b.png"), "# tavrosk-edit: morph pairs from a.png to b.png");
    // Any name stays on the heading's line, as text the file can hold.
    EXPECT_EQ(pairs_heading(EDIT_WARP, "a\nb\xE9\x7F \xE6\x97\xA5.png", ""),
              "# tavrosk-edit: warp pairs for a?b?? \xE6\x97\xA5.png");
}

TEST_F(EditFile, LoadingTakesAFileWithoutPairsOrWithALoneSegmentAndRefusesWhatTavroskWarpRefuses)
{
    struct Case {
        const char* text;
        bool ok;
        const char* message;  // after the file name
        const char* heading;
    };
    const Case cases[] = {
        {"# mine\n# tavrosk-edit: warp pairs for a.png\n", true, "", "# tavrosk-edit: warp pairs for a.png"},
        {"", true, "", ""},
        {"1 2 3 4\n5 6 7 8\n9 9 9 9\n", true, "", ""},  // the last waits for its second
        {"9 9 9 9\n", true, "", ""},
        {"1 2 3 4\n5 6 7\n", false, ":2: expected four numbers, found 3", ""},
    };
    const std::string name = at("p.txt");
    for (const Case& c : cases) {
        write_file(name, c.text);
        std::vector<Segment> segments;
        std::vector<SegmentComment> comments;
        std::string message, heading = "x";
        EXPECT_EQ(load_pairs_file(name.c_str(), &segments, &comments, &message, &heading), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_EQ(message, name + c.message);
        } else {
            EXPECT_EQ(heading, c.heading);
        }
    }
}

struct WarningCase {
    EditMode mode;
    const char* heading;
    std::vector<Segment> segments;
    const char* first;
    const char* second;
    const char* warnings;  // one a line
};

// The images' folders aside, a heading must name them in the mode at hand;
// a segment that touches the 100 x 50 image is enough.
TEST_F(EditFile, WarningsNameOtherImagesSegmentsThatMissAndALoneSegment)
{
    const Segment in = {10, 10, 20, 20}, out = {200, 10, 300, 20};
    const WarningCase cases[] = {
        {EDIT_WARP, "# tavrosk-edit: warp pairs for dir/a.png", {in, out}, "../dir/a.png", "", ""},
        {EDIT_WARP, "", {out, out}, "a.png", "", "p: no segment touches the 100 x 50 image\n"},
        {EDIT_WARP, "# tavrosk-edit: warp pairs for b.png", {out, in, in}, "a.png", "",
         "p: made for other images (warp pairs for b.png)\n"
         "p: its last segment waits for its second; nothing is saved until it has one\n"},
        {EDIT_WARP, "# tavrosk-edit: morph pairs from a.png to b.png", {}, "a.png", "",
         "p: made for other images (morph pairs from a.png to b.png)\n"},
        {EDIT_MORPH, "# tavrosk-edit: morph pairs from x/a to b.png to c.png", {in, in}, "a to b.png", "c.png", ""},
        {EDIT_MORPH, "# tavrosk-edit: morph pairs from a.png to b.png", {in, in}, "b.png", "a.png",
         "p: made for other images (morph pairs from a.png to b.png)\n"},
    };
    for (const WarningCase& c : cases) {
        std::string got;
        for (const std::string& w : pairs_file_warnings("p", c.heading, c.segments, c.mode, c.first, c.second, 100, 50))
            got += w + "\n";
        EXPECT_EQ(got, c.warnings) << c.heading;
    }
}

// A file left with a pair's first segment alone keeps it until the pair
// is whole, forced saves included; then it is written as any change.
TEST_F(EditFile, ALoneSegmentHoldsTheFileUntilItsPairIsWhole)
{
    PairsFile file;
    file.name = at("odd.txt");
    file.heading = "# h";
    write_file(file.name, "1 2 3 4\n5 6 7 8\n9 9 9 9\n");
    EditModel m;
    ASSERT_TRUE(load_pairs_file(file.name.c_str(), &m.segments, &m.comments, &file.problem)) << file.problem;
    pairs_file_start(&file, &m);
    EXPECT_TRUE(file.holding);
    select_pair(&m, 0);
    ASSERT_TRUE(remove_selected_pair(&m));
    EXPECT_FALSE(pairs_file_save(&file, m, true));
    EXPECT_FALSE(file.failed);
    EXPECT_EQ(read_file(file.name), "1 2 3 4\n5 6 7 8\n9 9 9 9\n");
    ASSERT_TRUE(pin_selected_pair(&m));
    EXPECT_TRUE(pairs_file_save(&file, m, false));
    EXPECT_FALSE(file.holding);
    EXPECT_EQ(read_file(file.name), "# h\n9 9 9 9\n9 9 9 9\n");
}

// A byte-order mark before the first pair is no part of it, and no comment
// to be written again.
TEST_F(EditFile, AByteOrderMarkOpeningTheFileIsDropped)
{
    PairsFile file;
    file.name = at("bom.txt");
    file.heading = "# h";
    write_file(file.name, "\xEF\xBB\xBF" "1 2 3 4\n5 6 7 8\n");
    EditModel m;
    ASSERT_TRUE(load_pairs_file(file.name.c_str(), &m.segments, &m.comments, &file.problem)) << file.problem;
    EXPECT_TRUE(m.comments.empty());
    ASSERT_TRUE(pairs_file_save(&file, m, true)) << file.problem;
    EXPECT_EQ(read_file(file.name), "# h\n1 2 3 4\n5 6 7 8\n");
}

// The file is made at the first complete pair, written again at each change
// only, and after a failed write retried by the next save, changed or not.
TEST_F(EditFile, SavingWritesChangesAndRetriesAfterAFailure)
{
    PairsFile file;
    file.name = at("new.txt");
    file.heading = "# h";
    pairs_file_start(&file, nullptr);
    EditModel m;
    add_segment(&m, {1, 2, 3, 4});
    EXPECT_FALSE(pairs_file_save(&file, m, false));
    EXPECT_FALSE(std::filesystem::exists(file.name));
    add_segment(&m, {5, 6, 7, 8});
    EXPECT_TRUE(pairs_file_save(&file, m, false));
    EXPECT_FALSE(pairs_file_save(&file, m, false));
    chmod(file.name.c_str(), 0444);
    add_segment(&m, {9, 9, 9, 8});
    add_segment(&m, {9, 9, 9, 7});
    EXPECT_FALSE(pairs_file_save(&file, m, false));
    EXPECT_TRUE(file.failed);
    EXPECT_EQ(file.problem, file.name + ": is read-only; not replaced");
    EXPECT_EQ(read_file(file.name), "# h\n1 2 3 4\n5 6 7 8\n");
    chmod(file.name.c_str(), 0644);
    EXPECT_TRUE(pairs_file_save(&file, m, false));  // no change since, but the last write failed
    EXPECT_FALSE(file.failed);
    EXPECT_EQ(read_file(file.name), "# h\n1 2 3 4\n5 6 7 8\n9 9 9 8\n9 9 9 7\n");
    EXPECT_TRUE(pairs_file_save(&file, m, true));
}

TEST_F(EditFile, ASymbolicLinkIsWrittenThrough)
{
    const std::string target = at("real.txt"), link = at("link.txt");
    write_file(target, "old\n");
    ASSERT_EQ(symlink("real.txt", link.c_str()), 0);
    std::string message;
    ASSERT_TRUE(write_segment_file(link, "new\n", &message)) << message;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(read_file(target), "new\n");
}

struct SizeCase {
    int w, h, panels, screen_w, screen_h, need_w, need_h;
    double zoom;
    int win_w, win_h;  // 0: not checked
};

TEST(EditWindow, ImagesShowAtFullSizeWhenTheyFitAndTheWindowStaysWithinTheScreen)
{
    const SizeCase cases[] = {
        {640, 480, 1, 1024, 768, 480, 260, 1, 640, 492},    {640, 480, 2, 1024, 768, 620, 260, 0.8, 1024, 395},
        {4000, 3000, 1, 1024, 768, 480, 260, 0.24, 0, 0},   {320, 240, 2, 1024, 768, 620, 260, 1, 642, 260},
        {100, 5000, 1, 1920, 1080, 480, 260, 0.2, 480, 0},  {1920, 1080, 1, 1920, 1080, 480, 260, 0.944, 0, 0},
        {32, 32, 1, 1024, 768, 480, 260, 1, 480, 260},      {232, 329, 2, 1024, 768, 620, 260, 1, 620, 341},
        {32, 32, 1, 400, 200, 480, 260, 1, 400, 152},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        int w, h;
        double zoom;
        window_size(c.w, c.h, c.panels, c.screen_w, c.screen_h, c.need_w, c.need_h, &w, &h, &zoom);
        EXPECT_NEAR(zoom, c.zoom, 0.005);
        EXPECT_LE(w, c.screen_w);
        EXPECT_LE(h, c.screen_h);
        EXPECT_GE(h, static_cast<int>(c.h * zoom));
        if (c.win_w) {
            EXPECT_EQ(w, c.win_w);
        }
        if (c.win_h) {
            EXPECT_EQ(h, c.win_h);
        }
    }
}

// What the editor shows of an image that is not 8-bit colour: transparent
// pixels show the checkerboard, whose squares stay 8 image pixels wide in a
// coarse preview reduced by 2, and opaque ones their 8-bit colour.
TEST(EditScreen, AlphaShowsTheCheckerboardFixedToTheImage)
{
    const struct {
        int reduce, x, y;
        uint16_t alpha;
        int want;
    } cases[] = {
        {1, 0, 0, 0, CHECKER_DARK},  {1, 8, 0, 0, CHECKER_LIGHT}, {1, 8, 8, 0, CHECKER_DARK},
        {1, 7, 9, 0, CHECKER_LIGHT}, {2, 4, 0, 0, CHECKER_LIGHT}, {2, 3, 4, 0, CHECKER_LIGHT},
        {1, 9, 0, 65535, 200},       {2, 4, 0, 65535, 200},
    };
    for (const auto& c : cases) {
        ImageBuffer image, shown;
        ASSERT_TRUE(image_buffer_make(&image, 10, 10, 2, SAMPLE_U16));
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) {
                const uint16_t pixel[2] = {200 * 257, c.alpha};
                std::memcpy(image_row(image.view, y) + 4 * x, pixel, 4);
            }
        ASSERT_TRUE(screen_image(image.view, c.reduce, &shown));
        const unsigned char* rgb = image_row(shown.view, c.y) + 3 * c.x;
        EXPECT_EQ(std::vector<int>(rgb, rgb + 3), std::vector<int>(3, c.want)) << c.reduce << ": " << c.x << ", " << c.y;
    }
}

}  // namespace
