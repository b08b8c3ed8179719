// The TIFF, WebP and HEIF suites, which no one here wrote, read as the
// libraries' own tools read them: every file read or refused with one line;
// TIFF's pixels as libtiff's RGBA reader (tiff2rgba's) gives them, WebP's
// as the MD5 sums of dwebp's outputs say, HEIF's as heif-convert 1.15.1
// wrote them (the MD5 sums of its PNGs' RGB bytes, measured once with the
// tool, where it wrote the primary image at 8 bits).
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "io/image_codecs.h"
#include "tests/support/sample_images.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

Bytes bytes_of(const fs::path& path)
{
    const std::string text = read_file(path.string());
    return Bytes(text.begin(), text.end());
}

// The MD5 sum by coreutils' md5sum, in hex.
std::string md5_of(const Bytes& bytes)
{
    char name[] = "/tmp/tavrosk-md5-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        return "";
    std::FILE* f = fdopen(fd, "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::FILE* p = popen((std::string("md5sum ") + name).c_str(), "r");
    char sum[33] = "";
    if (p) {
        if (std::fread(sum, 1, 32, p) != 32)
            sum[0] = '\0';
        pclose(p);
    }
    std::remove(name);
    return sum;
}

// The 8-bit RGB or RGBA bytes of an image, rows packed; without alpha when
// `keep_alpha` is false.
Bytes rgb8_bytes(const ImageView& view, bool keep_alpha)
{
    ImageBuffer rgb;
    EXPECT_TRUE(image_to_rgb8(view, &rgb));
    Bytes out;
    const int n = rgb.view.channels;
    for (int y = 0; y < view.height; ++y)
        for (int x = 0; x < view.width; ++x) {
            const unsigned char* p = image_row(rgb.view, y) + x * n;
            out.insert(out.end(), p, p + (keep_alpha ? n : 3));
        }
    return out;
}

struct TiffCase {
    const char* name;
    int w, h, channels;
    SampleType type;
};

const TiffCase tiff_cases[] = {
    {"32bpp-None-jpeg.tiff", 162, 20, 3, SAMPLE_U8},
    {"32bpp-None.tiff", 162, 20, 4, SAMPLE_U8},
    {"custom_dir_EXIF_GPS.tiff", 1, 1, 3, SAMPLE_U8},
    {"deflate-last-strip-extra-data.tiff", 500, 500, 1, SAMPLE_U8},
    {"logluv-3c-16b.tiff", 1, 1, 3, SAMPLE_U8},
    {"lzw-single-strip.tiff", 7795, 3122, 1, SAMPLE_U8},
    {"minisblack-1c-16b.tiff", 157, 151, 1, SAMPLE_U16},
    {"minisblack-1c-8b.tiff", 157, 151, 1, SAMPLE_U8},
    {"minisblack-2c-8b-alpha.tiff", 64, 64, 2, SAMPLE_U8},
    {"miniswhite-1c-1b.tiff", 157, 151, 1, SAMPLE_U8},
    {"ojpeg_chewey_subsamp21_multi_strip.tiff", 392, 575, 3, SAMPLE_U8},
    {"ojpeg_single_strip_no_rowsperstrip.tiff", 234, 213, 3, SAMPLE_U8},
    {"ojpeg_zackthecat_subsamp22_single_strip.tiff", 234, 213, 3, SAMPLE_U8},
    {"palette-1c-1b.tiff", 157, 151, 3, SAMPLE_U8},
    {"palette-1c-4b.tiff", 157, 151, 3, SAMPLE_U8},
    {"palette-1c-8b.tiff", 157, 151, 3, SAMPLE_U8},
    {"quad-lzw-compat.tiff", 512, 384, 3, SAMPLE_U8},
    {"quad-tile.jpg.tiff", 512, 384, 3, SAMPLE_U8},
    {"rgb-3c-16b.tiff", 157, 151, 3, SAMPLE_U16},
    {"rgb-3c-8b.tiff", 157, 151, 3, SAMPLE_U8},
    {"test_float64_predictor2_be_lzw.tif", 20, 20, 1, SAMPLE_F32},
    {"test_float64_predictor2_le_lzw.tif", 20, 20, 1, SAMPLE_F32},
    {"test_ifd_loop_subifd.tif", 1, 1, 3, SAMPLE_U8},
    {"test_ifd_loop_to_first.tif", 1, 1, 1, SAMPLE_U8},
    {"test_ifd_loop_to_self.tif", 20, 20, 1, SAMPLE_U8},
    {"test_two_ifds.tif", 1, 1, 1, SAMPLE_U8},
    {"testfax3_bug54_1dnoEOL.tif", 1728, 2320, 1, SAMPLE_U8},
    {"testfax3_bug_513.tiff", 32, 2, 1, SAMPLE_U8},
    {"testfax4.tiff", 2453, 3369, 1, SAMPLE_U8},
    {"tiff_with_subifd_chain.tif", 1024, 512, 1, SAMPLE_U8},
    {"webp_lossless_rgba_alpha_fully_opaque.tif", 20, 20, 4, SAMPLE_U8},
};

// What libtiff's RGBA reader makes of the file, as R, G, B, A bytes top row
// first (it gives them bottom row first); false when it cannot read it.
bool libtiff_rgba(const fs::path& path, int* w, int* h, Bytes* rgba)
{
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return false;
    uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &th);
    std::vector<uint32_t> raster(size_t(tw) * th);
    const bool ok = TIFFReadRGBAImage(tif, tw, th, raster.data(), 0);
    TIFFClose(tif);
    *w = static_cast<int>(tw);
    *h = static_cast<int>(th);
    rgba->clear();
    for (uint32_t y = th; ok && y-- > 0;)
        for (uint32_t x = 0; x < tw; ++x) {
            const uint32_t v = raster[size_t(y) * tw + x];
            rgba->insert(rgba->end(), {static_cast<unsigned char>(TIFFGetR(v)), static_cast<unsigned char>(TIFFGetG(v)),
                                       static_cast<unsigned char>(TIFFGetB(v)), static_cast<unsigned char>(TIFFGetA(v))});
        }
    return ok;
}

