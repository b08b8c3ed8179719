// The window program's warp: the loaded image (an SDL surface of any depth)
// warped by the entered pairs into a new 32-bit surface for the screen.
#pragma once
#include <SDL.h>

#include "warp/segment.h"
#include "warp/warp.h"

// Creates a new 32-bit software surface of src's size in *dst (the old handle
// is overwritten, not freed) and fills it with warp_run's result on src's
// colours as get_pixel reads them, with the default options. On a failed
// creation it prints "error" and leaves *dst NULL; a NULL src gives a NULL
// *dst.
void warp_image(SDL_Surface* src, SDL_Surface** dst, const Segment* segments, int n, const WarpParams& params);
