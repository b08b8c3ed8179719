// The frames of warp/morph.h against the plain morph of plain_morph.h (the
// literal kernel and the formulas of docs/numerics.md), bit for bit, on
// seeded random cases; and the lines of a morph carrying a feature from its
// place in FIRST to its place in SECOND. TAVROSK_SEED=N reruns one seed.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sdl/pixel.h"
#include "tests/support/test_support.h"
#include "tests/warp/plain_morph.h"
#include "io/image_codecs.h"
#include "raster/kinds.h"
#include "warp/morph.h"
#include "warp/warp.h"

namespace {

uint32_t base_seed()
{
    const char* text = std::getenv("TAVROSK_SEED");
    return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 20261208u;
}

struct Case {
    int w, h, first_depth, second_depth, frames;
    std::vector<Segment> pairs;
    WarpParams params;
};

double coordinate(std::mt19937& rng, int size)
{
    std::uniform_int_distribution<int> whole(-size / 4, size + size / 4);
    return rng() % 2 ? whole(rng) : std::uniform_real_distribution<double>(-size / 4.0, 1.25 * size)(rng);
}

Segment random_segment(std::mt19937& rng, int w, int h)
{
    return {coordinate(rng, w), coordinate(rng, h), coordinate(rng, w), coordinate(rng, h)};
}

// Pairs as a user draws them (the second segment near the first), unrelated
// ones, reversed ones (whose lines shrink to a point half way), and pairs
// with a zero-length segment on either side.
void add_pair(std::mt19937& rng, const Case& c, std::vector<Segment>* pairs)
{
    Segment first = random_segment(rng, c.w, c.h);
    Segment second;
    switch (rng() % 6) {
    case 0:
    case 1: {
        std::uniform_real_distribution<double> nudge(-3, 3);
        second = {first.x1 + nudge(rng), first.y1 + nudge(rng), first.x2 + nudge(rng), first.y2 + nudge(rng)};
        break;
    }
    case 2: second = random_segment(rng, c.w, c.h); break;
    case 3: second = {first.x2, first.y2, first.x1, first.y1}; break;
    case 4:
        second = random_segment(rng, c.w, c.h);
        first.x2 = first.x1;
        first.y2 = first.y1;
        break;
    default:
        second = random_segment(rng, c.w, c.h);
        second.x2 = second.x1;
        second.y2 = second.y1;
    }
    pairs->push_back(first);
    pairs->push_back(second);
}

Case make_case(uint32_t seed)
{
    std::mt19937 rng(seed);
    static const int depths[] = {8, 15, 16, 24, 32};
    static const int frame_counts[] = {2, 3, 4, 5, 7};
    Case c;
    c.w = 1 + static_cast<int>(rng() % 37);
    c.h = 1 + static_cast<int>(rng() % 23);
    c.first_depth = depths[rng() % 5];
    c.second_depth = rng() % 2 ? c.first_depth : depths[rng() % 5];
    c.frames = frame_counts[rng() % 5];
    const int pairs = 1 + static_cast<int>(rng() % 10);
    for (int k = 0; k < pairs; ++k)
        add_pair(rng, c, &c.pairs);
    if (rng() % 3 == 0) {
        c.params.p = std::uniform_real_distribution<double>(0, 2)(rng);
        c.params.a = std::uniform_real_distribution<double>(0.05, 3)(rng);
        c.params.b = std::uniform_real_distribution<double>(0, 2.5)(rng);
    }
    return c;
}

std::string describe(uint32_t seed, const Case& c)
{
    char line[200];
    std::snprintf(line, sizeof line,
                  "seed %u (TAVROSK_SEED=%u): %dx%d, depths %d and %d, %zu pairs, %d frames, p %g a %g b %g\n", seed,
                  seed, c.w, c.h, c.first_depth, c.second_depth, c.pairs.size() / 2, c.frames, c.params.p,
                  c.params.a, c.params.b);
    return line;
}

// A job as the tool sets one up, its warp results filled with junk.
struct Job {
    ImageBuffer first, second;  // the inputs as the tool reads them
    MorphJob job;

