// The fast kernel against warp_literal, bit for bit, on seeded random tables
// and sources, on every SIMD target Highway compiled and this CPU runs and
// with each method of quotients, forced in turn. TAVROSK_SEED=N reruns a
// reported seed.
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

#include "tests/support/test_support.h"
#include "warp/warp.h"

namespace {

uint32_t base_seed()
{
    return test_seed(20261207u);
}

WarpOptions kernel_options(WarpKernel kernel, int threads)
{
    WarpOptions options;
    options.kernel = kernel;
    options.threads = threads;
    return options;
}

// Warps src into a fresh 32-bit result filled with junk first, so that a
// pixel left unwritten shows; the source points go to *points (x then y of
// each pixel, row by row) when it is given.
SurfacePtr run(SDL_Surface* src, const WarpCase& c, WarpOptions options, uint32_t junk,
               std::vector<double>* points = nullptr)
{
    SurfacePtr dst(SDL_CreateRGBSurface(0, c.w, c.h, 32, 0, 0, 0, 0));
    fill_random(dst.get(), junk);
    if (points) {
        points->assign(2 * c.w * c.h, 0.0);
        options.points_x = points->data();
        options.points_y = points->data() + c.w * c.h;
    }
    warp_surfaces(src, dst.get(), c.table.data(), static_cast<int>(c.table.size()), c.params, options);
    return dst;
}

// Equal doubles, bit for bit, or both not a number (whose sign and payload
// an instruction set may choose).
std::string compare_points(const std::vector<double>& expected, const std::vector<double>& actual, int w)
{
    const size_t plane = expected.size() / 2;
    for (size_t i = 0; i < expected.size(); ++i) {
        const double e = expected[i], a = actual[i];
        if ((std::isnan(e) && std::isnan(a)) || std::memcmp(&e, &a, sizeof e) == 0)
            continue;
        const size_t pixel = i % plane;
        char line[160];
        std::snprintf(line, sizeof line, "source point %c of pixel (%zu, %zu): %.17g vs %.17g\n",
                      i < plane ? 'x' : 'y', pixel % w, pixel / w, e, a);
        return line;
    }
    return "";
}

// Raw bytes first (every pixel written, nothing else changed), then the
// colour comparison for a readable report of the first differences.
std::string compare_exact(SDL_Surface* expected, SDL_Surface* actual)
{
    for (int y = 0; y < expected->h; ++y) {
        const Uint8* e = static_cast<Uint8*>(expected->pixels) + y * expected->pitch;
        const Uint8* a = static_cast<Uint8*>(actual->pixels) + y * actual->pitch;
        if (std::memcmp(e, a, expected->w * 4) != 0) {
            std::string report = compare_rgb(expected, actual);
            return report.empty() ? "row " + std::to_string(y) + " differs in bytes\n" : report;
        }
    }
    return "";
}

struct Result {
    SurfacePtr literal;
    std::vector<double> points;  // the literal kernel's source points
};

TEST(FastKernel, EqualsLiteralOnEveryTarget)
{
    const uint32_t base = base_seed();
    const int cases = std::getenv("TAVROSK_SEED") ? 1 : 400;
    std::vector<WarpCase> all;
    std::vector<Result> results;
    std::vector<SurfacePtr> sources;
    for (int i = 0; i < cases; ++i) {
        all.push_back(make_warp_case(base + i));
        const WarpCase& c = all.back();
        sources.emplace_back(make_surface(c.w, c.h, c.depth));
        ASSERT_NE(sources.back(), nullptr);
        fill_random(sources.back().get(), base + i);
        Result r;
        r.literal = run(sources.back().get(), c, kernel_options(WARP_KERNEL_LITERAL, 1), ~(base + i), &r.points);
        results.push_back(std::move(r));
    }

    std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(targets.empty());
    for (size_t t = 0; t < targets.size(); ++t) {
        hwy::SetSupportedTargetsForTest(targets[t]);
        ASSERT_STREQ(warp_target_name(), hwy::TargetName(targets[t]));
        for (WarpQuotients method : quotient_methods) {
            warp_force_quotients(method);
            std::printf("target %s, quotients by %s\n", hwy::TargetName(targets[t]), warp_quotient_method());
            for (int i = 0; i < cases; ++i) {
                const WarpCase& c = all[i];
                for (int threads : {1, 3, 0}) {
                    std::vector<double> points;
                    SurfacePtr dst = run(sources[i].get(), c, kernel_options(WARP_KERNEL_FAST, threads),
                                         base + i + 77, &points);
                    const std::string where = describe_warp_case(base + i, c) + "target "
                                            + hwy::TargetName(targets[t]) + ", quotients by "
                                            + warp_quotient_method() + ", " + std::to_string(threads)
                                            + " threads (expected literal, actual fast)";
                    ASSERT_EQ(compare_exact(results[i].literal.get(), dst.get()), "") << where;
                    // The same source points as doubles, not only after sampling.
                    ASSERT_EQ(compare_points(results[i].points, points, c.w), "") << where;
                }
            }
        }
    }
    warp_force_quotients(WARP_QUOTIENTS_AUTO);
    hwy::SetSupportedTargetsForTest(0);
}

// Every kind, with its outside colour, through both kernels: the same bytes
// on every target and thread count (the row sampler's own test covers the
// lanes case by case; this one the warp around them).
TEST(FastKernel, EveryKindEqualsLiteralOnEveryTarget)
{
    const uint32_t base = base_seed() + 3000;
    const int cases = std::getenv("TAVROSK_SEED") ? 1 : 36;
    static const SampleType types[] = {SAMPLE_U8, SAMPLE_U16, SAMPLE_F32};
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    for (int i = 0; i < cases; ++i) {
        const WarpCase c = make_warp_case(base + i);
        const int channels = 1 + i % 4;
        const SampleType type = types[i / 4 % 3];
        ImageBuffer src, literal;
        ASSERT_TRUE(image_buffer_make(&src, c.w, c.h, channels, type));
        ASSERT_TRUE(image_buffer_make(&literal, c.w, c.h, channels, type));
        fill_random_samples(src.view, base + i);
        WarpOptions options = kernel_options(WARP_KERNEL_LITERAL, 1);
        if (i % 3)
            options.outside = {0.25, 1, 0.5, i % 3 == 1 ? 1.0 : 0.5};
        const int n = static_cast<int>(c.table.size());
        ASSERT_EQ(warp_run(src.view, literal.view, c.table.data(), n, c.params, options), WARP_OK);
        const size_t bytes = static_cast<size_t>(c.w) * c.h * image_pixel_bytes(src.view);
        for (int64_t target : targets) {
            hwy::SetSupportedTargetsForTest(target);
            for (int threads : {1, 3}) {
                ImageBuffer fast;
                ASSERT_TRUE(image_buffer_make(&fast, c.w, c.h, channels, type));
                fill_random(fast.view, base + i + 5);
                options.kernel = WARP_KERNEL_FAST;
                options.threads = threads;
                ASSERT_EQ(warp_run(src.view, fast.view, c.table.data(), n, c.params, options), WARP_OK);
                ASSERT_EQ(std::memcmp(fast.data.get(), literal.data.get(), bytes), 0)
                    << describe_warp_case(base + i, c) << channels << " channels of type " << type << ", target "
                    << hwy::TargetName(target) << ", " << threads << " threads";
            }
        }
        hwy::SetSupportedTargetsForTest(0);
    }
}

// The method each instruction set runs: the forced one where the instruction
// set has it, else the nearest it has (newton on AVX3 only, fma where there
// are fused multiply-adds, the divider everywhere, as MulAdd rounds twice
// without them), and one it has, measured, when none is forced.
TEST(FastKernel, QuotientMethodFollowsTheInstructionSet)
{
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        const bool newton = target == HWY_AVX3 || target == HWY_AVX3_DL;
        const bool fused = newton || target == HWY_AVX2;
        const struct {
            WarpQuotients forced;
            const char* expected;
        } cases[] = {
            {WARP_QUOTIENTS_DIVIDER, "divider"},
            {WARP_QUOTIENTS_FMA, fused ? "fma" : "divider"},
            {WARP_QUOTIENTS_NEWTON, newton ? "newton" : fused ? "fma" : "divider"},
            {WARP_QUOTIENTS_AUTO, fused ? nullptr : "divider"},
        };
        for (const auto& c : cases) {
            warp_force_quotients(c.forced);
            const std::string method = warp_quotient_method();
            if (c.expected)
                EXPECT_EQ(method, c.expected) << hwy::TargetName(target);
            else
                EXPECT_TRUE(method == "divider" || method == "fma" || (newton && method == "newton"))
                    << hwy::TargetName(target) << ": " << method;
            EXPECT_NE(warp_kernel_summary().find(std::string(hwy::TargetName(target)) + ", quotients by " + method),
                      std::string::npos)
                << warp_kernel_summary();
        }
    }
    warp_force_quotients(WARP_QUOTIENTS_AUTO);
    hwy::SetSupportedTargetsForTest(0);
}

