// The row sampler against sample_bilinear, byte for byte: on every SIMD
// target Highway compiled and this CPU runs (forced in turn) and with the
// lanes switched off; sources whose pixels end exactly at their last byte
// (AddressSanitizer sees any read past them on the targets that gather lane
// by lane), with rows padded or stored bottom-up, and results with padded
// rows. TAVROSK_SEED=N reruns a reported seed.
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

#include "raster/sample_row.h"
#include "raster/sampler.h"
#include "tests/support/test_support.h"

namespace {

uint32_t base_seed()
{
    return test_seed(20261208u);
}

// An 8-bit R, G, B image of random pixels whose rows are `stride` bytes
// apart (3 * w + padding; negative: bottom-up) and whose buffer ends right
// after its last pixel. The buffer lives as long as the image.
struct TightImage {
    std::vector<unsigned char> bytes;
    ImageView view;
};

void make_tight(TightImage* t, int w, int h, int padding, bool bottom_up, uint32_t seed)
{
    const std::ptrdiff_t pitch = 3 * w + padding;
    t->bytes.assign(static_cast<size_t>(h - 1) * pitch + 3 * w, 0);
    std::mt19937 rng(seed);
    for (unsigned char& b : t->bytes)
        b = static_cast<unsigned char>(rng());
    t->view.pixels = t->bytes.data() + (bottom_up ? (h - 1) * pitch : 0);
    t->view.width = w;
    t->view.height = h;
    t->view.stride = bottom_up ? -pitch : pitch;
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

// The first differing pixel of two images of one size, or "".
std::string compare_pixels(const ImageView& expected, const ImageView& actual)
{
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            if (std::memcmp(image_row(expected, y) + 3 * x, image_row(actual, y) + 3 * x, 3) != 0)
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") differs\n";
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
        const int w = 1 + static_cast<int>(rng() % 19), h = 1 + static_cast<int>(rng() % 6);
        const int extra = static_cast<int>(rng() % 4), result_extra = i % 3;
        const bool bottom_up = i % 5 == 4;
        TightImage src;
        make_tight(&src, w, h, extra, bottom_up, seed);

        // Each result row from its own points; the padding holds finite junk.
        std::vector<std::vector<double>> sx(h), sy(h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w + SAMPLE_ROW_PAD; ++x) {
                sx[y].push_back(x < w ? coordinate(rng, w) : 1e6 * x);
                sy[y].push_back(x < w ? coordinate(rng, h) : -3.5);
            }
        ImageBuffer expected;
        ASSERT_TRUE(image_buffer_make(&expected, w, h, 3, SAMPLE_U8));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                sample_bilinear(src.view, sx[y][x], sy[y][x], image_row(expected.view, y) + 3 * x);
        const std::string what = "seed " + std::to_string(seed) + " (TAVROSK_SEED=" + std::to_string(seed) + "): " +
                                  std::to_string(w) + "x" + std::to_string(h) + ", stride +" + std::to_string(extra) +
                                  (bottom_up ? " bottom-up" : "") + ", result stride +" + std::to_string(result_extra);

        for (int64_t target : targets) {
            hwy::SetSupportedTargetsForTest(target);
            ASSERT_STREQ(sample_row_target_name(), hwy::TargetName(target));
            for (bool lanes : {true, false}) {
                TightImage actual;
                make_tight(&actual, w, h, result_extra, false, seed + 99);
                RowSampler sampler;
                row_sampler_init(&sampler, src.view, actual.view, lanes);
                lane_rows += sampler.lanes ? h : 0;
                std::vector<uint32_t> scratch(w + SAMPLE_ROW_PAD);
                // Rows in an order of their own: each call writes its row only.
                for (int k = 0; k < h; ++k) {
                    const int y = (k * 7 + 3) % h;  // 7 is prime to every h used
                    sample_row(&sampler, y, sx[y].data(), sy[y].data(), scratch.data());
                }
                ASSERT_EQ(compare_pixels(expected.view, actual.view), "")
                    << what << ", target " << hwy::TargetName(target) << (lanes ? ", lanes" : ", sampler");
            }
        }
        hwy::SetSupportedTargetsForTest(0);
    }
    // The lanes must really have run, not only the sampler.
    EXPECT_GT(lane_rows, 0);
}

// A row leaves every other row of the result, and the padding of its own, as
// it was.
TEST(SampleRow, WritesOnlyItsRow)
{
    TightImage src, dst, before;
    make_tight(&src, 9, 4, 0, false, 1);
    make_tight(&dst, 9, 4, 5, false, 2);
    make_tight(&before, 9, 4, 5, false, 2);
    std::vector<double> sx(9 + SAMPLE_ROW_PAD, 1.5), sy(9 + SAMPLE_ROW_PAD, 2.5);
    std::vector<uint32_t> scratch(9 + SAMPLE_ROW_PAD);
    RowSampler sampler;
    row_sampler_init(&sampler, src.view, dst.view);
    EXPECT_TRUE(sampler.lanes);
    sample_row(&sampler, 2, sx.data(), sy.data(), scratch.data());
    Uint8 sample[3];
    sample_bilinear(src.view, 1.5, 2.5, sample);
    for (size_t i = 0; i < dst.bytes.size(); ++i) {
        const bool in_row = i >= 2 * 32 && i < 2 * 32 + 27;
        EXPECT_EQ(dst.bytes[i], in_row ? sample[(i - 2 * 32) % 3] : before.bytes[i]) << "byte " << i;
    }
}

}  // namespace
