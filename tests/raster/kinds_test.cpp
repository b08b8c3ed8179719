// The sampler of every kind against the consistency rules of docs/numerics.md
// ("Sample kinds"), on seeded random images whose samples are 8-bit levels
// (v, 257 v or v / 255 by type) and random points; a few values worked out
// by hand; the outside colour, the blend and the widening by table.
// TAVROSK_SEED=N reruns a reported seed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "raster/kinds.h"
#include "raster/sampler.h"
#include "tests/support/test_support.h"

namespace {

const SampleType types[] = {SAMPLE_U8, SAMPLE_U16, SAMPLE_F32};

double full(SampleType type)
{
    return type == SAMPLE_U8 ? 255 : type == SAMPLE_U16 ? 65535 : 1;
}

// An 8-bit level as a sample of the type.
double level(SampleType type, int v)
{
    return type == SAMPLE_U8 ? v : type == SAMPLE_U16 ? 257.0 * v : static_cast<float>(v / 255.0);
}

unsigned char* at(const ImageView& v, int x, int y)
{
    return image_row(v, y) + x * image_pixel_bytes(v);
}

// Levels of one random scene, pixel by pixel: grey, red, green, blue and an
// alpha that is often 0, 255 or its left neighbour's, so that taps agree.
struct Scene {
    int w, h;
    std::vector<int> levels;  // 5 per pixel
    int of(int x, int y, int i) const { return levels[5 * (y * w + x) + i]; }
};

Scene make_scene(std::mt19937& rng)
{
    Scene s;
    s.w = 1 + rng() % 9;
    s.h = 1 + rng() % 7;
    for (int i = 0; i < s.w * s.h; ++i) {
        for (int c = 0; c < 4; ++c)
            s.levels.push_back(rng() % 4 == 0 ? 255 * (rng() % 2) : rng() % 256);
        const int r = rng() % 5, left = i % s.w ? s.levels[5 * (i - 1) + 4] : 255;
        s.levels.push_back(r == 0 ? 0 : r == 1 ? 255 : r == 2 ? left : static_cast<int>(rng() % 256));
    }
    return s;
}

// The scene as an image of a kind: channel c of the kind takes scene entry
// pick[c] (0 grey, 1-3 colour, 4 alpha), or 255 (5) or 77 (6).
ImageBuffer image_of(const Scene& s, int channels, SampleType type, const int* pick)
{
    ImageBuffer b;
    EXPECT_TRUE(image_buffer_make(&b, s.w, s.h, channels, type));
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x)
            for (int c = 0; c < channels; ++c) {
                const int v = pick[c] == 5 ? 255 : pick[c] == 6 ? 77 : s.of(x, y, pick[c]);
                set_pixel_sample(at(b.view, x, y), type, c, level(type, v));
            }
    return b;
}

struct Pixel {
    double v[4];
};

Pixel pixel_of(const unsigned char* bytes, ImageKind kind)
{
    Pixel p = {};
    for (int c = 0; c < kind.channels; ++c)
        p.v[c] = pixel_sample(bytes, kind.type, c);
    return p;
}

Pixel sample(const ImageView& v, double x, double y)
{
    unsigned char out[KIND_MAX_PIXEL_BYTES], outside[KIND_MAX_PIXEL_BYTES] = {};
    image_sample(v, x, y, outside, out);
    return pixel_of(out, image_kind(v));
}

// A pixel of a kind from its samples.
void make_pixel(ImageKind kind, const double* v, unsigned char* bytes)
{
    for (int c = 0; c < kind.channels; ++c)
        set_pixel_sample(bytes, kind.type, c, v[c]);
}

testing::AssertionResult pixel_is(const Pixel& p, ImageKind kind, const double* expected)
{
    for (int c = 0; c < kind.channels; ++c)
        if (!(p.v[c] == expected[c]))
            return testing::AssertionFailure() << "channel " << c << " is " << p.v[c] << ", not " << expected[c];
    return testing::AssertionSuccess();
}

