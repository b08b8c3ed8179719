// Fold analysis, fold map and .flo field: the rules on hand-made point grids,
// folds and outside pixels of warps worked out by hand, the file read back
// by a reader written here, and the same counts, map and bytes on the warp's
// threads as from the literal kernel's points, on seeded random warps
// (TAVROSK_SEED=N reruns one).
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "sdl/pixel.h"
#include "tests/support/test_support.h"
#include "io/flo.h"
#include "warp/warp_views.h"

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

// Source points, S(x, y) = (x, y) unless given: xs, when given, holds the w
// values of x in every row, ys the h values of y in every column.
struct Grid {
    int w, h;
    std::vector<double> x, y;
    Grid(int w_, int h_, std::vector<double> xs = {}, std::vector<double> ys = {}) : w(w_), h(h_), x(w * h), y(w * h)
    {
        for (int i = 0; i < w * h; ++i) {
            x[i] = xs.empty() ? i % w : xs[i % w];
            y[i] = ys.empty() ? i / w : ys[i / w];
        }
    }
    Grid& set(int px, int py, double sx, double sy)
    {
        x[py * w + px] = sx;
        y[py * w + px] = sy;
        return *this;
    }
};

// The flags as rows of '.', 'F' (fold), 'O' (outside), 'B' (both); the
// counts must agree with them, with flags kept or not.
std::string picture(const Grid& g, int src_w, int src_h)
{
    std::vector<uint8_t> flags(g.w * g.h, 0xFF);
    const FoldCounts counts = analyse_folds(g.x.data(), g.y.data(), g.w, g.h, src_w, src_h, flags.data());
    const FoldCounts unflagged = analyse_folds(g.x.data(), g.y.data(), g.w, g.h, src_w, src_h, nullptr);
    std::string text;
    long long folds = 0, outside = 0;
    for (int i = 0; i < g.w * g.h; ++i) {
        text += std::string(i > 0 && i % g.w == 0, '\n') + (flags[i] < 4 ? ".FOB"[flags[i]] : '?');
        folds += flags[i] & FOLD_FLAG;
        outside += (flags[i] & OUTSIDE_FLAG) != 0;
    }
    EXPECT_TRUE(counts.folds == folds && counts.outside == outside && counts.pixels == g.w * g.h);
    EXPECT_TRUE(unflagged.folds == folds && unflagged.outside == outside);
    return text;
}

// How many of the picture's pixels in [x0, x1] x [y0, y1] are of the kinds.
long long count_of(const std::string& picture, int w, const char* kinds, int x0 = 0, int y0 = 0, int x1 = INT_MAX,
                   int y1 = INT_MAX)
{
    long long n = 0;
    for (size_t i = 0; i < picture.size(); ++i) {
        const int x = static_cast<int>(i % (w + 1)), y = static_cast<int>(i / (w + 1));
        n += x >= x0 && x <= x1 && y >= y0 && y <= y1 && std::strchr(kinds, picture[i]);
    }
    return n;
}

