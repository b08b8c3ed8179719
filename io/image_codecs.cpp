#include "io/image_codecs.h"

#include <cmath>
#include <cstdint>
#include <cstring>

bool image_size_allowed(long long w, long long h)
{
    return w >= 1 && h >= 1 && w <= IMAGE_MAX_SIDE && h <= IMAGE_MAX_SIDE && w * h <= IMAGE_MAX_PIXELS;
}

std::string image_size_problem(long long w, long long h)
{
    std::string size = std::to_string(w) + " x " + std::to_string(h);
    if (w < 1 || h < 1)
        return "image has no pixels (" + size + ")";
    return "image too large (" + size + ")";
}

std::string no_memory_problem(int w, int h)
{
    return "not enough memory for a " + std::to_string(w) + " x " + std::to_string(h) + " image";
}

bool image_icc_fits(const ImageMeta& meta, int channels)
{
    return meta.icc.size() >= 20 && std::memcmp(meta.icc.data() + 16, channels >= 3 ? "RGB " : "GRAY", 4) == 0;
}

// One sample of any kind as 8 bits, to the nearest level.
static unsigned char sample_u8(const unsigned char* p, SampleType type)
{
    if (type == SAMPLE_U8)
        return *p;
    if (type == SAMPLE_U16) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return static_cast<unsigned char>((v + 128u) / 257u);
    }
    float v;
    std::memcpy(&v, p, 4);
    return static_cast<unsigned char>(v > 0.0f ? (v < 1.0f ? std::floor(v * 255.0f + 0.5f) : 255.0f) : 0.0f);
}

bool image_to_rgb8(const ImageView& from, ImageBuffer* to)
{
    const bool alpha = image_has_alpha(from);
    const int colours = from.channels - (alpha ? 1 : 0);
    if (!image_buffer_make(to, from.width, from.height, alpha ? 4 : 3, SAMPLE_U8))
        return false;
    const int in = sample_bytes(from.type), n = to->view.channels;
    for (int y = 0; y < from.height; ++y) {
        const unsigned char* src = image_row(from, y);
        unsigned char* dst = image_row(to->view, y);
        for (int x = 0; x < from.width; ++x, src += from.channels * in, dst += n) {
            for (int c = 0; c < 3; ++c)
                dst[c] = sample_u8(src + (colours == 1 ? 0 : c) * in, from.type);
            if (alpha)
                dst[3] = sample_u8(src + colours * in, from.type);
        }
    }
    return true;
}