// Layouts by scene entries: grey, grey + alpha, the grey's RGB and RGBA
// copies, colour, colour + alpha, the colour opaque, a flat colour (level 77)
// under the scene's alpha, and the alpha alone.
const int grey[] = {0}, grey_alpha[] = {0, 4}, grey_rgb[] = {0, 0, 0}, grey_rgba[] = {0, 0, 0, 4};
const int rgb[] = {1, 2, 3}, rgba[] = {1, 2, 3, 4}, rgb_opaque[] = {1, 2, 3, 5}, flat[] = {6, 6, 6, 4};
const int flat_opaque[] = {6, 6, 6};
const int alpha_alone[] = {4};

// The image of every layout of one type.
struct Images {
    ImageBuffer g, ga, g3, g4, c3, c4, o4, flat4, flat3, a1, hidden4;
    Images(const Scene& s, const Scene& hidden, SampleType type)
        : g(image_of(s, 1, type, grey)), ga(image_of(s, 2, type, grey_alpha)), g3(image_of(s, 3, type, grey_rgb)),
          g4(image_of(s, 4, type, grey_rgba)), c3(image_of(s, 3, type, rgb)), c4(image_of(s, 4, type, rgba)),
          o4(image_of(s, 4, type, rgb_opaque)), flat4(image_of(s, 4, type, flat)),
          flat3(image_of(s, 3, type, flat_opaque)), a1(image_of(s, 1, type, alpha_alone)),
          hidden4(image_of(hidden, 4, type, rgba))
    {
    }
};

TEST(Kinds, ConsistencyOnRandomScenes)
{
    const uint32_t base = test_seed(20270105u);
    const int cases = std::getenv("TAVROSK_SEED") ? 1 : 300;
    for (int i = 0; i < cases; ++i) {
        std::mt19937 rng(base + i);
        const Scene s = make_scene(rng);
        Scene hidden = s;  // other colours under alpha 0
        for (int p = 0; p < s.w * s.h; ++p)
            for (int c = 0; c < 4 && hidden.levels[5 * p + 4] == 0; ++c)
                hidden.levels[5 * p + c] = rng() % 256;
        const Images u8(s, hidden, SAMPLE_U8), u16(s, hidden, SAMPLE_U16), f32(s, hidden, SAMPLE_F32);
        for (int k = 0; k < 60; ++k) {
            const double x = sample_coordinate(rng, s.w), y = sample_coordinate(rng, s.h);
            const bool inside = sample_point_inside(s.w, s.h, x, y);
            for (const Images* im : {&u8, &u16, &f32}) {
                const SampleType type = im->g.view.type;
                SCOPED_TRACE(testing::Message()
                             << "seed " << base + i << " type " << type << " at " << x << ", " << y);
                const Pixel g = sample(im->g.view, x, y), ga = sample(im->ga.view, x, y),
                            g3 = sample(im->g3.view, x, y), g4 = sample(im->g4.view, x, y),
                            c3 = sample(im->c3.view, x, y), c4 = sample(im->c4.view, x, y),
                            o4 = sample(im->o4.view, x, y), flat4 = sample(im->flat4.view, x, y),
                            flat3 = sample(im->flat3.view, x, y), a1 = sample(im->a1.view, x, y);
                for (int c = 0; c < 3; ++c) {
                    ASSERT_EQ(g3.v[c], g.v[0]);
                    ASSERT_EQ(g4.v[c], ga.v[0]);
                    ASSERT_EQ(o4.v[c], c3.v[c]);
                    // A flat colour under any alpha is that colour, or
                    // where four equal alphas take the straight rule, the
                    // colour without alpha.
                    if (flat4.v[3] != 0) {
                        ASSERT_TRUE(flat4.v[c] == level(type, 77) || flat4.v[c] == flat3.v[c]) << flat4.v[c];
                    }
                }
                ASSERT_EQ(o4.v[3], inside ? full(type) : 0);
                ASSERT_EQ(g4.v[3], ga.v[1]);
                ASSERT_EQ(c4.v[3], ga.v[1]);
                // Two levels only in the first cell, where both weights round.
                const double most = x < 1 && y < 1 ? 2 : 1, above = c4.v[3] - a1.v[0];
                ASSERT_TRUE(above >= 0 && above <= (type == SAMPLE_F32 ? 0 : most)) << above;
                ASSERT_TRUE(pixel_is(c4, {4, type}, sample(im->hidden4.view, x, y).v));
                if (type != SAMPLE_U16)
                    continue;
                // 257 v against v: truncated quotients within a level (two
                // in the first cell); the colour under an alpha that one
                // depth makes 0 is not compared.
                const Pixel g8 = sample(u8.g.view, x, y), c8 = sample(u8.c4.view, x, y);
                ASSERT_LE(std::fabs(std::trunc(g.v[0] / 257) - g8.v[0]), most);
                for (int c = 0; c < 4; ++c) {
                    if (c == 3 || (c8.v[3] > 0 && c4.v[3] > 0)) {
                        ASSERT_LE(std::fabs(std::trunc(c4.v[c] / 257) - c8.v[c]), most) << "channel " << c;
                    }
                }
            }
        }
    }
}

