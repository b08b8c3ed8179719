// Fuzz target of the image codecs: any bytes go through image_decode. A
// refusal must say why; an image that comes back must be a valid view and
// is read. An image of at most ENCODE_LIMIT pixels is read whole and then
// written as PNG, PPM, BMP and JPEG into memory streams: PNG and BMP must
// decode back to the image as each holds it (PNG its kind, BMP 8-bit RGB),
// PPM must hold its 8-bit R, G, B, and JPEG must decode back at the same
// size. A larger one is read sparsely (see
// read_sparsely). What the file says beside its pixels is written back with
// them: PNG must give back its colour description, JPEG its ICC profile and
// an Exif orientation of 1; the description's words for a warning must be
// printable ASCII. TIFF, WebP and HEIF go to their own decoders,
// whose images must be valid views of an allowed size: TIFF must write and
// read back the same samples, lossless WebP the same 8-bit RGB(A) reduction.
// The bytes also go straight to the Exif parser,
// which must read an orientation from 1 to 8 and make a block for a result
// no longer than the input whose orientation reads 1. Any fault aborts, so
// that the fuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/exif.h"
#include "io/image_codecs.h"
#include "io/image_io.h"

// Encoding a large image four times would make one execution take seconds,
// and a few bytes of RLE, PNG or JPEG can describe a hundred million pixels:
// reading them all under the sanitizers outlasts the fuzzer's time-out.
enum { ENCODE_LIMIT = 1 << 16 };

static void fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "fuzz_image: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    std::abort();
}

static std::vector<uint8_t> packed(const ImageView& v)
{
    std::vector<uint8_t> out;
    const size_t row = static_cast<size_t>(v.width) * image_pixel_bytes(v);
    for (int y = 0; y < v.height; ++y)
        out.insert(out.end(), image_row(v, y), image_row(v, y) + row);
    return out;
}

// The image as a file of `format` holds it.
static ImageBuffer held_in(const ImageView& image, ImageFormat format)
{
    ImageBuffer held;
    if (!image_convert(image, image_format_kind(image_kind(image), format), &held))
        fail("no memory for the converted copy", "");
    return held;
}

// Reads the pixels of every row whose number is 0, h - 1 or a multiple of 64,
// and the first and last pixel of every other row.
static void read_sparsely(const ImageView& image)
{
    unsigned sum = 0;
    for (int y = 0; y < image.height; ++y) {
        const bool whole = y % 64 == 0 || y == image.height - 1;
        for (int x = 0; x < image.width; x = whole || x == image.width - 1 ? x + 1 : image.width - 1) {
            const uint8_t* p = image_row(image, y) + static_cast<size_t>(image_pixel_bytes(image)) * x;
            sum += p[0] + p[image_pixel_bytes(image) - 1];
        }
    }
    // Keeps the reads from being optimised away.
    volatile unsigned sink = sum;
    (void)sink;
}

static std::vector<uint8_t> encode_to_memory(const ImageView& image, ImageFormat format, int quality,
                                             const ImageMeta* meta = nullptr)
{
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    if (!out)
        fail("open_memstream failed", "");
    std::string problem;
    bool ok = image_encode(image, format, quality, out, &problem, meta);
    std::fclose(out);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    if (!ok)
        fail("encoder failed", std::string(image_format_name(format)) + ": " + problem);
    return bytes;
}

static ImageBuffer decode_or_fail(const std::vector<uint8_t>& bytes, ImageFormat format, ImageMeta* meta = nullptr)
{
    std::string problem;
    ImageBuffer image;
    if (!image_decode(bytes.data(), bytes.size(), &image, &problem, meta))
        fail("own output refused", std::string(image_format_name(format)) + ": " + problem);
    return image;
}

static void check_round_trip(const ImageView& image, ImageFormat format)
{
    const ImageBuffer back = decode_or_fail(encode_to_memory(image, format, 90), format);
    const ImageBuffer want = held_in(image, format);
    if (!image_same_layout(back.view, want.view) || packed(back.view) != packed(want.view))
        fail("round trip changed the pixels", image_format_name(format));
}

static void check_exif(const uint8_t* data, size_t size)
{
    const int orientation = exif_orientation(data, size);
    if (orientation < 1 || orientation > 8)
        fail("Exif orientation out of range", std::to_string(orientation));
    std::vector<unsigned char> block;
    if (exif_for_result(data, size, &block)
        && (block.size() > size || exif_orientation(block.data(), block.size()) != 1))
        fail("Exif block for a result is longer or not top-left", "");
}

// The description written with the image and read back: PNG keeps all of
// it (a profile for other than the written image's grey or RGB data is
// dropped), JPEG the profile.
static void check_meta_round_trip(const ImageView& image, const ImageMeta& meta, ImageFormat format)
{
    for (char c : image_colour_words(meta))
        if (c < 32 || c > 126)
            fail("the description's words are not printable ASCII", "");
    ImageMeta back;
    decode_or_fail(encode_to_memory(image, format, 90, &meta), format, &back);
    const int channels = image_format_kind(image_kind(image), format).channels;
    const std::vector<unsigned char> icc = image_icc_fits(meta, channels) ? meta.icc : std::vector<unsigned char>();
    if (back.icc != icc || back.orientation != 1)
        fail("profile or orientation changed in a round trip", image_format_name(format));
    if (format == IMAGE_PNG && (back.srgb != meta.srgb || back.gama != meta.gama || back.chrm != meta.chrm))
        fail("colour chunks changed in a round trip", "");
}

