// Bilinear sampling of a surface at a real-valued point. Pixel (i, j) sits at
// the integer point (i, j); points outside [0, w] x [0, h] or not a number
// give black. Both interpolation stages truncate to 8 bits (see
// docs/numerics.md). The surface must not need locking; nothing outside it is
// ever read.
#pragma once
#include <SDL.h>

void sample_bilinear(SDL_Surface* surface, double x, double y, Uint8* r, Uint8* g, Uint8* b);
