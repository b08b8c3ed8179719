// Encoding: lossless formats give back every colour triple of any source
// depth, BMP is byte for byte what SDL writes, JPEG stays close, a failing
// stream is reported; and the format names and words.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <random>

#include "sdl/surface_image.h"
#include "tests/support/test_support.h"
#include "tests/io/image_test.h"

namespace {

const int depths[] = {8, 15, 16, 24, 32};

// The test's own reader of the PPM the encoder promises: "P6\nW H\n255\n"
// then R, G, B bytes. Empty when the header is not exactly that.
std::vector<uint8_t> ppm_pixels(const Bytes& ppm, int w, int h)
{
    std::string header = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    if (ppm.size() != header.size() + 3u * w * h || std::memcmp(ppm.data(), header.data(), header.size()) != 0)
        return {};
    return std::vector<uint8_t>(ppm.begin() + header.size(), ppm.end());
}

}  // namespace

TEST(ImageEncode, LosslessFormatsGiveBackEveryTriple)
{
    for (int depth : depths)
        for (auto size : {std::make_pair(1, 1), std::make_pair(7, 5), std::make_pair(33, 17)}) {
            SCOPED_TRACE("depth " + std::to_string(depth) + ", " + std::to_string(size.first) + " x "
                         + std::to_string(size.second));
            SurfacePtr source(make_surface(size.first, size.second, depth));
            fill_random(source.get(), 7 * depth + size.first);
            const std::vector<uint8_t> expected = rgb_of(source.get());

            SurfacePtr png = decode(encode(source.get(), IMAGE_PNG));
            ASSERT_TRUE(png);
            EXPECT_EQ(png->format->BitsPerPixel, 24);
            EXPECT_EQ(compare_rgb(source.get(), png.get()), "");

            EXPECT_EQ(ppm_pixels(encode(source.get(), IMAGE_PPM), size.first, size.second), expected);

            // SDL's BMP writer converts 15- and 16-bit pixels with its own
            // blit, which drops the low bits get_pixel fills in; see below.
            if (depth == 15 || depth == 16)
                continue;
            SurfacePtr bmp = decode(encode(source.get(), IMAGE_BMP));
            ASSERT_TRUE(bmp);
            EXPECT_EQ(compare_rgb(source.get(), bmp.get()), "");
        }
}

// The encoders read 24- and 32-bit rows whose channels are whole bytes
// without get_pixel, and the JPEG encoder hands those in libjpeg-turbo's own
// orders over as they lie; every other layout goes through get_pixel. Either
// way the PPM holds what get_pixel reads, and the same pixels give the same
// JPEG bytes, whatever the channels' order and the alpha and spare bits hold.
TEST(ImageEncode, EveryChannelLayoutEncodesWhatGetPixelReads)
{
    struct Layout {
        int depth;
        Uint32 r, g, b, a;
    };
    const Layout layouts[] = {
        {32, 0xFFu << 17, 0xFFu << 9, 0xFFu << 1, 0},          // 8-bit channels off byte boundaries
        {24, 0x0000FF, 0x00FF00, 0xFF0000, 0},                  // little-endian memory order R, G, B
        {24, 0xFF0000, 0x00FF00, 0x0000FF, 0},                  // B, G, R: SDL's default
        {32, 0xFF0000, 0x00FF00, 0x0000FF, 0},                  // B, G, R, spare: tavrosk-warp's result
        {32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000},  // R, G, B, A
        {32, 0x0000FF00, 0x00FF0000, 0xFF000000, 0x000000FF},  // A, R, G, B
        {32, 0xFF000000, 0x00FF0000, 0x0000FF00, 0},            // spare, B, G, R
        {32, 0x1Fu << 11, 0x3Fu << 5, 0x1F, 0},                // 5, 6 and 5 bits
        {24, 0xFFu << 14, 0xFFu << 6, 0x3F, 0},                // a 6-bit blue
    };
    const int w = 37, h = 19;  // not whole JPEG blocks; 24-bit rows with padding
    std::mt19937 rng(9);
    std::vector<Uint8> colours(3 * w * h);
    for (Uint8& c : colours)
        c = static_cast<Uint8>(rng());
    SurfacePtr reference;
    Bytes reference_jpeg;
    for (const Layout& l : layouts) {
        SCOPED_TRACE(std::to_string(l.depth) + "-bit, masks " + std::to_string(l.r) + " " + std::to_string(l.g)
                     + " " + std::to_string(l.b) + " " + std::to_string(l.a));
        SurfacePtr s(SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, l.depth, l.r, l.g, l.b, l.a));
        ASSERT_TRUE(s);
        Uint8* bytes = static_cast<Uint8*>(s->pixels);
        for (int i = 0; i < s->h * s->pitch; ++i)  // the padding too
            bytes[i] = static_cast<Uint8>(rng());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Uint8* c = &colours[3 * (y * w + x)];
                Uint32 v = SDL_MapRGB(s->format, c[0], c[1], c[2]) | (~(l.r | l.g | l.b) & rng());
                Uint8* p = bytes + y * s->pitch + x * s->format->BytesPerPixel;
                if (l.depth == 24)
                    store_packed24(p, v);
                else
                    std::memcpy(p, &v, 4);
            }
        EXPECT_EQ(ppm_pixels(encode(s.get(), IMAGE_PPM), w, h), rgb_of(s.get()));
        const Bytes jpeg = encode(s.get(), IMAGE_JPEG, 92);
        if (!reference) {
            reference = std::move(s);
            reference_jpeg = jpeg;
            ASSERT_FALSE(reference_jpeg.empty());
        } else if (compare_rgb(reference.get(), s.get()).empty()) {
            EXPECT_EQ(jpeg, reference_jpeg);
        }
    }
}

