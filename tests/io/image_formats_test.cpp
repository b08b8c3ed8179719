// Every format written and read back for every kind of image, keeping
// what the format holds of it; TIFF, WebP, HEIF and AVIF with the ICC
// profile and the Exif block; cut and hostile files refused with one line;
// a crash of libheif read as a refusal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "io/exif.h"
#include "io/image_codecs.h"
#include "io/image_io.h"
#include "tests/support/sample_images.h"
#include "tests/support/test_support.h"

namespace {

enum Format { TIFF, WEBP_LOSSLESS, WEBP_LOSSY, HEIF, AVIF, PNG, JPEG, BMP };

ImageFormat image_format_of(Format f)
{
    static const ImageFormat formats[] = {IMAGE_TIFF, IMAGE_WEBP, IMAGE_WEBP, IMAGE_HEIF,
                                          IMAGE_AVIF, IMAGE_PNG,  IMAGE_JPEG, IMAGE_BMP};
    return formats[f];
}

// An image of that kind from a seeded generator: smooth, so that the lossy
// formats keep it close, with some noise.
ImageBuffer make_image(int w, int h, int channels, SampleType type, uint32_t seed)
{
    ImageBuffer image;
    EXPECT_TRUE(image_buffer_make(&image, w, h, channels, type));
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) {
                const double v = std::min(1.0, (x * 3 + y * 2 + 40 * c) / double(3 * w + 2 * h + 160) + (rng() % 8) / 256.0);
                unsigned char* p = image_row(image.view, y) + (size_t(x) * channels + c) * sample_bytes(type);
                if (type == SAMPLE_U8)
                    *p = static_cast<unsigned char>(v * 255);
                else if (type == SAMPLE_U16) {
                    const uint16_t s = static_cast<uint16_t>(v * 65535);
                    std::memcpy(p, &s, 2);
                } else {
                    const float f = static_cast<float>(v);
                    std::memcpy(p, &f, 4);
                }
            }
    return image;
}

