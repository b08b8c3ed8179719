#include <cstdio>

#include "warp/warp.h"
#include "warp/warp_fast.h"

static WarpKernel selected_kernel = WARP_KERNEL_FAST;
static int selected_threads = 0;

void warp_select(WarpKernel kernel, int threads)
{
    selected_kernel = kernel;
    selected_threads = threads;
}

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
    if (selected_kernel == WARP_KERNEL_LITERAL)
        warp_literal(src, out, segments, n, p, b, a);
    else
        warp_fast(src, out, segments, n, p, b, a, selected_threads);
    *dst = out;
}
