// Image files for the batch tools: BMP, PNG and JPEG decoded from memory or a
// file into an 8-bit R, G, B image buffer (raster/image.h); BMP, PNG, JPEG
// and binary PPM encoded from such an image view. Images are 1 to 16383 pixels wide and high and
// at most 2^27 pixels in all: larger ones are refused before any allocation.
// Beside the pixels a file may describe them (ICC profile, PNG sRGB, gAMA
// and cHRM, JPEG Exif): the decoders return that in an ImageMeta and the
// encoders write it back as far as the format can carry it. Pixels are
// never converted by it; only a JPEG's Exif orientation turns them, by
// default, into the image as it is meant to be viewed.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "raster/image.h"

enum ImageFormat { IMAGE_BMP, IMAGE_PNG, IMAGE_JPEG, IMAGE_PPM };

// What a file says about its pixels. Empty vectors mean "none".
struct ImageMeta {
    std::vector<unsigned char> icc;  // ICC profile: PNG iCCP (decompressed) or JPEG APP2 ICC_PROFILE
    std::string icc_name;            // PNG iCCP's profile name; empty from JPEG
    // PNG chunk bodies as read: sRGB (1 byte), gAMA (4), cHRM (32).
    std::vector<unsigned char> srgb, gama, chrm;
    // JPEG APP1 Exif: the TIFF block as a result carries it (orientation 1,
    // no thumbnail; see exif.h).
    std::vector<unsigned char> exif;
    int orientation = 1;  // the source's Exif orientation, 1..8
};

// Whether a JPEG's Exif orientation is applied (the default) or its pixels
// are kept as stored.
enum ImageOrientation { IMAGE_AS_VIEWED, IMAGE_AS_STORED };

// Decodes an image held in memory. The format is told by the first bytes, never by a name:
// BMP ("BM"), PNG (8-byte signature), JPEG (FF D8 FF). Fills *image (8-bit R, G, B, rows
// packed) and returns true, or returns false with *image empty and *problem set to a short
// lower-case message without the file name, e.g. "not a BMP, PNG or JPEG image", "truncated
// PNG data", "CMYK JPEG images are not supported", "not a BMP image that can be loaded (...)".
// A BMP gives the colours of what SDL_LoadBMP gives (the file's palette for 1
// to 8 bits a pixel, the file's own masks otherwise), as get_pixel reads
// them; an RLE4 or RLE8 BMP, which SDL cannot read, the colours of the same
// image stored uncompressed. PNG alpha is dropped. With `meta`, the file's description
// goes there; a colour chunk or ICC profile that cannot be read refuses the
// file rather than being dropped. A JPEG whose Exif orientation is not 1
// comes out turned as viewed (its sides swapped for 5 to 8) unless
// IMAGE_AS_STORED is given.
bool image_decode(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem,
                  ImageMeta* meta = nullptr, ImageOrientation orientation = IMAGE_AS_VIEWED);

// Reads the whole file at path and decodes it; *problem as above, or "cannot open: <strerror>",
// "is a directory", "is a device, not an image file", "file too large for an image (over 1 GiB)"
// (a regular file before it is read, a pipe once it has given that much), "cannot read: <strerror>".
bool image_load(const char* path, ImageBuffer* image, std::string* problem, ImageMeta* meta = nullptr,
                ImageOrientation orientation = IMAGE_AS_VIEWED);

// The same from a stream open for reading (standard input, for "-"), read to
// its end; the caller closes it. The same messages but "cannot open".
bool image_read(std::FILE* in, ImageBuffer* image, std::string* problem, ImageMeta* meta = nullptr,
                ImageOrientation orientation = IMAGE_AS_VIEWED);

// Writes the whole image (8-bit R, G, B; any other kind is refused as "not an
// image that can be used") to out: BMP (exactly what SDL_SaveBMP_RW writes of
// it), PNG (8-bit RGB, no alpha), JPEG (quality 1..100, 4:2:0), PPM (binary
// P6, maxval 255). The stream is flushed. False with *problem on a write or
// encoder error (the caller removes a partial file). With `meta`: PNG gets
// its iCCP, sRGB, gAMA and cHRM chunks, JPEG its ICC profile (APP2) and Exif
// (APP1); BMP and PPM get none of it (see image_meta_lost).
bool image_encode(const ImageView& image, ImageFormat format, int quality, std::FILE* out, std::string* problem,
                  const ImageMeta* meta = nullptr);

// The colour description in `meta` that a file of `format` cannot carry, in
// words ("ICC profile", "gAMA and cHRM chunks"), or "" when nothing is lost.
// An sRGB chunk alone loses nothing: a file without a description is taken
// as sRGB. Exif is JPEG's alone and not counted.
std::string image_meta_lost(const ImageMeta& meta, ImageFormat format);

// True when a and b describe colour alike (profile, sRGB, gAMA, cHRM).
bool image_same_colour(const ImageMeta& a, const ImageMeta& b);

// By the name's extension, case-insensitive: .bmp, .png, .jpg/.jpeg, .ppm. False if none matches.
bool image_format_from_name(const std::string& path, ImageFormat* format);
// By a --format word, case-insensitive: bmp, png, jpeg (also jpg), ppm. False if none matches.
bool image_format_from_word(const std::string& word, ImageFormat* format);
const char* image_format_name(ImageFormat format);  // "BMP", "PNG", "JPEG", "PPM"
