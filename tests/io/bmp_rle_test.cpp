// RLE8 and RLE4 BMP: streams made by hand decode to the indices worked out
// here or are refused; encoded random images and ImageMagick's RLE files
// decode to their source; the independent BMP suite's RLE files match their
// uncompressed twins, and its bad files never read or write out of bounds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "io/surface_check.h"
#include "tests/support/test_support.h"
#include "tests/io/image_test.h"

namespace fs = std::filesystem;

namespace {

const fs::path suite = TAVROSK_BMPSUITE_DIR;

std::vector<uint8_t> palette_of(int colors)
{
    std::vector<uint8_t> rgb;
    for (int i = 0; i < colors; ++i)
        rgb.insert(rgb.end(), {static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 13)});
    return rgb;
}

// The decoded surface is 8-bit with exactly the file's palette.
void expect_palette(SDL_Surface* s, const std::vector<uint8_t>& rgb)
{
    ASSERT_EQ(s->format->BitsPerPixel, 8);
    const SDL_Palette* p = s->format->palette;
    ASSERT_EQ(p->ncolors, static_cast<int>(rgb.size() / 3));
    for (int i = 0; i < p->ncolors; ++i)
        EXPECT_TRUE(p->colors[i].r == rgb[3 * i] && p->colors[i].g == rgb[3 * i + 1] && p->colors[i].b == rgb[3 * i + 2])
            << "palette entry " << i;
}

// The BMP decoder's surface, before its colours are read.
SurfacePtr decode_rle(const Bytes& bytes, std::string* problem)
{
    return SurfacePtr(decode_bmp_surface(bytes.data(), bytes.size(), problem));
}

