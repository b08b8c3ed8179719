// Writes the seed corpus of the image fuzz target: make_image_corpus DIR
// PNG of every colour type, bit depth and interlacing, and with tRNS on
// grey, RGB and a palette; JPEG baseline,
// progressive, grey, arithmetic-coded, with restart markers, with a scan per
// coefficient (64 scans, and 127: over the limit), CMYK and YCCK;
// RLE8 and RLE4 BMP, valid and broken by hand; 16- and 32-bit BMP with
// an alpha mask in V3, V4 and V5 headers; oversized headers; JPEG with
// Exif (every orientation, both byte orders, a thumbnail) and ICC profiles,
// PNG with gAMA, cHRM, sRGB and iCCP, and bare Exif blocks; TIFF of every
// photometric kind the decoder reads as stored or through libtiff's RGBA
// reader, in strips and tiles, one plane and separate planes, with an ICC
// profile and an orientation; WebP lossy, lossless, with alpha, with ICCP
// and EXIF chunks, and animated; HEIF and AVIF with and without alpha; and
// cut copies of each. Pixels come from a seeded generator: the output is
// deterministic.
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "tests/support/sample_images.h"

namespace {

std::string dir;
int files = 0;

bool put(const std::string& name, const Bytes& bytes, size_t length)
{
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, length, f) == length;
    ok = std::fclose(f) == 0 && ok;
    files += ok;
    return ok;
}

// The file and copies cut at each length below its size.
bool put_with_cuts(const std::string& name, const std::string& ext, const Bytes& bytes,
                   std::initializer_list<size_t> cuts)
{
    if (!put(name + ext, bytes, bytes.size()))
        return false;
    for (size_t cut : cuts)
        if (cut < bytes.size() && !put(name + ".cut" + std::to_string(cut) + ext, bytes, cut))
            return false;
    return true;
}

