#include "tests/support/png_reference.h"

#include <zlib.h>

#include <cstring>

namespace {

uint32_t be32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

int paeth(int a, int b, int c)
{
    const int p = a + b - c, pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p, pc = p > c ? p - c : c - p;
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

}  // namespace

std::vector<PngChunkRef> png_chunks(const std::vector<unsigned char>& file)
{
    std::vector<PngChunkRef> chunks;
    size_t pos = 8;
    while (file.size() >= 8 && pos + 12 <= file.size()) {
        const uint32_t length = be32(&file[pos]);
        if (length > file.size() - pos - 12)
            return {};
        chunks.push_back({std::string(&file[pos + 4], &file[pos + 8]),
                          std::vector<unsigned char>(&file[pos + 8], &file[pos + 8] + length)});
        pos += 12 + length;
    }
    return chunks;
}

bool png_reference_rgb(const std::vector<unsigned char>& file, int* w, int* h, std::vector<uint8_t>* rgb,
                       std::string* why)
{
    std::vector<unsigned char> packed, palette;
    int width = 0, height = 0, depth = 0, type = -1, interlace = 0;
    for (const PngChunkRef& c : png_chunks(file)) {
        if (c.type == "IHDR" && c.body.size() == 13) {
            width = static_cast<int>(be32(&c.body[0]));
            height = static_cast<int>(be32(&c.body[4]));
            depth = c.body[8];
            type = c.body[9];
            interlace = c.body[12];
        } else if (c.type == "PLTE") {
            palette = c.body;
        } else if (c.type == "IDAT") {
            packed.insert(packed.end(), c.body.begin(), c.body.end());
        }
    }
    static const int channels_of[7] = {1, 0, 3, 1, 2, 0, 4};
    if (type < 0 || type > 6 || channels_of[type] == 0 || width < 1 || height < 1 || width > 4096 || height > 4096) {
        *why = "no usable IHDR";
        return false;
    }
    const int channels = channels_of[type], bits = depth * channels;
    // Adam7: the passes' start and step in x and y; one pass without interlacing.
    static const int adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                    {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    static const int plain[1][4] = {{0, 0, 1, 1}};
    const int (*passes)[4] = interlace ? adam7 : plain;
    const int pass_count = interlace ? 7 : 1;
    size_t raw_size = 0;
    for (int p = 0; p < pass_count; ++p) {
        const int pw = (width - passes[p][0] + passes[p][2] - 1) / passes[p][2];
        const int ph = (height - passes[p][1] + passes[p][3] - 1) / passes[p][3];
        if (pw > 0 && ph > 0)
            raw_size += size_t(ph) * (1 + (size_t(pw) * bits + 7) / 8);
    }
    std::vector<unsigned char> raw(raw_size);
    uLongf got = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &got, packed.data(), static_cast<uLong>(packed.size())) != Z_OK || got != raw.size()) {
        *why = "IDAT does not inflate to the image's size";
        return false;
    }
    // Samples of every pixel, widened to 16 bits, then made 8-bit RGB.
    std::vector<uint32_t> samples(size_t(width) * height * channels);
    const unsigned char* in = raw.data();
    const size_t bpp = (bits + 7) / 8;
    for (int p = 0; p < pass_count; ++p) {
        const int pw = (width - passes[p][0] + passes[p][2] - 1) / passes[p][2];
        const int ph = (height - passes[p][1] + passes[p][3] - 1) / passes[p][3];
        if (pw <= 0 || ph <= 0)
            continue;
        const size_t row = (size_t(pw) * bits + 7) / 8;
        std::vector<unsigned char> previous(row, 0), current(row);
        for (int y = 0; y < ph; ++y) {
            const int filter = *in++;
            if (filter > 4) {
                *why = "unknown filter " + std::to_string(filter);
                return false;
            }
            for (size_t i = 0; i < row; ++i) {
                const int a = i >= bpp ? current[i - bpp] : 0, b = previous[i], c = i >= bpp ? previous[i - bpp] : 0;
                const int predictor = filter == 0 ? 0
                                    : filter == 1 ? a
                                    : filter == 2 ? b
                                    : filter == 3 ? (a + b) / 2
                                                  : paeth(a, b, c);
                current[i] = static_cast<unsigned char>(in[i] + predictor);
            }
            in += row;
            for (int x = 0; x < pw; ++x)
                for (int k = 0; k < channels; ++k) {
                    const size_t bit = (size_t(x) * channels + k) * depth;
                    uint32_t v;
                    if (depth == 16)
                        v = uint32_t(current[bit / 8]) << 8 | current[bit / 8 + 1];
                    else
                        v = (current[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
                    const size_t at = (size_t(passes[p][1] + y * passes[p][3]) * width + passes[p][0] + x * passes[p][2]);
                    samples[at * channels + k] = v;
                }
            previous.swap(current);
        }
    }
    auto to8 = [&](uint32_t v) {
        return static_cast<uint8_t>(depth == 16 ? (v * 255 + 32767) / 65535 : v * 255 / ((1u << depth) - 1));
    };
    rgb->clear();
    for (size_t i = 0; i < samples.size(); i += channels) {
        if (type == 3) {
            if (3 * samples[i] + 2 >= palette.size()) {
                *why = "palette index outside the palette";
                return false;
            }
            rgb->insert(rgb->end(), &palette[3 * samples[i]], &palette[3 * samples[i]] + 3);
        } else if (channels <= 2) {
            rgb->insert(rgb->end(), 3, to8(samples[i]));
        } else {
            for (int k = 0; k < 3; ++k)
                rgb->push_back(to8(samples[i + k]));
        }
    }
    *w = width;
    *h = height;
    return true;
}
