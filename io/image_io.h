// Image files for the batch tools: BMP, PNG, JPEG, TIFF, WebP, HEIF and AVIF
// decoded from memory or a file into an image buffer (raster/image.h); all
// of them but HEIF and AVIF where Debian's libheif has no encoder, and binary
// PPM, encoded from an image view of any kind, converted to what the format
// holds (image_kind_lost names what that drops). Images are 1 to 16383 pixels wide and high and
// at most 2^27 pixels in all: larger ones are refused before any allocation.
// Beside the pixels a file may describe them (ICC profile, PNG sRGB, gAMA
// and cHRM, JPEG Exif): the decoders return that in an ImageMeta and the
// encoders write it back as far as the format can carry it. Pixels are
// never converted by it; only a JPEG's Exif orientation turns them, by
// default, into the image as it is meant to be viewed.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "raster/image.h"
#include "raster/kinds.h"

enum ImageFormat { IMAGE_BMP, IMAGE_PNG, IMAGE_JPEG, IMAGE_PPM, IMAGE_TIFF, IMAGE_WEBP, IMAGE_HEIF, IMAGE_AVIF };

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
// BMP ("BM"), PNG (8-byte signature), JPEG (FF D8 FF), and TIFF, WebP, HEIF and AVIF as
// library_format_of (image_codecs.h) tells them. Fills *image (rows packed) and returns
// true, or returns false with *image empty and *problem set to a short lower-case message
// without the file name, e.g. "not a BMP, PNG, JPEG, TIFF, WebP, HEIF or AVIF image",
// "truncated PNG data", "CMYK JPEG images are not supported". Every format gives the kind
// the file holds. PNG: grey, grey + alpha, RGB or RGBA of 8 or 16 bits, grey of 1 to 4
// bits as 8, a palette as RGB, a tRNS chunk as alpha (a palette's only where it makes an
// entry transparent). JPEG: grey or RGB, 8 bits. BMP: 8-bit RGB, or RGBA for 16 or 32
// bits a pixel with an alpha mask in a V3, V4 or V5 header. TIFF, WebP, HEIF and AVIF:
// see their decoders.
// A BMP gives the colours of what SDL_LoadBMP gives (the file's palette for 1
// to 8 bits a pixel, the file's own masks otherwise), as get_pixel reads
// them; an RLE4 or RLE8 BMP, which SDL cannot read, the colours of the same
// image stored uncompressed. With `meta`, the file's description
// goes there; a colour chunk or ICC profile that cannot be read refuses the
// file rather than being dropped. A JPEG or WebP whose Exif orientation,
// or a TIFF whose Orientation tag, is not 1 comes out turned as viewed (its
// sides swapped for 5 to 8), and a HEIF or AVIF with its container's turn
// and mirror applied, unless IMAGE_AS_STORED is given.
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

// How image_encode writes beyond the format and the quality: PNG's zlib
// level (0 stores, 1 is fastest, 9 smallest; 6, libpng's and zlib's
// default, unless asked), and a count increased by one for each row
// written (as each is compressed by PNG, JPEG and PPM; all at once at the
// end by the other formats), which a progress line may read from another
// thread.
enum { PNG_COMPRESSION_DEFAULT = 6 };
struct ImageEncodeOptions {
    int png_compression = PNG_COMPRESSION_DEFAULT;
    std::atomic<long long>* rows_done = nullptr;
};

// Writes the whole image (any valid view) to out, converted first to the kind
// image_format_kind gives: BMP (exactly what SDL_SaveBMP_RW writes of it),
// PNG (every kind of 8 or 16 bits), JPEG (grey, or RGB at quality 1..100,
// 4:2:0), PPM (binary P6,
// maxval 255), TIFF (every kind, Deflate), WebP (lossy at quality 1..100,
// lossless at 0), HEIF and AVIF (quality 1..100; refused with a message
// where libheif has no encoder). The stream is flushed. False with *problem
// on a write or encoder error (the caller removes a partial file). With
// `meta`: PNG gets its iCCP, sRGB, gAMA and cHRM chunks, JPEG its ICC
// profile (APP2) and Exif (APP1), TIFF its ICC profile, WebP, HEIF and AVIF
// both; BMP and PPM get none of it (see image_meta_lost).
bool image_encode(const ImageView& image, ImageFormat format, int quality, std::FILE* out, std::string* problem,
                  const ImageMeta* meta = nullptr, const ImageEncodeOptions& options = {});

// Whether files of `format` carry a colour description at all (BMP and PPM do not).
bool image_format_carries_colour(ImageFormat format);

// The colour description in `meta` that a file of `format` cannot carry, in
// words ("ICC profile", "gAMA and cHRM chunks"), or "" when nothing is lost.
// An sRGB chunk alone loses nothing: a file without a description is taken
// as sRGB. Exif is not counted.
std::string image_meta_lost(const ImageMeta& meta, ImageFormat format);

// The kind a file of `format` holds of an image of kind `kind`: grey
// widened to RGB where the format has no grey (all but PNG, JPEG and TIFF),
// alpha dropped where it has no alpha (BMP, PPM, JPEG), 16-bit samples
// narrowed to 8 and float samples to 16 or 8 bits where it has neither
// (floats to 16 bits in PNG); `kind` itself for TIFF.
ImageKind image_format_kind(ImageKind kind, ImageFormat format);

// What image_format_kind drops, in words: "alpha", "16-bit samples",
// "float samples"; empty when nothing is.
std::vector<std::string> image_kind_lost(ImageKind kind, ImageFormat format);

// Everything a result of kind `kind` with `meta` (may be NULL) loses in a
// file of `format`, the kind's losses first, as one phrase ("alpha and ICC
// profile"), with the pronoun that stands for it ("it", or "them" for more
// than one thing); "" when nothing is lost.
std::string image_lost(ImageKind kind, const ImageMeta* meta, ImageFormat format, const char** pronoun);

// True when a and b describe colour alike as readers take them: both as
// sRGB (no description, an sRGB chunk, or gAMA 0.45455 and cHRM of the sRGB
// primaries, either or both), or the same profile, or the same chunks.
// An sRGB-like gAMA and cHRM are not counted as lost either.
bool image_same_colour(const ImageMeta& a, const ImageMeta& b);

// The description in a few words, for a warning: "none", "sRGB chunk",
// "gAMA 0.5 and cHRM", "ICC profile 'Display P3' of 536 bytes" (the profile's
// own name when it has one).
std::string image_colour_words(const ImageMeta& meta);

// By the name's extension, case-insensitive: .bmp, .png, .jpg/.jpeg, .ppm,
// .tif/.tiff, .webp, .heic/.heif, .avif. False if none matches.
bool image_format_from_name(const std::string& path, ImageFormat* format);
// By a --format word, case-insensitive: the extensions' words without the
// dot. False if none matches.
bool image_format_from_word(const std::string& word, ImageFormat* format);
// False for HEIF or AVIF where Debian's libheif has no encoder for it.
bool image_format_writable(ImageFormat format);
// "BMP", "PNG", "JPEG", "PPM", "TIFF", "WebP", "HEIF", "AVIF".
const char* image_format_name(ImageFormat format);