static ImageBuffer library_decode_or_fail(LibraryFormat format, const std::vector<uint8_t>& bytes, ImageMeta* meta)
{
    ImageBuffer image;
    std::string problem;
    const bool ok = format == LIBRARY_TIFF ? decode_tiff(bytes.data(), bytes.size(), &image, &problem, meta)
                                           : decode_webp(bytes.data(), bytes.size(), &image, &problem, meta);
    if (!ok)
        fail("own output refused", problem);
    return image;
}

static void check_library_format(const uint8_t* data, size_t size, LibraryFormat format)
{
    ImageBuffer image;
    ImageMeta meta;
    std::string problem;
    const bool ok = format == LIBRARY_TIFF ? decode_tiff(data, size, &image, &problem, &meta)
                  : format == LIBRARY_WEBP ? decode_webp(data, size, &image, &problem, &meta)
                                           : decode_heif(data, size, &image, &problem, &meta);
    if (!ok) {
        if (problem.empty() || problem.find('\n') != std::string::npos || image.data)
            fail("refused without a one-line reason, or with an image", problem);
        return;
    }
    const ImageView& v = image.view;
    if (!image_view_valid(v) || !image_size_allowed(v.width, v.height) || meta.orientation < 1 || meta.orientation > 8)
        fail("decoded image is not a valid view of an allowed size", "");
    if (static_cast<long>(v.width) * v.height > ENCODE_LIMIT)
        return;
    char* buffer = nullptr;
    size_t length = 0;
    std::FILE* out = open_memstream(&buffer, &length);
    if (!out || !encode_tiff(v, out, &problem, &meta))
        fail("TIFF encoder failed", problem);
    std::fclose(out);
    std::vector<uint8_t> tiff(buffer, buffer + length);
    std::free(buffer);
    ImageMeta back;
    const ImageBuffer again = library_decode_or_fail(LIBRARY_TIFF, tiff, &back);
    if (!image_same_layout(again.view, v) || packed(again.view) != packed(v))
        fail("TIFF round trip changed the samples", "");
    if (back.icc != (image_icc_fits(meta, v.channels) ? meta.icc : std::vector<unsigned char>()))
        fail("TIFF round trip changed the profile", "");
    out = open_memstream(&buffer, &length);
    if (!out || !encode_webp(v, 0, out, &problem, &meta))
        fail("WebP encoder failed", problem);
    std::fclose(out);
    std::vector<uint8_t> webp(buffer, buffer + length);
    std::free(buffer);
    ImageBuffer rgb8;
    if (!image_to_rgb8(v, &rgb8))
        fail("no memory for the 8-bit copy", "");
    const ImageBuffer lossless = library_decode_or_fail(LIBRARY_WEBP, webp, &back);
    // An opaque RGBA image comes back RGB.
    std::vector<uint8_t> want = packed(rgb8.view);
    if (lossless.view.channels == 3 && rgb8.view.channels == 4) {
        std::vector<uint8_t> rgb;
        for (size_t i = 0; i < want.size(); i += 4)
            rgb.insert(rgb.end(), want.begin() + i, want.begin() + i + 3);
        want = rgb;
    }
    if (packed(lossless.view) != want)
        fail("lossless WebP round trip changed the pixels", "");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    check_exif(data, size);
    const LibraryFormat library = library_format_of(data, size);
    if (library != LIBRARY_NONE) {
        check_library_format(data, size, library);
        return 0;
    }
    std::string problem;
    ImageMeta meta;
    ImageBuffer decoded;
    if (!image_decode(data, size, &decoded, &problem, &meta)) {
        if (problem.empty())
            fail("refused without a reason", "");
        return 0;
    }
    const ImageView& image = decoded.view;
    if (!image_view_valid(image) || image.type == SAMPLE_F32)
        fail("decoded image is not a valid view of 8 or 16 bits", "");
    if (static_cast<long>(image.width) * image.height > ENCODE_LIMIT) {
        read_sparsely(image);
        return 0;
    }
    check_round_trip(image, IMAGE_PNG);

    const std::vector<uint8_t> rgb = packed(held_in(image, IMAGE_PPM).view);
    std::vector<uint8_t> ppm = encode_to_memory(image, IMAGE_PPM, 0);
    std::string header = "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    if (ppm.size() != header.size() + rgb.size() || std::memcmp(ppm.data(), header.data(), header.size()) != 0
        || std::memcmp(ppm.data() + header.size(), rgb.data(), rgb.size()) != 0)
        fail("PPM does not hold the pixels", "");

    check_round_trip(image, IMAGE_BMP);

    const int quality = 1 + data[size - 1] % 100;
    const ImageBuffer jpeg = decode_or_fail(encode_to_memory(image, IMAGE_JPEG, quality), IMAGE_JPEG);
    if (jpeg.view.width != image.width || jpeg.view.height != image.height)
        fail("JPEG round trip changed the size", "");
    check_meta_round_trip(image, meta, IMAGE_PNG);
    check_meta_round_trip(image, meta, IMAGE_JPEG);
    return 0;
}
