// Expected images come from the geometry worked out by hand for each pair,
// not from the kernel. Where the arithmetic is exact (axis-aligned segments
// of power-of-two length, whole-pixel moves) the comparison is exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ostream>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "sdl/pixel.h"
#include "raster/sampler.h"
#include "tests/support/test_support.h"
#include "warp/warp.h"

namespace {

struct Selection {
    const char* name;
    WarpKernel kernel;
    int threads;
};

// The test names say the kernel; so does CTest's list.
void PrintTo(const Selection& selection, std::ostream* out)
{
    *out << selection.name;
}

class Warp : public testing::TestWithParam<Selection> {
protected:
    WarpOptions options() const
    {
        WarpOptions o;
        o.kernel = GetParam().kernel;
        o.threads = GetParam().threads;
        return o;
    }

    // A 32-bit result of src's size, filled with junk first so that a pixel
    // the warp leaves unwritten shows.
    SurfacePtr warp(SDL_Surface* src, std::vector<Segment> table, const WarpParams& params = WarpParams())
    {
        SurfacePtr dst(SDL_CreateRGBSurface(0, src->w, src->h, 32, 0, 0, 0, 0));
        fill_random(dst.get(), 4242);
        EXPECT_EQ(warp_surfaces(src, dst.get(), table.data(), static_cast<int>(table.size()), params, options()),
                  WARP_OK);
        return dst;
    }
};

// Channel values encode coordinates: r = scale * x, g = scale * y, b = 60.
SDL_Surface* coordinate_image(int w, int h, int scale)
{
    SDL_Surface* s = make_surface(w, h, 32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            put_pixel(s, x, y, scale * x, scale * y, 60);
    return s;
}

// Largest amount by which a channel of `got` lies below / above `want`.
void channel_error(SDL_Surface* want, SDL_Surface* got, int x, int y, int* below, int* above)
{
    Uint8 w[3], g[3];
    get_pixel(want, x, y, &w[0], &w[1], &w[2]);
    get_pixel(got, x, y, &g[0], &g[1], &g[2]);
    for (int i = 0; i < 3; ++i) {
        *below = std::max(*below, w[i] - g[i]);
        *above = std::max(*above, g[i] - w[i]);
    }
}

TEST_P(Warp, IdenticalSegmentsGiveTheSource)
{
    SurfacePtr src(make_surface(40, 30, 32));
    fill_random(src.get(), 7);

    // Horizontal, 16 long: u, v and X' are exact.get(), so the copy is exact.
    SurfacePtr exact = warp(src.get(), {{4, 6, 20, 6}, {4, 6, 20, 6}});
    EXPECT_EQ(compare_rgb(src.get(), exact.get()), "");

    // Oblique pairs: the source point is X give or take a rounding error.
    // When it lands just off the pixel, each of the sampler's two truncating
    // stages can lose one unit, so a channel may come out up to 2 low, never
    // high. Column 0 and row 0 are left out: a point a rounding error left of
    // or above the image is black.
    SurfacePtr near = warp(src.get(), {{3.5, 2.25, 29, 17.5}, {3.5, 2.25, 29, 17.5}, {30, 2, 5, 25}, {30, 2, 5, 25}});
    int below = 0, above = 0;
    for (int y = 1; y < src->h; ++y)
        for (int x = 1; x < src->w; ++x)
            channel_error(src.get(), near.get(), x, y, &below, &above);
    EXPECT_LE(below, 2);
    EXPECT_EQ(above, 0);
}

// First segment (5, 7)-(13, 7); the second is it moved by (tx, ty). With
// whole moves of 0, 1, 2 or 4 pixels (weight * t / weight is exact only when
// t is a power of two) the source point of X is exactly X - t, so pixel
// (x, y) is the source pixel
// (x - tx, y - ty), clamped to the last column or row when that point is on
// the right or bottom edge (x - tx = w), and black beyond the image.
void expect_translated(SDL_Surface* src, SDL_Surface* dst, int tx, int ty)
{
    int wrong = 0;
    for (int y = 0; y < src->h; ++y)
        for (int x = 0; x < src->w; ++x) {
            int sx = x - tx, sy = y - ty;
            Uint8 er = 0, eg = 0, eb = 0, r, g, b;
            if (sx >= 0 && sx <= src->w && sy >= 0 && sy <= src->h)
                get_pixel(src, std::min(sx, src->w - 1), std::min(sy, src->h - 1), &er, &eg, &eb);
            get_pixel(dst, x, y, &r, &g, &b);
            if ((r != er || g != eg || b != eb) && wrong++ < 5)
                ADD_FAILURE() << "t = (" << tx << ", " << ty << ") pixel (" << x << ", " << y << "): got " << +r
                              << " " << +g << " " << +b << ", want " << +er << " " << +eg << " " << +eb;
        }
    EXPECT_EQ(wrong, 0);
}

TEST_P(Warp, TranslationMovesContentAndBlackensTheUncoveredBorder)
{
    const int moves[][2] = {{4, 2}, {-2, -1}, {0, -4}};
    for (int depth : {8, 16, 24, 32}) {
        SurfacePtr src(make_surface(23, 17, depth));
        fill_random(src.get(), depth);
        for (const auto& t : moves) {
            double tx = t[0], ty = t[1];
            SurfacePtr dst = warp(src.get(), {{5, 7, 13, 7}, {5 + tx, 7 + ty, 13 + tx, 7 + ty}});
            SCOPED_TRACE("depth " + std::to_string(depth));
            expect_translated(src.get(), dst.get(), t[0], t[1]);
        }
    }
}

// Second segment P = (10, 10) -> Q = (30, 10), first P1 = (20.5, 5.5) -> Q1 =
// (20.5, 45.5). With u = (x - 10) / 20 and v = y - 10, X' = P1 + u * (0, 40) +
// v * (-40, 0) / 40 = (30.5 - y, 2x - 14.5): a quarter turn, doubled along
// the segment and unscaled across it. The .5 keeps every source point half a
// pixel from the grid, so rounding cannot move it to another pixel.
TEST_P(Warp, OnePairIsTheSimilarityItFixes)
{
    SurfacePtr src(coordinate_image(64, 64, 1));
    const std::vector<Segment> pair = {{20.5, 5.5, 20.5, 45.5}, {10, 10, 30, 10}};
    // With one pair the weight cancels, whatever the parameters.
    for (const WarpParams& params : {params_of(0.5, 1.0, 1.0), params_of(2.0, 0.25, 3.0), params_of(0.0, 5.0, 0.0)}) {
        SurfacePtr dst = warp(src.get(), pair, params);
        int wrong = 0, checked = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                double sx = 30.5 - y, sy = 2.0 * x - 14.5;
                Uint8 r, g, b;
                get_pixel(dst.get(), x, y, &r, &g, &b);
                bool ok;
                if (sx < 0 || sx > 64 || sy < 0 || sy > 64) {
                    ok = r == 0 && g == 0 && b == 0;
                } else if (sx < 63 && sy < 63) {
                    // Interpolating a channel that is linear in x or y gives
                    // its trunc; a rounding error may cost one unit.
                    int ex = static_cast<int>(sx), ey = static_cast<int>(sy);
                    ok = (r == ex || r == ex - 1) && (g == ey || g == ey - 1) && b >= 59 && b <= 60;
                    ++checked;
                } else {
                    continue;
                }
                if (!ok && wrong++ < 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << +r << " " << +g << " " << +b
                                  << " for source point (" << sx << ", " << sy << ")";
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(checked, 500);
    }
}

TEST_P(Warp, SwappedPairGivesTheInverse)
{
    // A linear gradient survives bilinear sampling up to truncation, so what
    // the round trip loses is the sampling, not the geometry.
    SurfacePtr src(coordinate_image(64, 64, 3));
    const Segment A = {20, 20, 40, 28}, B = {24, 18, 38, 36};
    SurfacePtr there = warp(src.get(), {A, B});
    SurfacePtr back = warp(there.get(), {B, A});
    int moved_below = 0, moved_above = 0, below = 0, above = 0;
    for (int y = 20; y < 44; ++y)
        for (int x = 20; x < 44; ++x) {
            channel_error(src.get(), there.get(), x, y, &moved_below, &moved_above);
            channel_error(src.get(), back.get(), x, y, &below, &above);
        }
    EXPECT_GT(std::max(moved_below, moved_above), 20) << "the pair should deform the image";
    // The first warp leaves each pixel up to 2 below the gradient (two
    // truncations); sampling those and truncating twice more stays above
    // L - 4, and L = 3x is whole, so at most 3 below. Truncation never adds.
    EXPECT_LE(below, 3);
    EXPECT_EQ(above, 0);
}

// Two pairs on a coordinate image (r = 4x). Pair 1 (second segment (16, 10)
// to (32, 10), length 16) moves content 4 left, pair 2 ((16, 20) to (24, 20),
// length 8) 4 right. At X = (24, 14): u1 = .5, dist1 = |v1| = 4; u2 = 1, so
// dist2 = |Q2 - X| = 6. With p = 2, b = .5, a = 3: w1 = sqrt(256 / 7) =
// 6.0474, w2 = sqrt(64 / 9) = 2.6667, D.x = 4 (w1 - w2) / (w1 + w2) = 1.5519,
// r = trunc(4 * 25.5519) = 102. With p = .5, b = 1, a = 1: w1 = 4 / 5, w2 =
// sqrt(8) / 7, D.x = 1.3153, r = 101. Any other order of the three gives
// 104, 107 or 111.
TEST_P(Warp, WeightsFollowDistanceLengthAndParameters)
{
    SurfacePtr src(coordinate_image(64, 40, 4));
    const std::vector<Segment> table = {{20, 10, 36, 10}, {16, 10, 32, 10}, {12, 20, 20, 20}, {16, 20, 24, 20}};
    const struct {
        WarpParams params;
        int r;
    } cases[] = {{params_of(2, 3, 0.5), 102}, {params_of(0.5, 1, 1), 101}};
    for (const auto& c : cases) {
        SurfacePtr dst = warp(src.get(), table, c.params);
        Uint8 r, g, b;
        get_pixel(dst.get(), 24, 14, &r, &g, &b);
        EXPECT_EQ(r, c.r) << "p " << c.params.p << " a " << c.params.a << " b " << c.params.b;
        EXPECT_EQ(g, 56);
    }
}

TEST_P(Warp, DegeneratePairsAreLeftOut)
{
    const Segment first = {5, 7, 13, 7}, second = {9, 9, 17, 9};  // moves by (4, 2)
    const Segment dot = {10, 10, 10, 10}, line = {2, 3, 20, 11};
    for (int depth : {8, 16, 24, 32}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        SurfacePtr src(make_surface(23, 17, depth));
        fill_random(src.get(), 100 + depth);
        SurfacePtr alone = warp(src.get(), {first, second});
        expect_translated(src.get(), alone.get(), 4, 2);
        // A zero-length first or second segment, before or after the good pair.
        const std::vector<std::vector<Segment>> tables = {
            {dot, line, first, second}, {first, second, line, dot}, {dot, line, first, second, line, dot}};
        for (const auto& table : tables) {
            SurfacePtr dst = warp(src.get(), table);
            EXPECT_EQ(compare_rgb(alone.get(), dst.get()), "");
        }
        // Nothing left: the source point is X, an exact copy.
        SurfacePtr copy = warp(src.get(), {dot, line, line, dot, dot, dot});
        EXPECT_EQ(compare_rgb(src.get(), copy.get()), "");
    }
}

TEST_P(Warp, MissingOrMismatchedImagesAreRefusedUntouched)
{
    const Segment table[2] = {{0, 0, 4, 0}, {1, 0, 5, 0}};
    auto made = [](int w, int h, int channels, SampleType type) {
        ImageBuffer image;
        EXPECT_TRUE(image_buffer_make(&image, w, h, channels, type));
        for (int y = 0; y < h; ++y)
            std::memset(image_row(image.view, y), 0x5A, static_cast<size_t>(w) * image_pixel_bytes(image.view));
        return image;
    };
    const ImageBuffer src = made(6, 5, 3, SAMPLE_U8), dst = made(6, 5, 3, SAMPLE_U8);
    const ImageBuffer small = made(5, 5, 3, SAMPLE_U8), grey = made(6, 5, 1, SAMPLE_U8);
    const ImageBuffer grey_src = made(6, 5, 1, SAMPLE_U8), floats = made(6, 5, 3, SAMPLE_F32);
    ImageView bad_stride = dst.view;
    bad_stride.stride = 17;
    const struct {
        ImageView src, dst;
        WarpStatus want;
    } cases[] = {
        {ImageView(), dst.view, WARP_INVALID_SOURCE},     {src.view, ImageView(), WARP_INVALID_RESULT},
        {src.view, bad_stride, WARP_INVALID_RESULT},      {src.view, small.view, WARP_LAYOUT_MISMATCH},
        {src.view, grey.view, WARP_LAYOUT_MISMATCH},      {src.view, floats.view, WARP_LAYOUT_MISMATCH},
        {grey_src.view, dst.view, WARP_LAYOUT_MISMATCH},  // the warp converts no kind
    };
    for (const auto& c : cases) {
        EXPECT_EQ(warp_run(c.src, c.dst, table, 2, WarpParams(), options()), c.want);
        for (const ImageBuffer* image : {&dst, &small, &grey})
            for (int y = 0; y < image->view.height; ++y)
                for (int i = 0; i < image->view.width * image->view.channels; ++i)
                    ASSERT_EQ(image_row(image->view, y)[i], 0x5A);
    }
}

// The source points handed out are the ones sampled: each result pixel is
// sample_bilinear of the source at its point. Progress ends at every pixel.
// With p = 1e308 every weight overflows, so no point is finite; with a large
// b only the pixels near a segment overflow, and the count says how many.
TEST_P(Warp, ReportsSourcePointsProgressAndNonFinitePoints)
{
    SurfacePtr src(make_surface(29, 21, 24));
    fill_random(src.get(), 5);
    const std::vector<Segment> table = {{3, 4, 20, 6}, {4, 5, 22, 9}, {10, 15, 12, 2}, {9, 16, 14, 1},
                                        {25, 18, 26, 3}, {24, 19, 27, 2}};
    const int n = static_cast<int>(table.size()), w = src->w, h = src->h;
    for (const WarpParams& params : {params_of(0.7, 2.5, 1.3), params_of(1e308, 1, 1), params_of(1, 0.01, 400)}) {
        SCOPED_TRACE(testing::Message() << "p " << params.p << " a " << params.a << " b " << params.b);
        std::vector<double> px(w * h, -7.0), py(w * h, -7.0);
        std::atomic<long long> done(0);
        WarpOptions o = options();
        o.points_x = px.data();
        o.points_y = py.data();
        o.pixels_done = &done;
        SurfacePtr dst(make_surface(w, h, 32));
        fill_random(dst.get(), 9);
        WarpReport report;
        ASSERT_EQ(warp_surfaces(src.get(), dst.get(), table.data(), n, params, o, &report), WARP_OK);
        EXPECT_EQ(done.load(), static_cast<long long>(w) * h);
        long long nonfinite = 0, wrong = 0;
        const ImageBuffer source = rgb8_of(src.get());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double sx = px[y * w + x], sy = py[y * w + x];
                nonfinite += !std::isfinite(sx) || !std::isfinite(sy);
                Uint8 e[3], a[3];
                sample_bilinear(source.view, sx, sy, e);
                get_pixel(dst.get(), x, y, &a[0], &a[1], &a[2]);
                if ((e[0] != a[0] || e[1] != a[1] || e[2] != a[2]) && wrong++ < 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") is not the sample at (" << sx << ", " << sy
                                  << ")";
            }
        EXPECT_EQ(report.nonfinite_points, nonfinite);
        if (params.p == 1e308)
            EXPECT_EQ(nonfinite, static_cast<long long>(w) * h);
        else if (params.b == 400)
            EXPECT_TRUE(nonfinite > 0 && nonfinite < static_cast<long long>(w) * h) << nonfinite;
        else
            EXPECT_EQ(nonfinite, 0);
    }
}

// What a row sink saw: each row's points, how often the row came, and whether
// its pixels were already the samples at those points.
struct SeenRows {
    ImageView src, dst;
    std::mutex mutex;
    std::vector<std::vector<double>> points;  // x then y of each row
    std::vector<int> calls;
    int unwritten = 0;
};

void see_row(void* context, int y, const double* sx, const double* sy)
{
    SeenRows* seen = static_cast<SeenRows*>(context);
    const int w = seen->dst.width;
    int unwritten = 0;
    for (int x = 0; x < w; ++x) {
        Uint8 e[3];
        const Uint8* a = image_row(seen->dst, y) + 3 * x;
        sample_bilinear(seen->src, sx[x], sy[x], e);
        unwritten += e[0] != a[0] || e[1] != a[1] || e[2] != a[2];
    }
    std::lock_guard<std::mutex> lock(seen->mutex);
    seen->points[y].assign(sx, sx + w);
    seen->points[y].insert(seen->points[y].end(), sy, sy + w);
    ++seen->calls[y];
    seen->unwritten += unwritten;
}

// Every row comes once, after its pixels are written, with the points the
// arrays receive, bit for bit; with no arrays the literal kernel keeps its own.
TEST_P(Warp, RowSinkGetsEveryRowOnceAfterItsPixels)
{
    SurfacePtr src(make_surface(37, 23, 24));
    fill_random(src.get(), 6);
    const std::vector<Segment> table = {{3, 4, 20, 6}, {4, 5, 22, 9}, {30, 15, 12, 2}, {29, 16, 14, 1}};
    const int w = src->w, h = src->h;
    std::vector<double> px(w * h), py(w * h);
    const ImageBuffer source = rgb8_of(src.get());
    for (bool arrays : {true, false}) {
        SeenRows seen;
        seen.src = source.view;
        seen.points.resize(h);
        seen.calls.assign(h, 0);
        SurfacePtr junk(make_surface(w, h, 24));
        fill_random(junk.get(), 10);
        const ImageBuffer dst = rgb8_of(junk.get());
        seen.dst = dst.view;
        const WarpRowSink sink = {see_row, &seen};
        WarpOptions o = options();
        o.rows = &sink;
        if (arrays) {
            o.points_x = px.data();
            o.points_y = py.data();
        }
        ASSERT_EQ(warp_run(source.view, dst.view, table.data(), 4, params_of(0.7, 1.5, 1.2), o), WARP_OK);
        EXPECT_EQ(seen.unwritten, 0) << "arrays " << arrays;
        for (int y = 0; y < h; ++y) {
            ASSERT_EQ(seen.calls[y], 1) << "row " << y << ", arrays " << arrays;
            EXPECT_EQ(std::memcmp(seen.points[y].data(), &px[y * w], w * sizeof(double)), 0) << "row " << y;
            EXPECT_EQ(std::memcmp(seen.points[y].data() + w, &py[y * w], w * sizeof(double)), 0) << "row " << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, Warp,
                         testing::Values(Selection{"literal", WARP_KERNEL_LITERAL, 1},
                                         Selection{"default", WARP_KERNEL_FAST, 0},
                                         Selection{"fast3", WARP_KERNEL_FAST, 3}),
                         [](const testing::TestParamInfo<Selection>& info) { return info.param.name; });

}  // namespace
