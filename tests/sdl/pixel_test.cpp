// Pixel access at every depth and the lock rule. Expected packed values and
// bytes are worked out here from the masks and the palette, not by the
// functions under test. Surfaces built over exact-size buffers let the
// sanitizer catch any access past a row's last pixel.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "sdl/pixel.h"
#include "tests/support/test_support.h"

namespace {

struct Channel {
    int shift, bits;
};

Channel channel_of(Uint32 mask)
{
    Channel c{0, 0};
    while (mask && !(mask & 1u)) {
        mask >>= 1;
        ++c.shift;
    }
    while (mask & 1u) {
        mask >>= 1;
        ++c.bits;
    }
    return c;
}

// The packed value of a triple in a format with these masks: each channel
// keeps its top bits.
Uint32 pack(Uint32 rmask, Uint32 gmask, Uint32 bmask, Uint8 r, Uint8 g, Uint8 b)
{
    Uint32 v = 0;
    const Uint32 masks[3] = {rmask, gmask, bmask};
    const Uint8 values[3] = {r, g, b};
    for (int i = 0; i < 3; ++i) {
        Channel c = channel_of(masks[i]);
        v |= static_cast<Uint32>(values[i] >> (8 - c.bits)) << c.shift;
    }
    return v;
}

}  // namespace

TEST(PixelAccess, ThirtyTwoBitRoundTripAndPackedValue)
{
    const int w = 7, h = 5, pitch = 4 * w + 12;  // padded rows: y * pitch must be honoured
    std::vector<Uint8> buffer(pitch * h, 0xEE);
    SurfacePtr s_owner(
        SDL_CreateRGBSurfaceFrom(buffer.data(), w, h, 32, pitch, 0x00FF0000, 0x0000FF00, 0x000000FF, 0));
    SDL_Surface* s = s_owner.get();
    ASSERT_NE(s, nullptr);
    std::mt19937 rng(7);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Uint32 v = rng();
            Uint8 r = v, g = v >> 8, b = v >> 16;
            put_pixel(s, x, y, r, g, b);
            Uint32 stored;
            std::memcpy(&stored, &buffer[y * pitch + 4 * x], 4);
            EXPECT_EQ(stored, static_cast<Uint32>(r) << 16 | g << 8 | b) << x << "," << y;
            Uint8 rr, gg, bb;
            get_pixel(s, x, y, &rr, &gg, &bb);
            EXPECT_EQ(rr, r);
            EXPECT_EQ(gg, g);
            EXPECT_EQ(bb, b);
        }
    // The padding between rows is never touched.
    for (int y = 0; y < h; ++y)
        for (int i = 4 * w; i < pitch; ++i)
            EXPECT_EQ(buffer[y * pitch + i], 0xEE) << "padding byte " << i << " of row " << y;
}

TEST(PixelAccess, TwentyFourBitBytesLowestFirst)
{
    const int w = 5, h = 3, pitch = 3 * w;  // no padding: the last pixel ends the buffer
    // Two channel orders: the byte order follows the packed value, not the
    // colour names.
    const Uint32 orders[2][3] = {{0xFF0000, 0x00FF00, 0x0000FF}, {0x0000FF, 0x00FF00, 0xFF0000}};
    for (const auto& m : orders) {
        std::vector<Uint8> buffer(pitch * h, 0);
        SurfacePtr s_owner(SDL_CreateRGBSurfaceFrom(buffer.data(), w, h, 24, pitch, m[0], m[1], m[2], 0));
        SDL_Surface* s = s_owner.get();
        ASSERT_NE(s, nullptr);
        put_pixel(s, w - 1, h - 1, 0x12, 0x34, 0x56);
        Uint32 packed = pack(m[0], m[1], m[2], 0x12, 0x34, 0x56);
        const Uint8* p = &buffer[(h - 1) * pitch + 3 * (w - 1)];
        EXPECT_EQ(p[0], packed & 0xFF);
        EXPECT_EQ(p[1], (packed >> 8) & 0xFF);
        EXPECT_EQ(p[2], (packed >> 16) & 0xFF);
        // Reading assembles the three bytes the same way round.
        Uint8* q = &buffer[1 * pitch + 3 * 2];
        q[0] = 0xA1;
        q[1] = 0xB2;
        q[2] = 0xC3;
        Uint8 r, g, b;
        get_pixel(s, 2, 1, &r, &g, &b);
        Uint32 v = 0xC3B2A1;
        EXPECT_EQ(r, (v & m[0]) >> channel_of(m[0]).shift);
        EXPECT_EQ(g, (v & m[1]) >> channel_of(m[1]).shift);
        EXPECT_EQ(b, (v & m[2]) >> channel_of(m[2]).shift);
        // Neighbours of both pixels are untouched.
        int changed = 0;
        for (Uint8 byte : buffer)
            changed += byte != 0;
        EXPECT_EQ(changed, 6);
    }
}

