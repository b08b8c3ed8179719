// The segment files in data/ read as the batch tool reads them, lie on their
// images, and do what their comments promise: the sample pairs take nothing
// from outside the image, the morph pairs carry each feature of sample.bmp to
// where sample2.bmp has it, the fold pairs fold the picture where their second
// segments cross and pull black in at the bottom-left corner.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sdl/pixel.h"
#include "io/surface_check.h"
#include "io/segment_file.h"
#include "warp/warp_views.h"
#include "tests/support/test_support.h"
#include "warp/warp.h"

namespace {

// The source warped by the pairs into a new 32-bit surface.
SurfacePtr warped_by(SDL_Surface* source, const std::vector<Segment>& pairs, const WarpParams& params)
{
    SurfacePtr warped(make_surface(source->w, source->h, 32));
    EXPECT_EQ(warp_surfaces(source, warped.get(), pairs.data(), static_cast<int>(pairs.size()), params, WarpOptions()),
              WARP_OK);
    return warped;
}

const std::string data = TAVROSK_DATA;

std::vector<Segment> read_pairs(const std::string& name)
{
    std::vector<Segment> segments;
    std::FILE* in = std::fopen((data + "/" + name).c_str(), "r");
    EXPECT_NE(in, nullptr) << name;
    if (!in)
        return segments;
    long line = 0;
    std::string problem;
    EXPECT_TRUE(read_segments(in, &segments, &line, &problem)) << name << ":" << line << ": " << problem;
    std::fclose(in);
    return segments;
}

SurfacePtr load(const std::string& name)
{
    SurfacePtr s(load_bmp_checked((data + "/" + name).c_str()));
    EXPECT_NE(s, nullptr) << name;
    return s;
}

void expect_inside(const Segment& s, const SDL_Surface* image, const std::string& what)
{
    for (double x : {s.x1, s.x2})
        EXPECT_TRUE(x >= 0 && x <= image->w - 1) << what << ": x = " << x;
    for (double y : {s.y1, s.y2})
        EXPECT_TRUE(y >= 0 && y <= image->h - 1) << what << ": y = " << y;
}

struct Rgb {
    int r, g, b;
};

Rgb pixel_at(SDL_Surface* s, int x, int y)
{
    Uint8 r, g, b;
    get_pixel(s, x, y, &r, &g, &b);
    return {r, g, b};
}

bool same(Rgb a, Rgb b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

// Intersection over union of the pixels of colour ca in a and of colour cb in b.
double overlap(SDL_Surface* a, Rgb ca, SDL_Surface* b, Rgb cb)
{
    long both = 0, either = 0;
    for (int y = 0; y < a->h; ++y)
        for (int x = 0; x < a->w; ++x) {
            bool in_a = same(pixel_at(a, x, y), ca), in_b = same(pixel_at(b, x, y), cb);
            both += in_a && in_b;
            either += in_a || in_b;
        }
    return either > 0 ? static_cast<double>(both) / either : 0.0;
}

TEST(DataFiles, SamplePairsLieOnTheSampleAndTakeNothingFromOutside)
{
    std::vector<Segment> pairs = read_pairs("sample_pairs.txt");
    SurfacePtr sample_owner = load("sample.bmp");
    SDL_Surface* sample = sample_owner.get();
    ASSERT_TRUE(sample && !pairs.empty());
    for (size_t i = 0; i < pairs.size(); ++i)
        expect_inside(pairs[i], sample, "sample_pairs.txt segment " + std::to_string(i + 1));

    // A point outside the source samples black: warp an all-white image of
    // the sample's size and no pixel may come out dark.
    SurfacePtr white_owner(
        SDL_CreateRGBSurface(SDL_SWSURFACE, sample->w, sample->h, 24, 0xFF0000, 0xFF00, 0xFF, 0));
    SDL_Surface* white = white_owner.get();
    ASSERT_NE(white, nullptr);
    SDL_FillRect(white, nullptr, SDL_MapRGB(white->format, 255, 255, 255));
    SurfacePtr warped_owner = warped_by(white, pairs, WarpParams());
    SDL_Surface* warped = warped_owner.get();
    int dark = 0;
    for (int y = 0; y < warped->h; ++y)
        for (int x = 0; x < warped->w; ++x) {
            Rgb c = pixel_at(warped, x, y);
            if (c.r < 250 || c.g < 250 || c.b < 250)
                ++dark;
        }
    EXPECT_EQ(dark, 0) << "pixels taken from outside the image";
}

TEST(DataFiles, MorphPairsCarryFeaturesOfTheFirstSampleOntoTheSecond)
{
    std::vector<Segment> pairs = read_pairs("morph_pairs.txt");
    SurfacePtr first_owner = load("sample.bmp");
    SDL_Surface* first = first_owner.get();
    SurfacePtr second_owner = load("sample2.bmp");
    SDL_Surface* second = second_owner.get();
    ASSERT_TRUE(first && second && !pairs.empty());
    EXPECT_EQ(second->w, first->w);
    EXPECT_EQ(second->h, first->h);
    for (size_t i = 0; i < pairs.size(); ++i)
        expect_inside(pairs[i], i % 2 == 0 ? first : second, "morph_pairs.txt segment " + std::to_string(i + 1));

    // Warped by the pairs, the first sample has its shapes where the second
    // has them: for each shape, the pixels of its colour in the warped first
    // sample and those of its new colour in the second overlap far better
    // than the two samples' own shapes do. The falloff b = 2 keeps each
    // pair's pull local, so that the overlap measures the pairs rather than
    // the blend of all of them (with b = 1 every pair reaches every pixel).
    // A second segment 8 pixels off its disc already fails.
    struct Shape {
        const char* name;
        Rgb first, second;
    };
    const Shape shapes[] = {
        {"red disc", {220, 40, 40}, {200, 40, 160}},
        {"yellow disc", {250, 210, 30}, {40, 200, 220}},
        {"blue disc", {30, 60, 200}, {30, 60, 200}},
        {"block", {20, 160, 70}, {230, 120, 30}},
    };
    WarpParams falloff;
    falloff.b = 2.0;
    SurfacePtr warped_owner = warped_by(first, pairs, falloff);
    SDL_Surface* warped = warped_owner.get();
    for (const Shape& shape : shapes) {
        double before = overlap(first, shape.first, second, shape.second);
        double after = overlap(warped, shape.first, second, shape.second);
        EXPECT_GT(after, 0.83) << shape.name << " (unwarped: " << before << ")";
        EXPECT_GT(after, before + 0.1) << shape.name;
    }
}

TEST(DataFiles, FoldPairsFoldWhereTheyCrossAndPullInBlackAtTheCorner)
{
    std::vector<Segment> pairs = read_pairs("fold_pairs.txt");
    SurfacePtr sample = load("sample.bmp");
    ASSERT_TRUE(sample && !pairs.empty());
    const int w = sample->w, h = sample->h;
    std::vector<double> px(w * h), py(w * h);
    WarpOptions options;
    options.points_x = px.data();
    options.points_y = py.data();
    SurfacePtr warped(SDL_CreateRGBSurface(0, w, h, 32, 0, 0, 0, 0));
    warp_surfaces(sample.get(), warped.get(), pairs.data(), static_cast<int>(pairs.size()), WarpParams(), options);
    std::vector<uint8_t> flags(w * h);
    analyse_folds(px.data(), py.data(), w, h, w, h, flags.data());
    // The second segments of the first two pairs cross at (320, 240).
    long folds_near_crossing = 0, folds_in_word = 0, outside_at_corner = 0, outside_elsewhere = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t f = flags[y * w + x];
            const bool crossing = x > 220 && x < 540 && y > 150 && y < 330, word = y < 100 && x > 320;
            folds_near_crossing += crossing && (f & FOLD_FLAG);
            folds_in_word += word && (f & FOLD_FLAG);
            const bool corner = x < 60 && y > 330;
            outside_at_corner += corner && (f & OUTSIDE_FLAG);
            outside_elsewhere += !corner && (f & OUTSIDE_FLAG);
        }
    EXPECT_GT(folds_near_crossing, 5000);
    EXPECT_EQ(folds_in_word, 0);
    EXPECT_GT(outside_at_corner, 500);
    EXPECT_EQ(outside_elsewhere, 0);
}

}  // namespace
