// The press and release handlers driven directly, on a tiny random source
// image so that every warp is quick. Each warp the handlers run is checked
// against a warp_image call made here on the same table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "app/menu.h"
#include "app/state.h"
#include "app/warp_image.h"
#include "sdl/pixel.h"
#include "tests/support/test_support.h"
#include "warp/warp.h"

namespace {

const char* const kTableFull = "Nelze pridat dalsi par: tabulka je plna (50 paru).\n";

// Releases in the middle of each button; the image is 8 x 6.
const int kMenuX = MENU_X + MENU_W / 2, kPridatY = PRIDAT_END / 2, kResetY = (PRIDAT_END + RESET_END) / 2,
          kExitY = (RESET_END + EXIT_END) / 2;

class Entry : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_app_state();
        app.image = make_surface(8, 6, 32);
        fill_random(app.image, 7);
    }
    void TearDown() override { reset_app_state(); }
};

bool drag(int x1, int y1, int x2, int y2)
{
    on_button_down(x1, y1);
    return on_button_up(x2, y2);
}

SurfacePtr warp_of(SDL_Surface* src, const std::vector<Segment>& table)
{
    SDL_Surface* out = nullptr;
    warp_image(src, &out, table.data(), static_cast<int>(table.size()), WarpParams());
    return SurfacePtr(out);
}

// Empty when app.result is exactly the warp of app.image by `table`.
std::string result_differs_from_warp(const std::vector<Segment>& table)
{
    if (!app.result)
        return "no result";
    return compare_rgb(app.result, warp_of(app.image, table).get());
}

void expect_segment(int i, double x1, double y1, double x2, double y2)
{
    const Segment& s = app.segments[i];
    EXPECT_EQ(s.x1, x1) << "entry " << i;
    EXPECT_EQ(s.y1, y1) << "entry " << i;
    EXPECT_EQ(s.x2, x2) << "entry " << i;
    EXPECT_EQ(s.y2, y2) << "entry " << i;
}

TEST_F(Entry, PairsWarpTheSourceByEveryPairSinceReset)
{
    // Entry mode, even count: a press stores the start point only.
    on_button_down(1, 1);
    EXPECT_EQ(app.segment_count, 0);
    expect_segment(0, 1, 1, 0, 0);
    // Release: the first segment of the pair, no warp yet.
    EXPECT_FALSE(on_button_up(6, 2));
    EXPECT_EQ(app.segment_count, 1);
    EXPECT_TRUE(app.entering);
    EXPECT_EQ(app.result, nullptr);
    // Odd count: press and release complete the pair, the warp runs.
    on_button_down(2, 4);
    EXPECT_EQ(app.segment_count, 1);
    EXPECT_FALSE(on_button_up(5, 5));
    EXPECT_EQ(app.segment_count, 2);
    EXPECT_FALSE(app.entering);
    std::vector<Segment> table = {{1, 1, 6, 2}, {2, 4, 5, 5}};
    EXPECT_EQ(result_differs_from_warp(table), "");

    // Viewing: a press records nothing, a release off the menu does nothing.
    on_button_down(3, 3);
    expect_segment(2, 0, 0, 0, 0);
    EXPECT_FALSE(on_button_up(3, 3));
    EXPECT_FALSE(app.entering);
    EXPECT_EQ(app.segment_count, 2);
    expect_segment(2, 0, 0, 0, 0);

    // PRIDAT: entry mode again, every segment kept.
    EXPECT_FALSE(on_button_up(kMenuX, kPridatY));
    EXPECT_TRUE(app.entering);
    EXPECT_EQ(app.segment_count, 2);
    expect_segment(0, 1, 1, 6, 2);
    expect_segment(1, 2, 4, 5, 5);

    // The second pair warps the source (not the previous result) by both.
    SurfacePtr first_result = warp_of(app.image, table);
    drag(6, 1, 2, 2);
    EXPECT_TRUE(app.entering);
    drag(1, 5, 7, 3);
    EXPECT_FALSE(app.entering);
    EXPECT_EQ(app.segment_count, 4);
    table.push_back({6, 1, 2, 2});
    table.push_back({1, 5, 7, 3});
    EXPECT_EQ(result_differs_from_warp(table), "");
    SurfacePtr rewarped = warp_of(first_result.get(), table);
    ASSERT_NE(compare_rgb(app.result, rewarped.get()), "") << "warping the old result must look different";

    // After RESET only the pairs drawn since count.
    EXPECT_FALSE(on_button_up(kMenuX, kResetY));
    EXPECT_TRUE(app.entering);
    EXPECT_EQ(app.segment_count, 0);
    drag(0, 0, 7, 5);
    drag(7, 0, 0, 5);
    EXPECT_EQ(result_differs_from_warp({{0, 0, 7, 5}, {7, 0, 0, 5}}), "");
}

