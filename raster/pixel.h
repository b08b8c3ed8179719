// Direct pixel access on SDL 1.2 surfaces of 1 to 4 bytes per pixel.
// Coordinates: x grows right, y grows down from the top-left pixel (0, 0);
// row y starts y * pitch bytes (pitch in bytes) after `pixels`. Callers keep
// 0 <= x < w, 0 <= y < h and lock a surface that needs it (lock_if_needed)
// before any get_pixel/put_pixel, and unlock it before blitting or flipping.
#pragma once
#include <SDL.h>

// SDL_MUSTLOCK: an offset or a hardware, asynchronous-blit or RLE surface.
bool must_lock(const SDL_Surface* surface);
void lock_if_needed(SDL_Surface* surface);
void unlock_if_needed(SDL_Surface* surface);

// Colour triples go through the surface's own format (SDL_GetRGB/SDL_MapRGB),
// so 8-bit surfaces read and write through their palette.
void get_pixel(SDL_Surface* surface, int x, int y, Uint8* r, Uint8* g, Uint8* b);
void put_pixel(SDL_Surface* surface, int x, int y, Uint8 r, Uint8 g, Uint8 b);
