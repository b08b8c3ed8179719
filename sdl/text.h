// Text on SDL surfaces in the project's 5 x 7 bitmap font (raster/font.h):
// each glyph cell is GLYPH_W + 1 columns wide (one blank column between
// letters) and GLYPH_H rows high, times `scale`. Lower-case letters are drawn as capitals, and a
// character the font lacks leaves its cell blank. Pixels outside the
// surface's clip rectangle are skipped; the caller locks a surface that
// needs it.
#pragma once
#include <SDL.h>

#include "raster/font.h"

// Width in pixels of text drawn at `scale`, without a trailing blank column.
int text_width(const char* text, int scale);

// Draws text with its top-left corner at (x, y) in colour (r, g, b).
void draw_text(SDL_Surface* surface, const char* text, int x, int y, int scale, Uint8 r, Uint8 g, Uint8 b);