// Values worked out by hand (docs/numerics.md): a 2 x 2 image (or 2 x 1)
// of the kind, a point, the pixel.
TEST(Kinds, HandWorkedSamples)
{
    const struct {
        ImageKind kind;
        int w, h;
        double pixels[16];
        double x, y;
        double expected[4];
    } cases[] = {
        // Four taps of 255 lose two levels under the straight rule; an
        // alpha does not.
        {{1, SAMPLE_U8}, 2, 2, {255, 255, 255, 255}, 0.00014, 0.00007, {253}},
        {{2, SAMPLE_U8}, 2, 2, {255, 255, 255, 255, 255, 255, 255, 255}, 0.00014, 0.00007, {253, 255}},
        // An opaque 200 beside a transparent pixel keeps its colour.
        {{2, SAMPLE_U8}, 2, 1, {200, 255, 90, 0}, 0.5, 0, {200, 127}},
        {{4, SAMPLE_F32}, 2, 1, {1, 0, 0, 1, 0, 0, 1, 0}, 0.25, 0, {1, 0, 0, 0.75}},
        // Two levels between 16 bits rounded and 8 bits; one truncated.
        {{1, SAMPLE_U8}, 2, 2, {10, 11, 11, 12}, 0.95, 0.7, {10}},
        {{1, SAMPLE_U16}, 2, 2, {2570, 2827, 2827, 3084}, 0.95, 0.7, {2993}},
        // A transparent pixel where its opaque neighbour weighs 0: A is 0.
        {{2, SAMPLE_U8}, 2, 1, {90, 0, 200, 255}, 0, 0, {0, 0}},
        {{4, SAMPLE_U16}, 1, 2, {9, 9, 9, 0, 7, 7, 7, 65535}, 0, 0, {0, 0, 0, 0}},
    };
    for (const auto& k : cases) {
        ImageBuffer b;
        ASSERT_TRUE(image_buffer_make(&b, k.w, k.h, k.kind.channels, k.kind.type));
        for (int i = 0; i < k.w * k.h; ++i)
            make_pixel(k.kind, k.pixels + i * k.kind.channels, at(b.view, i % k.w, i / k.w));
        EXPECT_TRUE(pixel_is(sample(b.view, k.x, k.y), k.kind, k.expected)) << k.kind.channels << " " << k.x;
    }
}

TEST(Kinds, OutsideColourInEveryKind)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        OutsideColour colour;
        ImageKind kind;
        double expected[4];
    } cases[] = {
        {{}, {3, SAMPLE_U8}, {0, 0, 0}},
        {{}, {4, SAMPLE_F32}, {0, 0, 0, 0}},
        {{0, 0, 0, 1}, {4, SAMPLE_U8}, {0, 0, 0, 255}},
        {{0, 0, 0, 1}, {2, SAMPLE_U16}, {0, 65535}},
        {{1, 1, 1, 1}, {1, SAMPLE_U8}, {255}},
        {{1, 1, 1, 1}, {2, SAMPLE_F32}, {1, 1}},
        {{1, 0, 0, 1}, {1, SAMPLE_U8}, {54}},  // the luma of red
        {{1, 0, 0, 0}, {3, SAMPLE_U8}, {255, 0, 0}},
        {{1, 0, 0, 0}, {4, SAMPLE_U8}, {0, 0, 0, 0}},
        {{2, -1, nan, 0.5}, {4, SAMPLE_U16}, {65535, 0, 0, 32768}},
        {{2, -1, 0.25, 0.5}, {4, SAMPLE_F32}, {2, -1, 0.25, 0.5}},
    };
    for (const auto& k : cases) {
        unsigned char outside[KIND_MAX_PIXEL_BYTES], out[KIND_MAX_PIXEL_BYTES];
        outside_pixel(k.colour, k.kind, outside);
        EXPECT_TRUE(pixel_is(pixel_of(outside, k.kind), k.kind, k.expected)) << k.kind.channels << " " << k.kind.type;
        ImageBuffer b;
        ASSERT_TRUE(image_buffer_make(&b, 2, 2, k.kind.channels, k.kind.type));
        image_sample(b.view, 2.5, 1, outside, out);
        EXPECT_EQ(std::memcmp(out, outside, image_pixel_bytes(b.view)), 0);
    }
}