// Our image as libtiff's reader gives it: 8 bits (of 16, the high byte of
// grey and the nearest level of RGB, as libtiff 4.5 reduces them), grey in
// all three channels, colour multiplied by alpha (to the nearest
// level), opaque without alpha.
Bytes as_libtiff_gives(const ImageView& v)
{
    Bytes rgba;
    const bool alpha = image_has_alpha(v);
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x) {
            unsigned s[4];
            for (int c = 0; c < v.channels; ++c) {
                const unsigned char* p = image_row(v, y) + (size_t(x) * v.channels + c) * sample_bytes(v.type);
                uint16_t wide = 0;
                if (v.type == SAMPLE_U16)
                    std::memcpy(&wide, p, 2);
                s[c] = v.type == SAMPLE_U8 ? *p : v.channels >= 3 ? (wide + 128u) / 257u : wide >> 8u;
            }
            const unsigned a = alpha ? s[v.channels - 1] : 255;
            for (int c = 0; c < 3; ++c)
                rgba.push_back(static_cast<unsigned char>((s[v.channels >= 3 ? c : 0] * a + 127) / 255));
            rgba.push_back(static_cast<unsigned char>(a));
        }
    return rgba;
}

struct HeifCase {
    const char* name;  // under heic/ or avif/
    int w, h, channels;  // 0 x 0: refused
    bool deep;           // 16-bit samples
    const char* md5;     // of heif-convert's RGB bytes, where it wrote them
};