    Job(SDL_Surface* a, SDL_Surface* b, const Case& c, WarpKernel kernel, int threads, uint32_t junk)
        : first(rgb8_of(a)), second(rgb8_of(b))
    {
        EXPECT_TRUE(morph_job_init(&job, first.view, second.view));
        fill_random(job.warped_first.view, junk);
        fill_random(job.warped_second.view, junk + 1);
        job.pairs = c.pairs;
        job.params = c.params;
        job.options.kernel = kernel;
        job.options.threads = threads;
    }
};

// A frame filled with junk, so that a pixel the morph leaves unwritten shows.
ImageBuffer junk_frame(int w, int h, uint32_t junk)
{
    ImageBuffer frame;
    EXPECT_TRUE(image_buffer_make(&frame, w, h, 3, SAMPLE_U8));
    fill_random(frame.view, junk);
    return frame;
}

TEST(MorphFrames, EqualPlainMorphOnEveryFrame)
{
    const uint32_t base = base_seed();
    const int cases = std::getenv("TAVROSK_SEED") ? 1 : 150;
    const struct {
        WarpKernel kernel;
        int threads;
        const char* name;
    } runs[] = {{WARP_KERNEL_FAST, 1, "fast, 1 thread"},
                {WARP_KERNEL_FAST, 0, "fast, all threads"},
                {WARP_KERNEL_FAST, 5, "fast, 5 threads"},
                {WARP_KERNEL_LITERAL, 1, "literal"}};
    for (int n = 0; n < cases; ++n) {
        const uint32_t seed = base + n;
        const Case c = make_case(seed);
        SurfacePtr first(make_surface(c.w, c.h, c.first_depth));
        SurfacePtr second(make_surface(c.w, c.h, c.second_depth));
        ASSERT_TRUE(first && second);
        fill_random(first.get(), seed);
        fill_random(second.get(), ~seed);
        std::vector<SurfacePtr> expected;
        for (int i = 0; i < c.frames; ++i)
            expected.push_back(plain_morph_frame(first.get(), second.get(), c.pairs, c.params, i, c.frames));
        for (const auto& run : runs) {
            Job job(first.get(), second.get(), c, run.kernel, run.threads, seed + 3);
            // Frames in an order other than 0, 1, ...: a frame may not lean on
            // what the one before left in the job.
            for (int step = 0; step < c.frames; ++step) {
                const int i = (step * 3 + 1) % c.frames;
                ImageBuffer frame = junk_frame(c.w, c.h, seed + 7 * i);
                morph_render(&job.job, i, c.frames, frame.view);
                ASSERT_EQ(compare_rgb(expected[i].get(), frame.view), "")
                    << describe(seed, c) << "frame " << i << ", " << run.name << " (expected plain, actual morph)";
            }
        }
    }
}

// The fast kernel computes both warps of a frame in one pass over the pairs,
// in SIMD lanes: the same frames on every instruction set this CPU runs and
// with each method of quotients, forced in turn, and with pairs that only one
// of the two warps uses.
TEST(MorphFrames, EqualPlainMorphOnEveryTarget)
{
    const uint32_t base = base_seed() + 5000;
    const int cases = std::getenv("TAVROSK_SEED") ? 1 : 25;
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    for (int n = 0; n < cases; ++n) {
        const uint32_t seed = base + n;
        const Case c = make_case(seed);
        SurfacePtr first(make_surface(c.w, c.h, c.first_depth));
        SurfacePtr second(make_surface(c.w, c.h, c.second_depth));
        fill_random(first.get(), seed);
        fill_random(second.get(), ~seed);
        for (int i = 1; i + 1 < c.frames; ++i) {
            SurfacePtr expected = plain_morph_frame(first.get(), second.get(), c.pairs, c.params, i, c.frames);
            for (int64_t target : targets)
                for (WarpQuotients method : quotient_methods) {
                    hwy::SetSupportedTargetsForTest(target);
                    warp_force_quotients(method);
                    for (int threads : {1, 3}) {
                        Job job(first.get(), second.get(), c, WARP_KERNEL_FAST, threads, seed + 3);
                        ImageBuffer frame = junk_frame(c.w, c.h, seed + 7 * i);
                        morph_render(&job.job, i, c.frames, frame.view);
                        ASSERT_EQ(compare_rgb(expected.get(), frame.view), "")
                            << describe(seed, c) << "frame " << i << ", target " << hwy::TargetName(target)
                            << ", quotients by " << warp_quotient_method() << ", " << threads
                            << " threads (expected plain, actual morph)";
                    }
                }
            warp_force_quotients(WARP_QUOTIENTS_AUTO);
            hwy::SetSupportedTargetsForTest(0);
        }
    }
}

// Inputs of any two kinds: the frames have the wider kind, frames 0 and
// n - 1 are the inputs widened to it (the colour under a transparent pixel
// kept), and every frame between is the same with the literal kernel as with
// the fast one on every target and 1 or 3 threads, an outside colour given
// or not.
TEST(MorphFrames, EveryKindKeepsItsEndsAndEqualsTheLiteralKernel)
{
    const uint32_t base = base_seed() + 9000;
    const int cases = std::getenv("TAVROSK_SEED") ? 1 : 24;
    static const SampleType types[] = {SAMPLE_U8, SAMPLE_U16, SAMPLE_F32};
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    for (int n = 0; n < cases; ++n) {
        const uint32_t seed = base + n;
        const Case c = make_case(seed);
        std::mt19937 rng(seed);
        const ImageKind kinds[2] = {{1 + n % 4, types[n / 4 % 3]},
                                    {1 + static_cast<int>(rng() % 4), types[rng() % 3]}};
        ImageBuffer inputs[2];
        for (int k = 0; k < 2; ++k) {
            ASSERT_TRUE(image_buffer_make(&inputs[k], c.w, c.h, kinds[k].channels, kinds[k].type));
            fill_random_samples(inputs[k].view, seed + k);
            if (image_has_alpha(inputs[k].view)) {  // a colour under no alpha
                set_pixel_sample(inputs[k].view.pixels, kinds[k].type, 0, sample_full_value(kinds[k].type));
                set_pixel_sample(inputs[k].view.pixels, kinds[k].type, kinds[k].channels - 1, 0);
            }
        }
        const ImageKind kind = kind_wider(kinds[0], kinds[1]);
        const std::string what = describe(seed, c) + "kinds " + std::to_string(kinds[0].channels) + "/"
                               + std::to_string(kinds[0].type) + " and " + std::to_string(kinds[1].channels) + "/"
                               + std::to_string(kinds[1].type);
        const size_t bytes = static_cast<size_t>(c.w) * c.h * kind.channels * sample_bytes(kind.type);
        const auto render = [&](WarpKernel kernel, int threads, int i, ImageBuffer* frame) {
            MorphJob job;
            EXPECT_TRUE(morph_job_init(&job, inputs[0].view, inputs[1].view));
            EXPECT_TRUE(kind_equal(job.kind, kind));
            job.pairs = c.pairs;
            job.params = c.params;
            job.options.kernel = kernel;
            job.options.threads = threads;
            if (n % 2)
                job.options.outside = {1, 0.5, 0, 0.75};
            EXPECT_TRUE(image_buffer_make(frame, c.w, c.h, kind.channels, kind.type));
            fill_random(frame->view, seed + i);
            EXPECT_TRUE(morph_render(&job, i, c.frames, frame->view));
        };
        for (int end : {0, c.frames - 1}) {
            ImageBuffer frame, widened;
            render(WARP_KERNEL_FAST, 1, end, &frame);
            ASSERT_TRUE(image_convert(inputs[end ? 1 : 0].view, kind, &widened));
            ASSERT_EQ(std::memcmp(frame.data.get(), widened.data.get(), bytes), 0) << what << ", frame " << end;
        }
        for (int i = 1; i + 1 < c.frames; ++i) {
            ImageBuffer literal;
            render(WARP_KERNEL_LITERAL, 1, i, &literal);
            for (int64_t target : targets) {
                hwy::SetSupportedTargetsForTest(target);
                for (int threads : {1, 3}) {
                    ImageBuffer fast;
                    render(WARP_KERNEL_FAST, threads, i, &fast);
                    ASSERT_EQ(std::memcmp(fast.data.get(), literal.data.get(), bytes), 0)
                        << what << ", frame " << i << ", target " << hwy::TargetName(target) << ", " << threads
                        << " threads";
                }
            }
            hwy::SetSupportedTargetsForTest(0);
        }
    }
}

// A red bar along y = 10 from x = 10 to 40 in FIRST, turned and moved to be
// a blue bar down x = 50 from y = 5 to 35 in SECOND, each marked by a
// segment along it, on black. Every frame must show the bar along its own
// line, its red fading out and its blue fading in with t, and black well away
// from it. Catches what the plain morph could share with the code: pairs
// taken the wrong way round (FIRST warped onto SECOND's lines) or the blend's
// weights swapped.
TEST(MorphFrames, FeatureFollowsTheFramesLine)
{
    const int w = 64, h = 48, frames = 5;
    SurfacePtr first(make_surface(w, h, 24)), second(make_surface(w, h, 24));
    SDL_FillRect(first.get(), nullptr, 0);
    SDL_FillRect(second.get(), nullptr, 0);
    for (int d = -2; d <= 32; ++d)
        for (int across = -2; across <= 2; ++across) {
            put_pixel(first.get(), 8 + d, 10 + across, 255, 0, 0);
            put_pixel(second.get(), 50 + across, 3 + d, 0, 0, 255);
        }
    Case c{};
    c.w = w;
    c.h = h;
    c.frames = frames;
    c.pairs = {{10, 10, 40, 10}, {50, 5, 50, 35}};
    Job job(first.get(), second.get(), c, WARP_KERNEL_FAST, 0, 1);
    for (int i = 0; i < frames; ++i) {
        ImageBuffer frame = junk_frame(w, h, i);
        morph_render(&job.job, i, frames, frame.view);
        const double t = static_cast<double>(i) / (frames - 1);
        const Segment line = {10 + t * 40, 10 - t * 5, 40 + t * 10, 10 + t * 25};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                // Distance of the pixel from the line and where along it it lies.
                const double dx = line.x2 - line.x1, dy = line.y2 - line.y1;
                const double length = std::sqrt(dx * dx + dy * dy);
                const double along = ((x - line.x1) * dx + (y - line.y1) * dy) / length;
                const double across = std::fabs((x - line.x1) * dy - (y - line.y1) * dx) / length;
                const Uint8* rgb = image_row(frame.view, y) + 3 * x;
                const Uint8 r = rgb[0], g = rgb[1], b = rgb[2];
                const std::string where =
                    "frame " + std::to_string(i) + " at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
                if (along >= 2 && along <= length - 2 && across <= 0.5) {
                    EXPECT_NEAR(r, (1 - t) * 255, 3) << where << " should be on the bar";
                    EXPECT_EQ(g, 0) << where;
                    EXPECT_NEAR(b, t * 255, 3) << where << " should be on the bar";
                } else if (across >= 4 || along <= -6 || along >= length + 6) {
                    EXPECT_EQ(r + g + b, 0) << where << " should be black";
                }
            }
    }
}

}  // namespace
