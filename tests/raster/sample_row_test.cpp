// The row sampler against sample_bilinear and put_pixel, byte for byte: on
// every SIMD target Highway compiled and this CPU runs (forced in turn) and
// with the lanes switched off; sources of every depth, some with pixels that
// end exactly at their last byte (AddressSanitizer sees any read past them on
// the targets that gather lane by lane) or with pitches that are not whole
// pixels; results the lanes pack and results they leave to the tables.
// TAVROSK_SEED=N reruns a reported seed.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "raster/pixel.h"
#include "raster/sample_row.h"
#include "raster/sampler.h"
#include "tests/support/test_support.h"

namespace {

uint32_t base_seed()
{
    return test_seed(20261208u);
}

// A source whose pixel rows are `pitch` bytes apart and whose buffer ends
// right after its last pixel. The buffer lives as long as the surface.
struct TightSource {
    std::vector<Uint8> pixels;
    SurfacePtr surface;
};

void make_tight(TightSource* t, int w, int h, int depth, int extra, uint32_t seed)
{
    SurfacePtr model(make_surface(w, h, depth));
    fill_random(model.get(), seed);
    const SDL_PixelFormat* f = model->format;
    const int pitch = w * f->BytesPerPixel + extra;
    t->pixels.assign(static_cast<size_t>(h - 1) * pitch + w * f->BytesPerPixel, 0);
    for (int y = 0; y < h; ++y)
        std::memcpy(&t->pixels[y * pitch], static_cast<Uint8*>(model->pixels) + y * model->pitch,
                    w * f->BytesPerPixel);
    t->surface.reset(SDL_CreateRGBSurfaceFrom(t->pixels.data(), w, h, f->BitsPerPixel, pitch, f->Rmask, f->Gmask,
                                              f->Bmask, f->Amask));
    if (f->palette)
        SDL_SetColors(t->surface.get(), f->palette->colors, 0, f->palette->ncolors);
}

// Points that hit every branch of the sampler: inside, on whole coordinates,
// on the far edges x = w and y = h, in the last strips, just outside, far
// outside, infinite and not a number.
double coordinate(std::mt19937& rng, int size)
{
    switch (rng() % 10) {
    case 0: return static_cast<double>(rng() % (size + 1));
    case 1: return size;
    case 2: return size - 0.25;
    case 3: return -1e-300;
    case 4: return (rng() % 2 ? 1 : -1) * 1e300;
    case 5: return rng() % 2 ? std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::infinity();
    case 6: return -0.0;
    default: return std::uniform_real_distribution<double>(-1.5, size + 1.5)(rng);
    }
}

// Results: 32 bits in the two channel orders the lanes pack, SDL's default
// 32-bit masks, and 24-, 16- and 8-bit results the tables fill.
SDL_Surface* make_result(int kind, int w, int h)
{
    switch (kind) {
    case 0: return SDL_CreateRGBSurface(0, w, h, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
    case 1: return SDL_CreateRGBSurface(0, w, h, 32, 0x0000FF, 0x00FF00, 0xFF0000, 0);
    case 2: return SDL_CreateRGBSurface(0, w, h, 32, 0, 0, 0, 0);
    case 3: return make_surface(w, h, 24);
    case 4: return make_surface(w, h, 16);
    default: return make_surface(w, h, 8);
    }
}
const int result_kinds = 6;

// The first differing byte of two results of the same format, by pixel.
std::string compare_bytes(SDL_Surface* expected, SDL_Surface* actual)
{
    const int bytes = expected->format->BytesPerPixel;
    for (int y = 0; y < expected->h; ++y)
        for (int x = 0; x < expected->w; ++x) {
            const Uint8* e = static_cast<Uint8*>(expected->pixels) + y * expected->pitch + x * bytes;
            const Uint8* a = static_cast<Uint8*>(actual->pixels) + y * actual->pitch + x * bytes;
            if (std::memcmp(e, a, bytes) != 0) {
                std::string report = compare_rgb(expected, actual);
                return report.empty() ? "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") bytes differ\n"
                                      : report;
            }
        }
    return "";
}

TEST(SampleRow, EqualsTheSamplerOnEveryTargetWithAndWithoutLanes)
{
    const uint32_t base = base_seed();
    const int cases = std::getenv("TAVROSK_SEED") ? 1 : 150;
    std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(targets.empty());
    int lane_rows = 0;
    for (int i = 0; i < cases; ++i) {
        const uint32_t seed = base + i;
        std::mt19937 rng(seed);
        static const int depths[] = {8, 15, 16, 24, 32};
        const int w = 1 + static_cast<int>(rng() % 19), h = 1 + static_cast<int>(rng() % 6);
        const int depth = depths[rng() % 5], extra = static_cast<int>(rng() % 4), kind = i % result_kinds;
        TightSource src;
        make_tight(&src, w, h, depth, extra, seed);
        ASSERT_NE(src.surface, nullptr);

        // Each result row from its own points; the padding holds finite junk.
        std::vector<std::vector<double>> sx(h), sy(h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w + SAMPLE_ROW_PAD; ++x) {
                sx[y].push_back(x < w ? coordinate(rng, w) : 1e6 * x);
                sy[y].push_back(x < w ? coordinate(rng, h) : -3.5);
            }
        SurfacePtr expected(make_result(kind, w, h));
        ASSERT_NE(expected, nullptr);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                Uint8 r, g, b;
                sample_bilinear(src.surface.get(), sx[y][x], sy[y][x], &r, &g, &b);
                put_pixel(expected.get(), x, y, r, g, b);
            }
        const std::string what = "seed " + std::to_string(seed) + " (TAVROSK_SEED=" + std::to_string(seed) + "): " +
                                  std::to_string(w) + "x" + std::to_string(h) + " depth " + std::to_string(depth) +
                                  ", pitch +" + std::to_string(extra) + ", result kind " + std::to_string(kind);

        for (int64_t target : targets) {
            hwy::SetSupportedTargetsForTest(target);
            ASSERT_STREQ(sample_row_target_name(), hwy::TargetName(target));
            for (bool lanes : {true, false}) {
                SurfacePtr actual(make_result(kind, w, h));
                fill_random(actual.get(), seed + 99);
                RowSampler sampler;
                row_sampler_init(&sampler, src.surface.get(), actual.get(), lanes);
                lane_rows += sampler.lanes ? h : 0;
                std::vector<uint32_t> scratch(w + SAMPLE_ROW_PAD);
                // Rows in an order of their own: each call writes its row only.
                for (int k = 0; k < h; ++k) {
                    const int y = (k * 7 + 3) % h;  // 7 is prime to every h used
                    sample_row(&sampler, y, sx[y].data(), sy[y].data(), scratch.data());
                }
                ASSERT_EQ(compare_bytes(expected.get(), actual.get()), "")
                    << what << ", target " << hwy::TargetName(target) << (lanes ? ", lanes" : ", tables");
            }
        }
        hwy::SetSupportedTargetsForTest(0);
    }
    // The lanes must really have run, not only the tables.
    EXPECT_GT(lane_rows, 0);
}

