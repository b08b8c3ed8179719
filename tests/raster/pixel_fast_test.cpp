// The table-driven pixel paths against SDL_GetRGB/SDL_MapRGB: every packed
// value of 8- and 16-bit formats, random values at 24 and 32 bits, and the
// fast bilinear sampler against sample_bilinear.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "raster/pixel_fast.h"
#include "raster/sampler.h"
#include "tests/support/test_support.h"

namespace {

void store(SDL_Surface* s, Uint32 packed)
{
    Uint8* p = static_cast<Uint8*>(s->pixels);
    int bytes = s->format->BytesPerPixel;
    if (bytes == 1) {
        p[0] = static_cast<Uint8>(packed);
    } else if (bytes == 2) {
        Uint16 v = static_cast<Uint16>(packed);
        std::memcpy(p, &v, 2);
    } else if (bytes == 3) {
        for (int i = 0; i < 3; ++i)
            p[SDL_BYTEORDER == SDL_BIG_ENDIAN ? 2 - i : i] = (packed >> (8 * i)) & 0xFF;
    } else {
        std::memcpy(p, &packed, 4);
    }
}

Uint32 load(SDL_Surface* s)
{
    Uint8* p = static_cast<Uint8*>(s->pixels);
    int bytes = s->format->BytesPerPixel;
    Uint32 v = 0;
    if (bytes == 3) {
        for (int i = 0; i < 3; ++i)
            v |= Uint32(p[SDL_BYTEORDER == SDL_BIG_ENDIAN ? 2 - i : i]) << (8 * i);
        return v;
    }
    std::memcpy(&v, p, bytes);
    return bytes == 1 ? v & 0xFF : bytes == 2 ? v & 0xFFFF : v;
}

// Reads of `count` packed values (all of them when exhaustive) and writes
// of random triples on a 1 x 1 surface of the given format.
void check_format(SDL_Surface* s, uint64_t count, bool exhaustive, bool expect_tables)
{
    FastFormat f;
    fast_format_init(&f, s);
    EXPECT_EQ(f.fast_read, expect_tables);
    std::mt19937 rng(1234);
    Uint32 value_mask = s->format->BytesPerPixel == 4 ? 0xFFFFFFFFu : (1u << (8 * s->format->BytesPerPixel)) - 1;
    for (uint64_t i = 0; i < count; ++i) {
        Uint32 packed = exhaustive ? static_cast<Uint32>(i) : rng() & value_mask;
        store(s, packed);
        Uint8 r, g, b, er, eg, eb;
        // On a 1 x 1 surface the point (0, 0) samples its one pixel with
        // weight 1: exactly the table-driven read.
        fast_sample_bilinear(&f, 0, 0, &r, &g, &b);
        SDL_GetRGB(packed, s->format, &er, &eg, &eb);
        ASSERT_TRUE(r == er && g == eg && b == eb) << "read of packed " << packed << ": " << int(r) << " " << int(g)
                                                   << " " << int(b) << " vs SDL " << int(er) << " " << int(eg)
                                                   << " " << int(eb);
    }
    for (int i = 0; i < 200000; ++i) {
        Uint32 v = rng();
        Uint8 r = v & 0xFF, g = (v >> 8) & 0xFF, b = (v >> 16) & 0xFF;
        store(s, ~0u);
        fast_put_pixel(&f, 0, 0, r, g, b);
        ASSERT_EQ(load(s), SDL_MapRGB(s->format, r, g, b) & value_mask)
            << "write of " << int(r) << " " << int(g) << " " << int(b);
    }
}

TEST(FastPixel, EightBitPaletteEveryValue)
{
    SurfacePtr owner(make_surface(1, 1, 8));
    SDL_Surface* s = owner.get();
    check_format(s, 256, true, true);
}

TEST(FastPixel, SixteenBitEveryValue)
{
    // 565, 555, and an odd layout: channels of 3, 6 and 7 bits in an unusual
    // order, one of them not starting at bit 0.
    const Uint32 layouts[][3] = {{0xF800, 0x07E0, 0x001F}, {0x7C00, 0x03E0, 0x001F}, {0x000E, 0x03F0, 0xFC00}};
    for (const auto& m : layouts) {
        SurfacePtr owner(SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 16, m[0], m[1], m[2], 0));
        SDL_Surface* s = owner.get();
        ASSERT_NE(s, nullptr);
        SCOPED_TRACE(testing::Message() << "masks " << m[0] << " " << m[1] << " " << m[2]);
        check_format(s, 65536, true, true);
    }
}

TEST(FastPixel, TwentyFourAndThirtyTwoBitRandomValues)
{
    struct Layout {
        int depth;
        Uint32 r, g, b, a;
        bool tables;
    };
    const Layout layouts[] = {
        {24, 0xFF0000, 0x00FF00, 0x0000FF, 0, true},
        {24, 0x0000FF, 0x00FF00, 0xFF0000, 0, true},
        {32, 0xFF0000, 0x00FF00, 0x0000FF, 0, true},
        {32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000, true},
        // A 10-bit channel does not fit the tables: the SDL path is taken.
        {32, 0x3FF00000, 0x000FFC00, 0x000003FF, 0, false},
    };
    for (const Layout& l : layouts) {
        SurfacePtr owner(SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, l.depth, l.r, l.g, l.b, l.a));
        SDL_Surface* s = owner.get();
        ASSERT_NE(s, nullptr);
        SCOPED_TRACE(testing::Message() << "depth " << l.depth << " red mask " << l.r);
        check_format(s, 500000, false, l.tables);
    }
}

TEST(FastPixel, BilinearEqualsSampler)
{
    std::mt19937 rng(99);
    for (int depth : {8, 15, 16, 24, 32}) {
        SurfacePtr owner(make_surface(7, 5, depth));
        SDL_Surface* s = owner.get();
        fill_random(s, depth);
        FastFormat f;
        fast_format_init(&f, s);
        std::uniform_real_distribution<double> dx(-1.5, 8.5), dy(-1.5, 6.5);
        for (int i = 0; i < 20000; ++i) {
            double x = dx(rng), y = dy(rng);
            // Whole coordinates, including the far edges x = w and y = h.
            if (i % 4 == 0) {
                x = std::floor(x);
                y = std::floor(y);
            }
            Uint8 r, g, b, er, eg, eb;
            fast_sample_bilinear(&f, x, y, &r, &g, &b);
            sample_bilinear(s, x, y, &er, &eg, &eb);
            ASSERT_TRUE(r == er && g == eg && b == eb) << "depth " << depth << " at (" << x << ", " << y << ")";
        }
    }
}

}  // namespace
