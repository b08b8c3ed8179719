// Helpers of the image codec tests: decoding a byte vector, encoding into
// one through a memory stream, and an image's colour triples read back row
// by row.
#pragma once
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "sdl/pixel.h"
#include "io/image_io.h"
#include "tests/support/test_support.h"
#include "tests/support/sample_images.h"

inline SurfacePtr decode(const Bytes& bytes, std::string* problem = nullptr)
{
    std::string ignored;
    return SurfacePtr(decode_surface(bytes.data(), bytes.size(), problem ? problem : &ignored));
}

// Empty, with *problem set, when the encoder fails.
inline Bytes encode(SDL_Surface* image, ImageFormat format, int quality = 90, std::string* problem = nullptr)
{
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    std::string ignored;
    bool ok = out && encode_surface(image, format, quality, out, problem ? problem : &ignored);
    if (out)
        std::fclose(out);
    Bytes bytes;
    if (ok)
        bytes.assign(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// R, G, B of every pixel, top row first, through get_pixel.
inline std::vector<uint8_t> rgb_of(SDL_Surface* s)
{
    std::vector<uint8_t> rgb;
    for (int y = 0; y < s->h; ++y)
        for (int x = 0; x < s->w; ++x) {
            Uint8 c[3];
            get_pixel(s, x, y, &c[0], &c[1], &c[2]);
            rgb.insert(rgb.end(), c, c + 3);
        }
    return rgb;
}

// The pixel bytes of each row as they lie in memory, without the padding.
inline std::vector<uint8_t> memory_of(SDL_Surface* s)
{
    std::vector<uint8_t> bytes;
    const size_t row = static_cast<size_t>(s->w) * s->format->BytesPerPixel;
    for (int y = 0; y < s->h; ++y) {
        const uint8_t* p = static_cast<const uint8_t*>(s->pixels) + static_cast<size_t>(y) * s->pitch;
        bytes.insert(bytes.end(), p, p + row);
    }
    return bytes;
}
