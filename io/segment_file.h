// Segment files of the batch tool: one segment a line as four numbers
// "x1 y1 x2 y2" (image pixels, x right, y down) separated by blanks; decimal
// fractions, exponents and negative values are allowed, values must be
// finite. Blank lines and lines whose first non-blank character is '#' are
// skipped, and a '#' after the numbers starts a comment to the end of the
// line. Lines keep table order: the 2k-th segment is the first of pair k.
// A file is UTF-8 text: a line with a control character other than a blank
// (tab, carriage return, vertical tab, form feed) or bytes that are not
// UTF-8 is refused as "not a text line"; a byte-order mark that opens the
// file is skipped. Files are written with each coordinate as the shortest
// decimal that reads back as the same double.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "warp/segment.h"

// Reads every line of `in` and checks the count: even and at least two.
// On failure returns false with *line_number the 1-based line at fault (0
// when the fault is the file as a whole) and *problem a short description.
bool read_segments(std::FILE* in, std::vector<Segment>* segments, long* line_number, std::string* problem);

// What a program takes besides complete pairs: nothing else (a warp needs
// a pair), or also a file without any segment (a morph without pairs is a
// cross-fade).
enum SegmentsTaken { SEGMENTS_PAIRS, SEGMENTS_PAIRS_OR_NONE };

// Opens the file `name` ("-": standard input, named "standard input" in
// messages) and reads it with read_segments, taking what `taken` says. False
// with *message ready to print after "PROGRAM: ": "NAME: cannot open:
// ERROR", "NAME:LINE: PROBLEM" or "NAME: PROBLEM".
bool read_segment_file(const char* name, std::vector<Segment>* segments, std::string* message,
                       SegmentsTaken taken = SEGMENTS_PAIRS);

// The message of a fault read_segments found in the file `name`:
// "NAME:LINE: PROBLEM", or "NAME: PROBLEM" when line is 0.
std::string segment_file_message(const std::string& name, long line, const std::string& problem);

// A coordinate as a segment file holds it: the plain decimal with the fewest
// digits that reads back as the same double, or the %.17g form where a plain
// one would be long (magnitudes of 1e15 and more); never "-0".
std::string format_coordinate(double value);

// `text` (a comment, a file name) as a line of a segment file can hold it:
// each byte that is no part of the file's text (a line feed or another
// control character, a byte outside UTF-8) becomes '?'.
std::string segment_file_text(const std::string& text);

// One line of a segment file, "x1 y1 x2 y2" in format_coordinate's form,
// without the line feed.
std::string segment_line(const Segment& segment);

// Writes text to the segment file `name` atomically (io/output_file): checked
// first, so a read-only file or a missing folder is refused and the old file
// stays as it was. False with *message "NAME: PROBLEM".
bool write_segment_file(const std::string& name, const std::string& text, std::string* message);

// A line of a segment file without a segment (a comment or a blank line),
// to be written again before entry `before` of the table, or after the last
// entry when there are fewer.
struct SegmentComment {
    int before;
    std::string text;  // without its line end (line feed and carriage returns) or byte-order mark
};

enum SegmentFileStatus {
    SEGMENT_FILE_READ,     // as read_segment_file takes it
    SEGMENT_FILE_EMPTY,    // not one segment: only comments and blank lines, or nothing
    SEGMENT_FILE_ODD,      // an odd count: the last segment waits for its second
    SEGMENT_FILE_REFUSED,  // refused for any other reason
};

// read_segment_file for a program that writes the file again, so that
// "-" is a file name like any other: the lines without a segment also go
// to *comments, and a file without any segment is told apart from the
// other faults. *message is set unless SEGMENT_FILE_READ.
SegmentFileStatus read_commented_segment_file(const char* name, std::vector<Segment>* segments,
                                              std::vector<SegmentComment>* comments, std::string* message);