TEST_F(Entry, ResetEmptiesTheTableInEveryMode)
{
    // Viewing.
    drag(1, 1, 6, 2);
    drag(2, 4, 5, 5);
    ASSERT_FALSE(app.entering);
    EXPECT_FALSE(on_button_up(kMenuX, kResetY));
    EXPECT_TRUE(app.entering);
    EXPECT_EQ(app.segment_count, 0);

    // Entry, even count: the release first stores a segment ending on the button.
    on_button_down(3, 3);
    EXPECT_FALSE(on_button_up(kMenuX, kResetY));
    expect_segment(0, 3, 3, kMenuX, kResetY);
    EXPECT_TRUE(app.entering);
    EXPECT_EQ(app.segment_count, 0);

    // Entry, odd count: the release completes the pair and warps first.
    drag(1, 1, 6, 2);
    SDL_FreeSurface(app.result);
    app.result = nullptr;
    on_button_down(2, 4);
    EXPECT_FALSE(on_button_up(kMenuX, kResetY));
    EXPECT_EQ(result_differs_from_warp({{1, 1, 6, 2}, {2, 4, kMenuX, kResetY}}), "");
    EXPECT_TRUE(app.entering);
    EXPECT_EQ(app.segment_count, 0);
}

TEST_F(Entry, ExitAsksToQuitInEveryMode)
{
    // Entry, even count: a segment is stored, then the quit request.
    on_button_down(2, 2);
    EXPECT_TRUE(on_button_up(kMenuX, kExitY));
    EXPECT_EQ(app.segment_count, 1);
    expect_segment(0, 2, 2, kMenuX, kExitY);
    EXPECT_TRUE(app.entering);

    // Entry, odd count: the pair completes and warps, then the quit request.
    on_button_down(4, 1);
    EXPECT_TRUE(on_button_up(kMenuX, kExitY));
    EXPECT_EQ(app.segment_count, 2);
    EXPECT_FALSE(app.entering);
    EXPECT_EQ(result_differs_from_warp({{2, 2, kMenuX, kExitY}, {4, 1, kMenuX, kExitY}}), "");

    // Viewing: only the quit request.
    EXPECT_TRUE(on_button_up(kMenuX, kExitY));
    EXPECT_EQ(app.segment_count, 2);
    EXPECT_FALSE(app.entering);
}

TEST_F(Entry, PridatDuringEntryOnlyStoresTheSegment)
{
    on_button_down(2, 2);
    EXPECT_FALSE(on_button_up(kMenuX, kPridatY));
    EXPECT_TRUE(app.entering);
    EXPECT_EQ(app.segment_count, 1);
    on_button_down(4, 1);
    EXPECT_FALSE(on_button_up(kMenuX, kPridatY));
    EXPECT_FALSE(app.entering);
    EXPECT_EQ(app.segment_count, 2);
    EXPECT_EQ(result_differs_from_warp({{2, 2, kMenuX, kPridatY}, {4, 1, kMenuX, kPridatY}}), "");
}

TEST_F(Entry, ButtonRowsAndTheMenuEdge)
{
    enum Action { NONE, PRIDAT, RESET, EXIT };
    struct Case {
        int x, y;
        Action action;
    };
    const Case cases[] = {
        {700, 10, NONE},    {701, 10, PRIDAT},  {799, 0, PRIDAT},   {701, 74, PRIDAT}, {701, 75, NONE},
        {701, 76, RESET},   {700, 100, NONE},   {701, 149, RESET},  {701, 150, NONE},  {701, 151, EXIT},
        {700, 200, NONE},   {799, 224, EXIT},   {701, 225, NONE},   {799, 599, NONE},  {0, 100, NONE},
    };
    SDL_FreeSurface(app.image);
    app.image = nullptr;
    for (const Case& c : cases) {
        // Viewing with one pair in the table.
        app.segment_count = 2;
        app.entering = false;
        bool quit = on_button_up(c.x, c.y);
        Action seen = quit ? EXIT : !app.entering ? NONE : app.segment_count == 0 ? RESET : PRIDAT;
        EXPECT_EQ(seen, c.action) << "release at (" << c.x << ", " << c.y << ")";
        if (quit) {
            EXPECT_FALSE(app.entering) << "(" << c.x << ", " << c.y << ")";
        }
    }
}

