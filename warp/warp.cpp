#include <cstdio>

#include "warp/warp.h"

void warp_image(SDL_Surface* src, SDL_Surface** dst, const Segment* segments, int n, double p, double b,
                double a)
{
    *dst = nullptr;
    if (!src)
        return;
    SDL_Surface* out = SDL_CreateRGBSurface(0, src->w, src->h, 32, 0, 0, 0, 0);
    if (!out) {
        std::printf("error");
        std::fflush(stdout);
        return;
    }
    warp_literal(src, out, segments, n, p, b, a);
    *dst = out;
}
