// A built-in 5 x 7 bitmap font for the few capitals the generated artwork
// uses, so that no font package is needed. Row 0 is the top; bit 4 of a row
// is the leftmost column.
#pragma once

enum { GLYPH_W = 5, GLYPH_H = 7 };

// The glyph's seven rows, or NULL for a character the font lacks.
const unsigned char* glyph_rows(char c);