TEST(PixelAccess, SixteenAndFifteenBitReduceChannels)
{
    struct Format {
        int bits;
        Uint32 r, g, b;
    };
    const Format formats[] = {{16, 0xF800, 0x07E0, 0x001F}, {15, 0x7C00, 0x03E0, 0x001F}};
    for (const Format& f : formats) {
        const int w = 4, h = 3, pitch = 2 * w + 2;
        std::vector<Uint8> buffer(pitch * h, 0);
        SurfacePtr s_owner(SDL_CreateRGBSurfaceFrom(buffer.data(), w, h, f.bits, pitch, f.r, f.g, f.b, 0));
        SDL_Surface* s = s_owner.get();
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->format->BytesPerPixel, 2);
        std::mt19937 rng(f.bits);
        for (int n = 0; n < 200; ++n) {
            Uint32 v = rng();
            Uint8 r = v, g = v >> 8, b = v >> 16;
            int x = n % w, y = (n / w) % h;
            put_pixel(s, x, y, r, g, b);
            Uint16 stored;
            std::memcpy(&stored, &buffer[y * pitch + 2 * x], 2);
            ASSERT_EQ(stored, pack(f.r, f.g, f.b, r, g, b)) << f.bits << " bits, " << int(r) << " "
                                                              << int(g) << " " << int(b);
            // What comes back keeps the channel's top bits and nothing more
            // of the original.
            Uint8 rr, gg, bb;
            get_pixel(s, x, y, &rr, &gg, &bb);
            int rl = 8 - channel_of(f.r).bits, gl = 8 - channel_of(f.g).bits, bl = 8 - channel_of(f.b).bits;
            EXPECT_EQ(rr >> rl, r >> rl);
            EXPECT_EQ(gg >> gl, g >> gl);
            EXPECT_EQ(bb >> bl, b >> bl);
            // The reduced triple is a fixed point: writing it back stores the same value.
            put_pixel(s, x, y, rr, gg, bb);
            Uint16 again;
            std::memcpy(&again, &buffer[y * pitch + 2 * x], 2);
            EXPECT_EQ(again, stored);
        }
        // Full scale survives the reduction.
        put_pixel(s, 0, 0, 255, 255, 255);
        Uint8 r, g, b;
        get_pixel(s, 0, 0, &r, &g, &b);
        EXPECT_EQ(r, 255);
        EXPECT_EQ(g, 255);
        EXPECT_EQ(b, 255);
    }
}

TEST(PixelAccess, EightBitGoesThroughThePalette)
{
    SurfacePtr s_owner(make_surface(6, 4, 8));
    SDL_Surface* s = s_owner.get();
    ASSERT_NE(s, nullptr);
    const SDL_Color* pal = s->format->palette->colors;
    // A colour of the palette is stored as its index and read back exactly.
    put_pixel(s, 5, 3, pal[100].r, pal[100].g, pal[100].b);
    EXPECT_EQ(static_cast<Uint8*>(s->pixels)[3 * s->pitch + 5], 100);
    // Any other colour becomes the nearest entry (squared distance).
    std::mt19937 rng(3);
    for (int n = 0; n < 100; ++n) {
        Uint32 v = rng();
        Uint8 r = v, g = v >> 8, b = v >> 16;
        int best = 0;
        long best_d = -1;
        for (int i = 0; i < 256; ++i) {
            long dr = r - pal[i].r, dg = g - pal[i].g, db = b - pal[i].b;
            long d = dr * dr + dg * dg + db * db;
            if (best_d < 0 || d < best_d) {
                best_d = d;
                best = i;
            }
        }
        put_pixel(s, 2, 1, r, g, b);
        Uint8 stored = static_cast<Uint8*>(s->pixels)[1 * s->pitch + 2];
        const SDL_Color& c = pal[stored];
        long dr = r - c.r, dg = g - c.g, db = b - c.b;
        EXPECT_EQ(dr * dr + dg * dg + db * db, best_d) << "entry " << int(stored) << " vs " << best;
        Uint8 rr, gg, bb;
        get_pixel(s, 2, 1, &rr, &gg, &bb);
        EXPECT_EQ(rr, c.r);
        EXPECT_EQ(gg, c.g);
        EXPECT_EQ(bb, c.b);
    }
}

TEST(LockRule, SoftwareSurfaceNeedsNoLockRleSurfaceDoes)
{
    SurfacePtr s_owner(make_surface(8, 8, 32));
    SDL_Surface* s = s_owner.get();
    SurfacePtr dst_owner(make_surface(8, 8, 32));
    SDL_Surface* dst = dst_owner.get();
    ASSERT_TRUE(s && dst);
    EXPECT_FALSE(must_lock(s));
    SDL_FillRect(s, nullptr, 0);
    // RLE encoding happens at the first blit of a colour-keyed surface.
    ASSERT_EQ(SDL_SetColorKey(s, SDL_SRCCOLORKEY | SDL_RLEACCEL, 0x123456), 0);
    SDL_BlitSurface(s, nullptr, dst, nullptr);
    ASSERT_TRUE(s->flags & SDL_RLEACCEL);
    EXPECT_TRUE(must_lock(s));
    // Writing under the lock reaches what the next blit copies.
    lock_if_needed(s);
    put_pixel(s, 3, 4, 10, 20, 30);
    unlock_if_needed(s);
    SDL_BlitSurface(s, nullptr, dst, nullptr);
    Uint8 r, g, b;
    get_pixel(dst, 3, 4, &r, &g, &b);
    EXPECT_EQ(r, 10);
    EXPECT_EQ(g, 20);
    EXPECT_EQ(b, 30);
    EXPECT_EQ(s->locked, 0);
}
