// Writes the seed corpus of the BMP fuzz target: make_fuzz_corpus DIR
// Every header is laid out by hand here, so the seeds cover each pixel layout
// SDL's loader knows (1-, 4-, 8-bit palettes full and short, 16-bit 555, 565
// and other bit fields, 24-bit, 32-bit with and without bit fields, bit fields
// the load check refuses, bottom-up
// and top-down, widths 1 to 9 so that every row padding occurs, 1 x 1) and a
// few cut-short copies of each. The output is deterministic.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/sample_images.h"

enum { BI_RGB = 0, BI_BITFIELDS = 3 };

struct Layout {
    const char* name;
    int bpp;
    int colors;  // palette entries written (0: none); fewer than 1 << bpp is a short palette
    bool bitfields;
    uint32_t rmask, gmask, bmask;
    bool os2;  // 12-byte core header with 3-byte palette entries
};

static const Layout layouts[] = {
    {"pal1", 1, 2, false, 0, 0, 0, false},
    {"pal1short", 1, 1, false, 0, 0, 0, false},
    {"pal4", 4, 16, false, 0, 0, 0, false},
    {"pal4short", 4, 5, false, 0, 0, 0, false},
    {"pal8", 8, 256, false, 0, 0, 0, false},
    {"pal8short", 8, 23, false, 0, 0, 0, false},
    {"pal8os2", 8, 256, false, 0, 0, 0, true},
    {"rgb16-555", 16, 0, false, 0, 0, 0, false},
    {"rgb16-565", 16, 0, true, 0xF800, 0x07E0, 0x001F, false},
    {"rgb16-444", 16, 0, true, 0x0F00, 0x00F0, 0x000F, false},
    {"rgb16-bf555", 16, 0, true, 0x001F, 0x03E0, 0x7C00, false},
    {"rgb24", 24, 0, false, 0, 0, 0, false},
    {"rgb32", 32, 0, false, 0, 0, 0, false},
    {"rgb32-bf", 32, 0, true, 0x000000FF, 0x0000FF00, 0x00FF0000, false},
    {"rgb32-bfhigh", 32, 0, true, 0xFF000000, 0x00FF0000, 0x0000FF00, false},
    // Bit fields SDL accepts and the load check refuses: a channel narrower
    // than 4 bits, a missing channel, channels wider than 8 bits, a broken run.
    {"rgb16-bf333", 16, 0, true, 0x01C0, 0x0038, 0x0007, false},
    {"rgb16-bfnoblue", 16, 0, true, 0xF800, 0x07E0, 0x0000, false},
    {"rgb32-bf101010", 32, 0, true, 0x3FF00000, 0x000FFC00, 0x000003FF, false},
    {"rgb32-bfgap", 32, 0, true, 0x00F0F000, 0x00000F0F, 0x0F000000, false},
};

// A pattern that differs between neighbours and between rows, so that a
// misplaced row or column shows; indices stay inside the palette.
static uint32_t pixel_value(int x, int y, uint32_t range)
{
    uint32_t v = static_cast<uint32_t>(x * 37 + y * 91 + x * y * 13 + 5);
    return range ? v % range : v * 2654435761u;
}

