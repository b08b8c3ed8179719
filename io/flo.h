// The displacement field of a warp as a Middlebury .flo file, written whole
// or row by row as a warp delivers its rows (through WarpViews, which hands
// them on in order). Values are little-endian on
// every host; write errors are reported with errno's text, and the caller
// removes a partial file.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "warp/warp.h"

// Writes the displacement field as a Middlebury .flo file: the bytes "PIEH",
// w and h as little-endian 32-bit integers, then for each row from the top
// and each pixel from the left the little-endian 32-bit floats Sx - x and
// Sy - y, each computed in double and rounded once to the nearest float; a
// pixel whose source point is not finite gets 1e10 in both, the format's
// "unknown". 12 + 8 * w * h bytes, then a flush. False with *problem
// ("cannot write: ERROR") when the stream failed.
bool write_flo(std::FILE* out, const double* sx, const double* sy, int w, int h, std::string* problem);

// Row y of the field as the file holds it, in the host's byte order: for
// each of the w pixels (px, py its source points) u and v, uv[2x] and
// uv[2x + 1].
void field_row(const double* px, const double* py, int w, int y, float* uv);

// Rows of the field gathered in floats, so that the stream gets them in
// writes of about 64 KiB rather than one a row.
struct FieldBuffer {
    std::vector<float> floats;
    size_t used = 0;
};

// The header: "PIEH", w, h.
bool write_flo_header(std::FILE* out, int w, int h, std::string* problem);
// Room for at least one row of w pixels and about 64 KiB.
void size_field_buffer(FieldBuffer* buffer, int w);
// Adds row y of the field, u and v of each of its w pixels (px, py its
// source points), writing out what the buffer held when it is full.
bool add_field_row(std::FILE* out, FieldBuffer* buffer, const double* px, const double* py, int w, int y,
                   std::string* problem);
// The rest of the buffer, then a flush of the stream.
bool finish_field(std::FILE* out, FieldBuffer* buffer, std::string* problem);

// The field of one warp written as its rows come, in order: the header at
// start, each row as the sink gets it, the rest at finish.
struct FieldRows {
    std::FILE* out = nullptr;
    FieldBuffer buffer;
    int w = 0;
    std::string problem;  // the first write error; the rows after it are dropped
    WarpRowSink sink = {nullptr, nullptr};  // give it to WarpViews::start as the ordered sink
};

// Writes the header of a w x h field; false with field->problem when it
// cannot be written.
bool field_rows_start(FieldRows* field, std::FILE* out, int w, int h);
// The rest of the buffer and a flush; false with field->problem when a
// write failed, now or for an earlier row.
bool field_rows_finish(FieldRows* field);
