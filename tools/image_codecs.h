// The decoders and encoders behind image_io.h, one file a format, and what
// they share: the size rule, the 24-bit RGB surface they decode into and the
// row reader they encode from. Decoders return a new surface or NULL with
// *problem set; the caller applies the final surface_usable() check.
#pragma once
#include <SDL.h>

#include <cstddef>
#include <cstdio>
#include <string>

// 1..16383 a side: SDL 1.2 keeps the pitch in 16 bits, and 16383 * 4 bytes is
// the widest row that fits. At most 2^27 pixels, so that a few header bytes
// cannot make the process allocate gigabytes.
enum { IMAGE_MAX_SIDE = 16383, IMAGE_MAX_PIXELS = 1 << 27 };

bool image_size_allowed(long long w, long long h);
// "image too large (W x H)" or "image has no pixels (W x H)".
std::string image_size_problem(long long w, long long h);

// A 24-bit surface whose pixel bytes are R, G, B in memory order, so that a
// decoder's RGB rows go straight into it; NULL when SDL cannot allocate it.
SDL_Surface* create_rgb24_surface(int w, int h);
std::string no_memory_problem(int w, int h);

// Row y of the image as R, G, B bytes, 3 * w of them, as get_pixel reads
// them (24- and 32-bit pixels with 8-bit channels without a call per pixel).
// The caller locks the surface.
void read_rgb_row(SDL_Surface* image, int y, unsigned char* rgb);

// For 3- and 4-byte pixels whose R, G and B are 8-bit channels on byte
// boundaries (no palette): the byte offset of each within a pixel in memory.
// False for every other format.
bool rgb_byte_offsets(const SDL_PixelFormat* format, int offsets[3]);

SDL_Surface* decode_bmp(const unsigned char* data, size_t size, std::string* problem);
SDL_Surface* decode_png(const unsigned char* data, size_t size, std::string* problem);
SDL_Surface* decode_jpeg(const unsigned char* data, size_t size, std::string* problem);

// The image is locked by the caller; write errors are the caller's to find
// on the stream.
bool encode_png(SDL_Surface* image, std::FILE* out, std::string* problem);
bool encode_jpeg(SDL_Surface* image, int quality, std::FILE* out, std::string* problem);
