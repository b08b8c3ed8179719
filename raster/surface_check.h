// The load check: SDL's BMP loader returns, for some malformed files,
// surfaces whose header does not describe their pixels. Every surface loaded
// from a file passes surface_usable() before anything reads it; the loaders
// here release a surface that fails and return NULL, as for a failed load.
#pragma once
#include <SDL.h>

// True when the surface has pixels, w >= 1, h >= 1, pitch >= w * BytesPerPixel,
// BytesPerPixel 1..4 matching BitsPerPixel (8 with a 1..256-colour palette and
// no index outside it; 15/16; 24; 32), and for 2..4 bytes no palette and red,
// green and blue masks that are each one contiguous run of 4 to 8 bits inside
// the pixel.
bool surface_usable(const SDL_Surface* surface);

// SDL_LoadBMP_RW followed by the check; frees `src` (freesrc = 1) like SDL.
SDL_Surface* load_bmp_rw_checked(SDL_RWops* src);
SDL_Surface* load_bmp_checked(const char* path);
