// Expected values are worked out by hand from the two truncating stages:
// top = trunc(wx0*c0 + wx1*c1), bottom likewise, result = trunc(wy0*top +
// wy1*bottom). Points use binary fractions (0.25, 0.5, 0.75) so that every
// product and sum below is exact and the hand figures are the true ones.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sdl/pixel.h"
#include "raster/sampler.h"
#include "tests/support/test_support.h"

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& os, const Rgb& c)
{
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb sample(const ImageView& image, double x, double y)
{
    Uint8 rgb[3] = {1, 1, 1};
    sample_bilinear(image, x, y, rgb);
    return {rgb[0], rgb[1], rgb[2]};
}

// The surface's colours in an 8-bit R, G, B image, whose buffer is exactly
// w * h * 3 bytes, sampled there.
Rgb sample(SDL_Surface* s, double x, double y)
{
    return sample(rgb8_of(s).view, x, y);
}

Rgb pixel(SDL_Surface* s, int x, int y)
{
    Uint8 r, g, b;
    get_pixel(s, x, y, &r, &g, &b);
    return {r, g, b};
}

const Rgb black = {0, 0, 0};

TEST(Sampler, IntegerPointReturnsThePixelExactly)
{
    for (int depth : {8, 16, 24, 32}) {
        SurfacePtr s_owner(make_surface(7, 5, depth));
        SDL_Surface* s = s_owner.get();
        fill_random(s, 11 + depth);
        for (int y = 0; y < s->h; ++y)
            for (int x = 0; x < s->w; ++x)
                ASSERT_EQ(sample(s, x, y), pixel(s, x, y)) << "depth " << depth << " at " << x << "," << y;
    }
}

TEST(Sampler, OutsideAndNaNAreBlackAndReadNothing)
{
    SurfacePtr s_owner(make_surface(4, 3, 32));
    SDL_Surface* s = s_owner.get();
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            put_pixel(s, x, y, 200, 150, 100);
    EXPECT_EQ(sample(s, 0, 0), (Rgb{200, 150, 100}));
    EXPECT_EQ(sample(s, 0, 1.5), (Rgb{200, 150, 100}));
    EXPECT_EQ(sample(s, 2, 0), (Rgb{200, 150, 100}));

    // With the pixels gone, any read would crash: these points must not read.
    const ImageBuffer image = rgb8_of(s);
    ImageView gone = image.view;
    gone.pixels = nullptr;
    const double nan = std::nan("");
    const double points[][2] = {{-0.000001, 1}, {1, -0.000001}, {4.000001, 1}, {1, 3.000001},
                                {nan, 5.0},     {1, nan},       {nan, nan},    {-INFINITY, 1},
                                {1, INFINITY},  {1e300, 1}};
    for (const auto& p : points)
        EXPECT_EQ(sample(gone, p[0], p[1]), black) << p[0] << ", " << p[1];
}

TEST(Sampler, InteriorBlendTruncatesAtBothStages)
{
    SurfacePtr s_owner(make_surface(3, 3, 32));
    SDL_Surface* s = s_owner.get();
    put_pixel(s, 0, 0, 0, 255, 100);
    put_pixel(s, 1, 0, 255, 0, 201);
    // Halfway along a row: trunc(127.5) = 127, trunc(150.5) = 150.
    EXPECT_EQ(sample(s, 0.5, 0), (Rgb{127, 127, 150}));

    // r: top = trunc(.5*0 + .5*3) = 1, bottom = trunc(.5*0 + .5*5) = 2,
    // result = trunc(.5*1 + .5*2) = 1 (a single stage would give 2).
    // g: top = trunc(.75*10 + .25*50) = 20, bottom = trunc(.75*90 + .25*200)
    // = trunc(117.5) = 117, result = trunc(.25*20 + .75*117) = trunc(92.75).
    // b: top = trunc(.5*255 + .5*255) = 255 on each row, so 255.
    put_pixel(s, 1, 1, 0, 10, 255);
    put_pixel(s, 2, 1, 3, 50, 255);
    put_pixel(s, 1, 2, 0, 90, 255);
    put_pixel(s, 2, 2, 5, 200, 255);
    Rgb c = sample(s, 1.5, 1.5);
    EXPECT_EQ(c.r, 1);
    EXPECT_EQ(c.b, 255);
    EXPECT_EQ(sample(s, 1.25, 1.75).g, 92);
}

TEST(Sampler, LastStripsBlendTowardLastColumnAndRow)
{
    // 3 x 2, column 2 = (40, 80, 0) on row 0 and (120, 0, 10) on row 1.
    SurfacePtr s_owner(make_surface(3, 2, 32));
    SDL_Surface* s = s_owner.get();
    fill_random(s, 5);
    put_pixel(s, 2, 0, 40, 80, 0);
    put_pixel(s, 2, 1, 120, 0, 10);
    put_pixel(s, 1, 0, 0, 0, 0);
    put_pixel(s, 1, 1, 200, 200, 200);

    // x in (w - 1, w) blends column 2 with itself; x = w reads column 2.
    EXPECT_EQ(sample(s, 2.5, 0), (Rgb{40, 80, 0}));
    EXPECT_EQ(sample(s, 2.75, 1), (Rgb{120, 0, 10}));
    EXPECT_EQ(sample(s, 3, 0), (Rgb{40, 80, 0}));
    // Both strips: rows 0 and 1 of column 2 at y = .5: (80, 40, 5).
    EXPECT_EQ(sample(s, 2.25, 0.5), (Rgb{80, 40, 5}));
    // y in the last row strip and y = h read row 1 only. At x = 1.5 the top
    // row is trunc(.5*200 + .5*120) = 160, trunc(.5*200 + .5*0) = 100,
    // trunc(.5*200 + .5*10) = 105.
    EXPECT_EQ(sample(s, 1.5, 1.5), (Rgb{160, 100, 105}));
    EXPECT_EQ(sample(s, 1.5, 2), (Rgb{160, 100, 105}));
    EXPECT_EQ(sample(s, 3, 2), (Rgb{120, 0, 10}));
}

// The sampled image's buffer is exactly w * h * 3 bytes, so on these thin
// images a read of a column or row outside lands outside the allocation
// (caught under AddressSanitizer) or shows in the value.
TEST(Sampler, ThinImagesReadNothingOutside)
{
    SurfacePtr one_owner(make_surface(1, 1, 32));
    SDL_Surface* one = one_owner.get();
    put_pixel(one, 0, 0, 200, 100, 50);
    for (double y : {0.0, 0.25, 0.5, 1.0})
        for (double x : {0.0, 0.5, 0.75, 1.0})
            EXPECT_EQ(sample(one, x, y), (Rgb{200, 100, 50})) << x << ", " << y;

    // 1 x 3 column of greys 0, 100, 200, and its 3 x 1 transpose.
    SurfacePtr column_owner(make_surface(1, 3, 32));
    SDL_Surface* column = column_owner.get();
    SurfacePtr row_owner(make_surface(3, 1, 32));
    SDL_Surface* row = row_owner.get();
    for (int i = 0; i < 3; ++i) {
        put_pixel(column, 0, i, 100 * i, 100 * i, 100 * i);
        put_pixel(row, i, 0, 100 * i, 100 * i, 100 * i);
    }
    // .5 between 0 and 100: 50; .75 of the way from 100 to 200: 175; past
    // the last pixel: 200.
    const double at[] = {0.5, 1.75, 2.5, 3.0};
    const int grey[] = {50, 175, 200, 200};
    for (int i = 0; i < 4; ++i)
        for (double across : {0.0, 0.5, 1.0}) {
            EXPECT_EQ(sample(column, across, at[i]).g, grey[i]) << at[i];
            EXPECT_EQ(sample(row, at[i], across).g, grey[i]) << at[i];
        }
}

}  // namespace
