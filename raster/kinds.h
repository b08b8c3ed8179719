// Every kind of pixel the engine samples and blends, one pixel at a time: the
// reference form of the rules in docs/numerics.md ("Sample kinds", and
// "Kinds" under the morph's frames). Faster paths give these bits.
//
// Conventions:
// - A kind is a view's channel count (1 grey, 2 grey + alpha, 3 RGB, 4 RGBA)
//   and sample type; a pixel is that many samples in the host's byte order,
//   read and written through memcpy, so pixels need no alignment.
// - Integer samples run 0 .. M (255 or 65535); float samples are kept as they
//   are, never clamped.
// - Colours given by callers are straight-alpha doubles, nominally 0 .. 1.
// - A pixel whose alpha is 0 is 0 in every channel in every result here
//   (the inputs may hold any colour under such a pixel).
#pragma once
#include <cstdint>

#include "raster/image.h"

struct ImageKind {
    int channels = 3;
    SampleType type = SAMPLE_U8;
};

inline ImageKind image_kind(const ImageView& view)
{
    return {view.channels, view.type};
}

inline bool kind_equal(ImageKind a, ImageKind b)
{
    return a.channels == b.channels && a.type == b.type;
}

// Sample c of a pixel of that type, as a double; and a double stored as
// one (truncated for integers, which must hold it; rounded to nearest for
// floats).
double pixel_sample(const unsigned char* pixel, SampleType type, int c);
void set_pixel_sample(unsigned char* pixel, SampleType type, int c, double v);

// The kind a morph of a and b works in: colour if either has colour, alpha
// if either has alpha, floats if either has them, else 16 bits if either
// has them.
ImageKind kind_wider(ImageKind a, ImageKind b);

// The full value of a sample type: opaque alpha, white (255, 65535, 1.0).
double sample_full_value(SampleType type);

// The largest pixel, in bytes, of any kind.
enum { KIND_MAX_PIXEL_BYTES = 16 };

// The colour of the result's pixels whose source point lies outside the
// source. The default, (0, 0, 0, 0), is transparent where the result has
// alpha and black where it has none; (0, 0, 0, 1) is opaque black on every
// kind.
struct OutsideColour {
    double r = 0, g = 0, b = 0, a = 0;
};

// The outside colour as one pixel of `kind`: grey kinds take its sRGB luma,
// kinds without alpha drop the alpha, integers round to nearest after
// clamping to 0 .. 1.
void outside_pixel(const OutsideColour& colour, ImageKind kind, unsigned char* pixel);

// The bilinear sample of src at (x, y), one pixel of src's kind into
// `pixel`; a point outside [0, w] x [0, h], or not a number, gives a copy of
// `outside` (a pixel of src's kind). src must satisfy image_view_valid.
void image_sample(const ImageView& src, double x, double y, const unsigned char* outside, unsigned char* pixel);

// The morph's blend at t (0 .. 1) of count pixels f and s of `kind` into
// `out`: premultiplied where the kind has alpha and the two alphas differ.
// mixed is null, or for 8-bit kinds kind_blend_table's entries for t, which
// give the same values faster.
void kind_blend_row(ImageKind kind, double t, const uint8_t* mixed, const unsigned char* f, const unsigned char* s,
                    unsigned char* out, int count);

// mixed[f << 8 | s], 256 x 256 entries: the blend at t of 8-bit samples f
// and s where no alpha weighs them.
void kind_blend_table(double t, uint8_t* mixed);

// The view as an image of kind `to`: grey copied into R, G and B where `to`
// has colour (it must not have fewer colour channels than `from`); alpha
// kept, added opaque, or dropped; samples scaled from one type's full value
// to the other's (8-bit v as 257 v in 16 bits), integers to the nearest
// level, floats clamped to 0 .. 1 (NaN as 0) on their way to integers.
// False when memory runs out or `to` has fewer colour channels.
bool image_convert(const ImageView& from, ImageKind to, ImageBuffer* out);

// Row y of `view` as w pixels of 8-bit R, G, B, for a screen or a picture
// drawn from it: each sample reduced to 8 bits as image_convert reduces it,
// grey copied into R, G and B, and where the kind has alpha a, that colour c
// laid over `backdrop` b (w pixels of 8-bit R, G, B; NULL: black) as
// (c a + b (255 - a) + 127) / 255 in each channel. An 8-bit R, G, B row is
// copied as it is.
void kind_row_rgb8(const ImageView& view, int y, const uint8_t* backdrop, uint8_t* out);
