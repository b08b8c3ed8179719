#include "io/image_codecs.h"

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

bool image_icc_fits(const ImageMeta& meta)
{
    return meta.icc.size() >= 20 && std::memcmp(meta.icc.data() + 16, "RGB ", 4) == 0;
}
