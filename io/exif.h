// The small part of Exif the image loader needs, on the TIFF block of a
// JPEG's APP1 "Exif\0\0" segment (the bytes after those six): the
// Orientation of IFD0 (tag 0x0112), and a copy of the block fit to travel
// with a result (orientation 1, no thumbnail). Both byte orders. Every
// offset and count is checked against the block before it is followed, IFD
// chains are not followed (only IFD0, its Exif and GPS IFDs and the Exif
// IFD's interoperability IFD), so any bytes at all are safe to pass.
#pragma once
#include <cstddef>
#include <vector>

// 1 (top-left, as stored) to 8, as the Exif standard numbers them; 1 when
// the block is malformed, has no Orientation or one outside 1..8.
int exif_orientation(const unsigned char* tiff, size_t size);

// The block as a result carries it: Orientation set to 1 where there is
// one, and the thumbnail (IFD1 and the JPEG data it points to) removed, cut
// off the end when nothing else lies after it, else zeroed and unlinked.
// False, with *out empty, when the block is not a TIFF header with a
// readable IFD0: such a block is not copied.
bool exif_for_result(const unsigned char* tiff, size_t size, std::vector<unsigned char>* out);