// What SDL writes of a 32-bit surface of the image's colours, the surface the
// batch tools held their results in.
TEST(ImageEncode, BmpIsWhatSdlWrites)
{
    for (int depth : depths) {
        SurfacePtr source(make_surface(9, 4, depth)), colours(make_surface(9, 4, 32));
        fill_random(source.get(), depth);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 9; ++x) {
                Uint8 c[3];
                get_pixel(source.get(), x, y, &c[0], &c[1], &c[2]);
                put_pixel(colours.get(), x, y, c[0], c[1], c[2]);
            }
        std::vector<uint8_t> buffer(4096);
        SDL_RWops* rw = SDL_RWFromMem(buffer.data(), static_cast<int>(buffer.size()));
        ASSERT_EQ(SDL_SaveBMP_RW(colours.get(), rw, 0), 0);
        buffer.resize(SDL_RWtell(rw));
        SDL_RWclose(rw);
        EXPECT_EQ(encode(source.get(), IMAGE_BMP), buffer) << "depth " << depth;
    }
}

TEST(ImageEncode, JpegIsCloseOnASmoothImage)
{
    const int w = 64, h = 48;
    SurfacePtr source(make_surface(w, h, 24));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            put_pixel(source.get(), x, y, 4 * x, 5 * y, 128 + x - y);
    std::string problem;
    SurfacePtr jpeg = decode(encode(source.get(), IMAGE_JPEG, 95, &problem), &problem);
    ASSERT_TRUE(jpeg) << problem;
    std::vector<uint8_t> a = rgb_of(source.get()), b = rgb_of(jpeg.get());
    ASSERT_EQ(a.size(), b.size());
    int worst = 0;
    double total = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        int e = std::abs(a[i] - b[i]);
        worst = std::max(worst, e);
        total += e;
    }
    // Measured: worst 4, mean 0.67; red and blue swapped would give a mean
    // near 50, a row or column out of place far more than 6.
    EXPECT_LE(worst, 6);
    EXPECT_LE(total / a.size(), 1.5);

    for (int quality : {0, 101, -5}) {
        EXPECT_TRUE(encode(source.get(), IMAGE_JPEG, quality, &problem).empty());
        EXPECT_EQ(problem, "JPEG quality must be from 1 to 100, not " + std::to_string(quality));
    }
    EXPECT_TRUE(decode(encode(source.get(), IMAGE_JPEG, 1)));
}