TEST(Kinds, BlendKeepsItsEndsAndWeighsColourByAlpha)
{
    std::mt19937 rng(test_seed(20270106u));
    for (int i = 0; i < 1500; ++i) {
        // Frame times k / 6 put many blends on a half in real numbers.
        const double t = i % 4 == 0   ? 0
                       : i % 4 == 1   ? 1
                       : i % 4 == 2 ? static_cast<double>(rng() % 7) / 6
                                      : std::uniform_real_distribution<double>(0, 1)(rng);
        std::vector<uint8_t> mixed(256 * 256);
        kind_blend_table(t, mixed.data());
        int lv[2][4];
        for (auto& p : lv)
            for (int& v : p)
                v = rng() % 3 == 0 ? 255 * (rng() % 2) : rng() % 256;
        for (SampleType type : types) {
            for (int n = 1; n <= 4; ++n) {
                const ImageKind kind = {n, type};
                const bool alpha = n % 2 == 0;
                double v[2][4];
                unsigned char px[2][KIND_MAX_PIXEL_BYTES], out[KIND_MAX_PIXEL_BYTES];
                for (int j = 0; j < 2; ++j) {
                    for (int c = 0; c < n; ++c)
                        v[j][c] = level(type, lv[j][alpha && c == n - 1 ? 3 : c]);
                    if (alpha && v[j][n - 1] == 0)
                        std::fill(v[j], v[j] + n, 0.0);
                    make_pixel(kind, v[j], px[j]);
                }
                kind_blend_row(kind, t, nullptr, px[0], px[1], out, 1);
                const Pixel p = pixel_of(out, kind);
                SCOPED_TRACE(testing::Message() << "t " << t << " kind " << n << " " << type);
                if (type == SAMPLE_U8) {  // the table gives the same
                    unsigned char by_table[KIND_MAX_PIXEL_BYTES];
                    kind_blend_row(kind, t, mixed.data(), px[0], px[1], by_table, 1);
                    ASSERT_TRUE(pixel_is(pixel_of(by_table, kind), kind, p.v));
                }
                if (t == 0 || t == 1) {
                    ASSERT_TRUE(pixel_is(p, kind, v[t == 0 ? 0 : 1]));
                }
                if (!alpha)
                    continue;
                // Opaque pixels blend as those without alpha; a transparent
                // one lends no colour.
                const ImageKind opaque = {n - 1, type};
                double o[2][4];
                for (int j = 0; j < 2; ++j) {
                    std::copy(v[j], v[j] + n, o[j]);
                    o[j][n - 1] = full(type);
                    make_pixel(kind, o[j], px[j]);
                }
                kind_blend_row(kind, t, nullptr, px[0], px[1], out, 1);
                unsigned char plain[KIND_MAX_PIXEL_BYTES];
                kind_blend_row(opaque, t, nullptr, px[0], px[1], plain, 1);
                o[0][n - 1] = full(type);
                const Pixel straight = pixel_of(plain, opaque);
                std::copy(straight.v, straight.v + n - 1, o[0]);
                ASSERT_TRUE(pixel_is(pixel_of(out, kind), kind, o[0]));
                o[1][n - 1] = 0;
                make_pixel(kind, o[1], px[1]);
                kind_blend_row(kind, t, nullptr, px[0], px[1], out, 1);
                const Pixel q = pixel_of(out, kind);
                for (int c = 0; c < n - 1 && q.v[n - 1] != 0; ++c)
                    ASSERT_EQ(q.v[c], v[0][c]);
            }
        }
    }
}