Bytes encode_as(Format f, const ImageView& image, const ImageMeta* meta, std::string* problem)
{
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    const int quality = f == WEBP_LOSSLESS ? 0 : f == JPEG ? 90 : 80;
    const bool ok = image_encode(image, image_format_of(f), quality, out, problem, meta);
    std::fclose(out);
    Bytes bytes;
    if (ok)
        bytes.assign(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

bool decode_as(Format f, const Bytes& b, ImageBuffer* image, std::string* problem, ImageMeta* meta)
{
    return f == TIFF                ? decode_tiff(b.data(), b.size(), image, problem, meta)
         : f == HEIF || f == AVIF   ? decode_heif(b.data(), b.size(), image, problem, meta)
         : f == PNG                 ? decode_png(b.data(), b.size(), image, problem, meta)
         : f == JPEG                ? decode_jpeg(b.data(), b.size(), image, problem, meta)
         : f == BMP                 ? decode_bmp(b.data(), b.size(), image, problem)
                                    : decode_webp(b.data(), b.size(), image, problem, meta);
}

Bytes packed(const ImageView& v)
{
    Bytes out;
    const size_t row = size_t(v.width) * image_pixel_bytes(v);
    for (int y = 0; y < v.height; ++y)
        out.insert(out.end(), image_row(v, y), image_row(v, y) + row);
    return out;
}

double mean_difference(const ImageView& a, const ImageView& b)
{
    const Bytes pa = packed(a), pb = packed(b);
    double sum = 0;
    for (size_t i = 0; i < pa.size(); ++i)
        sum += std::abs(pa[i] - pb[i]);
    return sum / pa.size();
}

const char* format_name(Format f)
{
    static const char* names[] = {"TIFF", "WebP lossless", "WebP lossy", "HEIF", "AVIF", "PNG", "JPEG", "BMP"};
    return names[f];
}

}  // namespace

// Each format gives back the kind image_format_kind says it holds: TIFF
// every kind, PNG every kind but floats (as 16 bits), JPEG grey or RGB,
// WebP, HEIF and AVIF 8-bit RGB or RGBA, BMP 8-bit RGB. The lossless ones
// give exactly the image converted to that kind, the lossy ones come close.
TEST(Formats, EveryKindRoundTrips)
{
    const SampleType types[] = {SAMPLE_U8, SAMPLE_U16, SAMPLE_F32};
    for (Format f : {TIFF, WEBP_LOSSLESS, WEBP_LOSSY, HEIF, AVIF, PNG, JPEG, BMP})
        for (int channels = 1; channels <= 4; ++channels)
            for (SampleType type : types) {
                // The encoders of HEIF and AVIF take a second or so a call.
                if ((f == HEIF || f == AVIF) && type != SAMPLE_U8 && channels != 2)
                    continue;
                SCOPED_TRACE(std::string(format_name(f)) + ", " + std::to_string(channels) + " channels, type "
                             + std::to_string(type));
                const ImageBuffer image = make_image(37, 21, channels, type, 7 * channels + type);
                std::string problem;
                const Bytes file = encode_as(f, image.view, nullptr, &problem);
                ASSERT_FALSE(file.empty()) << problem;
                ImageBuffer back;
                ImageMeta meta;
                ASSERT_TRUE(decode_as(f, file, &back, &problem, &meta)) << problem;
                ImageBuffer held;
                ASSERT_TRUE(image_convert(image.view, image_format_kind(image_kind(image.view), image_format_of(f)),
                                          &held));
                ASSERT_TRUE(image_same_layout(back.view, held.view));
                if (f == TIFF || f == WEBP_LOSSLESS || f == PNG || f == BMP)
                    EXPECT_TRUE(packed(back.view) == packed(held.view));
                else
                    EXPECT_LT(mean_difference(back.view, held.view), 3.0);
            }
}

// The profile goes into every format; the Exif block into WebP and HEIF,
// where a WebP's orientation is read from it as a JPEG's is.
TEST(NewFormats, ProfileAndExifRoundTrip)
{
    ImageMeta meta;
    meta.icc = icc_profile(3000, 5);
    meta.exif = exif_block(false, 6, false);
    for (Format f : {TIFF, WEBP_LOSSY, HEIF}) {
        SCOPED_TRACE(format_name(f));
        const ImageBuffer image = make_image(16, 8, 3, SAMPLE_U8, 3);
        std::string problem;
        const Bytes file = encode_as(f, image.view, &meta, &problem);
        ASSERT_FALSE(file.empty()) << problem;
        ImageBuffer back;
        ImageMeta read;
        ASSERT_TRUE(decode_as(f, file, &back, &problem, &read)) << problem;
        EXPECT_TRUE(read.icc == meta.icc);
        if (f == TIFF)
            continue;
        // The block a result carries says orientation 1.
        ASSERT_FALSE(read.exif.empty());
        EXPECT_EQ(exif_orientation(read.exif.data(), read.exif.size()), 1);
        EXPECT_EQ(read.orientation, f == WEBP_LOSSY ? 6 : 1);
    }
    // A grey profile goes with grey data only.
    ImageMeta grey;
    grey.icc = icc_profile(300, 6, false);
    for (int channels : {1, 3}) {
        std::string problem;
        ImageBuffer back;
        ImageMeta read;
        const Bytes file = encode_as(TIFF, make_image(4, 4, channels, SAMPLE_U8, 1).view, &grey, &problem);
        ASSERT_TRUE(decode_as(TIFF, file, &back, &problem, &read)) << problem;
        EXPECT_EQ(read.icc.empty(), channels == 3);
    }
}

// Every cut of a valid file, and the headers below, refused with one line
// or read; none crashes (the sanitizer build runs this too).
TEST(NewFormats, CutAndHostileFilesAreRefusedWithOneLine)
{
    for (Format f : {TIFF, WEBP_LOSSLESS, WEBP_LOSSY, AVIF}) {
        SCOPED_TRACE(format_name(f));
        std::string problem;
        const Bytes file = encode_as(f, make_image(40, 30, 4, SAMPLE_U8, 9).view, nullptr, &problem);
        ASSERT_FALSE(file.empty()) << problem;
        const size_t step = f == AVIF ? file.size() / 6 : 1 + file.size() / 40;
        for (size_t cut = 0; cut < file.size(); cut += step) {
            const Bytes part(file.begin(), file.begin() + cut);
            ImageBuffer image;
            ImageMeta meta;
            if (!decode_as(f, part, &image, &problem, &meta)) {
                EXPECT_FALSE(problem.empty()) << cut;
                EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
            }
        }
    }
    // Sizes over the limit are refused before anything is allocated: a
    // TIFF of 20000 x 1 and a lossless WebP of 16383 x 16383.
    Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 4, 0};
    // Width, height, strip offsets and byte counts, one LONG each.
    const uint32_t entries[4][2] = {{256, 20000}, {257, 1}, {273, 8}, {279, 1}};
    for (const auto& e : entries) {
        put16(tiff, e[0]);
        put16(tiff, 4);
        put32(tiff, 1);
        put32(tiff, e[1]);
    }
    put32(tiff, 0);
    // After the chunk's head, the signature and 14 bits each of width - 1
    // and height - 1.
    const Bytes webp = {'R', 'I', 'F', 'F', 17, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L', 5, 0, 0, 0,
                        0x2f, 0xfe, 0xbf, 0xff, 0x0f};
    // A TIFF whose ICC profile lies past the file's end: libtiff drops the
    // tag with a warning, which must refuse the file.
    ImageMeta with_icc;
    with_icc.icc = icc_profile(400, 2);
    std::string problem;
    Bytes lost_icc = encode_as(TIFF, make_image(3, 2, 3, SAMPLE_U8, 1).view, &with_icc, &problem);
    ASSERT_EQ(lost_icc[0], 'I');
    const size_t ifd = lost_icc[4] | lost_icc[5] << 8 | lost_icc[6] << 16 | size_t(lost_icc[7]) << 24;
    for (size_t e = ifd + 2; e + 12 <= lost_icc.size() && e < ifd + 2 + 12 * lost_icc[ifd]; e += 12)
        if ((lost_icc[e] | lost_icc[e + 1] << 8) == 34675)
            lost_icc[e + 11] = 0x70;  // the profile's offset, now far past the end
    const struct {
        Format f;
        const Bytes& bytes;
        const char* message;
    } hostile[] = {{TIFF, tiff, "image too large (20000 x 1)"},
                   {WEBP_LOSSY, webp, "image too large (16383 x 16383)"},
                   {TIFF, lost_icc, "not a TIFF image that can be decoded (its ICC profile cannot be read)"}};
    for (const auto& h : hostile) {
        ImageBuffer image;
        ImageMeta meta;
        std::string problem;
        EXPECT_FALSE(decode_as(h.f, h.bytes, &image, &problem, &meta));
        EXPECT_EQ(problem, h.message);
    }
}

