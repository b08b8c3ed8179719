// Plain images: the one description of pixels that the engine, the files and
// the bindings share, with no window library behind it.
//
// Conventions (they hold for every ImageView):
// - Samples are interleaved: a pixel is `channels` samples in the order grey;
//   grey, alpha; R, G, B; or R, G, B, A (1 to 4 channels).
// - A sample is an 8-bit or 16-bit unsigned integer (0 .. 255 or 0 .. 65535,
//   the largest value full intensity or opacity) or a 32-bit float (0.0 ..
//   1.0 nominally; any finite value is kept), in the host's byte order.
// - Pixel (x, y) lies at pixels + y * stride + x * image_pixel_bytes(view):
//   x right, y down from the top-left pixel; stride is in bytes and may be
//   larger than a row's samples (padding) or negative (bottom-up rows).
// - Alpha, where there is one, is straight (not premultiplied) in memory.
// - A view does not own its pixels; an ImageBuffer does.
#pragma once
#include <cstddef>
#include <memory>

enum SampleType { SAMPLE_U8, SAMPLE_U16, SAMPLE_F32 };

struct ImageView {
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    std::ptrdiff_t stride = 0;  // bytes from row y to row y + 1
    int channels = 3;
    SampleType type = SAMPLE_U8;
};

inline int sample_bytes(SampleType type)
{
    return type == SAMPLE_U8 ? 1 : type == SAMPLE_U16 ? 2 : 4;
}

inline int image_pixel_bytes(const ImageView& view)
{
    return view.channels * sample_bytes(view.type);
}

inline unsigned char* image_row(const ImageView& view, int y)
{
    return view.pixels + static_cast<std::ptrdiff_t>(y) * view.stride;
}

// Whether the channel count says there is an alpha channel (2 or 4).
inline bool image_has_alpha(const ImageView& view)
{
    return view.channels == 2 || view.channels == 4;
}

// True when the view can be read as described: pixels set, 1 <= width and
// height, channels 1 to 4, a known sample type, |stride| at least a row's
// bytes, and width * height * channels within what size_t and int indexing
// hold.
bool image_view_valid(const ImageView& view);

// True when a and b have the same width, height, channels and sample type.
bool image_same_layout(const ImageView& a, const ImageView& b);

// Whether the view holds 8-bit R, G, B pixels: the one kind the warp, the
// morph and the files handle so far.
inline bool image_is_rgb8(const ImageView& view)
{
    return view.channels == 3 && view.type == SAMPLE_U8;
}

// A view of packed rows of `channels` 8-bit samples at pixels.
inline ImageView image_view_u8(unsigned char* pixels, int width, int height, int channels)
{
    ImageView view;
    view.pixels = pixels;
    view.width = width;
    view.height = height;
    view.stride = static_cast<std::ptrdiff_t>(width) * channels;
    view.channels = channels;
    view.type = SAMPLE_U8;
    return view;
}

// An image that owns its pixels: rows packed (stride = width * pixel bytes),
// zero-filled.
struct ImageBuffer {
    std::unique_ptr<unsigned char[]> data;
    ImageView view;
};

// Allocates a width x height image of that kind; false (buffer left empty)
// when the sizes are not positive, the byte count overflows, or memory runs
// out.
bool image_buffer_make(ImageBuffer* buffer, int width, int height, int channels, SampleType type);

// Makes `buffer` a width x height image of that kind unless it already is
// one (its pixels are then kept, not cleared); false as image_buffer_make.
bool image_buffer_fit(ImageBuffer* buffer, int width, int height, int channels, SampleType type);