// PNG's zlib level: every level gives back the pixels, 0 stores them (a
// file larger than the pixels), a higher level makes a smooth picture no
// larger; levels outside 0 to 9 are refused. Every format counts each row
// once.
TEST(ImageEncode, PngLevelsAndRowCounts)
{
    const int w = 120, h = 70;
    SurfacePtr source(make_surface(w, h, 24));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            put_pixel(source.get(), x, y, static_cast<Uint8>(2 * x), static_cast<Uint8>(3 * y),
                      static_cast<Uint8>((x * y) % 7));
    ImageBuffer rgb;
    ASSERT_TRUE(surface_to_rgb8(source.get(), &rgb));
    auto encode_with = [&](ImageFormat format, const ImageEncodeOptions& options, std::string* problem) {
        char* buffer = nullptr;
        size_t size = 0;
        std::FILE* out = open_memstream(&buffer, &size);
        const bool ok = image_encode(rgb.view, format, 90, out, problem, nullptr, options);
        std::fclose(out);
        Bytes bytes(buffer, buffer + (ok ? size : 0));
        std::free(buffer);
        return bytes;
    };
    size_t previous = 0;
    for (int level : {0, 1, 3, 6, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        std::atomic<long long> rows(0);
        ImageEncodeOptions options;
        options.png_compression = level;
        options.rows_done = &rows;
        std::string problem;
        const Bytes png = encode_with(IMAGE_PNG, options, &problem);
        ASSERT_FALSE(png.empty()) << problem;
        EXPECT_EQ(compare_rgb(source.get(), decode(png).get()), "");
        EXPECT_EQ(rows.load(), h);
        if (level == 0) {
            EXPECT_GT(png.size(), 3u * w * h);
        } else {
            EXPECT_LT(png.size(), previous);
        }
        previous = png.size();
        if (level == PNG_COMPRESSION_DEFAULT) {
            EXPECT_EQ(png, encode(source.get(), IMAGE_PNG)) << "the default is the level taken when none is given";
        }
    }
    for (ImageFormat format : {IMAGE_BMP, IMAGE_JPEG, IMAGE_PPM}) {
        std::atomic<long long> rows(0);
        ImageEncodeOptions options;
        options.rows_done = &rows;
        std::string problem;
        EXPECT_FALSE(encode_with(format, options, &problem).empty()) << problem;
        EXPECT_EQ(rows.load(), h) << image_format_name(format);
    }
    for (int level : {-1, 10}) {
        ImageEncodeOptions options;
        options.png_compression = level;
        std::string problem;
        EXPECT_TRUE(encode_with(IMAGE_PNG, options, &problem).empty());
        EXPECT_EQ(problem, "PNG compression must be from 0 to 9, not " + std::to_string(level));
    }
}

TEST(ImageEncode, FailingStreamIsReported)
{
    SurfacePtr source(make_surface(40, 30, 24));
    fill_random(source.get(), 1);
    for (ImageFormat format : {IMAGE_BMP, IMAGE_PNG, IMAGE_JPEG, IMAGE_PPM}) {
        std::FILE* full = std::fopen("/dev/full", "wb");
        ASSERT_NE(full, nullptr);
        std::string problem;
        EXPECT_FALSE(encode_surface(source.get(), format, 90, full, &problem)) << image_format_name(format);
        EXPECT_EQ(problem, "cannot write: No space left on device") << image_format_name(format);
        std::fclose(full);
    }
}

TEST(ImageFormat, NamesAndWords)
{
    const struct {
        const char* name;
        bool known;
        ImageFormat format;
    } names[] = {
        {"a.bmp", true, IMAGE_BMP},        {"dir/B.PNG", true, IMAGE_PNG},    {"x.Jpg", true, IMAGE_JPEG},
        {"x.jpeg", true, IMAGE_JPEG},      {"/tmp/y.ppm", true, IMAGE_PPM},   {"a.tar.png", true, IMAGE_PNG},
        {"bmp", false, IMAGE_BMP},         {"a.bmpx", false, IMAGE_BMP},      {"dir.png/file", false, IMAGE_BMP},
        {"a.", false, IMAGE_BMP},          {"a.gif", false, IMAGE_BMP},       {"", false, IMAGE_BMP},
    };
    for (const auto& n : names) {
        ImageFormat format = IMAGE_PPM;
        EXPECT_EQ(image_format_from_name(n.name, &format), n.known) << n.name;
        if (n.known) {
            EXPECT_EQ(format, n.format) << n.name;
        }
    }
    const struct {
        const char* word;
        ImageFormat format;
    } words[] = {{"bmp", IMAGE_BMP}, {"png", IMAGE_PNG}, {"jpeg", IMAGE_JPEG}, {"jpg", IMAGE_JPEG}, {"PPM", IMAGE_PPM}};
    for (const auto& w : words) {
        ImageFormat format = w.format == IMAGE_BMP ? IMAGE_PNG : IMAGE_BMP;
        EXPECT_TRUE(image_format_from_word(w.word, &format)) << w.word;
        EXPECT_EQ(format, w.format) << w.word;
    }
    for (const char* bad : {"", "gif", ".png", "pngx", "jpe"}) {
        ImageFormat format;
        EXPECT_FALSE(image_format_from_word(bad, &format)) << bad;
    }
    EXPECT_STREQ(image_format_name(IMAGE_BMP), "BMP");
    EXPECT_STREQ(image_format_name(IMAGE_PNG), "PNG");
    EXPECT_STREQ(image_format_name(IMAGE_JPEG), "JPEG");
    EXPECT_STREQ(image_format_name(IMAGE_PPM), "PPM");
}
