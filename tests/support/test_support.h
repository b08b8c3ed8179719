// Helpers shared by the unit tests: surfaces of a given depth filled with
// known or random pixels, an owner that frees a surface however the test
// ends, and an exact comparison that reports the first differing pixels with
// their coordinates.
#pragma once
#include <SDL.h>

#include <cstdint>
#include <memory>
#include <string>

struct SurfaceFree {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
// Owns one surface; a failed assertion that leaves the test early frees it too.
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceFree>;

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
