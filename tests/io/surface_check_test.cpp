// The BMP load check over an independent corpus of good, questionable and
// bad files, and over surfaces with one field broken by hand. The rules are
// checked here in code of the test's own, and every pixel of an accepted
// surface is read, so a sanitizer build catches one that lies about its size.
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sdl/pixel.h"
#include "io/surface_check.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

const fs::path suite = TAVROSK_BMPSUITE_DIR;

// A mask is one run of 4 to 8 bits inside the pixel: shifted down to its
// lowest set bit, mask + 1 is a power of two.
std::string mask_problem(const char* name, Uint32 mask, int bytes)
{
    if (mask == 0)
        return std::string(name) + " mask empty";
    if (bytes < 4 && (mask >> (8 * bytes)) != 0)
        return std::string(name) + " mask outside the pixel";
    Uint64 run = mask;
    while (!(run & 1))
        run >>= 1;
    if ((run & (run + 1)) != 0)
        return std::string(name) + " mask not contiguous";
    size_t width = std::bitset<32>(mask).count();
    if (width < 4 || width > 8)
        return std::string(name) + " mask " + std::to_string(width) + " bits";
    return "";
}

// The first rule the surface breaks, or "" when it is usable.
std::string broken_rule(const SDL_Surface* s)
{
    if (!s->pixels)
        return "no pixels";
    if (s->w < 1 || s->h < 1)
        return "size " + std::to_string(s->w) + "x" + std::to_string(s->h);
    const SDL_PixelFormat* f = s->format;
    const int bytes = f->BytesPerPixel;
    const int bits = f->BitsPerPixel;
    if (bytes < 1 || bytes > 4)
        return std::to_string(bytes) + " bytes per pixel";
    if (s->pitch < static_cast<long long>(s->w) * bytes)
        return "pitch " + std::to_string(s->pitch) + " below the row";
    const bool bits_match = (bytes == 1 && bits == 8) || (bytes == 2 && (bits == 15 || bits == 16))
        || (bytes == 3 && bits == 24) || (bytes == 4 && bits == 32);
    if (!bits_match)
        return std::to_string(bits) + " bits in " + std::to_string(bytes) + " bytes";
    if (bytes == 1) {
        if (!f->palette)
            return "8 bits without a palette";
        const int n = f->palette->ncolors;
        if (n < 1 || n > 256)
            return "palette of " + std::to_string(n);
        for (int y = 0; y < s->h; ++y)
            for (int x = 0; x < s->w; ++x)
                if (static_cast<const Uint8*>(s->pixels)[y * s->pitch + x] >= n)
                    return "index outside the palette";
        return "";
    }
    if (f->palette)
        return "palette on a direct-colour surface";
    for (auto problem : {mask_problem("red", f->Rmask, bytes), mask_problem("green", f->Gmask, bytes),
                         mask_problem("blue", f->Bmask, bytes)})
        if (!problem.empty())
            return problem;
    return "";
}

void read_every_pixel(SDL_Surface* s)
{
    unsigned sum = 0;
    for (int y = 0; y < s->h; ++y)
        for (int x = 0; x < s->w; ++x) {
            Uint8 r, g, b;
            get_pixel(s, x, y, &r, &g, &b);
            sum += r + g + b;
        }
    (void)sum;
}

enum Verdict { ACCEPTED, SDL_REFUSES, CHECK_REFUSES };

Verdict verdict_of(const fs::path& file, std::string* why)
{
    SurfacePtr raw_owner(SDL_LoadBMP(file.c_str()));
    SDL_Surface* raw = raw_owner.get();
    std::string sdl_error = SDL_GetError();
    SurfacePtr checked_owner(load_bmp_checked(file.c_str()));
    SDL_Surface* checked = checked_owner.get();
    Verdict v;
    if (!raw) {
        *why = sdl_error;
        EXPECT_EQ(checked, nullptr) << file;
        v = SDL_REFUSES;
    } else {
        *why = broken_rule(raw);
        if (why->empty()) {
            EXPECT_NE(checked, nullptr) << file << " is usable but refused";
            v = ACCEPTED;
        } else {
            EXPECT_EQ(checked, nullptr) << file << " accepted though: " << *why;
            v = CHECK_REFUSES;
        }
    }
    if (checked) {
        EXPECT_EQ(broken_rule(checked), "") << file;
        read_every_pixel(checked);
    }
    return v;
}

}  // namespace

