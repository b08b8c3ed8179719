// A second PNG reader for the tests, written from the format alone and
// sharing nothing with io/: the chunks of a file as they lie, and its pixels
// through zlib's inflate, the five row filters and Adam7 by hand, given as
// the loader promises them (8-bit R, G, B; palette looked up, grey copied
// into all three channels, 16-bit samples rounded to 8, alpha dropped).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PngChunkRef {
    std::string type;
    std::vector<unsigned char> body;
};

// Every chunk from the signature on; empty when the file is not laid out as chunks.
std::vector<PngChunkRef> png_chunks(const std::vector<unsigned char>& file);

// False with *why when the file holds no image this reader understands.
bool png_reference_rgb(const std::vector<unsigned char>& file, int* w, int* h, std::vector<uint8_t>* rgb,
                       std::string* why);
