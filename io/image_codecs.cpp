#include "io/image_codecs.h"

#include "raster/kinds.h"

#include <algorithm>
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

LibraryFormat library_format_of(const unsigned char* data, size_t size)
{
    if (size >= 4 && (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0
                      || std::memcmp(data, "II+\0", 4) == 0 || std::memcmp(data, "MM\0+", 4) == 0))
        return LIBRARY_TIFF;
    if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0)
        return LIBRARY_WEBP;
    if (size < 16 || std::memcmp(data + 4, "ftyp", 4) != 0)
        return LIBRARY_NONE;
    // The major brand, the minor version, then compatible brands to the box's end.
    const size_t box = std::min<size_t>(size, static_cast<size_t>(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3]);
    static const char brands[][5] = {"mif1", "mif2", "msf1", "heic", "heix", "heim", "heis", "hevc",
                                     "hevx", "hevm", "hevs", "avif", "avis", "miaf"};
    for (size_t at = 8; at + 4 <= box; at += at == 8 ? 8 : 4)
        for (const char* brand : brands)
            if (std::memcmp(data + at, brand, 4) == 0)
                return LIBRARY_HEIF;
    return LIBRARY_NONE;
}

bool image_to_rgb8(const ImageView& from, ImageBuffer* to)
{
    return image_convert(from, {image_has_alpha(from) ? 4 : 3, SAMPLE_U8}, to);
}

void image_unpremultiply(const ImageView& out)
{
    const int n = out.channels;
    for (int y = 0; y < out.height; ++y) {
        unsigned char* row = image_row(out, y);
        for (int x = 0; x < out.width; ++x)
            for (int c = 0; c < n - 1; ++c) {
                if (out.type == SAMPLE_U8) {
                    unsigned char* p = row + x * n;
                    const unsigned a = p[n - 1];
                    p[c] = static_cast<unsigned char>(a ? std::min(255u, (p[c] * 255u + a / 2) / a) : 0);
                } else if (out.type == SAMPLE_U16) {
                    uint16_t p[4];
                    std::memcpy(p, row + 2 * x * n, 2 * n);
                    const unsigned long a = p[n - 1];
                    p[c] = static_cast<uint16_t>(a ? std::min(65535ul, (p[c] * 65535ul + a / 2) / a) : 0);
                    std::memcpy(row + 2 * x * n, p, 2 * n);
                } else {
                    float p[4];
                    std::memcpy(p, row + 4 * x * n, 4 * n);
                    p[c] = p[n - 1] != 0.0f ? p[c] / p[n - 1] : 0.0f;
                    std::memcpy(row + 4 * x * n, p, 4 * n);
                }
            }
    }
}