// Pixels on P with PQ.x, PQ.y < 0 make u's and v's numerators -0 (+0 times a
// negative), and with P1 = (-0, -0) at pixel (0, 0) X' and D are zeros whose
// sign the lanes' quotients may not keep (docs/numerics.md): the points are
// still the literal kernel's, on every target and method, next to ordinary
// pairs and alone.
TEST(FastKernel, ZeroNumeratorsKeepThePoints)
{
    WarpCase c = make_warp_case(base_seed() + 3000, 9, 7);
    const std::vector<Segment> zeros = {{-0.0, -0.0, -2, -7}, {0, 0, -3, -4}, {-0.0, 3, -0.0, 1}, {4, 3, 1, -1}};
    SurfacePtr src(make_surface(c.w, c.h, 32));
    fill_random(src.get(), base_seed());
    for (bool alone : {true, false}) {
        c.table = alone ? zeros : make_warp_case(base_seed() + 3001, 9, 7).table;
        if (!alone)
            c.table.insert(c.table.begin(), zeros.begin(), zeros.end());
        std::vector<double> expected, actual;
        run(src.get(), c, kernel_options(WARP_KERNEL_LITERAL, 1), 1, &expected);
        for (int64_t target : hwy::SupportedAndGeneratedTargets())
            for (WarpQuotients method : quotient_methods) {
                hwy::SetSupportedTargetsForTest(target);
                warp_force_quotients(method);
                run(src.get(), c, kernel_options(WARP_KERNEL_FAST, 1), 2, &actual);
                EXPECT_EQ(compare_points(expected, actual, c.w), "")
                    << describe_warp_case(base_seed() + 3000, c) << hwy::TargetName(target) << ", quotients by "
                    << warp_quotient_method();
            }
    }
    warp_force_quotients(WARP_QUOTIENTS_AUTO);
    hwy::SetSupportedTargetsForTest(0);
}

