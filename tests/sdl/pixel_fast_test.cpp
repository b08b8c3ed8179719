// The table-driven pixel paths against SDL_GetRGB/SDL_MapRGB: every packed
// value of 8- and 16-bit formats, random values at 24 and 32 bits, and the
// conversions between surfaces and image views that use them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "sdl/pixel_fast.h"
#include "sdl/surface_image.h"
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
        fast_get_pixel(&f, 0, 0, &r, &g, &b);
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

// Every pixel of surfaces of each depth goes to an image view and back
// with get_pixel's colours and put_pixel's packed values.
TEST(FastPixel, SurfacesToImagesAndBack)
{
    for (int depth : {8, 15, 16, 24, 32}) {
        SurfacePtr s(make_surface(7, 5, depth)), back(make_surface(7, 5, depth)), want(make_surface(7, 5, depth));
        fill_random(s.get(), depth);
        ImageBuffer image;
        ASSERT_TRUE(surface_to_rgb8(s.get(), &image));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) {
                Uint8 rgb[3];
                get_pixel(s.get(), x, y, &rgb[0], &rgb[1], &rgb[2]);
                ASSERT_EQ(std::memcmp(image_row(image.view, y) + 3 * x, rgb, 3), 0)
                    << "depth " << depth << " at (" << x << ", " << y << ")";
                put_pixel(want.get(), x, y, rgb[0], rgb[1], rgb[2]);
            }
        rgb8_to_surface(image.view, back.get());
        for (int y = 0; y < 5; ++y)
            ASSERT_EQ(std::memcmp(static_cast<Uint8*>(back->pixels) + y * back->pitch,
                                  static_cast<Uint8*>(want->pixels) + y * want->pitch,
                                  7 * back->format->BytesPerPixel),
                      0)
                << "depth " << depth << " row " << y;
        SurfacePtr copy(surface_from_rgb8(image.view));
        EXPECT_EQ(compare_rgb(s.get(), copy.get()), "") << "depth " << depth;
    }
}

}  // namespace
