// File names of numbered frames from a printf-style pattern such as
// "frames/f%03d.png": exactly one integer field, %d, %i or %u, with any of
// the flags '-', '+', ' ' and '0' and a width of at most 255; "%%" stands for
// a literal percent sign. Anything else after a '%' is refused.
#pragma once
#include <string>
#include <vector>

struct FramePattern {
    std::string before;  // the text before the field, "%%" already made "%"
    std::string field;   // the field as printf takes it for an int: "%03d"
    std::string after;   // the text after it, "%%" made "%"
};

// False with *problem (lower case, without the pattern) when the pattern has
// no integer field, more than one, or another conversion.
bool frame_pattern_parse(const std::string& text, FramePattern* pattern, std::string* problem);

// The name of frame `number`.
std::string frame_pattern_name(const FramePattern& pattern, int number);

// Whether `name` is the name of a frame, exactly as frame_pattern_name
// writes it (the same width, padding and sign), and which: *number.
bool frame_pattern_number(const FramePattern& pattern, const std::string& name, int* number);

// The numbers from `from` up, in increasing order, whose frame names exist
// (as any kind of file), found by reading the one folder that holds the
// names' varying part (at most max_entries entries of it) rather than by
// trying numbers. Empty when that folder cannot be read.
std::vector<int> frame_pattern_existing(const FramePattern& pattern, int from, long max_entries = 1L << 20);
