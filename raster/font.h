// A built-in 5 x 7 bitmap font, so that no font package is needed: the
// capitals, digits and the punctuation of the editor's status line and key
// help (raster/text.h draws lower case as capitals). Row 0 is the top; bit 4
// of a row is the leftmost column. The generated artwork uses some of these
// glyphs: changing one changes data/*.bmp.
#pragma once

enum { GLYPH_W = 5, GLYPH_H = 7 };

// The glyph's seven rows, or NULL for a character the font lacks.
const unsigned char* glyph_rows(char c);