TEST_F(Entry, FullTableRefusesAnotherPair)
{
    std::vector<Segment> table;
    testing::internal::CaptureStdout();
    for (int k = 0; k < 50; ++k) {
        if (k > 0) {
            ASSERT_FALSE(on_button_up(kMenuX, kPridatY));
        }
        ASSERT_TRUE(app.entering) << "pair " << k;
        int a = k % 7, b = k % 5;
        drag(a, b, 7 - a, 5 - b);
        drag(b, a % 6, 7 - b, 1);
        table.push_back({double(a), double(b), double(7 - a), double(5 - b)});
        table.push_back({double(b), double(a % 6), double(7 - b), 1});
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(app.segment_count, 100);
    EXPECT_FALSE(app.entering);
    EXPECT_EQ(result_differs_from_warp(table), "");

    // PRIDAT refuses, says why, and leaves the table as it was; presses and
    // releases in the image then record nothing.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(on_button_up(kMenuX, kPridatY));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kTableFull);
    EXPECT_FALSE(app.entering);
    drag(1, 1, 2, 2);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(on_button_up(kMenuX, kPridatY));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kTableFull);
    drag(3, 3, 4, 4);
    EXPECT_EQ(app.segment_count, 100);
    EXPECT_FALSE(app.entering);
    const Segment& last = table.back();
    expect_segment(99, last.x1, last.y1, last.x2, last.y2);
    EXPECT_EQ(result_differs_from_warp(table), "");

    // RESET still starts over.
    EXPECT_FALSE(on_button_up(kMenuX, kResetY));
    EXPECT_TRUE(app.entering);
    EXPECT_EQ(app.segment_count, 0);
}

TEST_F(Entry, ReleaseWithoutPressReusesTheLastStartPoint)
{
    // At start the start point is zero.
    EXPECT_FALSE(on_button_up(3, 4));
    expect_segment(0, 0, 0, 3, 4);
    drag(2, 1, 6, 5);
    ASSERT_FALSE(app.entering);

    // After RESET the entries keep their old start points.
    on_button_up(kMenuX, kResetY);
    on_button_up(5, 1);
    expect_segment(0, 0, 0, 5, 1);
    on_button_up(4, 4);
    expect_segment(1, 2, 1, 4, 4);
    EXPECT_EQ(result_differs_from_warp({{0, 0, 5, 1}, {2, 1, 4, 4}}), "");

    // A press while viewing is not a start point for the pair after PRIDAT.
    on_button_down(7, 5);
    on_button_up(kMenuX, kPridatY);
    on_button_up(1, 2);
    expect_segment(2, 0, 0, 1, 2);
}

TEST_F(Entry, NoImageCompletesThePairWithoutResult)
{
    SDL_FreeSurface(app.image);
    app.image = nullptr;
    drag(1, 1, 6, 2);
    drag(2, 4, 5, 5);
    EXPECT_FALSE(app.entering);
    EXPECT_EQ(app.segment_count, 2);
    EXPECT_EQ(app.result, nullptr);
    on_button_up(kMenuX, kPridatY);
    EXPECT_TRUE(app.entering);
    drag(3, 3, 4, 1);
    drag(0, 5, 7, 0);
    EXPECT_FALSE(app.entering);
    EXPECT_EQ(app.segment_count, 4);
    EXPECT_EQ(app.result, nullptr);
}

// The committed artwork draws its buttons where the handlers look for them:
// the strip's width, the last button's height, and all-black separator rows
// on exactly the rows that belong to no button.
TEST(MenuArtwork, ButtonsLieWhereTheHandlersLook)
{
    SurfacePtr menu(SDL_LoadBMP(TAVROSK_DATA_DIR "/menu.bmp"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MENU_X + MENU_W, WINDOW_W);
    EXPECT_EQ(menu->w, MENU_W);
    EXPECT_EQ(menu->h, EXIT_END);
    for (int y = 0; y < menu->h; ++y) {
        bool black = true;
        for (int x = 0; x < menu->w; ++x) {
            Uint8 r, g, b;
            get_pixel(menu.get(), x, y, &r, &g, &b);
            black = black && r == 0 && g == 0 && b == 0;
        }
        EXPECT_EQ(black, menu_button_at(MENU_X + 1, y) == MENU_NONE) << "row " << y;
    }
}

}  // namespace
