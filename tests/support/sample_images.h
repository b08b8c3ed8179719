// Small image files in the variants the image decoders must read, for the
// unit tests and the fuzz seed corpus: PNG and JPEG written directly with
// libpng and libjpeg-turbo, RLE BMP laid out by hand. None of it goes through
// image_io. Each writer returns the whole file; a library error (a bad
// argument or no memory) ends the process, as these run only in tests and tools.
#pragma once
#include <cstdint>
#include <vector>

typedef std::vector<unsigned char> Bytes;

// Little-endian 16- and 32-bit values appended to a file being laid out.
void put16(Bytes& out, uint32_t v);
void put32(Bytes& out, uint32_t v);

struct PngSample {
    int w, h;
    int color_type;   // PNG_COLOR_TYPE_GRAY, _GRAY_ALPHA, _RGB, _RGB_ALPHA or _PALETTE
    int bit_depth;    // 1, 2, 4, 8 or 16, as the colour type allows
    bool interlaced;  // Adam7
    std::vector<uint16_t> samples;        // w * h * png_channels(), row by row, each below 2^bit_depth
    std::vector<uint8_t> palette;         // R, G, B triples (palette type only)
    std::vector<uint8_t> palette_alpha;   // tRNS entries (palette type only; may be empty)
};
int png_channels(int color_type);
Bytes write_png(const PngSample& image);

struct JpegSample {
    int w, h;
    int components;    // 1 grey, 3 RGB, 4 CMYK
    bool ycck;         // 4 components stored as YCCK rather than CMYK
    bool progressive;
    bool arithmetic;   // arithmetic rather than Huffman coding
    int restart_rows;  // restart interval in MCU rows, 0 for none
    int quality;
    // 0: the library's scan script. 1: progressive with a DC scan and one
    // scan per AC coefficient and component (64 scans for grey); 2: with one
    // more refinement scan per AC coefficient and component (127 for grey).
    int coefficient_scans;
    std::vector<uint8_t> samples;  // w * h * components, row by row
};
Bytes write_jpeg(const JpegSample& image);

// A BMP around an RLE stream: bits 8 (RLE8) or 4 (RLE4); an info header of
// info_size bytes (40, or 108 and 124 with the fields past the first 40 zero);
// `palette` as R, G, B triples, written B, G, R, 0, with a colours-used field
// of 0 when it has 2^bits entries; the stream right after the palette.
// A negative h writes a top-down header.
Bytes write_rle_bmp(int w, int h, int bits, const std::vector<uint8_t>& palette, const Bytes& stream,
                    int info_size = 40);

// The RLE8 or RLE4 stream of w x h palette indices given top row first:
// runs where an index (in RLE4 a pair of alternating indices) repeats at
// least 3 times, absolute blocks of 3 or more elsewhere, shorter runs between
// them, end of line after every row and end of bitmap at the end.
Bytes rle_encode(const std::vector<uint8_t>& indices, int w, int h, int bits);
