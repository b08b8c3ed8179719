// Fuzz target: any bytes go through SDL's BMP loader and the load check; a
// surface that passes is read whole with get_pixel, read into an 8-bit RGB
// image that is sampled at its edges, corners, outside it, at NaN and at
// points taken from the input and warped by both kernels (which must agree
// to the last bit), and the surface is drawn on along lines taken from the
// input. Any fault aborts, so that the fuzzer keeps the input.
#include <SDL.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include <hwy/targets.h>

#include "raster/sampler.h"
#include "sdl/draw.h"
#include "sdl/pixel.h"
#include "sdl/surface_image.h"
#include "io/surface_check.h"
#include "warp/warp.h"

// The warp runs over a crop of at most this size, so that one execution stays
// in the order of a millisecond whatever the image's size.
enum { WARP_CROP = 48, MAX_PAIRS = 3 };

static void fail(const char* what, double x, double y)
{
    std::fprintf(stderr, "fuzz_bmp: %s at (%g, %g)\n", what, x, y);
    std::abort();
}

// Reads the input from its end, byte by byte; zero once used up.
struct Tail {
    const uint8_t* data;
    size_t left;
};

static uint8_t next_byte(Tail* tail)
{
    if (tail->left == 0)
        return 0;
    return tail->data[--tail->left];
}

// A coordinate a little outside [0, extent] as often as inside it, now and
// then halfway between two pixels.
static double next_coordinate(Tail* tail, int extent)
{
    uint8_t v = next_byte(tail);
    double c = static_cast<double>(v % (extent + 17)) - 8;
    return (v & 0x80) ? c + 0.5 : c;
}

static void check_get_pixel_everywhere(SDL_Surface* s)
{
    unsigned sum = 0;
    for (int y = 0; y < s->h; ++y)
        for (int x = 0; x < s->w; ++x) {
            Uint8 r, g, b;
            get_pixel(s, x, y, &r, &g, &b);
            sum += r + g + b;
        }
    // Keeps the reads from being optimised away.
    volatile unsigned sink = sum;
    (void)sink;
}

// At a whole-numbered point the weights are 1 and 0, so the sampler gives the
// pixel itself; on the far edges it reads the last column or row.
static void check_sample_at_pixel(const ImageView& s, int x, int y)
{
    Uint8 c[3];
    sample_bilinear(s, x, y, c);
    const Uint8* p = image_row(s, y < s.height ? y : s.height - 1) + 3 * (x < s.width ? x : s.width - 1);
    if (c[0] != p[0] || c[1] != p[1] || c[2] != p[2])
        fail("sample at a whole point differs from the pixel", x, y);
}

static void check_black(const ImageView& s, double x, double y)
{
    Uint8 c[3] = {1, 1, 1};
    sample_bilinear(s, x, y, c);
    if (c[0] || c[1] || c[2])
        fail("sample outside the image is not black", x, y);
}

static void check_sampler(const ImageView& s, Tail* tail)
{
    const int w = s.width, h = s.height;
    const int corners[][2] = {{0, 0}, {w, 0}, {0, h}, {w, h}, {w - 1, h - 1}, {w, h - 1}, {w - 1, h}};
    for (const auto& c : corners)
        check_sample_at_pixel(s, c[0], c[1]);
    for (int x = 0; x <= w; x += (w > 64 ? w / 16 : 1)) {
        check_sample_at_pixel(s, x, 0);
        check_sample_at_pixel(s, x, h);
    }
    for (int y = 0; y <= h; y += (h > 64 ? h / 16 : 1)) {
        check_sample_at_pixel(s, 0, y);
        check_sample_at_pixel(s, w, y);
    }

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double outside[][2] = {{nan, 0}, {0, nan}, {nan, nan}, {-inf, 0}, {inf, 0}, {0, inf},
                                 {-1e-9, 0}, {0, -1e-9}, {std::nextafter(double(w), inf), 0},
                                 {0, std::nextafter(double(h), inf)}, {-1e300, 1e300}};
    for (const auto& p : outside)
        check_black(s, p[0], p[1]);

    // Just inside the far edges and at points from the input: only that
    // nothing outside the image is read.
    Uint8 c[3];
    sample_bilinear(s, std::nextafter(double(w), 0.0), std::nextafter(double(h), 0.0), c);
    for (int i = 0; i < 8; ++i) {
        double x = next_coordinate(tail, w) + next_byte(tail) / 256.0;
        double y = next_coordinate(tail, h) + next_byte(tail) / 256.0;
        sample_bilinear(s, x, y, c);
    }
}