// A row leaves every other row of the result as it was.
TEST(SampleRow, WritesOnlyItsRow)
{
    SurfacePtr src(make_surface(9, 4, 24)), dst(make_surface(9, 4, 32)), before(make_surface(9, 4, 32));
    fill_random(src.get(), 1);
    fill_random(dst.get(), 2);
    SDL_BlitSurface(dst.get(), nullptr, before.get(), nullptr);
    std::vector<double> sx(9 + SAMPLE_ROW_PAD, 1.5), sy(9 + SAMPLE_ROW_PAD, 2.5);
    std::vector<uint32_t> scratch(9 + SAMPLE_ROW_PAD);
    RowSampler sampler;
    row_sampler_init(&sampler, src.get(), dst.get());
    EXPECT_TRUE(sampler.lanes);
    sample_row(&sampler, 2, sx.data(), sy.data(), scratch.data());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) {
            Uint8 a[3], b[3];
            get_pixel(dst.get(), x, y, &a[0], &a[1], &a[2]);
            if (y == 2)
                sample_bilinear(src.get(), 1.5, 2.5, &b[0], &b[1], &b[2]);
            else
                get_pixel(before.get(), x, y, &b[0], &b[1], &b[2]);
            EXPECT_TRUE(a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) << "pixel (" << x << ", " << y << ")";
        }
}

}  // namespace