bool write_pngs()
{
    const struct {
        const char* name;
        int color_type, bits;
    } variants[] = {
        {"grey1", PNG_COLOR_TYPE_GRAY, 1},      {"grey2", PNG_COLOR_TYPE_GRAY, 2},
        {"grey4", PNG_COLOR_TYPE_GRAY, 4},      {"grey8", PNG_COLOR_TYPE_GRAY, 8},
        {"grey16", PNG_COLOR_TYPE_GRAY, 16},    {"greyalpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
        {"greyalpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {"rgb8", PNG_COLOR_TYPE_RGB, 8},
        {"rgb16", PNG_COLOR_TYPE_RGB, 16},      {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8},
        {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16}, {"pal1", PNG_COLOR_TYPE_PALETTE, 1},
        {"pal2", PNG_COLOR_TYPE_PALETTE, 2},    {"pal4", PNG_COLOR_TYPE_PALETTE, 4},
        {"pal8", PNG_COLOR_TYPE_PALETTE, 8},
    };
    std::mt19937 rng(1);
    for (const auto& v : variants)
        for (bool interlaced : {false, true}) {
            PngSample p = {7, 5, v.color_type, v.bits, interlaced, {}, {}, {}};
            const unsigned values = 1u << v.bits;
            for (int i = 0; i < p.w * p.h * png_channels(v.color_type); ++i)
                p.samples.push_back(static_cast<uint16_t>(rng() % values));
            if (v.color_type == PNG_COLOR_TYPE_PALETTE) {
                for (unsigned i = 0; i < 3 * values; ++i)
                    p.palette.push_back(static_cast<uint8_t>(rng()));
                p.palette_alpha = {0, 255};
            }
            Bytes png = write_png(p);
            // After IHDR, halfway, and with all but the IEND chunk.
            if (!put_with_cuts(std::string(v.name) + (interlaced ? "-adam7" : ""), ".png", png,
                               {33, png.size() / 2, png.size() - 12}))
                return false;
        }
    // tRNS naming the first pixel's colour on grey and RGB, and a palette's
    // that makes no entry transparent.
    const struct {
        const char* name;
        int color_type, bits;
    } transparent[] = {{"trns-grey2", PNG_COLOR_TYPE_GRAY, 2},
                       {"trns-grey16", PNG_COLOR_TYPE_GRAY, 16},
                       {"trns-rgb8", PNG_COLOR_TYPE_RGB, 8},
                       {"trns-rgb16", PNG_COLOR_TYPE_RGB, 16},
                       {"trns-palette-opaque", PNG_COLOR_TYPE_PALETTE, 4}};
    for (const auto& v : transparent) {
        PngSample p = {6, 4, v.color_type, v.bits, false, {}, {}, {}};
        for (int i = 0; i < p.w * p.h * png_channels(v.color_type); ++i)
            p.samples.push_back(static_cast<uint16_t>(rng() % (1u << v.bits)));
        Bytes trns;
        if (v.color_type == PNG_COLOR_TYPE_PALETTE) {
            for (unsigned i = 0; i < 3u << v.bits; ++i)
                p.palette.push_back(static_cast<uint8_t>(rng()));
            p.palette_alpha = {255, 255, 255};
        } else {
            for (int c = 0; c < png_channels(v.color_type); ++c)
                trns.insert(trns.end(), {static_cast<uint8_t>(p.samples[c] >> 8), static_cast<uint8_t>(p.samples[c])});
        }
        const Bytes png = trns.empty() ? write_png(p) : png_with_chunk(write_png(p), "tRNS", trns);
        if (!put_with_cuts(v.name, ".png", png, {png.size() / 2}))
            return false;
    }
    // Sizes over the limits and none at all, in an otherwise valid IHDR.
    const struct {
        const char* name;
        uint32_t w, h;
    } sizes[] = {{"toowide", 16384, 1}, {"tootall", 1, 16384}, {"toomany", 12000, 12000}, {"empty", 0, 1}};
    PngSample small = {2, 2, PNG_COLOR_TYPE_GRAY, 8, false, {1, 2, 3, 4}, {}, {}};
    const Bytes base = write_png(small);
    for (const auto& s : sizes) {
        Bytes png = base;
        for (int i = 0; i < 4; ++i) {
            png[16 + i] = static_cast<uint8_t>(s.w >> (24 - 8 * i));
            png[20 + i] = static_cast<uint8_t>(s.h >> (24 - 8 * i));
        }
        if (!put(std::string("size-") + s.name + ".png", png, png.size()))
            return false;
    }
    return true;
}

bool write_jpegs()
{
    const struct {
        const char* name;
        int w, h, components;
        bool ycck, progressive, arithmetic;
        int restart_rows, quality, coefficient_scans;
    } variants[] = {
        {"baseline", 17, 9, 3, false, false, false, 0, 85, 0},
        {"progressive", 17, 9, 3, false, true, false, 0, 85, 0},
        {"grey", 17, 9, 1, false, false, false, 0, 85, 0},
        {"grey-progressive", 17, 9, 1, false, true, false, 0, 85, 0},
        {"arithmetic", 17, 9, 3, false, false, true, 0, 85, 0},
        {"arithmetic-progressive", 17, 9, 3, false, true, true, 0, 85, 0},
        {"restarts", 33, 17, 3, false, false, false, 1, 85, 0},
        {"quality100", 9, 9, 3, false, false, false, 0, 100, 0},
        {"1x1", 1, 1, 3, false, false, false, 0, 85, 0},
        {"cmyk", 9, 9, 4, false, false, false, 0, 85, 0},
        {"ycck", 9, 9, 4, true, false, false, 0, 85, 0},
        {"scan-per-coefficient", 8, 8, 1, false, false, false, 0, 85, 1},
        {"too-many-scans", 8, 8, 1, false, false, false, 0, 85, 2},
    };
    std::mt19937 rng(2);
    for (const auto& v : variants) {
        JpegSample j = {v.w, v.h, v.components, v.ycck, v.progressive, v.arithmetic,
                        v.restart_rows, v.quality, v.coefficient_scans, {}};
        // Smooth with some noise, so that both low and high frequencies occur.
        for (int y = 0; y < v.h; ++y)
            for (int x = 0; x < v.w; ++x)
                for (int c = 0; c < v.components; ++c)
                    j.samples.push_back(static_cast<uint8_t>(9 * x + 13 * y + 60 * c + rng() % 24));
        Bytes jpeg = write_jpeg(j);
        // Inside the first segment, in the tables, halfway, before and inside EOI.
        if (!put_with_cuts(v.name, ".jpg", jpeg, {3, 40, jpeg.size() / 2, jpeg.size() - 2, jpeg.size() - 1}))
            return false;
    }
    return true;
}

std::vector<uint8_t> palette_of(int colors)
{
    std::vector<uint8_t> rgb;
    for (int i = 0; i < colors; ++i)
        rgb.insert(rgb.end(), {static_cast<uint8_t>(i * 41), static_cast<uint8_t>(200 - i * 3), static_cast<uint8_t>(i)});
    return rgb;
}

bool write_rle_bmps()
{
    std::mt19937 rng(3);
    for (int bits : {8, 4})
        for (auto size : {std::make_pair(1, 1), std::make_pair(5, 3), std::make_pair(13, 4)})
            for (int info_size : {40, 124}) {
                const int w = size.first, h = size.second, colors = bits == 8 ? 20 : 16;
                // Repeats and alternations, so that runs and absolute blocks occur.
                std::vector<uint8_t> indices;
                for (int i = 0; i < w * h; ++i) {
                    uint32_t r = rng();
                    indices.push_back(i % w >= 2 && r % 3 ? indices[i - 1 - (r >> 8) % 2] : static_cast<uint8_t>(r % colors));
                }
                Bytes bmp = write_rle_bmp(w, h, bits, palette_of(colors), rle_encode(indices, w, h, bits), info_size);
                std::string name = "rle" + std::to_string(bits) + "-" + std::to_string(w) + "x" + std::to_string(h)
                    + "-v" + std::to_string(info_size);
                if (!put_with_cuts(name, ".bmp", bmp, {30, bmp.size() - 3, bmp.size() - 1}))
                    return false;
            }
    // Streams laid out by hand: each escape, and each way out of the image.
    const struct {
        const char* name;
        int w, h, bits, colors;
        Bytes stream;
    } streams[] = {
        {"delta", 4, 3, 8, 4, {1, 1, 0, 2, 2, 1, 1, 2, 0, 1}},
        {"early-end", 3, 2, 8, 4, {2, 1, 0, 1}},
        {"no-end", 3, 2, 8, 4, {3, 2, 0, 0, 1}},
        {"padding-runs", 3, 2, 8, 4, {2, 1, 2, 2, 255, 3, 0, 0, 1, 2}},
        {"rle4-absolute", 6, 1, 4, 16, {0, 5, 0x12, 0x34, 0x50, 0, 1, 0xF0, 0, 1}},
        {"run-above-top", 2, 1, 8, 4, {2, 1, 0, 0, 1, 1}},
        {"delta-past-edge", 3, 2, 8, 4, {1, 1, 0, 2, 3, 0}},
        {"delta-past-top", 3, 2, 8, 4, {0, 2, 0, 2}},
        {"absolute-past-data", 5, 1, 8, 4, {0, 5, 1, 2, 3}},
        {"absolute-past-edge", 3, 1, 8, 4, {0, 4, 1, 2, 3, 1}},
        {"rle4-absolute-past-edge", 3, 1, 4, 16, {0, 5, 0x12, 0x34, 0x50, 0}},
        {"index-outside", 3, 1, 8, 4, {1, 5, 0, 1}},
        {"top-down", 3, -2, 8, 4, {3, 1, 0, 1}},
        {"too-tall", 1, 70000, 8, 4, {1, 1, 0, 1}},
        {"too-many", 16000, 9000, 4, 16, {0, 1}},
        {"no-width", 0, 1, 8, 4, {0, 1}},
        {"palette-300", 1, 1, 8, 300, {0, 1}},
    };
    for (const auto& s : streams) {
        Bytes bmp = write_rle_bmp(s.w, s.h, s.bits, palette_of(s.colors), s.stream);
        if (!put(std::string("rle-") + s.name + ".bmp", bmp, bmp.size()))
            return false;
    }
    return true;
}

// Bit-field BMPs whose header has an alpha mask, one laid over green.
bool write_alpha_bmps()
{
    const struct {
        const char* name;
        int bits, info_size;
        uint32_t masks[4];
    } variants[] = {{"v5-argb32", 32, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
                    {"v3-rgba32", 32, 56, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}},
                    {"v4-argb4444", 16, 108, {0x0F00, 0x00F0, 0x000F, 0xF000}},
                    {"v5-argb1555", 16, 124, {0x7C00, 0x03E0, 0x001F, 0x8000}},
                    {"v5-alpha-over-green", 32, 124, {0xFF0000, 0xFF00, 0xFF, 0xFFFF00}}};
    std::mt19937 rng(7);
    for (const auto& v : variants) {
        std::vector<uint32_t> pixels;
        for (int i = 0; i < 5 * 3; ++i)
            pixels.push_back(v.bits == 16 ? rng() & 0xFFFF : rng());
        const Bytes bmp = write_bitfields_bmp(5, 3, v.bits, v.masks, v.info_size, pixels);
        if (!put_with_cuts(std::string("bmp-") + v.name, ".bmp", bmp, {60, bmp.size() - 5}))
            return false;
    }
    return true;
}

bool write_metadata()
{
    JpegSample j = {24, 16, 3, false, false, false, 0, 80, 0, {}};
    for (int i = 0; i < 24 * 16 * 3; ++i)
        j.samples.push_back(static_cast<uint8_t>(i * 5 + i / 72 * 9));
    const Bytes jpeg = write_jpeg(j);
    for (bool little : {true, false})
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const Bytes block = exif_block(little, orientation, orientation % 2 == 0);
            const std::string name = std::string("exif-") + (little ? "ii" : "mm") + std::to_string(orientation);
            if (!put(name + ".tiff", block, block.size()))
                return false;
            const Bytes file = jpeg_with_segment(jpeg, 0xE1, exif_app1(block));
            // Inside the Exif block, and after it.
            if (!put_with_cuts(name, ".jpg", file, {40, 90, file.size() / 2}))
                return false;
        }
    const Bytes profile = icc_profile(70000, 1);
    const Bytes with_icc = jpeg_with_icc(jpeg, profile);
    if (!put_with_cuts("icc", ".jpg", with_icc, {30, 65000, 70100}))
        return false;
    const Bytes grey_icc = jpeg_with_icc(jpeg, icc_profile(300, 2, false));
    if (!put("icc-grey.jpg", grey_icc, grey_icc.size()))
        return false;
    PngSample p = {6, 4, PNG_COLOR_TYPE_RGB, 8, false, std::vector<uint16_t>(72, 90), {}, {}};
    const Bytes png = write_png(p);
    Bytes chrm(32);
    for (size_t i = 0; i < chrm.size(); ++i)
        chrm[i] = static_cast<unsigned char>(i % 4 == 3 ? 23 * i : i % 4 == 2);
    const struct {
        const char* name;
        Bytes file;
    } pngs[] = {
        {"gama", png_with_chunk(png, "gAMA", {0, 1, 0x86, 0xA0})},
        {"srgb-gama-chrm", png_with_chunk(png_with_chunk(png_with_chunk(png, "cHRM", chrm), "gAMA", {0, 0, 0xB1, 0x8F}),
                                          "sRGB", {0})},
        {"iccp", png_with_chunk(png, "iCCP", iccp_body("Display P3", icc_profile(3000, 3)))},
        {"iccp-grey", png_with_chunk(png, "iCCP", iccp_body("grey", icc_profile(300, 4, false)))},
        {"gama-empty", png_with_chunk(png, "gAMA", {})},
    };
    for (const auto& f : pngs)
        if (!put_with_cuts(std::string("meta-") + f.name, ".png", f.file, {45, f.file.size() - 20}))
            return false;
    return true;
}

Bytes file_bytes(const std::string& path)
{
    Bytes bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    unsigned char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(f);
    return bytes;
}

struct TiffVariant {
    const char* name;
    uint16_t photometric, spp, bits, format, planar, compression;
    int extra;         // -1 none, else the EXTRASAMPLES value of one extra sample
    bool tiled, icc;
    uint16_t orientation;
};

// Written by libtiff into the corpus folder, then cut.
bool write_tiff(const TiffVariant& v, std::mt19937& rng)
{
    const std::string path = dir + "/tiff-" + v.name + ".tif";
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return false;
    const uint32_t w = 13, h = 9;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, v.spp);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, v.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, v.format);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, v.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, v.planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, v.compression);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, v.orientation);
    if (v.extra >= 0) {
        const uint16_t extra = static_cast<uint16_t>(v.extra);
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (v.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<uint16_t> map[3];
        for (auto& m : map)
            for (int i = 0; i < 1 << v.bits; ++i)
                m.push_back(static_cast<uint16_t>(rng()));
        TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    if (v.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (v.icc) {
        const Bytes profile = icc_profile(500, 8);
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(profile.size()), profile.data());
    }
    // JPEG's strips hold whole rows of blocks: 16 rows for YCbCr.
    const uint32_t block_w = v.tiled ? 16 : w, block_h = v.tiled || v.compression == COMPRESSION_JPEG ? 16 : 4;
    if (v.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, block_w);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, block_h);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, block_h);
    }
    const int planes = v.planar == PLANARCONFIG_SEPARATE ? v.spp : 1;
    const tmsize_t size = v.tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
    std::vector<unsigned char> block(static_cast<size_t>(size));
    bool ok = size > 0;
    for (int p = 0; ok && p < planes; ++p)
        for (uint32_t y = 0; ok && y < h; y += block_h)
            for (uint32_t x = 0; ok && x < w; x += block_w) {
                for (unsigned char& b : block)
                    b = static_cast<unsigned char>(x + y * 7 + rng() % 16);
                if (v.format == SAMPLEFORMAT_IEEEFP)
                    for (size_t i = 0; i + v.bits / 8 <= block.size(); i += v.bits / 8) {
                        const double d = (rng() % 1000) / 999.0;
                        const float f = static_cast<float>(d);
                        std::memcpy(&block[i], v.bits == 64 ? static_cast<const void*>(&d) : &f, v.bits / 8);
                    }
                const uint16_t plane = static_cast<uint16_t>(p);
                ok = v.tiled ? TIFFWriteTile(tif, block.data(), x, y, 0, plane) >= 0
                             : TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, y, plane), block.data(), size) >= 0;
            }
    TIFFClose(tif);
    const Bytes bytes = file_bytes(path);
    return ok && !bytes.empty() && put_with_cuts("tiff-" + std::string(v.name), ".tif", bytes, {8, bytes.size() / 2, bytes.size() - 20});
}