Bytes read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(BmpRle, HandMadeStreams)
{
    const struct {
        const char* name;
        int w, h, bits, colors;
        Bytes stream;
        std::vector<uint8_t> top_first;  // empty: refused with `problem`
        const char* problem;
    } cases[] = {
        {"runs, end of line", 4, 2, 8, 4, {3, 1, 1, 2, 0, 0, 2, 3, 2, 0, 0, 1}, {3, 3, 0, 0, 1, 1, 1, 2}, ""},
        {"odd absolute block and its pad byte", 5, 1, 8, 4, {0, 3, 1, 2, 3, 0, 2, 1, 0, 1}, {1, 2, 3, 1, 1}, ""},
        {"even absolute block", 5, 1, 8, 4, {0, 4, 3, 2, 1, 0, 1, 3, 0, 1}, {3, 2, 1, 0, 3}, ""},
        {"delta skips to index 0", 4, 3, 8, 4, {1, 1, 0, 2, 2, 1, 1, 2, 0, 1}, {0, 0, 0, 0, 0, 0, 0, 2, 1, 0, 0, 0}, ""},
        {"early end of bitmap", 3, 2, 8, 4, {2, 1, 0, 1}, {0, 0, 0, 1, 1, 0}, ""},
        {"stream runs out", 3, 2, 8, 4, {3, 2, 0, 0, 1}, {0, 0, 0, 2, 2, 2}, ""},
        {"stream runs out in a delta", 3, 2, 8, 4, {3, 2, 0, 2, 1}, {0, 0, 0, 2, 2, 2}, ""},
        {"absolute block past the data", 5, 1, 8, 4, {0, 5, 1, 2, 3}, {1, 2, 3, 0, 0}, ""},
        {"RLE4 run alternates nibbles", 5, 1, 4, 16, {5, 0x12, 0, 1}, {1, 2, 1, 2, 1}, ""},
        {"RLE4 absolute of 3 in 2 bytes", 6, 1, 4, 16, {0, 3, 0x34, 0x50, 3, 0x67, 0, 1}, {3, 4, 5, 6, 7, 6}, ""},
        {"RLE4 absolute of 5 and its pad byte", 6, 1, 4, 16, {0, 5, 0x12, 0x34, 0x50, 0, 1, 0xF0, 0, 1}, {1, 2, 3, 4, 5, 15}, ""},
        {"RLE4 absolute block past the data", 5, 1, 4, 16, {0, 5, 0x12}, {1, 2, 0, 0, 0}, ""},
        // Runs into the row's padding, as ImageMagick writes them.
        {"run past the line end", 3, 1, 8, 4, {4, 1, 0, 1}, {1, 1, 1}, ""},
        {"runs past the line end", 3, 2, 8, 4, {2, 1, 2, 2, 255, 3, 0, 0, 1, 2}, {2, 0, 0, 1, 1, 2}, ""},
        {"RLE4 run past the line end", 3, 1, 4, 16, {4, 0x12, 0, 1}, {1, 2, 1}, ""},
        {"run above the top row", 2, 1, 8, 4, {2, 1, 0, 0, 1, 1}, {}, "corrupt RLE data"},
        {"end of line above the top row", 2, 1, 8, 4, {2, 1, 0, 0, 0, 0}, {}, "corrupt RLE data"},
        {"delta past the right edge", 3, 2, 8, 4, {1, 1, 0, 2, 3, 0}, {}, "corrupt RLE data"},
        {"delta past the top row", 3, 2, 8, 4, {0, 2, 0, 2}, {}, "corrupt RLE data"},
        {"absolute block past the line end", 3, 1, 8, 4, {0, 4, 1, 2, 3, 1}, {}, "corrupt RLE data"},
        {"top-down", 3, -2, 8, 4, {3, 1, 0, 1}, {}, "top-down RLE BMP images are not valid"},
        {"index outside the palette", 3, 1, 8, 4, {1, 5, 0, 1}, {}, "not an image that can be used"},
        {"no width", 0, 1, 8, 4, {0, 1}, {}, "image has no pixels (0 x 1)"},
        {"palette over 256 colours", 1, 1, 8, 300, {0, 1}, {}, "BMP palette of 300 colours"},
    };
    for (const auto& c : cases)
        for (int info_size : {40, 108, 124}) {
            SCOPED_TRACE(std::string(c.name) + ", header of " + std::to_string(info_size));
            std::vector<uint8_t> palette = palette_of(c.colors);
            std::string problem;
            SurfacePtr s = decode_rle(write_rle_bmp(c.w, c.h, c.bits, palette, c.stream, info_size), &problem);
            if (c.top_first.empty()) {
                EXPECT_FALSE(s);
                EXPECT_EQ(problem, c.problem);
                continue;
            }
            ASSERT_TRUE(s) << problem;
            EXPECT_TRUE(surface_usable(s.get()));
            expect_palette(s.get(), palette);
            EXPECT_EQ(memory_of(s.get()), c.top_first);
        }
}

TEST(BmpRle, BrokenFileFields)
{
    std::vector<uint8_t> palette = palette_of(4);
    Bytes good = write_rle_bmp(3, 1, 8, palette, {3, 2, 0, 1});
    std::string problem;

    Bytes far = good;
    far[11] = 0x7F;  // pixel offset past the end: no stream, every pixel index 0
    SurfacePtr s = decode_rle(far, &problem);
    ASSERT_TRUE(s) << problem;
    EXPECT_EQ(memory_of(s.get()), std::vector<uint8_t>(3, 0));

    Bytes cut(good.begin(), good.begin() + 14 + 40 + 6);  // inside the palette
    EXPECT_FALSE(decode_rle(cut, &problem));
    EXPECT_EQ(problem, "truncated BMP data");

    Bytes rle24 = good;
    rle24[28] = 24;  // RLE8 with 24 bits a pixel: SDL's refusal stands
    EXPECT_FALSE(decode_rle(rle24, &problem));
    EXPECT_EQ(problem, "not a BMP image that can be loaded (Compressed BMP files not supported)");
}