TEST(LoadCheck, EveryCorpusFileIsUsableOrRefused)
{
    SKIP_OR_FAIL_WITHOUT_SUITE(suite);
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(suite))
        if (entry.path().extension() == ".bmp")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 90u);
    const char* labels[] = {"accepted", "refused by SDL", "refused by the check"};
    int counts[3] = {0, 0, 0};
    for (const auto& file : files) {
        std::string why;
        Verdict v = verdict_of(file, &why);
        ++counts[v];
        std::printf("%-28s %s%s%s\n", fs::relative(file, suite).c_str(), labels[v], why.empty() ? "" : ": ",
                    why.c_str());
    }
    std::printf("%d accepted, %d refused by SDL, %d refused by the check\n", counts[0], counts[1], counts[2]);
}

TEST(LoadCheck, HandPickedFilesAsTheirKindSays)
{
    SKIP_OR_FAIL_WITHOUT_SUITE(suite);
    std::string why;
    for (const char* good : {"g/pal1.bmp", "g/pal4.bmp", "g/pal8.bmp", "g/pal8w125.bmp", "g/rgb16.bmp",
                             "g/rgb16-565.bmp", "g/rgb24.bmp", "g/rgb32.bmp", "g/rgb32bf.bmp", "q/pal1p1.bmp",
                             "q/rgb32-xbgr.bmp", "q/rgba16-4444.bmp"})
        EXPECT_EQ(verdict_of(suite / good, &why), ACCEPTED) << good << ": " << why;
    // SDL loads these, but as surfaces its own colour conversion cannot
    // serve: a missing or too narrow channel, channels wider than 8 bits,
    // 8 bytes per pixel.
    for (const char* odd : {"b/rgb16-880.bmp", "q/rgb16-231.bmp", "q/rgb16-3103.bmp", "q/rgba16-1924.bmp",
                            "q/rgb32-111110.bmp", "q/rgba32-1010102.bmp", "q/rgba32-81284.bmp",
                            "q/rgba64.bmp"})
        EXPECT_EQ(verdict_of(suite / odd, &why), CHECK_REFUSES) << odd << ": " << why;
    for (const char* bad : {"b/badbitcount.bmp", "b/badpalettesize.bmp", "b/badwidth.bmp", "b/pal8badindex.bmp",
                            "b/reallybig.bmp", "b/shortfile.bmp", "g/pal8rle.bmp", "q/pal2.bmp"})
        EXPECT_EQ(verdict_of(suite / bad, &why), SDL_REFUSES) << bad << ": " << why;

    // One picture in several layouts reads back the same through get_pixel.
    auto same = [](const char* a, const char* b) {
        SurfacePtr sa_owner(load_bmp_checked((suite / a).c_str()));
        SDL_Surface* sa = sa_owner.get();
        SurfacePtr sb_owner(load_bmp_checked((suite / b).c_str()));
        SDL_Surface* sb = sb_owner.get();
        EXPECT_TRUE(sa && sb) << a << " " << b;
        if (sa && sb) {
            EXPECT_EQ(compare_rgb(sa, sb), "") << a << " vs " << b;
        }
    };
    same("g/rgb24.bmp", "g/rgb32.bmp");
    same("g/rgb24.bmp", "g/rgb32bf.bmp");
    same("g/rgb24.bmp", "q/rgb32-xbgr.bmp");
    same("g/pal8.bmp", "g/pal8topdown.bmp");
    same("g/rgb16.bmp", "g/rgb16bfdef.bmp");
}

