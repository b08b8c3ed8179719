// Segment drawing on SDL surfaces, pixel for pixel as raster/draw.h walks a
// segment, within the surface's clip rectangle as SDL's own drawing keeps
// to it. The caller locks the surface when it must be locked. With
// `invert` every pixel becomes its complement and the colour arguments are
// unused.
#pragma once
#include <SDL.h>

void draw_segment(SDL_Surface* surface, int x1, int y1, int x2, int y2, Uint8 r, Uint8 g, Uint8 b,
                  bool invert);