TEST(Kinds, HandWorkedBlends)
{
    const struct {
        ImageKind kind;
        double t, f[4], s[4], expected[4];
    } cases[] = {
        // 5/6 + 28/6 is 5.5 in real numbers but below it in doubles, and
        // equal alphas blend as no alpha: the premultiplied quotient is 5.5.
        {{3, SAMPLE_U8}, 1 / 6.0, {1, 1, 1}, {28, 28, 28}, {5, 5, 5}},
        {{4, SAMPLE_U8}, 1 / 6.0, {1, 1, 1, 255}, {28, 28, 28, 255}, {5, 5, 5, 255}},
        // A transparent pixel lends no colour, at any depth.
        {{4, SAMPLE_U8}, 0.5, {200, 0, 0, 255}, {0, 0, 200, 0}, {200, 0, 0, 128}},
        {{2, SAMPLE_U16}, 0.25, {0, 0}, {51400, 65535}, {51400, 16384}},
        {{2, SAMPLE_F32}, 0.5, {0.25, 1}, {1, 0}, {0.25, 0.5}},
        // At an end beside a transparent pixel A is 0.
        {{4, SAMPLE_U8}, 0, {10, 20, 30, 0}, {40, 50, 60, 255}, {0, 0, 0, 0}},
        {{2, SAMPLE_U16}, 1, {100, 65535}, {200, 0}, {0, 0}},
    };
    for (const auto& k : cases) {
        unsigned char f[KIND_MAX_PIXEL_BYTES], s[KIND_MAX_PIXEL_BYTES], out[KIND_MAX_PIXEL_BYTES];
        make_pixel(k.kind, k.f, f);
        make_pixel(k.kind, k.s, s);
        kind_blend_row(k.kind, k.t, nullptr, f, s, out, 1);
        EXPECT_TRUE(pixel_is(pixel_of(out, k.kind), k.kind, k.expected)) << k.kind.channels << " " << k.t;
    }
}

// Samples from one type to another: integers to the nearest level, floats
// clamped on their way to integers; grey widened, alpha added or dropped.
TEST(Kinds, ConvertSamplesAndChannels)
{
    const float nan = std::nanf("");
    const struct {
        SampleType from;
        double v;
        SampleType to;
        double want;
    } samples[] = {
        {SAMPLE_U16, 32767, SAMPLE_U8, 127},  {SAMPLE_U16, 32896, SAMPLE_U8, 128}, {SAMPLE_U16, 65535, SAMPLE_U8, 255},
        {SAMPLE_U8, 255, SAMPLE_U16, 65535},  {SAMPLE_U8, 1, SAMPLE_U16, 257},     {SAMPLE_F32, 1.5, SAMPLE_U8, 255},
        {SAMPLE_F32, -0.2, SAMPLE_U8, 0},     {SAMPLE_F32, nan, SAMPLE_U16, 0},    {SAMPLE_F32, 0.5, SAMPLE_U16, 32768},
        {SAMPLE_U8, 51, SAMPLE_F32, 0.2f},    {SAMPLE_F32, 1.5, SAMPLE_F32, 1.5},
    };
    for (const auto& c : samples) {
        ImageBuffer one, out;
        ASSERT_TRUE(image_buffer_make(&one, 1, 1, 1, c.from));
        set_pixel_sample(one.view.pixels, c.from, 0, c.v);
        ASSERT_TRUE(image_convert(one.view, {1, c.to}, &out));
        EXPECT_EQ(pixel_sample(out.view.pixels, c.to, 0), c.want) << c.v << " of type " << c.from;
    }
    const struct {
        int from, to;
        std::vector<int> want;  // of the pixel (10, 20, 30, 40) cut to `from` channels
    } channels[] = {{1, 3, {10, 10, 10}}, {2, 4, {10, 10, 10, 20}}, {1, 4, {10, 10, 10, 255}},
                    {4, 3, {10, 20, 30}}, {2, 1, {10}},             {3, 2, {}}};
    for (const auto& c : channels) {
        ImageBuffer one, out;
        ASSERT_TRUE(image_buffer_make(&one, 1, 1, c.from, SAMPLE_U8));
        for (int i = 0; i < c.from; ++i)
            one.view.pixels[i] = static_cast<unsigned char>(10 * (i + 1));
        EXPECT_EQ(image_convert(one.view, {c.to, SAMPLE_U8}, &out), !c.want.empty()) << c.from << " to " << c.to;
        if (!c.want.empty()) {
            EXPECT_EQ(std::vector<int>(out.view.pixels, out.view.pixels + c.to), c.want) << c.from << " to " << c.to;
        }
    }
}

