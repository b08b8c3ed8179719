// Fuzz target of the image codecs: any bytes go through image_decode. A
// refusal must say why; a surface that comes back must pass the load check
// and is read with get_pixel. An image of at most ENCODE_LIMIT pixels is read
// whole and then written as PNG, PPM, BMP and JPEG into memory streams: PNG
// must decode back to the same triples, PPM must hold them, BMP must too when
// SDL's writer converts without loss (8-bit channels or a palette), and JPEG
// must decode back at the same size. A larger one is read sparsely (see
// read_sparsely). Any fault aborts, so that the fuzzer keeps the input.
#include <SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "raster/pixel.h"
#include "raster/surface_check.h"
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

static std::vector<uint8_t> rgb_of(SDL_Surface* s)
{
    std::vector<uint8_t> rgb;
    rgb.reserve(3 * static_cast<size_t>(s->w) * s->h);
    lock_if_needed(s);
    for (int y = 0; y < s->h; ++y)
        for (int x = 0; x < s->w; ++x) {
            Uint8 c[3];
            get_pixel(s, x, y, &c[0], &c[1], &c[2]);
            rgb.insert(rgb.end(), c, c + 3);
        }
    unlock_if_needed(s);
    return rgb;
}

// Reads the pixels of every row whose number is 0, h - 1 or a multiple of 64,
// and the first and last pixel of every other row.
static void read_sparsely(SDL_Surface* s)
{
    unsigned sum = 0;
    lock_if_needed(s);
    for (int y = 0; y < s->h; ++y) {
        const bool whole = y % 64 == 0 || y == s->h - 1;
        for (int x = 0; x < s->w; x = whole || x == s->w - 1 ? x + 1 : s->w - 1) {
            Uint8 r, g, b;
            get_pixel(s, x, y, &r, &g, &b);
            sum += r + g + b;
        }
    }
    unlock_if_needed(s);
    // Keeps the reads from being optimised away.
    volatile unsigned sink = sum;
    (void)sink;
}

static std::vector<uint8_t> encode_to_memory(SDL_Surface* s, ImageFormat format, int quality)
{
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    if (!out)
        fail("open_memstream failed", "");
    std::string problem;
    bool ok = image_encode(s, format, quality, out, &problem);
    std::fclose(out);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    if (!ok)
        fail("encoder failed", std::string(image_format_name(format)) + ": " + problem);
    return bytes;
}

static SDL_Surface* decode_or_fail(const std::vector<uint8_t>& bytes, ImageFormat format)
{
    std::string problem;
    SDL_Surface* s = image_decode(bytes.data(), bytes.size(), &problem);
    if (!s)
        fail("own output refused", std::string(image_format_name(format)) + ": " + problem);
    return s;
}

static void check_round_trip(SDL_Surface* image, const std::vector<uint8_t>& rgb, ImageFormat format)
{
    SDL_Surface* back = decode_or_fail(encode_to_memory(image, format, 90), format);
    if (back->w != image->w || back->h != image->h || rgb_of(back) != rgb)
        fail("round trip changed the pixels", image_format_name(format));
    SDL_FreeSurface(back);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string problem;
    SDL_Surface* image = image_decode(data, size, &problem);
    if (!image) {
        if (problem.empty())
            fail("refused without a reason", "");
        return 0;
    }
    if (!surface_usable(image))
        fail("decoded surface fails the load check", "");
    if (static_cast<long>(image->w) * image->h > ENCODE_LIMIT) {
        read_sparsely(image);
    } else {
        const std::vector<uint8_t> rgb = rgb_of(image);
        check_round_trip(image, rgb, IMAGE_PNG);

        std::vector<uint8_t> ppm = encode_to_memory(image, IMAGE_PPM, 0);
        std::string header = "P6\n" + std::to_string(image->w) + " " + std::to_string(image->h) + "\n255\n";
        if (ppm.size() != header.size() + rgb.size() || std::memcmp(ppm.data(), header.data(), header.size()) != 0
            || std::memcmp(ppm.data() + header.size(), rgb.data(), rgb.size()) != 0)
            fail("PPM does not hold the pixels", "");

        const SDL_PixelFormat* f = image->format;
        if (f->palette || (f->Rloss == 0 && f->Gloss == 0 && f->Bloss == 0))
            check_round_trip(image, rgb, IMAGE_BMP);
        else
            SDL_FreeSurface(decode_or_fail(encode_to_memory(image, IMAGE_BMP, 0), IMAGE_BMP));

        const int quality = 1 + data[size - 1] % 100;
        SDL_Surface* jpeg = decode_or_fail(encode_to_memory(image, IMAGE_JPEG, quality), IMAGE_JPEG);
        if (jpeg->w != image->w || jpeg->h != image->h)
            fail("JPEG round trip changed the size", "");
        SDL_FreeSurface(jpeg);
    }
    SDL_FreeSurface(image);
    return 0;
}
