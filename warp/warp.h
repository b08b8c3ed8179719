// The line-pair field warp (reverse mapping, bilinear sampling). warp_image
// creates a new 32-bit software surface of src's size in *dst (the old handle
// is overwritten, not freed) and fills every pixel before it returns. On a
// failed creation it prints "error" and leaves *dst NULL; an empty src gives
// a NULL *dst. src must not need locking. Pairs with a first or second
// segment of computed length <= 0 are left out (docs/numerics.md).
#pragma once
#include <SDL.h>

#include "warp/segment.h"

void warp_image(SDL_Surface* src, SDL_Surface** dst, const Segment* segments, int n, double p, double b,
                double a);

// Which kernel warp_image runs, and on how many threads (0: one per hardware
// thread). The default is the fast kernel on every hardware thread; the
// literal kernel always runs on one thread. Set before warping, from the
// main thread only.
enum WarpKernel { WARP_KERNEL_FAST, WARP_KERNEL_LITERAL };
void warp_select(WarpKernel kernel, int threads);

// The reference kernel: the arithmetic in its literal order, one pixel at a
// time. Other kernels must match it bit for bit. Writes every pixel of dst,
// which has src's size.
void warp_literal(SDL_Surface* src, SDL_Surface* dst, const Segment* segments, int n, double p, double b,
                  double a);
