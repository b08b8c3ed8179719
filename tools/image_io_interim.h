// Stand-in for tools/image_io.h until it lands on main: BMP reading and
// writing through SDL, and binary PPM writing, under image_io's names.
// To be removed when tavrosk-morph switches to image_io.
#pragma once
#include <SDL.h>

#include <cstdio>
#include <string>

enum ImageFormat { IMAGE_BMP, IMAGE_PNG, IMAGE_JPEG, IMAGE_PPM };

SDL_Surface* image_load(const char* path, std::string* problem);
bool image_encode(SDL_Surface* image, ImageFormat format, int quality, std::FILE* out, std::string* problem);
bool image_format_from_name(const std::string& path, ImageFormat* format);
bool image_format_from_word(const std::string& word, ImageFormat* format);
const char* image_format_name(ImageFormat format);
