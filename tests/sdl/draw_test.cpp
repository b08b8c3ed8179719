// Segment drawing: which pixels a segment covers (worked out by hand from the
// stepping rule), inversion, and clipping against the surface's edges.
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "sdl/draw.h"
#include "sdl/pixel.h"
#include "tests/support/test_support.h"

namespace {

using Points = std::set<std::pair<int, int>>;

// Every pixel of s that is not black.
Points lit(SDL_Surface* s)
{
    Points p;
    for (int y = 0; y < s->h; ++y)
        for (int x = 0; x < s->w; ++x) {
            Uint8 r, g, b;
            get_pixel(s, x, y, &r, &g, &b);
            if (r || g || b)
                p.insert({x, y});
        }
    return p;
}

Points drawn(int x1, int y1, int x2, int y2, int w = 16, int h = 12)
{
    SurfacePtr s_owner(make_surface(w, h, 32));
    SDL_Surface* s = s_owner.get();
    SDL_FillRect(s, nullptr, 0);
    draw_segment(s, x1, y1, x2, y2, 255, 255, 255, false);
    Points p = lit(s);
    return p;
}

}  // namespace

TEST(DrawSegment, CoversTheStepsFromStartUpToButNotTheEnd)
{
    // Straight runs along both axes, in both directions.
    EXPECT_EQ(drawn(2, 3, 7, 3), (Points{{2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}}));
    EXPECT_EQ(drawn(7, 3, 2, 3), (Points{{7, 3}, {6, 3}, {5, 3}, {4, 3}, {3, 3}}));
    EXPECT_EQ(drawn(4, 1, 4, 5), (Points{{4, 1}, {4, 2}, {4, 3}, {4, 4}}));
    EXPECT_EQ(drawn(4, 5, 4, 1), (Points{{4, 5}, {4, 4}, {4, 3}, {4, 2}}));
    // Length zero draws nothing; a unit step draws its start only.
    EXPECT_TRUE(drawn(5, 5, 5, 5).empty());
    EXPECT_EQ(drawn(5, 5, 6, 6), (Points{{5, 5}}));
    // |dx| = |dy|: one pixel per column along the diagonal.
    EXPECT_EQ(drawn(1, 1, 5, 5), (Points{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
    EXPECT_EQ(drawn(5, 1, 1, 5), (Points{{5, 1}, {4, 2}, {3, 3}, {2, 4}}));
    // Shallow: dx = 10, dy = 3, k = 10 / 3, y offset trunc(3i / 10).
    EXPECT_EQ(drawn(0, 0, 10, 3), (Points{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 1}, {5, 1}, {6, 1},
                                          {7, 2}, {8, 2}, {9, 2}}));
    // Steep: dy = 7, dx = 2, x offset trunc(2i / 7).
    EXPECT_EQ(drawn(3, 1, 5, 8), (Points{{3, 1}, {3, 2}, {3, 3}, {3, 4}, {4, 5}, {4, 6}, {4, 7}}));
}

TEST(DrawSegment, NegativeOffsetsTruncateTowardZero)
{
    // dx = 10, dy = -3: offset trunc(-3i / 10) is 0 for i = 1..3; flooring
    // would step up at once.
    EXPECT_EQ(drawn(0, 5, 10, 2), (Points{{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 4}, {5, 4}, {6, 4},
                                          {7, 3}, {8, 3}, {9, 3}}));
    // Both deltas negative: dx = -10, dy = -3, i = 0, -1, ..., -9.
    EXPECT_EQ(drawn(12, 5, 2, 2), (Points{{12, 5}, {11, 5}, {10, 5}, {9, 5}, {8, 4}, {7, 4}, {6, 4},
                                          {5, 3}, {4, 3}, {3, 3}}));
    // Steep upward with negative x: dy = -7, dx = -2.
    EXPECT_EQ(drawn(5, 8, 3, 1), (Points{{5, 8}, {5, 7}, {5, 6}, {5, 5}, {4, 4}, {4, 3}, {4, 2}}));
}

TEST(DrawSegment, ColourAndInversion)
{
    SurfacePtr s_owner(make_surface(20, 15, 32));
    SDL_Surface* s = s_owner.get();
    SurfacePtr original_owner(make_surface(20, 15, 32));
    SDL_Surface* original = original_owner.get();
    fill_random(s, 11);
    fill_random(original, 11);
    // Plain mode writes the given colour and nothing else.
    draw_segment(s, 1, 2, 9, 2, 10, 20, 30, false);
    for (int x = 0; x < 20; ++x) {
        Uint8 r, g, b, or_, og, ob;
        get_pixel(s, x, 2, &r, &g, &b);
        get_pixel(original, x, 2, &or_, &og, &ob);
        if (x >= 1 && x < 9)
            EXPECT_TRUE(r == 10 && g == 20 && b == 30) << x;
        else
            EXPECT_TRUE(r == or_ && g == og && b == ob) << x;
    }
    fill_random(s, 11);
    // Inverting mode ignores the colour and complements each covered pixel:
    // |dx| = 19 of them.
    draw_segment(s, 0, 14, 19, 0, 1, 2, 3, true);
    int changed = 0;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x) {
            Uint8 r, g, b, or_, og, ob;
            get_pixel(s, x, y, &r, &g, &b);
            get_pixel(original, x, y, &or_, &og, &ob);
            if (r == or_ && g == og && b == ob)
                continue;
            ++changed;
            EXPECT_TRUE(r == 255 - or_ && g == 255 - og && b == 255 - ob) << x << "," << y;
        }
    EXPECT_EQ(changed, 19);
    // Drawing the same segments twice restores every pixel.
    const int segs[][4] = {{0, 14, 19, 0}, {3, 3, 17, 9}, {10, 0, 10, 14}, {19, 7, 0, 7}, {4, 4, 4, 4}};
    for (const auto& seg : segs)
        if (seg[0] != 0 || seg[1] != 14)  // the first one is already drawn once
            draw_segment(s, seg[0], seg[1], seg[2], seg[3], 255, 255, 255, true);
    for (const auto& seg : segs)
        draw_segment(s, seg[0], seg[1], seg[2], seg[3], 255, 255, 255, true);
    EXPECT_EQ(compare_rgb(s, original), "");
}

TEST(DrawSegment, ClipsToTheSurfaceWithoutChangingThePixelsInside)
{
    // The same segment drawn on a surface with a wide margin, shifted so that
    // nothing falls outside, gives the reference for the pixels inside.
    const int w = 20, h = 15, margin = 120;
    const int segs[][4] = {{-10, -5, 30, 20}, {5, -100, 8, 100}, {-3, 7, 25, 7}, {12, 40, 12, -40},
                           {-50, -50, -10, -40}, {30, 3, -90, 9}, {19, 14, 40, 30}, {-1, -1, 0, 0},
                           {20, 0, 0, 15}, {-100, 60, 100, -60}, {-100, 14, 110, -1}, {25, 100, 2, -100}};
    for (const auto& seg : segs) {
        // An exact-size buffer: any write or read past the surface is caught
        // by the sanitizer build.
        std::vector<Uint32> buffer(w * h, 0);
        SurfacePtr s_owner(SDL_CreateRGBSurfaceFrom(buffer.data(), w, h, 32, 4 * w, 0xFF0000, 0xFF00, 0xFF, 0));
        SDL_Surface* s = s_owner.get();
        SurfacePtr big_owner(make_surface(w + 2 * margin, h + 2 * margin, 32));
        SDL_Surface* big = big_owner.get();
        SDL_FillRect(big, nullptr, 0);
        draw_segment(s, seg[0], seg[1], seg[2], seg[3], 255, 255, 255, true);
        draw_segment(big, seg[0] + margin, seg[1] + margin, seg[2] + margin, seg[3] + margin, 255, 255,
                     255, true);
        Points inside;
        for (const auto& p : lit(big))
            if (p.first >= margin && p.first < margin + w && p.second >= margin && p.second < margin + h)
                inside.insert({p.first - margin, p.second - margin});
        EXPECT_EQ(lit(s), inside) << seg[0] << "," << seg[1] << " -> " << seg[2] << "," << seg[3];
    }
}
