// PNG and JPEG decoding: every PNG colour type, depth and interlacing gives
// the triples worked out here; JPEG gives what ImageMagick gets from
// libjpeg-turbo; CMYK, cut files and oversized headers are refused; the
// format is told by the bytes, not the name.
#include <gtest/gtest.h>

#include <png.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "tests/support/test_support.h"
#include "tests/io/image_test.h"

namespace {

// A grey or colour sample of `bits` as 8 bits: scaled to 0..255 below 8
// bits, rounded to the nearest for 16.
uint8_t to8(unsigned v, int bits)
{
    if (bits == 16)
        return static_cast<uint8_t>((v * 255u + 32767u) / 65535u);
    return static_cast<uint8_t>(v * 255u / ((1u << bits) - 1));
}

// The triples a PNG of these samples must decode to: alpha dropped, grey
// copied into all three channels, palette indices looked up.
std::vector<uint8_t> expected_rgb(const PngSample& p)
{
    const int channels = png_channels(p.color_type);
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < p.samples.size(); i += channels) {
        const uint16_t* s = &p.samples[i];
        if (p.color_type == PNG_COLOR_TYPE_PALETTE)
            rgb.insert(rgb.end(), &p.palette[3 * s[0]], &p.palette[3 * s[0]] + 3);
        else if (channels <= 2)
            rgb.insert(rgb.end(), 3, to8(s[0], p.bit_depth));
        else
            for (int c = 0; c < 3; ++c)
                rgb.push_back(to8(s[c], p.bit_depth));
    }
    return rgb;
}

PngSample random_png(int w, int h, int color_type, int bits, bool interlaced, uint32_t seed)
{
    std::mt19937 rng(seed);
    PngSample p = {w, h, color_type, bits, interlaced, {}, {}, {}};
    const unsigned values = 1u << bits;
    for (int i = 0; i < w * h * png_channels(color_type); ++i)
        p.samples.push_back(static_cast<uint16_t>(rng() % values));
    if (color_type == PNG_COLOR_TYPE_PALETTE)
        for (unsigned i = 0; i < 3 * values; ++i)
            p.palette.push_back(static_cast<uint8_t>(rng()));
    return p;
}

JpegSample smooth_jpeg(int w, int h, int components, bool progressive)
{
    JpegSample j = {w, h, components, false, progressive, false, 0, 85, 0, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < components; ++c)
                j.samples.push_back(static_cast<uint8_t>(40 + 3 * x + 2 * y + 50 * c + (x * y) % 7));
    return j;
}

std::string temp_dir()
{
    char name[] = "/tmp/tavrosk-image-XXXXXX";
    return mkdtemp(name) ? name : "";
}