static Bytes make_bmp(const Layout& l, int w, int h, bool top_down)
{
    int header = l.os2 ? 12 : 40;
    int entry = l.os2 ? 3 : 4;
    int masks = l.bitfields ? 12 : 0;
    int row_bytes = ((w * l.bpp + 31) / 32) * 4;
    uint32_t offset = 14 + header + masks + l.colors * entry;
    uint32_t size = offset + static_cast<uint32_t>(row_bytes * h);

    Bytes out;
    out.push_back('B');
    out.push_back('M');
    put32(out, size);
    put32(out, 0);
    put32(out, offset);
    if (l.os2) {
        put32(out, 12);
        put16(out, w);
        put16(out, h);
        put16(out, 1);
        put16(out, l.bpp);
    } else {
        put32(out, 40);
        put32(out, static_cast<uint32_t>(w));
        put32(out, static_cast<uint32_t>(top_down ? -h : h));
        put16(out, 1);
        put16(out, l.bpp);
        put32(out, l.bitfields ? BI_BITFIELDS : BI_RGB);
        put32(out, static_cast<uint32_t>(row_bytes * h));
        put32(out, 2835);
        put32(out, 2835);
        put32(out, l.bpp <= 8 && l.colors == (1 << l.bpp) ? 0 : l.colors);
        put32(out, 0);
    }
    if (l.bitfields) {
        put32(out, l.rmask);
        put32(out, l.gmask);
        put32(out, l.bmask);
    }
    for (int i = 0; i < l.colors; ++i) {
        out.push_back(static_cast<uint8_t>(i * 53));
        out.push_back(static_cast<uint8_t>(i * 97 + 31));
        out.push_back(static_cast<uint8_t>(255 - i * 11));
        if (entry == 4)
            out.push_back(0);
    }
    uint32_t range = l.colors ? static_cast<uint32_t>(l.colors) : 0;
    for (int row = 0; row < h; ++row) {
        Bytes bits(row_bytes, 0);
        for (int x = 0; x < w; ++x) {
            uint32_t v = pixel_value(x, row, range);
            int bit = x * l.bpp;
            if (l.bpp < 8) {
                // Leftmost pixel in the most significant bits of the byte.
                int shift = 8 - l.bpp - bit % 8;
                bits[bit / 8] |= static_cast<uint8_t>((v & ((1u << l.bpp) - 1)) << shift);
            } else {
                for (int k = 0; k < l.bpp / 8; ++k)
                    bits[bit / 8 + k] = static_cast<uint8_t>(v >> (8 * k));
            }
        }
        // The padding carries a marker: a loader that reads it as pixels
        // shows it.
        for (int k = (w * l.bpp + 7) / 8; k < row_bytes; ++k)
            bits[k] = 0xA5;
        out.insert(out.end(), bits.begin(), bits.end());
    }
    return out;
}

static bool write_file(const std::string& path, const Bytes& bytes, size_t length)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, length, f) == length;
    return std::fclose(f) == 0 && ok;
}

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_corpus DIR\n");
        return 2;
    }
    std::string dir = argv[1];
    int files = 0;
    for (const Layout& l : layouts) {
        for (int w = 1; w <= 9; ++w) {
            for (int variant = 0; variant < 3; ++variant) {
                // Height 3 bottom-up, height 2 top-down (the core header has
                // no top-down form), and 1 x 1 once per layout.
                bool top_down = variant == 1;
                if (top_down && l.os2)
                    continue;
                if (variant == 2 && w != 1)
                    continue;
                int h = variant == 0 ? 3 : variant == 1 ? 2 : 1;
                Bytes bmp = make_bmp(l, w, h, top_down);
                std::string base = dir + "/" + l.name + "-" + std::to_string(w) + "x" + std::to_string(h)
                    + (top_down ? "-td" : "");
                if (!write_file(base + ".bmp", bmp, bmp.size()))
                    goto failed;
                ++files;
                // Cut copies: inside the file header, inside the info header,
                // inside the palette or masks, and one byte short of the end.
                if (w % 4 != 1 && variant != 2)
                    continue;
                const size_t cuts[] = {10, 30, 14 + (l.os2 ? 12u : 40u) + 6, bmp.size() - 1};
                for (size_t cut : cuts) {
                    if (cut >= bmp.size())
                        continue;
                    if (!write_file(base + ".cut" + std::to_string(cut) + ".bmp", bmp, cut))
                        goto failed;
                    ++files;
                }
            }
        }
    }
    std::printf("%d files in %s\n", files, dir.c_str());
    return 0;
failed:
    std::fprintf(stderr, "make_fuzz_corpus: cannot write into %s\n", dir.c_str());
    return 1;
}
