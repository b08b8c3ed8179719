// The window program's BMP loader and its load check: SDL's BMP loader
// returns, for some malformed files, surfaces whose header does not describe
// their pixels. Every surface loaded from a file passes surface_usable()
// before anything reads it (the BMP decoder of image_io.h uses the same
// check); the loaders here release a surface that fails and return NULL, as
// for a failed load.
#pragma once
#include <SDL.h>

#include <cstddef>
#include <string>

// True when the surface has pixels, w >= 1, h >= 1, pitch >= w * BytesPerPixel,
// BytesPerPixel 1..4 matching BitsPerPixel (8 with a 1..256-colour palette and
// no index outside it; 15/16; 24; 32), and for 2..4 bytes no palette and red,
// green and blue masks that are each one contiguous run of 4 to 8 bits inside
// the pixel.
bool surface_usable(const SDL_Surface* surface);

// SDL_LoadBMP_RW followed by the check; frees `src` (freesrc = 1) like SDL.
SDL_Surface* load_bmp_rw_checked(SDL_RWops* src);
SDL_Surface* load_bmp_checked(const char* path);

// A BMP held in memory as the surface SDL_LoadBMP gives, checked, with RLE8
// and RLE4 files (which SDL 1.2 refuses) decoded into the 8-bit palette
// surface SDL makes for the same image stored uncompressed: what the
// decoder of image_io.h reads its colours from. NULL with *problem (the
// messages of image_decode) when the file is refused.
SDL_Surface* decode_bmp_surface(const unsigned char* data, size_t size, std::string* problem);