bool write_tiffs()
{
    const uint16_t MB = PHOTOMETRIC_MINISBLACK, RGB = PHOTOMETRIC_RGB, UINT = SAMPLEFORMAT_UINT,
                   FLOAT = SAMPLEFORMAT_IEEEFP, CONTIG = PLANARCONFIG_CONTIG, SEPARATE = PLANARCONFIG_SEPARATE,
                   NONE = COMPRESSION_NONE, TOPLEFT = ORIENTATION_TOPLEFT;
    const TiffVariant variants[] = {
        {"grey8", MB, 1, 8, UINT, CONTIG, NONE, -1, false, false, TOPLEFT},
        {"grey16-lzw", MB, 1, 16, UINT, CONTIG, COMPRESSION_LZW, -1, false, false, TOPLEFT},
        {"greyalpha8-separate", MB, 2, 8, UINT, SEPARATE, COMPRESSION_PACKBITS, EXTRASAMPLE_UNASSALPHA, false, false,
         TOPLEFT},
        {"white8", PHOTOMETRIC_MINISWHITE, 1, 8, UINT, CONTIG, NONE, -1, false, false, TOPLEFT},
        {"rgb8-tiled-deflate", RGB, 3, 8, UINT, CONTIG, COMPRESSION_ADOBE_DEFLATE, -1, true, false, TOPLEFT},
        {"rgba16-assoc", RGB, 4, 16, UINT, CONTIG, COMPRESSION_ADOBE_DEFLATE, EXTRASAMPLE_ASSOCALPHA, false, false,
         TOPLEFT},
        {"rgba8-separate-tiled", RGB, 4, 8, UINT, SEPARATE, NONE, EXTRASAMPLE_UNSPECIFIED, true, false, TOPLEFT},
        {"rgbf32", RGB, 3, 32, FLOAT, CONTIG, COMPRESSION_ADOBE_DEFLATE, -1, false, false, TOPLEFT},
        {"greyf64", MB, 1, 64, FLOAT, CONTIG, COMPRESSION_LZW, -1, false, false, TOPLEFT},
        {"palette4", PHOTOMETRIC_PALETTE, 1, 4, UINT, CONTIG, NONE, -1, false, false, TOPLEFT},
        {"bilevel-g4", PHOTOMETRIC_MINISWHITE, 1, 1, UINT, CONTIG, COMPRESSION_CCITTFAX4, -1, false, false, TOPLEFT},
        {"ycbcr-jpeg", PHOTOMETRIC_YCBCR, 3, 8, UINT, CONTIG, COMPRESSION_JPEG, -1, false, false, TOPLEFT},
        {"cmyk8", PHOTOMETRIC_SEPARATED, 4, 8, UINT, CONTIG, NONE, -1, false, false, TOPLEFT},
        {"rgb8-icc-rotated", RGB, 3, 8, UINT, CONTIG, NONE, -1, false, true, ORIENTATION_RIGHTTOP},
        {"rgb8-int16", RGB, 3, 16, SAMPLEFORMAT_INT, CONTIG, NONE, -1, false, false, TOPLEFT},
    };
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    std::mt19937 rng(4);
    for (const TiffVariant& v : variants)
        if (!write_tiff(v, rng))
            return false;
    return true;
}