const HeifCase heif_cases[] = {
    {"C001.heic", 1280, 720, 3, false, nullptr},
    {"C002.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C003.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C004.heic", 1280, 720, 3, false, "abf7c4fe2e14d272a5c979b3e15a035f"},
    {"C005.heic", 128, 72, 3, false, nullptr},
    {"C006.heic", 1280, 720, 4, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C007.heic", 2560, 1440, 3, false, "9a0a074e5dfa7dbcb9d8a8f4bc229568"},
    {"C008.heic", 0, 0, 0, false, nullptr},
    {"C009.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C010.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C011.heic", 1280, 720, 3, false, "d53aa1d9b8ed5fe3ec96b9c87d789bba"},
    {"C012.heic", 1280, 720, 3, false, "abf7c4fe2e14d272a5c979b3e15a035f"},
    {"C013.heic", 300, 300, 3, false, "82808c7f73f3c5079616324073049ea2"},
    {"C014.heic", 0, 0, 0, false, nullptr},
    {"C015.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C016.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C017.heic", 640, 360, 3, false, "13f3edd0c012db9c10cadfb88f1a7122"},
    {"C018.heic", 640, 360, 3, false, "13f3edd0c012db9c10cadfb88f1a7122"},
    {"C019.heic", 640, 360, 3, false, "13f3edd0c012db9c10cadfb88f1a7122"},
    {"C020.heic", 640, 360, 3, false, "13f3edd0c012db9c10cadfb88f1a7122"},
    {"C021.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C022.heic", 1440, 960, 3, false, "832614ab4197e0dae7c43e953fe87999"},
    {"C023.heic", 0, 0, 0, false, nullptr},
    {"C024.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C025.heic", 128, 72, 3, false, "53c4045fed966fe194e163bbcf7864ff"},
    {"C026.heic", 0, 0, 0, false, nullptr},
    {"C027.heic", 0, 0, 0, false, nullptr},
    {"C028.heic", 0, 0, 0, false, nullptr},
    {"C029.heic", 0, 0, 0, false, nullptr},
    {"C030.heic", 0, 0, 0, false, nullptr},
    {"C031.heic", 0, 0, 0, false, nullptr},
    {"C032.heic", 0, 0, 0, false, nullptr},
    {"C034.heic", 1280, 720, 3, false, nullptr},
    {"C036.heic", 0, 0, 0, false, nullptr},
    {"C037.heic", 0, 0, 0, false, nullptr},
    {"C038.heic", 0, 0, 0, false, nullptr},
    {"C039.heic", 0, 0, 0, false, nullptr},
    {"C040.heic", 1024, 576, 3, false, "fc422719825416890dcf5cc7a1d5e788"},
    {"C041.heic", 0, 0, 0, false, nullptr},
    {"C042.heic", 1280, 720, 3, false, "5567fbc2d16295e1b22fd6db406b6147"},
    {"C043.heic", 1280, 720, 3, false, nullptr},
    {"C044.heic", 1280, 720, 3, false, nullptr},
    {"C045.heic", 1024, 768, 3, false, "a3c13cf99dedc68b6f6ddb71e150fbec"},
    {"C046.heic", 1280, 720, 3, false, nullptr},
    {"C047.heic", 1280, 720, 3, false, "90fbee6c86e50fecfc0959bb003b5dcb"},
    {"C048.heic", 1280, 720, 3, false, nullptr},
    {"C049.heic", 1920, 1080, 3, false, "35a8ad16c6a999d36f4ce5787ed61b19"},
    {"C050.heic", 1280, 960, 3, false, "12bd7533ea5289b26ead9f22c736abd2"},
    {"C051.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C052.heic", 1280, 720, 4, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"C053.heic", 1024, 512, 3, false, "182d3eebaf76e1906f6e4720d4abaf6f"},
    {"MIAF001.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"MIAF002.heic", 2048, 2048, 3, true, nullptr},
    {"MIAF003.heic", 2048, 2048, 3, false, "1e9e5665dd37d0e7056def4e249d9d04"},
    {"MIAF004.heic", 1280, 720, 3, false, "46ec36d99217b9808d1bb41ebb0d86d6"},
    {"MIAF005.heic", 1280, 720, 3, false, nullptr},
    {"MIAF006.heic", 1920, 1440, 3, false, nullptr},
    {"MIAF007.heic", 360, 640, 3, false, "0b0a91059879c60c41838eed0942d615"},
    {"multilayer001.heic", 1024, 512, 3, false, nullptr},
    {"multilayer002.heic", 512, 256, 3, false, nullptr},
    {"multilayer003.heic", 1024, 512, 3, false, "182d3eebaf76e1906f6e4720d4abaf6f"},
    {"multilayer004.heic", 0, 0, 0, false, nullptr},
    {"multilayer005.heic", 512, 256, 3, false, nullptr},
    {"Apple_edge_case_testing_non_compliant_truncated_elementary_stream.avif", 1024, 768, 3, false, "adebc864d7ea15f913fcd5f392be15f9"},
    {"Apple_edge_case_testing_unknown_properties_free_property.avif", 2048, 1536, 3, false, "0d3208ac3b1981fdbc66c1ea568e94b8"},
    {"Apple_edge_case_testing_unknown_properties_unknown_nonessential_property.avif", 2048, 1536, 3, false, "0d3208ac3b1981fdbc66c1ea568e94b8"},
    {"Microsoft_Chimera_10bit_cropped_to_1920x1008.avif", 1920, 1008, 3, true, nullptr},
    {"Microsoft_Chimera_10bit_cropped_to_1920x1008_with_HDR_metadata.avif", 1920, 1008, 3, true, nullptr},
    {"Microsoft_Chimera_8bit_cropped_480x256.avif", 480, 256, 3, false, "5fcff906fe29bc4031b658c6b6d0578b"},
    {"Microsoft_Irvine_CA.avif", 480, 640, 3, false, "d1ad5be7889b81d0afdef8fa7ced8a51"},
    {"Microsoft_Mexico.avif", 1920, 1080, 3, false, "299ce7e9a42be0cf06adda4a6fbc3424"},
    {"Microsoft_Mexico_YUV444.avif", 960, 540, 3, false, "63b5d8a31175550c9f5d151ed9d4e1cd"},
    {"Microsoft_Monochrome.avif", 1280, 720, 3, false, "7ad32a2cc976c02194f65b314e321563"},
    {"Microsoft_Ronda_rotate90.avif", 1080, 1920, 3, false, "63f9bcab259e193d52eb4c186599e657"},
    {"Microsoft_Summer_Nature_4k.avif", 3840, 2160, 3, false, "80399b27cb220bf2bbe20821161a7953"},
    {"Microsoft_Summer_in_Tomsk_720p_5x4_grid.avif", 6400, 2880, 3, false, "3fc712676e9d3bfbb76d36c6dc409dd5"},
    {"Microsoft_Tomsk_with_thumbnails.avif", 1280, 720, 3, false, "233d9a9785b61d51572e68a7c4773b40"},
    {"Microsoft_bbb_4k.avif", 3840, 2160, 3, false, "a1fd1ce24ea06eb6e6c5cc3a8e23b720"},
    {"Microsoft_bbb_alpha_inverted.avif", 3840, 2160, 4, false, "e50465afe3a32c3213aec0f0e7b5274f"},
    {"Microsoft_kids_720p.avif", 1280, 720, 3, false, "d883e19504c6c84fd605fbc2bf08e209"},
    {"Microsoft_reduced_still_picture_header.avif", 1280, 720, 3, false, "233d9a9785b61d51572e68a7c4773b40"},
    {"Microsoft_still_picture.avif", 1280, 720, 3, false, "233d9a9785b61d51572e68a7c4773b40"},
};

}  // namespace

TEST(TiffSuite, EveryFileReadsAsLibtiffReadsIt)
{
    const fs::path suite = TAVROSK_TIFFSUITE_DIR;
    SKIP_OR_FAIL_WITHOUT(suite, "TIFF suite", "TAVROSK_TIFFSUITE_DIR");
    int files = 0, compared = 0;
    for (const std::string& name : folder_entries(suite.string()))
        files += name.find(".tif") != std::string::npos;
    EXPECT_EQ(files, 31);
    std::map<std::string, Bytes> floats;
    for (const TiffCase& c : tiff_cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = bytes_of(suite / c.name);
        ImageBuffer image;
        ImageMeta meta;
        std::string problem;
        ASSERT_TRUE(decode_tiff(file.data(), file.size(), &image, &problem, &meta)) << problem;
        const ImageView& v = image.view;
        EXPECT_EQ(v.width, c.w);
        EXPECT_EQ(v.height, c.h);
        EXPECT_EQ(v.channels, c.channels);
        EXPECT_EQ(v.type, c.type);
        int w, h;
        Bytes want;
        if (c.type == SAMPLE_F32) {
            floats[c.name] = Bytes(v.pixels, v.pixels + v.stride * v.height);
        } else if (libtiff_rgba(suite / c.name, &w, &h, &want)) {
            ++compared;
            EXPECT_TRUE(as_libtiff_gives(v) == want) << "pixels differ from libtiff's RGBA reader";
        }
    }
    // libtiff's RGBA reader (tiff2rgba) reads all but the two of 64-bit
    // floats; those hold the same values in either byte order.
    EXPECT_EQ(compared, 29);
    EXPECT_TRUE(floats["test_float64_predictor2_be_lzw.tif"] == floats["test_float64_predictor2_le_lzw.tif"]);
}

TEST(WebpSuite, EveryFileDecodesToDwebpsOutput)
{
    const fs::path suite = TAVROSK_WEBPSUITE_DIR;
    SKIP_OR_FAIL_WITHOUT(suite, "WebP suite", "TAVROSK_WEBPSUITE_DIR");
    std::map<std::string, std::string> sums;  // "FILE.webp.ppm" -> MD5
    std::istringstream list(read_file((suite / "libwebp_tests.md5").string()));
    std::string sum, output;
    while (list >> sum >> output)
        sums[output] = sum;
    int files = 0, compared = 0;
    for (const std::string& name : folder_entries(suite.string())) {
        if (fs::path(name).extension() != ".webp")
            continue;
        SCOPED_TRACE(name);
        ++files;
        const Bytes file = bytes_of(suite / name);
        ImageBuffer image;
        ImageMeta meta;
        std::string problem;
        ASSERT_TRUE(decode_webp(file.data(), file.size(), &image, &problem, &meta)) << problem;
        const ImageView& v = image.view;
        // dwebp's PPM holds R, G, B; its PAM R, G, B, A (255 without alpha).
        const Bytes rgb = rgb8_bytes(v, false);
        Bytes rgba;
        for (size_t i = 0; i < rgb.size(); i += 3) {
            rgba.insert(rgba.end(), rgb.begin() + i, rgb.begin() + i + 3);
            rgba.push_back(v.channels == 4 ? v.pixels[(i / 3) * 4 + 3] : 255);
        }
        const std::string ppm = "P6\n" + std::to_string(v.width) + " " + std::to_string(v.height) + "\n255\n";
        const std::string pam = "P7\nWIDTH " + std::to_string(v.width) + "\nHEIGHT " + std::to_string(v.height)
                              + "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        const struct {
            std::string suffix, head;
            const Bytes& body;
        } outputs[] = {{".ppm", ppm, rgb}, {".pam", pam, rgba}};
        for (const auto& o : outputs) {
            if (!sums.count(name + o.suffix))
                continue;
            Bytes whole(o.head.begin(), o.head.end());
            whole.insert(whole.end(), o.body.begin(), o.body.end());
            EXPECT_EQ(md5_of(whole), sums[name + o.suffix]) << o.suffix;
            ++compared;
        }
    }
    // dwebp reads all 130; the list has both outputs of 96 of them.
    EXPECT_EQ(files, 130);
    EXPECT_EQ(compared, 192);
}

