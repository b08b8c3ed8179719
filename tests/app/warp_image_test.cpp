// The window program's warp of its SDL surfaces.
#include <gtest/gtest.h>

#include "app/warp_image.h"
#include "tests/support/test_support.h"

namespace {

// The program's entry over the engine: the engine on the surface's colours,
// its 32-bit result, and "error" when the result cannot be created.
TEST(WarpImage, IsTheEngineOnTheSurfaceColours)
{
    SurfacePtr src(make_surface(31, 23, 24));
    fill_random(src.get(), 11);
    const Segment table[4] = {{3, 4, 20, 6}, {4, 5, 22, 9}, {10, 15, 12, 2}, {9, 16, 14, 1}};
    SDL_Surface* raw = nullptr;
    warp_image(src.get(), &raw, table, 4, params_of(0.3, 2.9, 1.7));
    SurfacePtr got(raw);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->format->BitsPerPixel, 32);
    WarpOptions literal;
    literal.kernel = WARP_KERNEL_LITERAL;
    SurfacePtr want(make_surface(31, 23, 32)), swapped(make_surface(31, 23, 32));
    warp_surfaces(src.get(), want.get(), table, 4, params_of(0.3, 2.9, 1.7), literal);
    warp_surfaces(src.get(), swapped.get(), table, 4, params_of(0.3, 1.7, 2.9), literal);
    EXPECT_EQ(compare_rgb(want.get(), got.get()), "");
    EXPECT_NE(compare_rgb(swapped.get(), got.get()), "") << "a and b must matter here";
}

TEST(WarpImage, NoSourceOrFailedCreationGivesNoResult)
{
    const Segment table[2] = {{0, 0, 4, 0}, {1, 0, 5, 0}};
    SDL_Surface* dst = reinterpret_cast<SDL_Surface*>(&dst);  // a stale handle
    testing::internal::CaptureStdout();
    warp_image(nullptr, &dst, table, 2, WarpParams());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(dst, nullptr);

    // SDL refuses a 16384-pixel-wide surface; the source's pixels are never
    // reached because creation fails first.
    SurfacePtr small(make_surface(2, 2, 32));
    SDL_Surface wide = *small;
    wide.w = 16384;
    dst = small.get();
    testing::internal::CaptureStdout();
    warp_image(&wide, &dst, table, 2, WarpParams());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error");
    EXPECT_EQ(dst, nullptr);
}

}  // namespace