// An RGBA picture of w x h from a seeded generator.
std::vector<uint8_t> rgba_pixels(int w, int h, bool alpha, std::mt19937& rng)
{
    std::vector<uint8_t> rgba;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            rgba.insert(rgba.end(), {static_cast<uint8_t>(9 * x + rng() % 8), static_cast<uint8_t>(13 * y),
                                     static_cast<uint8_t>(x * y), static_cast<uint8_t>(alpha ? 20 * x : 255)});
    return rgba;
}

Bytes webp_of(const std::vector<uint8_t>& rgba, int w, int h, bool lossless)
{
    WebPConfig config;
    WebPPicture picture;
    WebPConfigInit(&config);
    WebPPictureInit(&picture);
    config.lossless = lossless;
    config.quality = 70;
    picture.use_argb = lossless;
    picture.width = w;
    picture.height = h;
    WebPPictureImportRGBA(&picture, rgba.data(), 4 * w);
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    Bytes out;
    if (WebPEncode(&config, &picture))
        out.assign(writer.mem, writer.mem + writer.size);
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return out;
}

// The image with ICCP and EXIF chunks, or an animation of two frames.
Bytes webp_extended(const Bytes& image, const Bytes& second)
{
    WebPMux* mux = WebPMuxNew();
    const Bytes profile = icc_profile(600, 9), exif = exif_block(true, 6, false);
    const WebPData first = {image.data(), image.size()}, icc = {profile.data(), profile.size()},
                   block = {exif.data(), exif.size()};
    if (second.empty()) {
        WebPMuxSetImage(mux, &first, 0);
        WebPMuxSetChunk(mux, "ICCP", &icc, 0);
        WebPMuxSetChunk(mux, "EXIF", &block, 0);
    } else {
        WebPMuxFrameInfo frame = {};
        frame.bitstream = first;
        frame.duration = 100;
        frame.id = WEBP_CHUNK_ANMF;
        WebPMuxPushFrame(mux, &frame, 0);
        frame.bitstream = {second.data(), second.size()};
        WebPMuxPushFrame(mux, &frame, 0);
        WebPMuxAnimParams params = {0, 0};
        WebPMuxSetAnimationParams(mux, &params);
    }
    WebPData assembled;
    WebPDataInit(&assembled);
    Bytes out;
    if (WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK)
        out.assign(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    return out;
}

bool write_webps()
{
    std::mt19937 rng(5);
    const int w = 19, h = 11;
    const std::vector<uint8_t> opaque = rgba_pixels(w, h, false, rng), clear = rgba_pixels(w, h, true, rng);
    const Bytes lossy = webp_of(opaque, w, h, false);
    const struct {
        const char* name;
        Bytes file;
    } files[] = {
        {"lossy", lossy},
        {"lossy-alpha", webp_of(clear, w, h, false)},
        {"lossless", webp_of(opaque, w, h, true)},
        {"lossless-alpha", webp_of(clear, w, h, true)},
        {"icc-exif", webp_extended(lossy, {})},
        {"animated", webp_extended(lossy, webp_of(clear, w, h, false))},
    };
    for (const auto& f : files)
        if (f.file.empty() || !put_with_cuts(std::string("webp-") + f.name, ".webp", f.file, {12, 30, f.file.size() / 2}))
            return false;
    return true;
}

heif_error heif_append(heif_context*, const void* data, size_t size, void* out)
{
    Bytes* bytes = static_cast<Bytes*>(out);
    bytes->insert(bytes->end(), static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

Bytes heif_of(const std::vector<uint8_t>& rgba, int w, int h, bool avif)
{
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* image = nullptr;
    Bytes out;
    if (heif_context_get_encoder_for_format(ctx, avif ? heif_compression_AV1 : heif_compression_HEVC, &encoder).code
            == heif_error_Ok
        && heif_image_create(w, h, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, &image).code == heif_error_Ok
        && heif_image_add_plane(image, heif_channel_interleaved, w, h, 8).code == heif_error_Ok) {
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < h; ++y)
            std::memcpy(plane + y * stride, rgba.data() + 4 * w * y, 4 * w);
        heif_encoder_set_lossy_quality(encoder, 50);
        heif_writer writer = {1, heif_append};
        if (heif_context_encode_image(ctx, image, encoder, nullptr, nullptr).code != heif_error_Ok
            || heif_context_write(ctx, &writer, &out).code != heif_error_Ok)
            out.clear();
    }
    heif_image_release(image);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(ctx);
    return out;
}

bool write_heifs()
{
    std::mt19937 rng(6);
    const int w = 16, h = 8;
    const std::vector<uint8_t> clear = rgba_pixels(w, h, true, rng);
    for (bool avif : {false, true}) {
        const Bytes file = heif_of(clear, w, h, avif);
        const std::string name = avif ? "avif-alpha" : "heif-alpha";
        if (file.empty() || !put_with_cuts(name, avif ? ".avif" : ".heic", file, {24, file.size() / 2, file.size() - 8}))
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_image_corpus DIR\n");
        return 2;
    }
    dir = argv[1];
    if (!write_pngs() || !write_jpegs() || !write_rle_bmps() || !write_alpha_bmps() || !write_metadata()
        || !write_tiffs() || !write_webps() || !write_heifs()) {
        std::fprintf(stderr, "make_image_corpus: cannot write into %s\n", dir.c_str());
        return 1;
    }
    std::printf("%d files in %s\n", files, dir.c_str());
    return 0;
}