void write_file(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(PngDecode, EveryColourTypeDepthAndInterlacing)
{
    const struct {
        int color_type, bits;
    } variants[] = {
        {PNG_COLOR_TYPE_GRAY, 1},    {PNG_COLOR_TYPE_GRAY, 2},       {PNG_COLOR_TYPE_GRAY, 4},
        {PNG_COLOR_TYPE_GRAY, 8},    {PNG_COLOR_TYPE_GRAY, 16},      {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {PNG_COLOR_TYPE_RGB, 8},    {PNG_COLOR_TYPE_RGB, 16},
        {PNG_COLOR_TYPE_RGB_ALPHA, 8}, {PNG_COLOR_TYPE_RGB_ALPHA, 16}, {PNG_COLOR_TYPE_PALETTE, 1},
        {PNG_COLOR_TYPE_PALETTE, 2}, {PNG_COLOR_TYPE_PALETTE, 4},    {PNG_COLOR_TYPE_PALETTE, 8},
    };
    int seed = 0;
    for (const auto& v : variants)
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE("colour type " + std::to_string(v.color_type) + ", " + std::to_string(v.bits) + " bits"
                         + (interlaced ? ", interlaced" : ""));
            // 13 x 9: every Adam7 pass has pixels, some passes partial blocks.
            PngSample p = random_png(13, 9, v.color_type, v.bits, interlaced, ++seed);
            if (v.color_type == PNG_COLOR_TYPE_PALETTE && v.bits == 8)
                p.palette_alpha = {0, 128, 255, 7};
            std::string problem;
            SurfacePtr s = decode(write_png(p), &problem);
            ASSERT_TRUE(s) << problem;
            EXPECT_EQ(s->format->BitsPerPixel, 24);
            // R, G, B in memory order, and the same through the format.
            EXPECT_EQ(memory_of(s.get()), expected_rgb(p));
            EXPECT_EQ(rgb_of(s.get()), expected_rgb(p));
        }
}

TEST(PngDecode, SixteenBitsRoundToNearest)
{
    PngSample p = {256, 256, PNG_COLOR_TYPE_GRAY, 16, false, {}, {}, {}};
    for (unsigned v = 0; v < 65536; ++v)
        p.samples.push_back(static_cast<uint16_t>(v));
    SurfacePtr s = decode(write_png(p));
    ASSERT_TRUE(s);
    std::vector<uint8_t> rgb = rgb_of(s.get());
    int wrong = 0;
    for (unsigned v = 0; v < 65536; ++v)
        wrong += rgb[3 * v] != static_cast<uint8_t>((v * 255 + 32767) / 65535);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(rgb[3 * 128], 0);
    EXPECT_EQ(rgb[3 * 129], 1);
    EXPECT_EQ(rgb[3 * 65535], 255);
}

// ImageMagick here decodes JPEG with libjpeg-turbo's defaults as well; its
// PPM output is an independent reading of the same file.
TEST(JpegDecode, PixelsAreLibjpegTurboDefaults)
{
    if (std::system("convert -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    std::string dir = temp_dir();
    ASSERT_FALSE(dir.empty());
    const struct {
        const char* name;
        int components;
        bool progressive;
    } cases[] = {{"baseline", 3, false}, {"progressive", 3, true}, {"grey", 1, false}, {"grey-progressive", 1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // 37 x 21: partial MCUs at the right and bottom edges.
        Bytes jpeg = write_jpeg(smooth_jpeg(37, 21, c.components, c.progressive));
        std::string problem;
        SurfacePtr s = decode(jpeg, &problem);
        ASSERT_TRUE(s) << problem;
        write_file(dir + "/in.jpg", jpeg);
        ASSERT_EQ(std::system(("convert '" + dir + "/in.jpg' '" + dir + "/out.ppm'").c_str()), 0);
        std::ifstream in(dir + "/out.ppm", std::ios::binary);
        std::string magic;
        int w = 0, h = 0, maxval = 0;
        in >> magic >> w >> h >> maxval;
        in.get();
        ASSERT_EQ(magic, "P6");
        ASSERT_EQ(maxval, 255);
        std::vector<uint8_t> reference(3 * w * h);
        in.read(reinterpret_cast<char*>(reference.data()), reference.size());
        EXPECT_EQ(s->w, w);
        EXPECT_EQ(s->h, h);
        std::vector<uint8_t> rgb = rgb_of(s.get());
        EXPECT_EQ(rgb, reference);
        if (c.components == 1) {
            for (size_t i = 0; i < rgb.size(); i += 3)
                ASSERT_TRUE(rgb[i] == rgb[i + 1] && rgb[i] == rgb[i + 2]) << "pixel " << i / 3;
        }
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(JpegDecode, ScansAreLimitedTo100)
{
    JpegSample j = smooth_jpeg(16, 8, 1, false);
    std::string problem;
    j.coefficient_scans = 1;  // 64 scans
    EXPECT_TRUE(decode(write_jpeg(j), &problem)) << problem;
    j.coefficient_scans = 2;  // 127 scans
    EXPECT_FALSE(decode(write_jpeg(j), &problem));
    EXPECT_EQ(problem, "JPEG image with more than 100 scans");
}

TEST(JpegDecode, CmykAndYcckAreRefused)
{
    for (bool ycck : {false, true}) {
        JpegSample j = smooth_jpeg(16, 8, 4, false);
        j.ycck = ycck;
        std::string problem;
        EXPECT_FALSE(decode(write_jpeg(j), &problem));
        EXPECT_EQ(problem, "CMYK JPEG images are not supported");
    }
}

TEST(Decode, CutFilesAreRefusedAtEveryLength)
{
    PngSample p = random_png(11, 7, PNG_COLOR_TYPE_RGB, 8, true, 99);
    Bytes png = write_png(p);
    ASSERT_TRUE(decode(png));
    for (size_t cut = 8; cut < png.size(); ++cut) {
        std::string problem;
        EXPECT_FALSE(decode(Bytes(png.begin(), png.begin() + cut), &problem)) << cut;
        ASSERT_EQ(problem, "truncated PNG data") << "cut at " << cut << " of " << png.size();
    }
    for (bool progressive : {false, true}) {
        Bytes jpeg = write_jpeg(smooth_jpeg(19, 11, 3, progressive));
        ASSERT_TRUE(decode(jpeg));
        for (size_t cut = 3; cut < jpeg.size(); ++cut) {
            std::string problem;
            EXPECT_FALSE(decode(Bytes(jpeg.begin(), jpeg.begin() + cut), &problem)) << cut;
            ASSERT_EQ(problem, "truncated JPEG data") << "cut at " << cut << " of " << jpeg.size();
        }
    }
}

TEST(Decode, FormatIsToldByTheBytes)
{
    std::string problem;
    for (const std::string& text : {std::string("just some text\n"), std::string(), std::string("B"),
                                    std::string("\x89PNG\r\n\x1a"), std::string("\xFF\xD8")}) {
        EXPECT_FALSE(decode(Bytes(text.begin(), text.end()), &problem));
        EXPECT_EQ(problem, "not a BMP, PNG, JPEG, TIFF, WebP, HEIF or AVIF image");
    }
    EXPECT_FALSE(decode(Bytes{'B', 'M', 0, 0}, &problem));
    EXPECT_EQ(problem.rfind("not a BMP image that can be loaded", 0), 0u) << problem;

    std::string dir = temp_dir();
    ASSERT_FALSE(dir.empty());
    PngSample p = random_png(5, 4, PNG_COLOR_TYPE_RGB, 8, false, 5);
    write_file(dir + "/really-a-png.bmp", write_png(p));
    SurfacePtr s(load_surface((dir + "/really-a-png.bmp").c_str(), &problem));
    ASSERT_TRUE(s) << problem;
    EXPECT_EQ(rgb_of(s.get()), expected_rgb(p));
    write_file(dir + "/text.png", Bytes{'h', 'i', '\n'});
    EXPECT_FALSE(load_surface((dir + "/text.png").c_str(), &problem));
    EXPECT_EQ(problem, "not a BMP, PNG, JPEG, TIFF, WebP, HEIF or AVIF image");
    EXPECT_FALSE(load_surface((dir + "/missing.png").c_str(), &problem));
    EXPECT_EQ(problem, "cannot open: No such file or directory");
    EXPECT_FALSE(load_surface(dir.c_str(), &problem));
    EXPECT_EQ(problem, "is a directory");
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(Decode, SizeLimitsAreCheckedBeforeAllocating)
{
    // PNG: a real header with its size changed; the CRC no longer matches,
    // so only a refusal before libpng reads the chunk names the size.
    auto png_of_size = [](uint32_t w, uint32_t h) {
        Bytes png = write_png(random_png(3, 2, PNG_COLOR_TYPE_RGB, 8, false, 1));
        for (int i = 0; i < 4; ++i) {
            png[16 + i] = static_cast<uint8_t>(w >> (24 - 8 * i));
            png[20 + i] = static_cast<uint8_t>(h >> (24 - 8 * i));
        }
        return png;
    };
    const struct {
        uint32_t w, h;
        const char* problem;
    } pngs[] = {{20000, 10, "image too large (20000 x 10)"},     {16384, 1, "image too large (16384 x 1)"},
                {1, 16384, "image too large (1 x 16384)"},       {12000, 12000, "image too large (12000 x 12000)"},
                {0, 5, "image has no pixels (0 x 5)"}};
    std::string problem;
    for (const auto& c : pngs) {
        EXPECT_FALSE(decode(png_of_size(c.w, c.h), &problem));
        EXPECT_EQ(problem, c.problem);
    }
    // At the limit the size passes and libpng goes on to the bad CRC.
    EXPECT_FALSE(decode(png_of_size(16383, 1), &problem));
    EXPECT_EQ(problem, "not a PNG image that can be decoded (IHDR: CRC error)");

    // RLE BMP 1 x 70000 and a plain BMP 20000 x 1 with a few bytes of pixels.
    Bytes rle = write_rle_bmp(1, 70000, 8, {1, 2, 3}, {1, 0, 0, 1});
    EXPECT_FALSE(decode(rle, &problem));
    EXPECT_EQ(problem, "image too large (1 x 70000)");
    Bytes plain = rle;
    plain[30] = 0;  // BI_RGB
    plain[18] = 0x20, plain[19] = 0x4E, plain[22] = 1, plain[23] = 0, plain[24] = 0;
    EXPECT_FALSE(decode(plain, &problem));
    EXPECT_EQ(problem, "image too large (20000 x 1)");

    // JPEG: the width field of the frame header set to 16384.
    Bytes jpeg = write_jpeg(smooth_jpeg(8, 8, 3, false));
    size_t sof = 2;
    while (sof + 9 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0))
        ++sof;
    ASSERT_LT(sof + 9, jpeg.size());
    jpeg[sof + 7] = 0x40;
    jpeg[sof + 8] = 0x00;
    EXPECT_FALSE(decode(jpeg, &problem));
    EXPECT_EQ(problem, "image too large (16384 x 8)");
}
