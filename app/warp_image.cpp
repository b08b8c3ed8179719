#include "app/warp_image.h"

#include <cstdio>

#include "sdl/pixel.h"
#include "sdl/surface_image.h"

void warp_image(SDL_Surface* src, SDL_Surface** dst, const Segment* segments, int n, const WarpParams& params)
{
    *dst = nullptr;
    if (!src)
        return;
    // The result surface first: when it cannot be made, src's pixels are
    // never read.
    SurfacePtr out(SDL_CreateRGBSurface(0, src->w, src->h, 32, 0, 0, 0, 0));
    ImageBuffer source, result;
    if (!out || !surface_to_rgb8(src, &source)
        || !image_buffer_make(&result, src->w, src->h, 3, SAMPLE_U8)) {
        std::printf("error");
        std::fflush(stdout);
        return;
    }
    warp_run(source.view, result.view, segments, n, params, WarpOptions());
    rgb8_to_surface(result.view, out.get());
    *dst = out.release();
}
