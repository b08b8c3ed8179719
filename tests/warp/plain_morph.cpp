#include "tests/warp/plain_morph.h"

#include "sdl/pixel.h"

namespace {

SurfacePtr warp_literal(SDL_Surface* src, const std::vector<Segment>& table, const WarpParams& params)
{
    SurfacePtr out(SDL_CreateRGBSurface(0, src->w, src->h, 32, 0, 0, 0, 0));
    WarpOptions options;
    options.kernel = WARP_KERNEL_LITERAL;
    warp_surfaces(src, out.get(), table.data(), static_cast<int>(table.size()), params, options);
    return out;
}

}  // namespace

// Every end point moved the fraction t, FIRST and SECOND warped onto the
// frame's lines (each replaced by the input itself at its own end), and the
// blend in doubles.
SurfacePtr plain_morph_frame(SDL_Surface* first, SDL_Surface* second, const std::vector<Segment>& pairs,
                             const WarpParams& params, int i, int n)
{
    const double t = static_cast<double>(i) / (n - 1);
    std::vector<Segment> from_first, from_second;
    for (size_t k = 0; k + 1 < pairs.size(); k += 2) {
        const Segment& a = pairs[k];
        const Segment& b = pairs[k + 1];
        const Segment between = {a.x1 + t * (b.x1 - a.x1), a.y1 + t * (b.y1 - a.y1), a.x2 + t * (b.x2 - a.x2),
                                 a.y2 + t * (b.y2 - a.y2)};
        from_first.insert(from_first.end(), {a, between});
        from_second.insert(from_second.end(), {b, between});
    }
    SurfacePtr warped_first, warped_second;
    SDL_Surface* f_image = first;
    SDL_Surface* s_image = second;
    if (i != 0)
        f_image = (warped_first = warp_literal(first, from_first, params)).get();
    if (i != n - 1)
        s_image = (warped_second = warp_literal(second, from_second, params)).get();
    SurfacePtr out(SDL_CreateRGBSurface(0, first->w, first->h, 32, 0, 0, 0, 0));
    for (int y = 0; y < first->h; ++y)
        for (int x = 0; x < first->w; ++x) {
            Uint8 f[3], s[3], mixed[3];
            get_pixel(f_image, x, y, &f[0], &f[1], &f[2]);
            get_pixel(s_image, x, y, &s[0], &s[1], &s[2]);
            for (int ch = 0; ch < 3; ++ch) {
                const double weighted = (1 - t) * f[ch] + t * s[ch];
                mixed[ch] = static_cast<Uint8>(weighted + 0.5);
            }
            put_pixel(out.get(), x, y, mixed[0], mixed[1], mixed[2]);
        }
    return out;
}