// libheif 1.15.1 crashes (SIGSEGV in heif_decode_image) on image 1006 of
// the conformance file C019, made the primary image here: it reads past a
// tile's buffer, which faults where that buffer ends the heap, as it does
// in a new process (where the test runs it: in this one, after the tests
// before it, the bytes past it may be mapped). The crash must be a
// refusal; under the sanitizers the child's report ends it with status 1,
// or with SIGABRT where they are told to abort.
TEST(NewFormats, HeifDecoderCrashIsARefusal)
{
    const std::string suite = TAVROSK_HEIFSUITE_DIR;
    SKIP_OR_FAIL_WITHOUT(suite, "HEIF suite", "TAVROSK_HEIFSUITE_DIR");
    const std::string text = read_file(suite + "/heic/C019.heic");
    Bytes file(text.begin(), text.end());
    const size_t pitm = text.find("pitm");
    ASSERT_NE(pitm, std::string::npos);
    ASSERT_EQ(file[pitm + 8] << 8 | file[pitm + 9], 1002);  // after the version and flags
    file[pitm + 9] = 1006 & 0xFF;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ImageBuffer image;
            ImageMeta meta;
            std::string problem;
            const bool ok = decode_heif(file.data(), file.size(), &image, &problem, &meta);
            std::fprintf(stderr, "%s\n", problem.c_str());
            std::exit(ok ? 1 : 0);
        },
        testing::ExitedWithCode(0),
        "the HEIF decoder (crashed on this file \\(signal (11, Segmentation fault|6, Aborted)\\)"
        "|failed on this file \\(status 1\\))\n");
}

// A decoder that outlives its time is killed, and the file refused.
TEST(NewFormats, HeifDecoderOutOfTimeIsARefusal)
{
    const std::string suite = TAVROSK_HEIFSUITE_DIR;
    SKIP_OR_FAIL_WITHOUT(suite, "HEIF suite", "TAVROSK_HEIFSUITE_DIR");
    const std::string big = read_file(suite + "/avif/Microsoft_Summer_Nature_4k.avif");
    ImageBuffer image;
    ImageMeta meta;
    std::string problem;
    EXPECT_FALSE(decode_heif(reinterpret_cast<const unsigned char*>(big.data()), big.size(), &image, &problem, &meta,
                             false, 0));
    EXPECT_EQ(problem, "the HEIF decoder took over 0 seconds on this file");
}