TEST(FoldRules, HandMadeGrids)
{
    Grid rank_one(3, 3), scaled(2, 2);
    for (int i = 0; i < 9; ++i)
        rank_one.x[i] = rank_one.y[i] = i % 3 + i / 3;  // S = (x + y, x + y): det exactly 0
    for (int i = 0; i < 4; ++i) {
        scaled.x[i] *= 1e160;  // det = 1e320 overflows to infinity
        scaled.y[i] *= 1e160;
    }
    const struct {
        const char* what;
        Grid grid;
        int src_w, src_h;
        const char* want;
    } cases[] = {
        {"identity; x = w and y = h are inside", Grid(4, 3), 3, 2, "....\n....\n...."},
        {"det exactly 0", rank_one, 9, 9, "FFF\nFFF\nFFF"},
        {"last column: backward difference, positive", Grid(4, 2, {0, 2, 1, 3}), 4, 2, ".F..\n.F.."},
        {"last column: backward difference, negative", Grid(4, 2, {0, 1, 3, 2}), 4, 2, "..FF\n..FF"},
        {"last row: backward difference", Grid(2, 4, {}, {0, 2, 1, 3}), 4, 4, "..\nFF\n..\n.."},
        {"one pixel wide", Grid(1, 4, {}, {0, 2, 1, NaN}), 1, 4, ".\n.\n.\nO"},
        {"one pixel high", Grid(4, 1, {3, 2, 1, inf}), 4, 1, "...O"},
        {"NaN", Grid(3, 3).set(1, 1, NaN, 1), 3, 3, ".F.\nFBF\n.F."},
        {"infinity", Grid(3, 3).set(1, 1, inf, 1), 3, 3, ".F.\nFBF\n.F."},
        {"determinant overflows", scaled, 2, 2, "FB\nBB"},
        // The sampler's edges: [0, w] x [0, h] inside, anything else outside.
        {"x edges", Grid(9, 1, {4, -0.000001, 0, 0, NaN, 1, 0, 2.5, 4.000001}), 4, 0, ".O..O...O"},
        {"y edges", Grid(4, 1).set(1, 0, 0, 3).set(2, 0, 0, 3.0000001).set(3, 0, 1, -inf), 4, 3, "..OO"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(picture(c.grid, c.src_w, c.src_h), c.want) << c.what;
}

// The source points of a w x h warp with the default parameters.
Grid warp_points(int w, int h, const std::vector<Segment>& table)
{
    SurfacePtr src(make_surface(w, h, 32)), dst(make_surface(w, h, 32));
    Grid g(w, h);
    WarpOptions options;
    options.points_x = g.x.data();
    options.points_y = g.y.data();
    warp_surfaces(src.get(), dst.get(), table.data(), static_cast<int>(table.size()), WarpParams(), options);
    return g;
}

// One pair is an affine map with a positive determinant: no folds. A move by
// (tx, ty) of 0, 1, 2 or 4 pixels is exact, S = X - t, so the strip it
// uncovers is outside: columns x < tx, or x > w + tx (x - tx = w is still
// inside), and rows likewise. The oblique pair of tests/warp maps X to
// (30.5 - y, 2x - 14.5), outside where that leaves [0, 64] x [0, 64].
TEST(WarpFolds, OnePairHasNoFoldsAndItsUncoveredStripOutside)
{
    const int w = 23, h = 17;
    for (const int* t : {(const int[]){4, 2}, (const int[]){-2, -1}, (const int[]){0, -4}}) {
        const Segment moved = {5.0 + t[0], 7.0 + t[1], 13.0 + t[0], 7.0 + t[1]};
        const std::string got = picture(warp_points(w, h, {{5, 7, 13, 7}, moved}), w, h);
        const long long cols = t[0] >= 0 ? t[0] : -t[0] - 1, rows = t[1] >= 0 ? t[1] : -t[1] - 1;
        EXPECT_EQ(count_of(got, w, "FB"), 0) << got;
        EXPECT_EQ(count_of(got, w, "OB"), cols * h + rows * w - cols * rows) << got;
    }
    long long outside = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            outside += 30.5 - y < 0 || 30.5 - y > 64 || 2.0 * x - 14.5 < 0 || 2.0 * x - 14.5 > 64;
    const std::string got = picture(warp_points(64, 64, {{20.5, 5.5, 20.5, 45.5}, {10, 10, 30, 10}}), 64, 64);
    EXPECT_EQ(count_of(got, 64, "FB"), 0);
    EXPECT_EQ(count_of(got, 64, "OB"), outside);
}

// First segments parallel, y = 40 and y = 56; second segments crossing at
// (48, 48), so right of the crossing the line that should lie above lies
// below: the content between them is turned over there. Uncrossed second
// segments over the same first ones only stretch: no folds.
TEST(WarpFolds, CrossingSecondSegmentsFoldWhereTheyCross)
{
    const Segment upper = {20, 40, 76, 40}, lower = {20, 56, 76, 56};
    const std::string got = picture(warp_points(96, 96, {upper, {20, 44, 76, 52}, lower, {20, 52, 76, 44}}), 96, 96);
    EXPECT_GT(count_of(got, 96, "FB", 50, 45, 76, 51), 40) << got;
    EXPECT_EQ(count_of(got, 96, "FB"), count_of(got, 96, "FB", 28, 36, 88, 60)) << "folds far off\n" << got;
    const std::string apart = picture(warp_points(96, 96, {upper, {20, 44, 76, 44}, lower, {20, 52, 76, 52}}), 96, 96);
    EXPECT_EQ(count_of(apart, 96, "FB"), 0);
}

// A stream into memory; close() gives what was written.
struct MemoryFile {
    char* data = nullptr;
    size_t size = 0;
    std::FILE* file = open_memstream(&data, &size);
    std::string close()
    {
        std::fclose(file);
        std::string bytes(data, size);
        std::free(data);
        return bytes;
    }
};

std::string flo_of(const Grid& g)
{
    MemoryFile out;
    std::string problem;
    EXPECT_TRUE(write_flo(out.file, g.x.data(), g.y.data(), g.w, g.h, &problem)) << problem;
    return out.close();
}

// Reads a .flo file byte by byte, whatever the host's byte order: u and v of
// each pixel, or nothing when the header or the size is wrong.
std::vector<float> read_flo(const std::string& bytes, uint32_t w, uint32_t h)
{
    auto le32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
        return v;
    };
    std::vector<float> uv;
    if (bytes.size() != 12 + 8ull * w * h || bytes.compare(0, 4, "PIEH") != 0 || le32(4) != w || le32(8) != h)
        return uv;
    for (size_t at = 12; at < bytes.size(); at += 4) {
        const uint32_t bits = le32(at);
        uv.push_back(0);
        std::memcpy(&uv.back(), &bits, sizeof bits);
    }
    return uv;
}

// Differences are taken in double and rounded once to the nearest float
// (ties to even); points that are not finite give 1e10 in both.
TEST(Field, FileLayoutRoundingAndUnknownPoints)
{
    const double tie = 1 + std::ldexp(1.0, -24), above = tie + std::ldexp(1.0, -40);
    Grid g(3, 3);
    g.set(1, 0, 1 + tie, -above).set(2, 0, NaN, 0).set(0, 1, 0, inf).set(1, 1, -inf, NaN).set(2, 1, 2.1, 1.1);
    g.set(2, 2, 2 + std::ldexp(1.0, -30), 2);  // float(Sx) - float(x) would be 0
    // 2.1 - 2 is 0.10000000000000009 in double, whose nearest float is 0.1f;
    // float(2.1) - 2 would be 0.0999999.
    const std::vector<float> expected = {0, 0, 1, -(1 + std::ldexp(1.0f, -23)), 1e10f, 1e10f, 1e10f, 1e10f, 1e10f,
                                         1e10f, 0.1f, 0.1f, 0, 0, 0, 0, std::ldexp(1.0f, -30), 0};
    const std::vector<float> got = read_flo(flo_of(g), 3, 3);
    ASSERT_EQ(got.size(), expected.size());
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(got[i], expected[i]) << "pixel (" << i / 2 % 3 << ", " << i / 6 << ") " << "uv"[i % 2];
    EXPECT_EQ(flo_of(Grid(0, 0)), std::string("PIEH\0\0\0\0\0\0\0\0", 12));

    // A full device, from the arrays and on the warp's rows.
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::string problem;
    EXPECT_FALSE(write_flo(full, g.x.data(), g.y.data(), 3, 3, &problem));
    EXPECT_EQ(problem, "cannot write: No space left on device");
    std::clearerr(full);
    ImageBuffer src, dst;
    ASSERT_TRUE(image_buffer_make(&src, 600, 4, 3, SAMPLE_U8) && image_buffer_make(&dst, 600, 4, 3, SAMPLE_U8));
    const Segment pair[2] = {{1, 1, 5, 1}, {1, 2, 5, 2}};
    FieldRows field;
    WarpViews views;
    WarpOptions options;
    ASSERT_TRUE(field_rows_start(&field, full, 600, 4));
    ASSERT_TRUE(views.start(src.view, dst.view, nullptr, &field.sink, &options));
    warp_run(src.view, dst.view, pair, 2, WarpParams(), options);
    EXPECT_TRUE(views.finish(pair, 2));
    EXPECT_FALSE(field_rows_finish(&field));
    EXPECT_EQ(field.problem, "cannot write: No space left on device");
    std::fclose(full);
}

// Identical segments: the field is zero up to the warp's rounding.
TEST(Field, IdentityPairsGiveAFieldOfZeros)
{
    const Grid g = warp_points(40, 30, {{3.5, 2.25, 29, 17.5}, {3.5, 2.25, 29, 17.5}, {30, 2, 5, 25}, {30, 2, 5, 25}});
    float largest = 0;
    for (float v : read_flo(flo_of(g), 40, 30))
        largest = std::max(largest, std::fabs(v));
    // Measured 8.4e-15 (989 of the 1200 pixels not exactly 0): a few roundings
    // of coordinates below 64.
    EXPECT_LT(largest, 1e-12f);
    EXPECT_GT(largest, 0.0f) << "oblique segments round somewhere; is the field written at all?";
}

TEST(FoldSummary, TextAndRoundingHalvesUp)
{
    const struct {
        FoldCounts counts;
        const char* want;
    } cases[] = {
        {{1234, 5678, 300000}, "folds: 1234 pixels (0.41 %), outside: 5678 pixels (1.89 %)"},
        {{1, 0, 800}, "folds: 1 pixels (0.13 %), outside: 0 pixels (0.00 %)"},  // 0.125: printf would say 0.12
        {{1, 1, 1600}, "folds: 1 pixels (0.06 %), outside: 1 pixels (0.06 %)"},
        {{1, 10, 200000}, "folds: 1 pixels (0.00 %), outside: 10 pixels (0.01 %)"},  // 0.0005 and 0.005
        {{2, 1, 3}, "folds: 2 pixels (66.67 %), outside: 1 pixels (33.33 %)"},
        {{19999, 20000, 20000}, "folds: 19999 pixels (100.00 %), outside: 20000 pixels (100.00 %)"},
        {{268435455, 1, 268435456}, "folds: 268435455 pixels (100.00 %), outside: 1 pixels (0.00 %)"},
        {{0, 0, 0}, "folds: 0 pixels (0.00 %), outside: 0 pixels (0.00 %)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fold_summary(c.counts), c.want);
}

// Every pixel of the map: the second segments' pixels (worked out by hand
// from draw_segment's rule) yellow, their 4-neighbours black, every other
// pixel the result's colour shaded by its flags, the outside flag on the
// hatching's stripes only. First segments, a segment
// outside the image and one with NaN leave no trace; a huge one is clipped.
TEST(FoldMap, ShadesByFlagsAndDrawsSecondSegmentsOutlined)
{
    const int w = 40, h = 30;
    const std::vector<Segment> table = {{2, 27, 38, 27}, {5, 10, 30, 10},           {1, 1, 2, 2},
                                        {35, 3, 35, 25}, {3, 20, 9, 20},            {-1e9, 15.25, 1e9, 15.25},
                                        {4, 4, 8, 8},    {-50, -50, -10, -60},      {4, 4, 8, 8},
                                        {NaN, 5, 20, 5}};
    auto on_segment = [](int x, int y) {
        return (y == 10 && x >= 5 && x < 30) || (x == 35 && y >= 3 && y < 25) || y == 15;
    };
    auto on_outline = [&](int x, int y) {
        return !on_segment(x, y)
               && (on_segment(x - 1, y) || on_segment(x + 1, y) || on_segment(x, y - 1) || on_segment(x, y + 1));
    };
    std::vector<uint8_t> flags(w * h);
    for (int i = 0; i < w * h; ++i)
        flags[i] = static_cast<uint8_t>((i % w / 3 + i / w) % 4);
    const Uint8* const tints[4] = {nullptr, FOLD_TINT, OUTSIDE_TINT, BOTH_TINT};
    // -32: 32 bits with red and blue swapped, read through the format's tables.
    for (int depth : {32, 24, 8, -32}) {
        SurfacePtr result(depth > 0 ? make_surface(w, h, depth)
                                    : SDL_CreateRGBSurface(0, w, h, 32, 0x0000FF, 0x00FF00, 0xFF0000, 0));
        fill_random(result.get(), depth);
        SurfacePtr map = fold_map_surface(result.get(), flags.data(), table.data(), static_cast<int>(table.size()));
        ASSERT_NE(map, nullptr);
        SurfacePtr expected(make_surface(w, h, 32));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                Uint8 c[3];
                get_pixel(result.get(), x, y, &c[0], &c[1], &c[2]);
                // The outside is hatched: tinted on the stripes (x + y) % 8 < 4 only.
                const int f = flags[y * w + x] & ((x + y) % 8 < 4 ? 3 : FOLD_FLAG);
                for (int i = 0; i < 3; ++i)
                    c[i] = static_cast<Uint8>(f ? (c[i] + 3 * tints[f][i]) / 4 : c[i] / 2);
                const Uint8* drawn = on_segment(x, y) ? SEGMENT_COLOUR : on_outline(x, y) ? OUTLINE_COLOUR : c;
                put_pixel(expected.get(), x, y, drawn[0], drawn[1], drawn[2]);
            }
        EXPECT_EQ(compare_rgb(expected.get(), map.get()), "") << "depth " << depth;
    }
    ImageBuffer none;
    EXPECT_FALSE(fold_map(ImageView(), flags.data(), table.data(), 2, &none));

    // WarpViews paints only into an 8-bit R, G, B map of the result's size.
    ImageBuffer result;
    ASSERT_TRUE(image_buffer_make(&result, w, h, 3, SAMPLE_U8));
    for (const int* shape : {(const int[]){w, h - 1, 3}, (const int[]){w, h, 4}}) {
        ImageBuffer map;
        ASSERT_TRUE(image_buffer_make(&map, shape[0], shape[1], shape[2], SAMPLE_U8));
        WarpViews views;
        WarpOptions options;
        EXPECT_FALSE(views.start(result.view, result.view, &map.view, nullptr, &options));
        EXPECT_EQ(views.problem(), "the fold map is not an 8-bit RGB image of the result's size");
        EXPECT_EQ(options.rows, nullptr);
    }
}

// The first differing byte of two .flo files, as the pixel it belongs to.
std::string first_byte_difference(const std::string& a, const std::string& b, int w)
{
    if (a.size() != b.size())
        return "sizes " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return i < 12 ? "header byte " + std::to_string(i)
                          : "pixel (" + std::to_string((i - 12) / 8 % w) + ", " + std::to_string((i - 12) / 8 / w) +
                                ") " + "uv"[(i - 12) / 4 % 2];
    return "";
}

// The counts, map and field bytes that WarpViews makes on the warp's threads
// are those of analyse_folds, fold_map and write_flo on the literal kernel's
// points, for both kernels and 1, 3 and all threads.
TEST(WarpViews, SameOnRowsAsFromPointsOnEveryKernelAndThreadCount)
{
    const uint32_t base = test_seed(20261209u);
    const int cases = std::getenv("TAVROSK_SEED") ? 1 : 120;
    for (int i = 0; i < cases; ++i) {
        const uint32_t seed = base + i;
        // Every fourth case larger, so that rows are shared out among threads.
        WarpCase c = i % 4 == 3 ? make_warp_case(seed, 61 + i % 7, 37) : make_warp_case(seed);
        const int n = static_cast<int>(c.table.size());
        SurfacePtr surface(make_surface(c.w, c.h, c.depth));
        fill_random(surface.get(), seed);
        const ImageBuffer src = rgb8_of(surface.get());
        ImageBuffer dst, map;
        ASSERT_TRUE(image_buffer_make(&dst, c.w, c.h, 3, SAMPLE_U8));
        Grid points(c.w, c.h);
        WarpOptions literal;
        literal.kernel = WARP_KERNEL_LITERAL;
        literal.points_x = points.x.data();
        literal.points_y = points.y.data();
        warp_run(src.view, dst.view, c.table.data(), n, c.params, literal);
        std::vector<uint8_t> flags(c.w * c.h);
        const FoldCounts counts = analyse_folds(points.x.data(), points.y.data(), c.w, c.h, c.w, c.h, flags.data());
        ASSERT_TRUE(fold_map(dst.view, flags.data(), c.table.data(), n, &map));
        const std::string field = flo_of(points);

        for (int threads : {-1, 1, 3, 0}) {
            const std::string what =
                describe_warp_case(seed, c) + (threads < 0 ? "literal" : "fast, threads " + std::to_string(threads));
            WarpOptions options;
            options.kernel = threads < 0 ? WARP_KERNEL_LITERAL : WARP_KERNEL_FAST;
            options.threads = threads;
            ImageBuffer result, rows_map;
            ASSERT_TRUE(image_buffer_make(&result, c.w, c.h, 3, SAMPLE_U8)
                        && image_buffer_make(&rows_map, c.w, c.h, 3, SAMPLE_U8));
            for (int y = 0; y < c.h; ++y)
                std::memset(image_row(rows_map.view, y), static_cast<int>(seed & 0xFF), 3 * c.w);
            MemoryFile out;
            FieldRows field_rows;
            WarpViews views;
            ASSERT_TRUE(field_rows_start(&field_rows, out.file, c.w, c.h)) << field_rows.problem;
            ASSERT_TRUE(views.start(src.view, result.view, &rows_map.view, &field_rows.sink, &options)) << views.problem();
            warp_run(src.view, result.view, c.table.data(), n, c.params, options);
            EXPECT_TRUE(views.finish(c.table.data(), n)) << views.problem();
            EXPECT_TRUE(field_rows_finish(&field_rows)) << field_rows.problem;
            EXPECT_EQ(fold_summary(views.counts()), fold_summary(counts)) << what;
            ASSERT_EQ(compare_rgb(map.view, rows_map.view), "") << what;
            ASSERT_EQ(first_byte_difference(field, out.close(), c.w), "") << what;
        }
    }
}

}  // namespace
