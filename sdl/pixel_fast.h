// Table-driven pixel reads and writes for loops that touch every pixel (the
// conversions between surfaces and image views). The tables are filled from SDL_GetRGB/SDL_MapRGB of the
// surface's own format, so each channel value is the one get_pixel and
// put_pixel give; formats the tables cannot hold go through those calls.
// Coordinates and bounds as in pixel.h. The surface must not need locking,
// and its format and palette must not change while a FastFormat built from it
// is in use; once built, a FastFormat is only read, so threads may share it.
#pragma once
#include <SDL.h>

struct FastFormat {
    SDL_Surface* surface;
    Uint8* pixels;
    int pitch, bytes, w, h;
    // Reads: channel c of a packed value is read_table[c][(packed & mask[c]) >>
    // shift[c]]; a palette is the case mask 0xFF, shift 0.
    bool fast_read;
    Uint32 mask[3];
    int shift[3];
    Uint8 read_table[3][256];
    // Writes: the packed value of (r, g, b) is the OR of write_table[0][r],
    // write_table[1][g] and write_table[2][b]. Not for palettes, whose
    // nearest-colour search has no such form.
    bool fast_write;
    Uint32 write_table[3][256];
};

void fast_format_init(FastFormat* format, SDL_Surface* surface);

// Any depth, tables or not: the same values as get_pixel and put_pixel on
// format->surface.
void fast_get_pixel(const FastFormat* format, int x, int y, Uint8* r, Uint8* g, Uint8* b);
void fast_put_pixel(const FastFormat* format, int x, int y, Uint8 r, Uint8 g, Uint8 b);