// A larger image on many threads: rows shared out must still all be written
// and each exactly once with the right values.
TEST(FastKernel, ManyThreadsOnLargerImage)
{
    const uint32_t seed = base_seed() + 1000;
    WarpCase c = make_warp_case(seed);
    c.w = 203;
    c.h = 61;
    c.depth = 24;
    SurfacePtr src(make_surface(c.w, c.h, c.depth));
    fill_random(src.get(), seed);
    SurfacePtr expected = run(src.get(), c, kernel_options(WARP_KERNEL_LITERAL, 1), seed);
    for (int threads : {1, 2, 7, 64}) {
        SurfacePtr dst = run(src.get(), c, kernel_options(WARP_KERNEL_FAST, threads), seed + threads);
        EXPECT_EQ(compare_exact(expected.get(), dst.get()), "") << describe_warp_case(seed, c) << threads << " threads";
    }
}

// Sources whose pixels end exactly at their last pixel, so that any read
// past them is outside the buffer (AddressSanitizer sees it on the targets
// that gather lane by lane), and pitches that are not a whole number of
// pixels, which the lanes leave to the scalar sampler. Both must still give
// the literal kernel's result on every target.
TEST(FastKernel, TightBuffersAndOddPitches)
{
    const uint32_t seed = base_seed() + 2000;
    std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    for (int depth : {8, 15, 16, 24, 32}) {
        for (int w : {1, 2, 3, 4, 5, 8, 13}) {
            for (int extra : {0, 1, 3}) {
                WarpCase c = make_warp_case(seed + depth * 100 + w * 10 + extra);
                c.w = w;
                c.h = 1 + (w + extra) % 4;
                SurfacePtr model(make_surface(c.w, c.h, depth));
                ASSERT_NE(model, nullptr);
                fill_random(model.get(), seed + w);
                const SDL_PixelFormat* f = model->format;
                const int pitch = c.w * f->BytesPerPixel + extra;
                const size_t extent = static_cast<size_t>(c.h - 1) * pitch + c.w * f->BytesPerPixel;
                std::vector<Uint8> pixels(extent);
                for (int y = 0; y < c.h; ++y)
                    std::memcpy(&pixels[y * pitch], static_cast<Uint8*>(model->pixels) + y * model->pitch,
                                c.w * f->BytesPerPixel);
                SurfacePtr src(SDL_CreateRGBSurfaceFrom(pixels.data(), c.w, c.h, f->BitsPerPixel, pitch, f->Rmask,
                                                        f->Gmask, f->Bmask, f->Amask));
                ASSERT_NE(src, nullptr);
                if (f->palette)
                    SDL_SetColors(src.get(), f->palette->colors, 0, f->palette->ncolors);
                SurfacePtr expected = run(src.get(), c, kernel_options(WARP_KERNEL_LITERAL, 1), seed);
                for (int64_t target : targets) {
                    hwy::SetSupportedTargetsForTest(target);
                    SurfacePtr dst = run(src.get(), c, kernel_options(WARP_KERNEL_FAST, 1), seed + 5);
                    EXPECT_EQ(compare_exact(expected.get(), dst.get()), "")
                        << describe_warp_case(seed, c) << "pitch " << pitch << ", target " << hwy::TargetName(target);
                }
                hwy::SetSupportedTargetsForTest(0);
            }
        }
    }
}

// The kernel skips the outer pow when b is exactly 1; that is only sound if
// pow(x, 1.0) returns x itself for every weight it could see.
TEST(FastKernel, PowWithExponentOneIsIdentity)
{
    std::mt19937_64 rng(base_seed());
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::epsilon(),
                                  std::numeric_limits<double>::infinity(),
                                  1.0 / 3.0,
                                  std::sqrt(2.0)};
    for (int i = 0; i < 200000; ++i) {
        uint64_t bits = rng() & 0x7FFFFFFFFFFFFFFFull;
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (std::isfinite(x))
            values.push_back(x);
        values.push_back(std::uniform_real_distribution<double>(0, 100)(rng));
    }
    for (double x : values) {
        double y = std::pow(x, 1.0);
        ASSERT_EQ(std::memcmp(&x, &y, sizeof x), 0) << "pow(" << x << ", 1.0) = " << y;
    }
}

}  // namespace