// Channels and depth widened at once, as a morph of two kinds does, to
// the wider kind.
TEST(Kinds, WidenToTheWiderKind)
{
    const struct {
        ImageKind from, other;
        double in[4], out[4];
    } cases[] = {
        {{1, SAMPLE_U8}, {2, SAMPLE_U16}, {77}, {77 * 257, 65535}},
        {{1, SAMPLE_U8}, {3, SAMPLE_U16}, {77}, {19789, 19789, 19789}},
        {{2, SAMPLE_U8}, {3, SAMPLE_F32}, {77, 0}, {77 / 255.0f, 77 / 255.0f, 77 / 255.0f, 0}},
        {{3, SAMPLE_U16}, {1, SAMPLE_F32}, {65535, 0, 257}, {1, 0, 257 / 65535.0f}},
        {{4, SAMPLE_F32}, {1, SAMPLE_U8}, {-2, 0.5, 3, 0}, {-2, 0.5, 3, 0}},
    };
    for (const auto& k : cases) {
        const ImageKind to = kind_wider(k.from, k.other);
        ImageBuffer a, b;
        ASSERT_TRUE(image_buffer_make(&a, 1, 1, k.from.channels, k.from.type));
        make_pixel(k.from, k.in, a.data.get());
        ASSERT_TRUE(image_convert(a.view, to, &b));
        EXPECT_TRUE(pixel_is(pixel_of(b.data.get(), to), to, k.out)) << k.from.channels << " " << k.from.type;
    }
}

// A row for the screen: 8-bit R, G, B copied, others reduced as
// image_convert reduces them, grey in every channel, alpha over the
// backdrop (black without one), rounded to nearest.
TEST(Kinds, ScreenRowsLayAlphaOverTheBackdrop)
{
    const uint8_t backdrop[3] = {0, 100, 255};
    const struct {
        ImageKind kind;
        double in[4];
        bool over_backdrop;
        int want[3];
    } cases[] = {
        {{3, SAMPLE_U8}, {10, 20, 30}, true, {10, 20, 30}},
        {{1, SAMPLE_U16}, {32896}, true, {128, 128, 128}},
        {{2, SAMPLE_U8}, {90, 0}, true, {0, 100, 255}},
        {{2, SAMPLE_U8}, {90, 255}, true, {90, 90, 90}},
        {{2, SAMPLE_U8}, {100, 51}, false, {20, 20, 20}},
        {{4, SAMPLE_U8}, {255, 0, 60, 128}, true, {128, 50, 157}},
        {{4, SAMPLE_U16}, {65535, 0, 0, 32896}, false, {128, 0, 0}},
        {{4, SAMPLE_F32}, {1.5, 0.5, -1, 1}, true, {255, 128, 0}},
        {{3, SAMPLE_F32}, {NAN, 0.2, 2}, true, {0, 51, 255}},
    };
    for (const auto& c : cases) {
        ImageBuffer one;
        ASSERT_TRUE(image_buffer_make(&one, 1, 1, c.kind.channels, c.kind.type));
        make_pixel(c.kind, c.in, one.data.get());
        uint8_t got[3];
        kind_row_rgb8(one.view, 0, c.over_backdrop ? backdrop : nullptr, got);
        EXPECT_EQ(std::vector<int>(got, got + 3), std::vector<int>(c.want, c.want + 3))
            << c.kind.channels << " channels of type " << c.kind.type << ", " << c.in[0];
    }
}

}  // namespace