TEST(BmpRle, EncodedRandomImagesDecodeToTheirIndices)
{
    std::mt19937 rng(17);
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 3}, {5, 4}, {127, 3}, {300, 2}};
    for (int bits : {8, 4})
        for (auto size : sizes) {
            const int w = size.first, h = size.second, colors = 1 << bits;
            // Repeats and alternations, so that the encoder writes runs
            // as well as absolute blocks.
            std::vector<uint8_t> indices;
            for (int i = 0; i < w * h; ++i) {
                uint32_t r = rng();
                bool copy = i % w >= 2 && r % 4 != 0;
                indices.push_back(copy ? indices[i - 1 - (r >> 8) % 2] : static_cast<uint8_t>(r % colors));
            }
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(w) + " x " + std::to_string(h));
            std::vector<uint8_t> palette = palette_of(colors);
            std::string problem;
            SurfacePtr s = decode_rle(write_rle_bmp(w, h, bits, palette, rle_encode(indices, w, h, bits)), &problem);
            ASSERT_TRUE(s) << problem;
            expect_palette(s.get(), palette);
            EXPECT_EQ(memory_of(s.get()), indices);
        }
}

TEST(BmpRle, ImageMagickRle8DecodesToItsSource)
{
    if (std::system("convert -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    char name[] = "/tmp/tavrosk-rle-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const std::string dir = name;
    // Few colours in blocks, so that the file has runs.
    SurfacePtr source(make_surface(61, 23, 24));
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 61; ++x)
            put_pixel(source.get(), x, y, (x / 5) * 40 % 256, (y / 3) * 60 % 256, ((x + y) / 7) * 50 % 256);
    ASSERT_EQ(SDL_SaveBMP(source.get(), (dir + "/in.bmp").c_str()), 0);
    ASSERT_EQ(std::system(("convert '" + dir + "/in.bmp' -type Palette -compress RLE BMP3:'" + dir + "/rle.bmp'").c_str()), 0);
    Bytes rle = read_bytes(dir + "/rle.bmp");
    std::system(("rm -rf '" + dir + "'").c_str());
    ASSERT_GE(rle.size(), 54u);
    ASSERT_EQ(rle[30], 1) << "ImageMagick did not write RLE8";
    ASSERT_EQ(rle[28], 8);
    std::string problem;
    SurfacePtr s = decode_rle(rle, &problem);
    ASSERT_TRUE(s) << problem;
    EXPECT_EQ(compare_rgb(source.get(), s.get()), "");
}

TEST(BmpRle, SuiteFilesMatchTheirUncompressedTwins)
{
    SKIP_OR_FAIL_WITHOUT_SUITE(suite);
    for (auto pair : {std::make_pair("g/pal8rle.bmp", "g/pal8.bmp"), std::make_pair("g/pal4rle.bmp", "g/pal4.bmp")}) {
        SCOPED_TRACE(pair.first);
        std::string problem;
        SurfacePtr rle = decode_rle(read_bytes(suite / pair.first), &problem);
        SurfacePtr plain(load_bmp_checked((suite / pair.second).c_str()));
        ASSERT_TRUE(rle) << problem;
        ASSERT_TRUE(plain);
        const SDL_Palette* p = plain->format->palette;
        std::vector<uint8_t> palette;
        for (int i = 0; i < p->ncolors; ++i)
            palette.insert(palette.end(), {p->colors[i].r, p->colors[i].g, p->colors[i].b});
        expect_palette(rle.get(), palette);
        EXPECT_EQ(memory_of(rle.get()), memory_of(plain.get()));
        EXPECT_EQ(compare_rgb(rle.get(), plain.get()), "");
    }
    for (const char* name : {"q/pal8rlecut.bmp", "q/pal4rlecut.bmp", "q/pal8rletrns.bmp", "q/pal4rletrns.bmp"}) {
        std::string problem;
        SurfacePtr s = decode_rle(read_bytes(suite / name), &problem);
        EXPECT_TRUE(s) << name << ": " << problem;
        if (s)
            rgb_of(s.get());
    }
    // Refused or decoded; every pixel of a decoded one is read, so that a
    // sanitizer build sees any surface that lies about its size.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(suite / "b")) {
        std::string problem;
        SurfacePtr s = decode_rle(read_bytes(entry.path()), &problem);
        if (s)
            rgb_of(s.get());
        else
            EXPECT_FALSE(problem.empty()) << entry.path();
        ++files;
    }
    EXPECT_GE(files, 20);
}
