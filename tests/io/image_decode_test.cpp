// PNG, JPEG and BMP decoding: every PNG colour type, depth and interlacing
// gives the triples worked out here; JPEG gives what ImageMagick gets from
// libjpeg-turbo; a BMP's alpha mask gives alpha; CMYK, cut files and
// oversized headers are refused; the format is told by the bytes, not the
// name.
#include <gtest/gtest.h>

#include <png.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "io/image_codecs.h"
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

// A palette's tRNS chunk gives alpha only where it makes an entry
// transparent (the other kinds are checked against ImageMagick on PngSuite).
TEST(PngDecode, PaletteTransparencyGivesAlpha)
{
    for (const Bytes& alpha : {Bytes{255, 0}, Bytes{255, 255}, Bytes{}}) {
        PngSample p = random_png(9, 5, PNG_COLOR_TYPE_PALETTE, 2, false, 17);
        p.palette_alpha = alpha;
        const Bytes png = write_png(p);
        ImageBuffer image;
        ImageMeta meta;
        std::string problem;
        ASSERT_TRUE(decode_png(png.data(), png.size(), &image, &problem, &meta)) << problem;
        EXPECT_EQ(image.view.channels, alpha.size() == 2 && alpha[1] == 0 ? 4 : 3) << alpha.size();
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

// A V3, V4 or V5 header's alpha mask of 1 to 8 bits gives alpha (v of n
// bits as v * 255 / (2^n - 1) to the nearest), the colours as before; no
// mask, one over a colour's, one in two runs or an uncompressed file's
// leave the image RGB.
TEST(BmpDecode, AlphaMaskGivesAlpha)
{
    const std::vector<uint32_t> argb = {0x00102030, 0x80405060, 0xFF708090, 0x7FFFFFFF};
    const std::vector<int> rgb = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 255, 255, 255};
    const struct {
        const char* name;
        int bits, info_size;
        uint32_t masks[4];
        std::vector<uint32_t> pixels;  // 2 x 2, top row first
        std::vector<int> want;         // R, G, B or R, G, B, A of each pixel
        bool uncompressed;
    } cases[] = {
        {"V5, 8-bit alpha", 32, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, argb,
         {0x10, 0x20, 0x30, 0, 0x40, 0x50, 0x60, 128, 0x70, 0x80, 0x90, 255, 255, 255, 255, 127}, false},
        {"V3, alpha in the low byte", 32, 56, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}, {0x102030AA, 0x40506001, 0, ~0u},
         {0x10, 0x20, 0x30, 0xAA, 0x40, 0x50, 0x60, 1, 0, 0, 0, 0, 255, 255, 255, 255}, false},
        {"V4, 4-bit alpha", 16, 108, {0x0F00, 0x00F0, 0x000F, 0xF000}, {0x0F00, 0x70F0, 0xF00F, 0x8FFF},
         {255, 0, 0, 0, 0, 255, 0, 119, 0, 0, 255, 255, 255, 255, 255, 136}, false},
        {"V5, 1-bit alpha", 16, 124, {0x7C00, 0x03E0, 0x001F, 0x8000}, {0x7C00, 0x83E0, 0x001F, 0xFFFF},
         {255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 255, 0, 255, 255, 255, 255}, false},
        {"every pixel opaque", 32, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
         {0xFF102030, 0xFF405060, 0xFF708090, ~0u}, rgb, false},
        {"no alpha mask", 32, 108, {0xFF0000, 0xFF00, 0xFF, 0}, argb, rgb, false},
        {"alpha mask over green", 32, 124, {0xFF0000, 0xFF00, 0xFF, 0xFFFF00}, argb, rgb, false},
        {"alpha mask in two runs", 32, 124, {0xFF0000, 0xFF00, 0xFF, 0x50000000}, argb, rgb, false},
        {"uncompressed", 32, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, argb, rgb, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bmp = write_bitfields_bmp(2, 2, c.bits, c.masks, c.info_size, c.pixels);
        if (c.uncompressed)
            bmp[30] = 0;  // BI_RGB: the header's masks do not apply
        ImageBuffer image;
        std::string problem;
        ASSERT_TRUE(decode_bmp(bmp.data(), bmp.size(), &image, &problem)) << problem;
        ASSERT_EQ(image.view.type, SAMPLE_U8);
        EXPECT_EQ(image.view.channels, static_cast<int>(c.want.size()) / 4);
        EXPECT_EQ(std::vector<int>(image.view.pixels, image.view.pixels + c.want.size()), c.want);
    }
}

// The BMP suite's files with an alpha mask SDL's loader accepts, as
// ImageMagick reads them where it reads them alike (it takes 1-bit alpha 1
// as 128 and 4-bit colours v as 16 v), else with alpha.
TEST(BmpDecode, SuiteFilesWithAlpha)
{
    const std::string suite = TAVROSK_BMPSUITE_DIR;
    SKIP_OR_FAIL_WITHOUT_SUITE(suite);
    const bool magick = imagemagick_installed();
    const struct {
        const char* name;
        int channels;
        bool as_imagemagick;
    } files[] = {{"q/rgba32-1.bmp", 4, true},     {"q/rgba32-2.bmp", 4, true},      {"q/rgba32h56.bmp", 4, true},
                 {"q/rgba16-4444.bmp", 4, false}, {"q/rgba16-5551.bmp", 4, false},  {"q/rgb32fakealpha.bmp", 3, false},
                 {"q/rgb32h52.bmp", 3, false},    {"g/rgb32bf.bmp", 3, true}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const std::string path = suite + "/" + f.name;
        ImageBuffer image, wide;
        std::string problem;
        ASSERT_TRUE(image_load(path.c_str(), &image, &problem)) << problem;
        EXPECT_EQ(image.view.channels, f.channels);
        if (!f.as_imagemagick || !magick)
            continue;
        std::vector<uint16_t> want;
        ASSERT_TRUE(imagemagick_rgba16(path, image.view.width, image.view.height, &want));
        ASSERT_TRUE(image_convert(image.view, {4, SAMPLE_U16}, &wide));
        const uint16_t* got = reinterpret_cast<const uint16_t*>(wide.view.pixels);
        EXPECT_TRUE(std::vector<uint16_t>(got, got + want.size()) == want) << "pixels differ from ImageMagick's";
    }
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
