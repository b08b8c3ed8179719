// The row sampler against image_sample, byte for byte, for every kind: on
// every SIMD target Highway compiled and this CPU runs (forced in turn) and with the
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

#include "raster/kinds.h"
#include "raster/sample_row.h"
#include "raster/sampler.h"
#include "tests/support/test_support.h"

namespace {

uint32_t base_seed()
{
    return test_seed(20261208u);
}

// An image of random pixels of a kind (fill_random_samples) whose rows are
// `stride` bytes apart (a row's bytes + padding; negative: bottom-up) and
// whose buffer ends right after its last pixel. The buffer lives as long as
// the image.
struct TightImage {
    std::vector<unsigned char> bytes;
    ImageView view;
};

void make_tight(TightImage* t, ImageKind kind, int w, int h, int padding, bool bottom_up, uint32_t seed)
{
    t->view.width = w;
    t->view.height = h;
    t->view.channels = kind.channels;
    t->view.type = kind.type;
    const int row = w * image_pixel_bytes(t->view);
    const std::ptrdiff_t pitch = row + padding;
    t->bytes.assign(static_cast<size_t>(h - 1) * pitch + row, 0);
    t->view.pixels = t->bytes.data() + (bottom_up ? (h - 1) * pitch : 0);
    t->view.stride = bottom_up ? -pitch : pitch;
    fill_random_samples(t->view, seed);
}

// The first differing pixel of two images of one size and kind, or "".
std::string compare_pixels(const ImageView& expected, const ImageView& actual)
{
    const int bytes = image_pixel_bytes(expected);
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            if (std::memcmp(image_row(expected, y) + x * bytes, image_row(actual, y) + x * bytes, bytes) != 0)
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") differs\n";
    return "";
}

TEST(SampleRow, EqualsTheSamplerOnEveryTargetAndKindWithAndWithoutLanes)
{
    const uint32_t base = base_seed();
    const int cases = std::getenv("TAVROSK_SEED") ? 1 : 240;
    std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(targets.empty());
    int lane_rows[3] = {};
    for (int i = 0; i < cases; ++i) {
        const uint32_t seed = base + i;
        std::mt19937 rng(seed);
        // 8-bit R, G, B with a black outside as often as all other kinds.
        const bool rgb8 = i % 2 == 0;
        static const SampleType types[] = {SAMPLE_U8, SAMPLE_U16, SAMPLE_F32};
        const ImageKind kind = rgb8 ? ImageKind{3, SAMPLE_U8} : ImageKind{1 + i / 2 % 4, types[i / 8 % 3]};
        const int w = 1 + static_cast<int>(rng() % 19), h = 1 + static_cast<int>(rng() % 6);
        const int extra = static_cast<int>(rng() % 4), result_extra = i % 3;
        const bool bottom_up = i % 5 == 4;
        TightImage src, outside;  // the outside: one pixel
        make_tight(&src, kind, w, h, extra, bottom_up, seed);
        make_tight(&outside, kind, 1, 1, 0, false, seed + 1);
        if (rgb8)
            std::fill(outside.bytes.begin(), outside.bytes.end(), 0);

        // Each result row from its own points; the padding holds finite junk.
        std::vector<std::vector<double>> sx(h), sy(h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w + SAMPLE_ROW_PAD; ++x) {
                sx[y].push_back(x < w ? sample_coordinate(rng, w) : 1e6 * x);
                sy[y].push_back(x < w ? sample_coordinate(rng, h) : -3.5);
            }
        ImageBuffer expected;
        ASSERT_TRUE(image_buffer_make(&expected, w, h, kind.channels, kind.type));
        const int bytes = image_pixel_bytes(expected.view);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image_sample(src.view, sx[y][x], sy[y][x], outside.bytes.data(),
                             image_row(expected.view, y) + x * bytes);
        const std::string what = "seed " + std::to_string(seed) + " (TAVROSK_SEED=" + std::to_string(seed) + "): " +
                                 std::to_string(w) + "x" + std::to_string(h) + ", " + std::to_string(kind.channels) +
                                 " channels of type " + std::to_string(kind.type) + ", stride +" +
                                 std::to_string(extra) + (bottom_up ? " bottom-up" : "") + ", result stride +" +
                                 std::to_string(result_extra);

        for (int64_t target : targets) {
            hwy::SetSupportedTargetsForTest(target);
            ASSERT_STREQ(sample_row_target_name(), hwy::TargetName(target));
            for (bool lanes : {true, false}) {
                TightImage actual;
                make_tight(&actual, kind, w, h, result_extra, false, seed + 99);
                RowSampler sampler;
                row_sampler_init(&sampler, src.view, actual.view, outside.bytes.data(), lanes);
                lane_rows[sampler.lanes] += h;
                std::vector<uint32_t> scratch(sample_row_scratch(w));
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
    // Both kinds of lanes must really have run, not only the sampler.
    EXPECT_GT(lane_rows[ROW_LANES_RGB8], 0);
    EXPECT_GT(lane_rows[ROW_LANES_KIND], 0);
}

// A row leaves every other row of the result, and the padding of its own, as
// it was.
TEST(SampleRow, WritesOnlyItsRow)
{
    TightImage src, dst, before;
    const ImageKind rgb8 = {3, SAMPLE_U8};
    make_tight(&src, rgb8, 9, 4, 0, false, 1);
    make_tight(&dst, rgb8, 9, 4, 5, false, 2);
    make_tight(&before, rgb8, 9, 4, 5, false, 2);
    std::vector<double> sx(9 + SAMPLE_ROW_PAD, 1.5), sy(9 + SAMPLE_ROW_PAD, 2.5);
    std::vector<uint32_t> scratch(sample_row_scratch(9));
    RowSampler sampler;
    row_sampler_init(&sampler, src.view, dst.view, nullptr);
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