TEST(HeifSuite, EveryFileReadsAsHeifConvertWroteItOrIsRefusedWithOneLine)
{
    const fs::path suite = TAVROSK_HEIFSUITE_DIR;
    SKIP_OR_FAIL_WITHOUT(suite, "HEIF suite", "TAVROSK_HEIFSUITE_DIR");
    int files = 0, read = 0;
    for (const char* folder : {"heic", "avif"})
        files += static_cast<int>(folder_entries((suite / folder).string()).size());
    EXPECT_EQ(files, static_cast<int>(std::size(heif_cases)));
    for (const HeifCase& c : heif_cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = suite / (fs::path(c.name).extension() == ".avif" ? "avif" : "heic") / c.name;
        const Bytes file = bytes_of(path);
        ImageBuffer image;
        ImageMeta meta;
        std::string problem;
        const bool ok = decode_heif(file.data(), file.size(), &image, &problem, &meta);
        EXPECT_EQ(ok, c.w > 0) << problem;
        if (!ok) {
            EXPECT_FALSE(problem.empty());
            EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
            continue;
        }
        ++read;
        EXPECT_EQ(image.view.width, c.w);
        EXPECT_EQ(image.view.height, c.h);
        EXPECT_EQ(image.view.channels, c.channels);
        EXPECT_EQ(image.view.type, c.deep ? SAMPLE_U16 : SAMPLE_U8);
        if (c.md5) {
            EXPECT_EQ(md5_of(rgb8_bytes(image.view, false)), c.md5);
        }
    }
    // heif-convert reads 54 of the 82 (it refuses every file whose brands
    // it does not list, and writes every top-level image, two of which
    // crash libheif); the primary image is read of 66.
    EXPECT_EQ(read, 66);
}
