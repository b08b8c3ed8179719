#include "warp/warp.h"

#include <cstdio>
#include <vector>

#include "warp/kernels.h"

WarpStatus warp_run(SDL_Surface* src, SDL_Surface* dst, const Segment* segments, int n, const WarpParams& params,
                    const WarpOptions& options, WarpReport* report)
{
    if (!src)
        return WARP_NO_SOURCE;
    if (!dst)
        return WARP_NO_RESULT;
    if (dst->w != src->w || dst->h != src->h)
        return WARP_SIZE_MISMATCH;
    if (!segments || n < 0)
        n = 0;
    // Source points are written only where both rows were given.
    WarpOptions checked = options;
    if (!checked.points_x || !checked.points_y)
        checked.points_x = checked.points_y = nullptr;
    WarpReport ignored;
    WarpReport* out = report ? report : &ignored;
    *out = WarpReport();
    if (checked.kernel == WARP_KERNEL_FAST) {
        warp_fast(src, dst, segments, n, params, checked, out);
        return WARP_OK;
    }
    // The literal kernel goes column by column: its rows of points are
    // complete only at the end, so a row sink gets them from w * h points
    // kept here when the caller keeps none.
    std::vector<double> own_x, own_y;
    if (checked.rows && !checked.points_x) {
        const size_t pixels = static_cast<size_t>(src->w) * src->h;
        own_x.resize(pixels);
        own_y.resize(pixels);
        checked.points_x = own_x.data();
        checked.points_y = own_y.data();
    }
    warp_literal(src, dst, segments, n, params, checked, out);
    if (checked.rows)
        for (int y = 0; y < src->h; ++y) {
            const std::ptrdiff_t start = static_cast<std::ptrdiff_t>(y) * src->w;
            checked.rows->row(checked.rows->context, y, checked.points_x + start, checked.points_y + start);
        }
    return WARP_OK;
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
    WarpParams params;
    params.p = p;
    params.a = a;
    params.b = b;
    warp_run(src, out, segments, n, params, WarpOptions());
    *dst = out;
}
