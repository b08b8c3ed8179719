// The fast kernel against warp_literal, bit for bit, on seeded random tables
// and sources, on every SIMD target Highway compiled and this CPU runs,
// forced in turn. TAVROSK_SEED=N reruns a reported seed.
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
    const char* text = std::getenv("TAVROSK_SEED");
    return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 20261207u;
}

struct Case {
    int w, h, depth;
    std::vector<Segment> table;
    double p, a, b;
};

// End points are drawn so that the awkward cases come up often: whole
// numbers (segments through pixel centres, pixels at u = 0 and u = 1
// exactly along axis-aligned segments), fractions, points outside the image,
// and zero-length segments that leave their pair out.
double coordinate(std::mt19937& rng, int size)
{
    std::uniform_int_distribution<int> whole(-size / 2 - 2, size + size / 2 + 2);
    switch (rng() % 4) {
    case 0:
    case 1: return whole(rng);
    case 2: return whole(rng) + 0.5;
    default: return std::uniform_real_distribution<double>(-size, 2.0 * size)(rng);
    }
}

Segment segment(std::mt19937& rng, int w, int h)
{
    Segment s;
    s.x1 = coordinate(rng, w);
    s.y1 = coordinate(rng, h);
    switch (rng() % 6) {
    case 0:  // horizontal
        s.x2 = coordinate(rng, w);
        s.y2 = s.y1;
        break;
    case 1:  // vertical
        s.x2 = s.x1;
        s.y2 = coordinate(rng, h);
        break;
    case 2:  // degenerate
        s.x2 = s.x1;
        s.y2 = s.y1;
        break;
    default:
        s.x2 = coordinate(rng, w);
        s.y2 = coordinate(rng, h);
    }
    return s;
}

Case make_case(uint32_t seed)
{
    std::mt19937 rng(seed);
    static const int depths[] = {8, 15, 16, 24, 32};
    static const double ps[] = {0.5, 0.0, 1.0, 2.0, 0.25};
    static const double as[] = {1.0, 0.001, 0.5, 3.0};
    static const double bs[] = {1.0, 1.0, 0.0, 2.0, 0.5, 1.7};
    Case c;
    // Widths 1 to 19 leave every tail length for up to 8 lanes.
    c.w = 1 + static_cast<int>(rng() % 19);
    c.h = 1 + static_cast<int>(rng() % 9);
    c.depth = depths[rng() % 5];
    int pairs = 1 + static_cast<int>(rng() % 50);
    for (int k = 0; k < 2 * pairs; ++k)
        c.table.push_back(segment(rng, c.w, c.h));
    // An odd count: the unpaired last segment is ignored by both.
    if (rng() % 8 == 0)
        c.table.push_back(segment(rng, c.w, c.h));
    c.p = ps[rng() % 5];
    c.a = as[rng() % 4];
    c.b = bs[rng() % 6];
    if (rng() % 4 == 0) {
        c.p = std::uniform_real_distribution<double>(0, 2)(rng);
        c.a = std::uniform_real_distribution<double>(0.01, 4)(rng);
        c.b = std::uniform_real_distribution<double>(0, 2.5)(rng);
    }
    return c;
}

WarpParams params_of(const Case& c)
{
    WarpParams params;
    params.p = c.p;
    params.a = c.a;
    params.b = c.b;
    return params;
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
SurfacePtr run(SDL_Surface* src, const Case& c, WarpOptions options, uint32_t junk,
               std::vector<double>* points = nullptr)
{
    SurfacePtr dst(SDL_CreateRGBSurface(0, c.w, c.h, 32, 0, 0, 0, 0));
    fill_random(dst.get(), junk);
    if (points) {
        points->assign(2 * c.w * c.h, 0.0);
        options.points_x = points->data();
        options.points_y = points->data() + c.w * c.h;
    }
    warp_run(src, dst.get(), c.table.data(), static_cast<int>(c.table.size()), params_of(c), options);
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

std::string describe(uint32_t seed, const Case& c)
{
    char line[200];
    std::snprintf(line, sizeof line, "seed %u (TAVROSK_SEED=%u): %dx%d depth %d, %zu segments, p %g a %g b %g\n",
                  seed, seed, c.w, c.h, c.depth, c.table.size(), c.p, c.a, c.b);
    return line;
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
    std::vector<Case> all;
    std::vector<Result> results;
    std::vector<SurfacePtr> sources;
    for (int i = 0; i < cases; ++i) {
        all.push_back(make_case(base + i));
        const Case& c = all.back();
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
        std::printf("target %s\n", hwy::TargetName(targets[t]));
        ASSERT_STREQ(warp_target_name(), hwy::TargetName(targets[t]));
        for (int i = 0; i < cases; ++i) {
            const Case& c = all[i];
            for (int threads : {1, 3, 0}) {
                std::vector<double> points;
                SurfacePtr dst = run(sources[i].get(), c, kernel_options(WARP_KERNEL_FAST, threads), base + i + 77,
                                     &points);
                ASSERT_EQ(compare_exact(results[i].literal.get(), dst.get()), "")
                    << describe(base + i, c) << "target " << hwy::TargetName(targets[t]) << ", " << threads
                    << " threads (expected literal, actual fast)";
                // The same source points as doubles, not only after sampling.
                ASSERT_EQ(compare_points(results[i].points, points, c.w), "")
                    << describe(base + i, c) << "target " << hwy::TargetName(targets[t]) << ", " << threads
                    << " threads (expected literal, actual fast)";
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

// A larger image on many threads: rows shared out must still all be written
// and each exactly once with the right values.
TEST(FastKernel, ManyThreadsOnLargerImage)
{
    const uint32_t seed = base_seed() + 1000;
    Case c = make_case(seed);
    c.w = 203;
    c.h = 61;
    c.depth = 24;
    SurfacePtr src(make_surface(c.w, c.h, c.depth));
    fill_random(src.get(), seed);
    SurfacePtr expected = run(src.get(), c, kernel_options(WARP_KERNEL_LITERAL, 1), seed);
    for (int threads : {1, 2, 7, 64}) {
        SurfacePtr dst = run(src.get(), c, kernel_options(WARP_KERNEL_FAST, threads), seed + threads);
        EXPECT_EQ(compare_exact(expected.get(), dst.get()), "") << describe(seed, c) << threads << " threads";
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
                Case c = make_case(seed + depth * 100 + w * 10 + extra);
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
                        << describe(seed, c) << "pitch " << pitch << ", target " << hwy::TargetName(target);
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
