// Helpers shared by the unit tests: surfaces of a given depth filled with
// known or random pixels, an exact comparison that reports the first differing pixels with
// their coordinates, a scratch folder for tests that work on files, and
// seeded random warp cases for the comparison tests.
#pragma once
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "io/image_io.h"
#include "raster/image.h"
#include "sdl/pixel.h"  // SurfacePtr: an assertion that ends a test early frees its surfaces too
#include "warp/fold_map.h"
#include "warp/segment.h"
#include "warp/warp.h"


// depth 8 (a 256-entry palette of distinct colours), 15, 16, 24 or 32.
SDL_Surface* make_surface(int w, int h, int depth);
// Fills every pixel from a seeded generator.
void fill_random(SDL_Surface* surface, uint32_t seed);
void fill_random(const ImageView& image, uint32_t seed);
// Random samples of the image's kind for sampler tests: integers random,
// floats finite and often 0, -0, 0.5 or 1; an alpha is often the image's
// first alpha, so that neighbours agree, and in some float images -0 and +0
// in turn.
void fill_random_samples(const ImageView& image, uint32_t seed);
// Empty when a and b have the same size and the same colour triple at every
// pixel; otherwise a description of the first few differences.
std::string compare_rgb(SDL_Surface* a, SDL_Surface* b, int max_reports = 8);

// The same for images: views of 8-bit R, G, B pixels, or a surface (read as
// get_pixel reads it) and such a view.
std::string compare_rgb(const ImageView& a, const ImageView& b, int max_reports = 8);
std::string compare_rgb(SDL_Surface* a, const ImageView& b, int max_reports = 8);

// The surface's colours as get_pixel reads them, in an 8-bit R, G, B image.
ImageBuffer rgb8_of(SDL_Surface* surface);

// warp_run on surfaces, as the window program runs it: src read as get_pixel
// reads it, the result (filled with junk first, so that a pixel the warp
// leaves unwritten shows) written into dst as put_pixel writes it. NULL
// surfaces give warp_run views without pixels.
WarpStatus warp_surfaces(SDL_Surface* src, SDL_Surface* dst, const Segment* segments, int n, const WarpParams& params,
                         const WarpOptions& options, WarpReport* report = nullptr);

// image_load, image_decode and image_encode with the images in SDL
// surfaces: decoded into a new 24-bit surface whose bytes are R, G, B in
// memory order (NULL on failure), encoded from any surface's colours as
// get_pixel reads them.
SurfacePtr load_surface(const char* path, std::string* problem = nullptr, ImageMeta* meta = nullptr,
                        ImageOrientation orientation = IMAGE_AS_VIEWED);
SurfacePtr decode_surface(const unsigned char* data, size_t size, std::string* problem = nullptr,
                          ImageMeta* meta = nullptr, ImageOrientation orientation = IMAGE_AS_VIEWED);
bool encode_surface(SDL_Surface* image, ImageFormat format, int quality, std::FILE* out, std::string* problem,
                    const ImageMeta* meta = nullptr);

// image_encode of an image view into the file at `path` (quality 90 where
// the format takes one); false with *problem.
bool save_image(const std::string& path, const ImageView& image, ImageFormat format, std::string* problem);

// fold_map of a result surface (read as get_pixel reads it), as a new
// surface; NULL for a NULL result.
SurfacePtr fold_map_surface(SDL_Surface* result, const uint8_t* flags, const Segment* segments, int n);

// True when the environment says CI=true: there a missing test input (the
// BMP suite) is a failure, not a reason to skip.
bool running_under_ci();

// In a test body: skips the test when `folder` (a test suite beside the
// project, `what`, found through the CMake cache variable `variable`) is
// missing, or fails it under CI=true.
#define SKIP_OR_FAIL_WITHOUT(folder, what, variable)                                                    \
    do {                                                                                                \
        if (!std::filesystem::is_directory(folder)) {                                                   \
            if (running_under_ci())                                                                     \
                FAIL() << "no " what " at " << (folder) << " (" variable "), and CI=true";              \
            GTEST_SKIP() << "no " what " at " << (folder) << " (set " variable ")";                     \
        }                                                                                               \
    } while (0)
#define SKIP_OR_FAIL_WITHOUT_SUITE(folder) SKIP_OR_FAIL_WITHOUT(folder, "BMP suite", "TAVROSK_BMPSUITE_DIR")

// The pixels of the image file at `path` as ImageMagick's convert reads
// them, as R, G, B, A samples of 16 bits (8-bit v as 257 v), rows packed,
// its colour space taken as sRGB whatever the file says (so that no gamma
// is applied); false when convert is missing, refuses the file or gives
// other than w x h pixels.
bool imagemagick_rgba16(const std::string& path, int w, int h, std::vector<uint16_t>* rgba);
bool imagemagick_installed();

// Whole files as bytes; reading a missing file gives "".
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
// Every entry of a folder other than . and .., sorted.
std::vector<std::string> folder_entries(const std::string& folder);

// A fixture with a fresh folder under /tmp, removed with everything in it
// (whatever the test did to its permissions) when the test ends.
class ScratchDirTest : public testing::Test {
protected:
    std::string dir;
    void SetUp() override;
    void TearDown() override;
    std::string at(const std::string& name) const { return dir + "/" + name; }
};

// TAVROSK_SEED=N in the environment, to rerun a reported case; else fallback.
uint32_t test_seed(uint32_t fallback);

// The weight parameters p, a and b.
WarpParams params_of(double p, double a, double b);

// A coordinate for a sampler test along a side of `size` pixels that hits
// every branch: whole numbers, the far edge and the last strip, the first
// strip (where 1 - x rounds), just and far outside, -0, infinite and not a
// number.
double sample_coordinate(std::mt19937& rng, int size);

// A random warp: a source size and depth, a segment table and parameters.
struct WarpCase {
    int w, h, depth;
    std::vector<Segment> table;
    WarpParams params;
};

// The case of one seed. End points come up in the awkward forms often: whole
// numbers, halves, points outside the image, horizontal, vertical and
// zero-length segments, now and then an unpaired last segment. Sizes are
// 1..19 x 1..9 unless w and h are given.
WarpCase make_warp_case(uint32_t seed, int w = 0, int h = 0);

// "seed N (TAVROSK_SEED=N): WxH depth D, K segments, p P a A b B", with a newline.
std::string describe_warp_case(uint32_t seed, const WarpCase& c);

// The fast kernel's methods of quotients, each forced in turn by the tests
// that compare it with the literal kernel (warp_force_quotients).
const WarpQuotients quotient_methods[] = {WARP_QUOTIENTS_DIVIDER, WARP_QUOTIENTS_FMA, WARP_QUOTIENTS_NEWTON};