// The top-left corner of s, at most WARP_CROP a side, sharing its pixels.
static void check_kernels_agree(const ImageView& s, Tail* tail)
{
    ImageView crop = s;
    crop.width = s.width < WARP_CROP ? s.width : WARP_CROP;
    crop.height = s.height < WARP_CROP ? s.height : WARP_CROP;
    Segment segments[2 * MAX_PAIRS];
    int n = 2 * (1 + next_byte(tail) % MAX_PAIRS);
    for (int i = 0; i < n; ++i) {
        segments[i].x1 = next_coordinate(tail, crop.width);
        segments[i].y1 = next_coordinate(tail, crop.height);
        segments[i].x2 = next_coordinate(tail, crop.width);
        segments[i].y2 = next_coordinate(tail, crop.height);
    }
    static const double ps[] = {0.5, 0.0, 1.0, 2.0};
    static const double bs[] = {1.0, 2.0, 0.5, 0.0};
    static const double as[] = {1.0, 0.5, 2.0, 1e-3};
    uint8_t choice = next_byte(tail);
    double p = ps[choice & 3], b = bs[(choice >> 2) & 3], a = as[(choice >> 4) & 3];
    int threads = 1 + (choice >> 6) % 3;

    // Any instruction set the fast kernel was built for; those that gather
    // lane by lane let AddressSanitizer see each of the sampler's reads.
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    const int64_t target = targets[next_byte(tail) % targets.size()];

    WarpParams params;
    params.p = p;
    params.a = a;
    params.b = b;
    WarpOptions literal_kernel, fast_kernel;
    literal_kernel.kernel = WARP_KERNEL_LITERAL;
    fast_kernel.threads = threads;
    ImageBuffer literal, fast;
    if (!image_buffer_make(&literal, crop.width, crop.height, 3, SAMPLE_U8)
        || !image_buffer_make(&fast, crop.width, crop.height, 3, SAMPLE_U8))
        fail("no result image", crop.width, crop.height);
    if (warp_run(crop, literal.view, segments, n, params, literal_kernel) != WARP_OK)
        fail("the literal kernel refused the image", crop.width, crop.height);
    hwy::SetSupportedTargetsForTest(target);
    const WarpStatus status = warp_run(crop, fast.view, segments, n, params, fast_kernel);
    hwy::SetSupportedTargetsForTest(0);
    if (status != WARP_OK)
        fail("the fast kernel refused the image", crop.width, crop.height);
    for (int y = 0; y < crop.height; ++y)
        for (int x = 0; x < crop.width; ++x)
            if (std::memcmp(image_row(literal.view, y) + 3 * x, image_row(fast.view, y) + 3 * x, 3) != 0)
                fail("fast and literal kernels differ", x, y);
}

static void draw_lines(SDL_Surface* s, Tail* tail)
{
    // Far outside, but not so far that the per-step loop takes seconds.
    const int far = 4 * (s->w + s->h) + 64;
    const int lines[][4] = {{0, 0, s->w, s->h},      {s->w - 1, 0, -1, s->h}, {-far, -far, far, far},
                            {far, 0, -far, s->h / 2}, {0, 0, 0, 0},          {-5, s->h - 1, s->w + 5, s->h - 1}};
    for (const auto& l : lines)
        draw_segment(s, l[0], l[1], l[2], l[3], 255, 255, 255, true);
    for (int i = 0; i < 4; ++i) {
        int x1 = static_cast<int>(next_coordinate(tail, s->w)), y1 = static_cast<int>(next_coordinate(tail, s->h));
        int x2 = static_cast<int>(next_coordinate(tail, s->w)), y2 = static_cast<int>(next_coordinate(tail, s->h));
        draw_segment(s, x1, y1, x2, y2, next_byte(tail), next_byte(tail), next_byte(tail), i & 1);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(size));
    if (!rw)
        return 0;
    SDL_Surface* s = load_bmp_rw_checked(rw);
    if (!s)
        return 0;
    Tail tail = {data, size};
    lock_if_needed(s);
    check_get_pixel_everywhere(s);
    unlock_if_needed(s);
    ImageBuffer image;
    if (!surface_to_rgb8(s, &image))
        fail("no image for the surface", s->w, s->h);
    check_sampler(image.view, &tail);
    check_kernels_agree(image.view, &tail);
    lock_if_needed(s);
    draw_lines(s, &tail);
    unlock_if_needed(s);
    SDL_FreeSurface(s);
    return 0;
}
