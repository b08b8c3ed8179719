// The decoders and encoders behind image_io.h, one file a format, and the
// size rule they share (image_codecs.cpp). They decode into the 24-bit RGB
// surface of raster/pixel.h and encode from its row reader; none calls back
// into image_io. Decoders return a new surface or NULL with *problem set; the
// caller applies the final surface_usable() check.
#pragma once
#include <SDL.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "io/image_io.h"

// 1..16383 a side: SDL 1.2 keeps the pitch in 16 bits, and 16383 * 4 bytes is
// the widest row that fits. At most 2^27 pixels, so that a few header bytes
// cannot make the process allocate gigabytes.
enum { IMAGE_MAX_SIDE = 16383, IMAGE_MAX_PIXELS = 1 << 27 };

bool image_size_allowed(long long w, long long h);
// "image too large (W x H)" or "image has no pixels (W x H)".
std::string image_size_problem(long long w, long long h);

// "not enough memory for a W x H image".
std::string no_memory_problem(int w, int h);

// The largest ICC profile kept: what 255 JPEG APP2 markers hold, so that
// every profile read from either format fits the other.
enum { IMAGE_MAX_ICC = 255 * 65519 };

// True when meta holds an ICC profile for RGB data (colour space "RGB " in
// its header): the only kind that can describe the 24-bit results.
bool image_icc_fits(const ImageMeta& meta);

SDL_Surface* decode_bmp(const unsigned char* data, size_t size, std::string* problem);
// PNG and JPEG fill *meta (never NULL; empty on entry) when they succeed.
SDL_Surface* decode_png(const unsigned char* data, size_t size, std::string* problem, ImageMeta* meta);
SDL_Surface* decode_jpeg(const unsigned char* data, size_t size, std::string* problem, ImageMeta* meta);

// The image is locked by the caller; write errors are the caller's to find
// on the stream. `meta` may be NULL.
bool encode_png(SDL_Surface* image, std::FILE* out, std::string* problem, const ImageMeta* meta);
bool encode_jpeg(SDL_Surface* image, int quality, std::FILE* out, std::string* problem, const ImageMeta* meta);
