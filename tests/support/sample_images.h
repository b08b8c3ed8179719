// Small image files in the variants the image decoders must read, for the
// unit tests and the fuzz seed corpus: PNG and JPEG written directly with
// libpng and libjpeg-turbo, RLE BMP laid out by hand. None of it goes through
// image_io. Each writer returns the whole file; a library error (a bad
// argument or no memory) ends the process, as these run only in tests and tools.
#pragma once
#include <cstddef>
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

// A BI_BITFIELDS BMP of 16 or 32 bits a pixel: an info header of info_size
// bytes (56, 108 or 124) with the R, G, B and alpha masks at its bytes 40
// to 55 and the rest zero; `pixels` (w * h values, top row first) stored
// bottom-up, each row padded to 4 bytes.
Bytes write_bitfields_bmp(int w, int h, int bits, const uint32_t masks[4], int info_size,
                         const std::vector<uint32_t>& pixels);

// The RLE8 or RLE4 stream of w x h palette indices given top row first:
// runs where an index (in RLE4 a pair of alternating indices) repeats at
// least 3 times, absolute blocks of 3 or more elsewhere, shorter runs between
// them, end of line after every row and end of bitmap at the end.
Bytes rle_encode(const std::vector<uint8_t>& indices, int w, int h, int bits);

// Metadata laid out by hand, as cameras and profilers write it.
// A JPEG with one more marker segment (marker 0xE1 for APP1, ...) right after SOI.
Bytes jpeg_with_segment(const Bytes& jpeg, int marker, const Bytes& payload);
// A JPEG with `profile` in APP2 "ICC_PROFILE" segments of at most 65519 bytes each.
Bytes jpeg_with_icc(const Bytes& jpeg, const Bytes& profile);
// A PNG with one more chunk right after IHDR, its CRC computed.
Bytes png_with_chunk(const Bytes& png, const char* type, const Bytes& body);
// An iCCP chunk's body: name, NUL, method 0, the zlib-compressed profile.
Bytes iccp_body(const char* name, const Bytes& profile);
// An ICC profile of `size` bytes (at least 128): its header's size field,
// data colour space "RGB " (or "GRAY"), "acsp", the rest seeded noise.
Bytes icc_profile(size_t size, uint32_t seed, bool rgb = true);
// An Exif TIFF block, little- or big-endian: IFD0 with Make, Orientation
// (when orientation > 0) and a link to an Exif IFD with DateTimeOriginal;
// with `thumbnail`, IFD1 and 64 bytes of thumbnail JPEG after everything
// else. orientation 1 without thumbnail is what a result must carry of the
// block with any orientation and a thumbnail.
Bytes exif_block(bool little_endian, int orientation, bool thumbnail);
// The same block wrapped for a JPEG's APP1: "Exif\0\0" and the block.
Bytes exif_app1(const Bytes& tiff);
