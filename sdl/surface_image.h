// Between SDL surfaces and the plain image views of raster/image.h, for the
// programs that show images in a window and for io's BMP decoder: a surface
// of any depth read into 8-bit R, G, B pixels as get_pixel reads it, and
// such pixels written into a surface as put_pixel writes them. Surfaces are
// locked here when they must be.
#pragma once
#include <SDL.h>

#include "raster/image.h"

// *image becomes a new 8-bit R, G, B copy of surface; false when it cannot
// be allocated.
bool surface_to_rgb8(SDL_Surface* surface, ImageBuffer* image);

// Writes the pixels of image (8-bit R, G, B, the surface's size) into
// surface.
void rgb8_to_surface(const ImageView& image, SDL_Surface* surface);

// A new 24-bit surface (create_rgb24_surface) holding a copy of image (8-bit
// R, G, B); NULL when it cannot be allocated.
SDL_Surface* surface_from_rgb8(const ImageView& image);
