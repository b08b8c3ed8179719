#include "tests/support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "raster/pixel.h"

SDL_Surface* make_surface(int w, int h, int depth)
{
    SDL_Surface* s = nullptr;
    switch (depth) {
    case 8:
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 8, 0, 0, 0, 0);
        if (s) {
            SDL_Color colors[256];
            for (int i = 0; i < 256; ++i) {
                colors[i].r = static_cast<Uint8>(i);
                colors[i].g = static_cast<Uint8>(255 - i);
                colors[i].b = static_cast<Uint8>((i * 37) & 0xFF);
                colors[i].unused = 0;
            }
            SDL_SetColors(s, colors, 0, 256);
        }
        break;
    case 15:
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 15, 0x7C00, 0x03E0, 0x001F, 0);
        break;
    case 16:
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 16, 0xF800, 0x07E0, 0x001F, 0);
        break;
    case 24:
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
        break;
    case 32:
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
        break;
    }
    return s;
}

void fill_random(SDL_Surface* surface, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (int y = 0; y < surface->h; ++y)
        for (int x = 0; x < surface->w; ++x) {
            uint32_t v = rng();
            put_pixel(surface, x, y, v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
        }
}

std::string compare_rgb(SDL_Surface* a, SDL_Surface* b, int max_reports)
{
    char line[160];
    if (a->w != b->w || a->h != b->h) {
        std::snprintf(line, sizeof line, "size %dx%d vs %dx%d", a->w, a->h, b->w, b->h);
        return line;
    }
    std::string report;
    long differing = 0;
    for (int y = 0; y < a->h; ++y)
        for (int x = 0; x < a->w; ++x) {
            Uint8 ar, ag, ab, br, bg, bb;
            get_pixel(a, x, y, &ar, &ag, &ab);
            get_pixel(b, x, y, &br, &bg, &bb);
            if (ar == br && ag == bg && ab == bb)
                continue;
            if (differing++ < max_reports) {
                std::snprintf(line, sizeof line, "(%d, %d): %d %d %d vs %d %d %d\n", x, y, ar, ag, ab, br,
                              bg, bb);
                report += line;
            }
        }
    if (differing > 0)
        report += std::to_string(differing) + " pixels differ\n";
    return report;
}

bool running_under_ci()
{
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}
