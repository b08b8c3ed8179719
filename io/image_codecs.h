// The decoders and encoders behind image_io.h, one file a format, and the
// size rule they share (image_codecs.cpp). They decode into image buffers of
// the kind the file holds and encode from views of a kind their format
// holds (raster/image.h; image_encode converts to it first); none calls
// back into image_io.
// Decoders fill *image and return true, or return false with *problem set
// and *image empty.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <string>

#include "io/image_io.h"
#include "raster/image.h"
#include "raster/kinds.h"

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

// True when meta holds an ICC profile for the data of an image of
// `channels` channels: colour space "GRAY" in its header for 1 or 2, "RGB "
// for 3 or 4 (the 24-bit results).
bool image_icc_fits(const ImageMeta& meta, int channels = 3);

// BMP gives 8-bit RGB, or RGBA where the header has an alpha mask; PNG and
// JPEG their kinds as image_decode says.
bool decode_bmp(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem);
// PNG and JPEG fill *meta (never NULL; empty on entry) when they succeed.
bool decode_png(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem, ImageMeta* meta);
bool decode_jpeg(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem,
                 ImageMeta* meta);

// PNG from 1 to 4 channels of 8 or 16 bits, JPEG from 8-bit grey or RGB.
// Write errors are the caller's to find on the stream. `meta` may be NULL.
// level: zlib's 0 to 9; rows_done, when set, counts the rows as they are compressed.
bool encode_png(const ImageView& image, std::FILE* out, std::string* problem, const ImageMeta* meta, int level,
                std::atomic<long long>* rows_done);
bool encode_jpeg(const ImageView& image, int quality, std::FILE* out, std::string* problem, const ImageMeta* meta,
                 std::atomic<long long>* rows_done);

// The formats of Debian's libtiff, libwebp and libheif as their first bytes
// tell them: TIFF ("II*\0", "MM\0*", or BigTIFF's "II+\0", "MM\0+"), WebP
// ("RIFF", four bytes, "WEBP"), HEIF or AVIF (an ISO media file whose ftyp
// box names a brand of either among its major and compatible brands).
enum LibraryFormat { LIBRARY_NONE, LIBRARY_TIFF, LIBRARY_WEBP, LIBRARY_HEIF };
LibraryFormat library_format_of(const unsigned char* data, size_t size);

// The formats of Debian's libtiff, libwebp and libheif decode into *image
// (an image of any kind: 1 to 4 channels, 8 or 16 bits or float, as the file
// holds it) and fill *meta; false with *problem set, *image and *meta empty.
// Each checks the size against image_size_allowed before it allocates. The
// orientation the file gives is left in meta->orientation for the caller to
// apply, except HEIF's, which libheif applies (see decode_heif).
bool decode_tiff(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem, ImageMeta* meta);
bool decode_webp(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem, ImageMeta* meta);

// HEIF and AVIF are decoded in a child process: libheif itself crashes on
// some damaged files, and a crash there must be a refusal here. The child
// sends back the pixels, the ICC profile and the Exif block through a pipe;
// it is killed once it has run `seconds`, and what it sends is refused when
// it is not an image the size rule allows. The container's rotation and
// mirroring are applied unless `as_stored`; its Exif orientation, which
// describes the same turn for viewers that know no HEIF, is not applied
// again (meta->orientation is 1).
enum { HEIF_DECODE_SECONDS = 60 };
bool decode_heif(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem, ImageMeta* meta,
                 bool as_stored = false, int seconds = HEIF_DECODE_SECONDS);

// Encoders from a valid view of any kind; write errors are the caller's to
// find on the stream. TIFF keeps every kind (Deflate). WebP holds 8-bit RGB
// or RGBA: grey is widened, 16-bit and float samples narrowed to 8 bits;
// quality 1..100 is lossy, 0 lossless. HEIF (HEVC) and AVIF (AV1) hold 8-bit
// RGB or RGBA likewise, lossy at quality 1..100; heif_can_write() says
// whether Debian's libheif was built with the encoder.
bool encode_tiff(const ImageView& image, std::FILE* out, std::string* problem, const ImageMeta* meta);
bool encode_webp(const ImageView& image, int quality, std::FILE* out, std::string* problem, const ImageMeta* meta);
bool heif_can_write(bool avif);
bool encode_heif(const ImageView& image, bool avif, int quality, std::FILE* out, std::string* problem,
                 const ImageMeta* meta);

// The view as 8-bit RGB, or RGBA when it has alpha (image_convert,
// raster/kinds.h).
bool image_to_rgb8(const ImageView& from, ImageBuffer* to);

// An image with alpha whose colour was stored multiplied by it, in place
// with straight alpha: colour divided by alpha to the nearest level (floats
// divided), 0 where alpha is 0.
void image_unpremultiply(const ImageView& image);