TEST(LoadCheck, EachBrokenFieldIsRefused)
{
    // Surfaces the loader can hand back, made by breaking one field of a
    // good one; the field is restored before the surface is freed.
    SurfacePtr s32_owner(make_surface(4, 3, 32));
    SDL_Surface* s32 = s32_owner.get();
    SurfacePtr s8_owner(make_surface(4, 3, 8));
    SDL_Surface* s8 = s8_owner.get();
    SurfacePtr s16_owner(make_surface(4, 3, 16));
    SDL_Surface* s16 = s16_owner.get();
    ASSERT_TRUE(s32 && s8 && s16);
    EXPECT_TRUE(surface_usable(s32));
    EXPECT_TRUE(surface_usable(s8));
    EXPECT_TRUE(surface_usable(s16));
    EXPECT_FALSE(surface_usable(nullptr));

    auto refused_with = [](SDL_Surface* s, auto&& poke, auto&& restore, const char* what) {
        poke();
        EXPECT_NE(broken_rule(s), "") << what;
        EXPECT_FALSE(surface_usable(s)) << what;
        restore();
        EXPECT_TRUE(surface_usable(s)) << what << " (restored)";
    };
    void* pixels = s32->pixels;
    refused_with(s32, [&] { s32->pixels = nullptr; }, [&] { s32->pixels = pixels; }, "no pixels");
    refused_with(s32, [&] { s32->h = -2147483647 - 1; }, [&] { s32->h = 3; }, "height INT_MIN");
    refused_with(s32, [&] { s32->w = 0; }, [&] { s32->w = 4; }, "width 0");
    refused_with(s32, [&] { s32->pitch = 15; }, [&] { s32->pitch = 16; }, "pitch short by one byte");
    refused_with(s32, [&] { s32->format->BytesPerPixel = 8; s32->format->BitsPerPixel = 64; s32->pitch = 0; },
                 [&] { s32->format->BytesPerPixel = 4; s32->format->BitsPerPixel = 32; s32->pitch = 16; },
                 "8 bytes per pixel, pitch 0");
    refused_with(s32, [&] { s32->format->BytesPerPixel = 0; }, [&] { s32->format->BytesPerPixel = 4; },
                 "0 bytes per pixel");
    refused_with(s32, [&] { s32->format->BitsPerPixel = 24; }, [&] { s32->format->BitsPerPixel = 32; },
                 "24 bits in 4 bytes");
    refused_with(s32, [&] { s32->format->Gmask = 0xF0F0; }, [&] { s32->format->Gmask = 0xFF00; },
                 "green mask in two runs");
    refused_with(s32, [&] { s32->format->Bmask = 0x1FF; }, [&] { s32->format->Bmask = 0xFF; },
                 "blue mask 9 bits");
    refused_with(s32, [&] { s32->format->Rmask = 0; }, [&] { s32->format->Rmask = 0xFF0000; }, "red mask empty");
    refused_with(s16, [&] { s16->format->Rmask = 0x7000; }, [&] { s16->format->Rmask = 0xF800; },
                 "red mask 3 bits");
    refused_with(s16, [&] { s16->format->Bmask = 0x1F0000; }, [&] { s16->format->Bmask = 0x1F; },
                 "blue mask beyond 16 bits");
    refused_with(s16, [&] { s16->format->palette = s8->format->palette; }, [&] { s16->format->palette = nullptr; },
                 "palette on 16 bits");

    SDL_Palette* palette = s8->format->palette;
    Uint8* first = static_cast<Uint8*>(s8->pixels);
    std::fill(first, first + s8->pitch * s8->h, 0);
    refused_with(s8, [&] { s8->format->palette = nullptr; }, [&] { s8->format->palette = palette; },
                 "8 bits without a palette");
    refused_with(s8, [&] { palette->ncolors = 0; }, [&] { palette->ncolors = 256; }, "empty palette");
    // The last pixel of the last row names entry 4 of a 4-colour palette.
    palette->ncolors = 4;
    EXPECT_TRUE(surface_usable(s8));
    refused_with(s8, [&] { first[2 * s8->pitch + 3] = 4; }, [&] { first[2 * s8->pitch + 3] = 3; },
                 "index beyond a 4-colour palette");
    palette->ncolors = 256;
}
