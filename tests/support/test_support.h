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
#include <string>
#include <vector>

#include "raster/pixel.h"  // SurfacePtr: an assertion that ends a test early frees its surfaces too
#include "warp/segment.h"
#include "warp/warp.h"


// depth 8 (a 256-entry palette of distinct colours), 15, 16, 24 or 32.
SDL_Surface* make_surface(int w, int h, int depth);
// Fills every pixel from a seeded generator.
void fill_random(SDL_Surface* surface, uint32_t seed);
// Empty when a and b have the same size and the same colour triple at every
// pixel; otherwise a description of the first few differences.
std::string compare_rgb(SDL_Surface* a, SDL_Surface* b, int max_reports = 8);

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
