// Image files for the batch tools: BMP, PNG and JPEG decoded from memory or a
// file into a new SDL surface (the caller frees it with SDL_FreeSurface) that
// passes surface_usable(); BMP, PNG, JPEG and binary PPM encoded from any
// surface get_pixel can read. Images are 1 to 16383 pixels wide and high and
// at most 2^27 pixels in all: larger ones are refused before any allocation.
#pragma once
#include <SDL.h>

#include <cstddef>
#include <cstdio>
#include <string>

enum ImageFormat { IMAGE_BMP, IMAGE_PNG, IMAGE_JPEG, IMAGE_PPM };

// Decodes an image held in memory. The format is told by the first bytes, never by a name:
// BMP ("BM"), PNG (8-byte signature), JPEG (FF D8 FF). Returns a new surface (caller frees it)
// that passes surface_usable(), or NULL with *problem set to a short lower-case message
// without the file name, e.g. "not a BMP, PNG or JPEG image", "truncated PNG data",
// "CMYK JPEG images are not supported", "not a BMP image that can be loaded (...)".
// A BMP gives what SDL_LoadBMP gives (8-bit with the file's palette for 1 to 8
// bits a pixel, the file's own masks otherwise); an RLE4 or RLE8 BMP, which
// SDL cannot read, an 8-bit surface as SDL gives for the same image stored
// uncompressed. PNG and JPEG give 24-bit surfaces whose bytes are R, G, B in
// memory order; PNG alpha is dropped.
SDL_Surface* image_decode(const unsigned char* data, size_t size, std::string* problem);

// Reads the whole file at path and decodes it; *problem as above, or "cannot open: <strerror>",
// "is a directory", "is a device, not an image file", "file too large for an image (over 1 GiB)"
// (a regular file before it is read, a pipe once it has given that much), "cannot read: <strerror>".
SDL_Surface* image_load(const char* path, std::string* problem);

// The same from a stream open for reading (standard input, for "-"), read to
// its end; the caller closes it. The same messages but "cannot open".
SDL_Surface* image_read(std::FILE* in, std::string* problem);

// Writes the whole image to out: BMP (exactly what SDL_SaveBMP_RW writes), PNG (8-bit RGB, no
// alpha), JPEG (quality 1..100, 4:2:0), PPM (binary P6, maxval 255). Reads the colours get_pixel
// reads, so any depth works. The stream is flushed. False with *problem on a write or
// encoder error (the caller removes a partial file).
bool image_encode(SDL_Surface* image, ImageFormat format, int quality, std::FILE* out, std::string* problem);

// By the name's extension, case-insensitive: .bmp, .png, .jpg/.jpeg, .ppm. False if none matches.
bool image_format_from_name(const std::string& path, ImageFormat* format);
// By a --format word, case-insensitive: bmp, png, jpeg (also jpg), ppm. False if none matches.
bool image_format_from_word(const std::string& word, ImageFormat* format);
const char* image_format_name(ImageFormat format);  // "BMP", "PNG", "JPEG", "PPM"
