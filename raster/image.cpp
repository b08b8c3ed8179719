#include "raster/image.h"

#include <cstdint>
#include <limits>
#include <new>

bool image_view_valid(const ImageView& view)
{
    if (!view.pixels || view.width < 1 || view.height < 1 || view.channels < 1 || view.channels > 4)
        return false;
    if (view.type != SAMPLE_U8 && view.type != SAMPLE_U16 && view.type != SAMPLE_F32)
        return false;
    const long long samples = static_cast<long long>(view.width) * view.height * view.channels;
    if (samples > std::numeric_limits<int>::max())
        return false;
    const long long row = static_cast<long long>(view.width) * image_pixel_bytes(view);
    const long long stride = view.stride < 0 ? -static_cast<long long>(view.stride) : view.stride;
    return stride >= row;
}

bool image_same_layout(const ImageView& a, const ImageView& b)
{
    return a.width == b.width && a.height == b.height && a.channels == b.channels && a.type == b.type;
}

bool image_buffer_make(ImageBuffer* buffer, int width, int height, int channels, SampleType type)
{
    *buffer = ImageBuffer();
    ImageView view;
    view.width = width;
    view.height = height;
    view.channels = channels;
    view.type = type;
    if (width < 1 || height < 1 || channels < 1 || channels > 4)
        return false;
    const unsigned long long row = static_cast<unsigned long long>(width) * image_pixel_bytes(view);
    const unsigned long long bytes = row * static_cast<unsigned long long>(height);
    if (bytes / row != static_cast<unsigned long long>(height) || bytes > std::numeric_limits<std::size_t>::max() ||
        bytes > static_cast<unsigned long long>(std::numeric_limits<std::ptrdiff_t>::max()))
        return false;
    unsigned char* data = new (std::nothrow) unsigned char[bytes]();
    if (!data)
        return false;
    buffer->data.reset(data);
    view.pixels = data;
    view.stride = static_cast<std::ptrdiff_t>(row);
    buffer->view = view;
    return true;
}

bool image_buffer_fit(ImageBuffer* buffer, int width, int height, int channels, SampleType type)
{
    const ImageView& v = buffer->view;
    if (buffer->data && v.width == width && v.height == height && v.channels == channels && v.type == type)
        return true;
    return image_buffer_make(buffer, width, height, channels, type);
}