// Through the dispatcher: every format written from any kind and read back
// by its first bytes; a WebP's Exif orientation turns it as viewed.
TEST(NewFormats, DispatcherWritesAndReadsThem)
{
    const ImageBuffer image = make_image(9, 5, 4, SAMPLE_U16, 4);
    for (ImageFormat f : {IMAGE_TIFF, IMAGE_WEBP, IMAGE_HEIF, IMAGE_AVIF, IMAGE_PNG, IMAGE_BMP}) {
        SCOPED_TRACE(image_format_name(f));
        char* buffer = nullptr;
        size_t size = 0;
        std::FILE* out = open_memstream(&buffer, &size);
        std::string problem;
        ASSERT_TRUE(image_encode(image.view, f, f == IMAGE_WEBP ? 0 : 90, out, &problem)) << problem;
        std::fclose(out);
        ImageBuffer back;
        EXPECT_TRUE(image_decode(reinterpret_cast<unsigned char*>(buffer), size, &back, &problem)) << problem;
        std::free(buffer);
        EXPECT_TRUE(kind_equal(image_kind(back.view), image_format_kind(image_kind(image.view), f)));
    }
    ImageMeta meta;
    meta.exif = exif_block(true, 6, false);
    std::string problem;
    const Bytes file = encode_as(WEBP_LOSSLESS, make_image(9, 5, 3, SAMPLE_U8, 4).view, &meta, &problem);
    for (ImageOrientation o : {IMAGE_AS_VIEWED, IMAGE_AS_STORED}) {
        ImageBuffer back;
        ASSERT_TRUE(image_decode(file.data(), file.size(), &back, &problem, nullptr, o)) << problem;
        EXPECT_EQ(back.view.width, o == IMAGE_AS_VIEWED ? 5 : 9);
    }
}

// What each format holds of each kind, and the one phrase that names all a
// result loses, with "them" for more than one thing.
TEST(NewFormats, LossesAreNamedInOnePhrase)
{
    ImageMeta chunks;
    chunks.gama = {0, 1, 0x86, 0xA0};
    chunks.chrm.assign(32, 1);
    ImageMeta profile, grey_profile;
    profile.icc = icc_profile(300, 3);
    grey_profile.icc = icc_profile(300, 3, false);
    const struct {
        ImageKind kind;
        const ImageMeta* meta;
        ImageFormat format;
        const char* words;
        const char* pronoun;
    } cases[] = {
        {{4, SAMPLE_U16}, nullptr, IMAGE_TIFF, "", "it"},
        {{4, SAMPLE_U16}, nullptr, IMAGE_PNG, "", "it"},
        {{4, SAMPLE_F32}, nullptr, IMAGE_PNG, "float samples", "them"},
        {{2, SAMPLE_U16}, nullptr, IMAGE_JPEG, "alpha and 16-bit samples", "them"},
        {{4, SAMPLE_U16}, nullptr, IMAGE_BMP, "alpha and 16-bit samples", "them"},
        {{1, SAMPLE_U8}, &grey_profile, IMAGE_JPEG, "", "it"},
        {{3, SAMPLE_U8}, &grey_profile, IMAGE_PNG, "ICC profile (not one for RGB data)", "it"},
        {{2, SAMPLE_U8}, &profile, IMAGE_PNG, "ICC profile (not one for grey data)", "it"},
        {{2, SAMPLE_F32}, &profile, IMAGE_BMP, "alpha, float samples and ICC profile", "them"},
        {{4, SAMPLE_U8}, nullptr, IMAGE_WEBP, "", "it"},
        {{1, SAMPLE_U16}, nullptr, IMAGE_HEIF, "16-bit samples", "them"},
        {{3, SAMPLE_U8}, &chunks, IMAGE_JPEG, "gAMA and cHRM chunks", "them"},
        {{3, SAMPLE_U8}, &profile, IMAGE_BMP, "ICC profile", "it"},
        {{3, SAMPLE_U8}, &profile, IMAGE_AVIF, "", "it"},
    };
    for (const auto& c : cases) {
        const char* pronoun = nullptr;
        EXPECT_EQ(image_lost(c.kind, c.meta, c.format, &pronoun), c.words) << image_format_name(c.format);
        EXPECT_STREQ(pronoun, c.pronoun) << c.words;
    }
    // What is kept: TIFF every kind, PNG all but floats, JPEG grey, WebP
    // alpha, BMP 8-bit RGB.
    const struct {
        ImageKind kind;
        ImageFormat format;
        ImageKind held;
    } kept[] = {{{2, SAMPLE_F32}, IMAGE_TIFF, {2, SAMPLE_F32}}, {{2, SAMPLE_F32}, IMAGE_PNG, {2, SAMPLE_U16}},
                {{2, SAMPLE_U16}, IMAGE_JPEG, {1, SAMPLE_U8}},  {{2, SAMPLE_U16}, IMAGE_WEBP, {4, SAMPLE_U8}},
                {{4, SAMPLE_F32}, IMAGE_BMP, {3, SAMPLE_U8}},   {{1, SAMPLE_U8}, IMAGE_BMP, {3, SAMPLE_U8}}};
    for (const auto& k : kept)
        EXPECT_TRUE(kind_equal(image_format_kind(k.kind, k.format), k.held)) << image_format_name(k.format);
}
