#include "io/segment_file.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "io/output_file.h"

static bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Text as a pairs file holds it: UTF-8 (comments may be in any language),
// without control characters other than the blanks above. The length in
// bytes of the character at line[i], or 0 when the byte there is no part of
// such text.
static size_t text_char_length(const std::string& line, size_t i)
{
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c < 0x80)
        return (c < 0x20 && !is_blank(static_cast<char>(c))) || c == 0x7F ? 0 : 1;
    // A lead byte, the count of continuation bytes and the least code point
    // of that length (no overlong forms, no surrogates, nothing past
    // U+10FFFF).
    size_t more;
    unsigned long code, least;
    if (c >= 0xC2 && c <= 0xDF)
        more = 1, code = c & 0x1F, least = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
        more = 2, code = c & 0x0F, least = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
        more = 3, code = c & 0x07, least = 0x10000;
    else
        return 0;
    if (line.size() - i <= more)
        return 0;
    for (size_t k = 1; k <= more; ++k) {
        const unsigned char follow = static_cast<unsigned char>(line[i + k]);
        if ((follow & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (follow & 0x3F);
    }
    if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return more + 1;
}

// Checked before anything else, so that a binary file is refused without
// echoing its bytes.
static bool is_text_line(const std::string& line)
{
    for (size_t i = 0, length; i < line.size(); i += length)
        if ((length = text_char_length(line, i)) == 0)
            return false;
    return true;
}

std::string segment_file_text(const std::string& text)
{
    std::string out;
    for (size_t i = 0, length; i < text.size(); i += length) {
        length = text_char_length(text, i);
        if (length == 0) {
            out += '?';
            length = 1;
        } else {
            out.append(text, i, length);
        }
    }
    return out;
}

enum SegmentLine { SEGMENT_LINE_SKIPPED, SEGMENT_LINE_READ, SEGMENT_LINE_BAD };

// Parses one line (without its line feed; a trailing carriage return counts
// as a blank). On SEGMENT_LINE_BAD, *problem says what is wrong.
static SegmentLine parse_segment_line(const std::string& line, Segment* segment, std::string* problem)
{
    if (!is_text_line(line)) {
        *problem = "not a text line";
        return SEGMENT_LINE_BAD;
    }
    const char* p = line.c_str();
    const char* end = p + line.size();
    while (p < end && is_blank(*p))
        ++p;
    if (p == end || *p == '#')
        return SEGMENT_LINE_SKIPPED;

    double values[4];
    int count = 0;
    // A '#' after the numbers starts a comment that runs to the end of the line.
    while (p < end && *p != '#') {
        const char* start = p;
        char* stop = nullptr;
        double value = std::strtod(start, &stop);
        // A number must end at a blank, a comment or the end of the line:
        // "1,5" or "3px" is not a number.
        if (stop == start || (stop < end && !is_blank(*stop) && *stop != '#')) {
            const char* word_end = start;
            while (word_end < end && !is_blank(*word_end) && *word_end != '\0' && *word_end != '#')
                ++word_end;
            *problem = "expected four numbers, found '" + std::string(start, word_end) + "'";
            return SEGMENT_LINE_BAD;
        }
        if (!std::isfinite(value)) {
            *problem = "'" + std::string(start, static_cast<const char*>(stop)) + "' is not a finite number";
            return SEGMENT_LINE_BAD;
        }
        if (count == 4) {
            *problem = "expected four numbers, found more";
            return SEGMENT_LINE_BAD;
        }
        values[count++] = value;
        p = stop;
        while (p < end && is_blank(*p))
            ++p;
    }
    if (count < 4) {
        *problem = "expected four numbers, found " + std::to_string(count);
        return SEGMENT_LINE_BAD;
    }
    *segment = {values[0], values[1], values[2], values[3]};
    return SEGMENT_LINE_READ;
}

// Pairs need an even count of segments, at least two.
static SegmentFileStatus check_count(size_t n, std::string* problem)
{
    if (n == 0) {
        *problem = "no segments; a pair needs two lines";
        return SEGMENT_FILE_EMPTY;
    }
    if (n == 1) {
        *problem = "only one segment; a pair needs two lines";
        return SEGMENT_FILE_ODD;
    }
    if (n % 2 != 0) {
        *problem = std::to_string(n) + " segments, an odd count; every pair needs two lines";
        return SEGMENT_FILE_ODD;
    }
    return SEGMENT_FILE_READ;
}

// read_segments, with the lines without a segment put in *comments when
// it is not NULL.
static SegmentFileStatus read_lines(std::FILE* in, std::vector<Segment>* segments,
                                    std::vector<SegmentComment>* comments, long* line_number, std::string* problem)
{
    segments->clear();
    char* buffer = nullptr;
    size_t capacity = 0;
    long number = 0;
    bool ok = true;
    errno = 0;
    ssize_t length;
    while ((length = getline(&buffer, &capacity, in)) >= 0) {
        ++number;
        std::string line(buffer, static_cast<size_t>(length));
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        // A byte-order mark, as some editors save UTF-8, is no part of the text.
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        Segment segment;
        SegmentLine kind = parse_segment_line(line, &segment, problem);
        if (kind == SEGMENT_LINE_BAD) {
            *line_number = number;
            ok = false;
            break;
        }
        if (kind == SEGMENT_LINE_SKIPPED && comments) {
            line.erase(line.find_last_not_of('\r') + 1);
            comments->push_back({static_cast<int>(segments->size()), line});
        }
        if (kind == SEGMENT_LINE_READ) {
            // warp_image counts segments in an int.
            if (segments->size() >= static_cast<size_t>(INT_MAX - 1)) {
                *line_number = number;
                *problem = "too many segments";
                ok = false;
                break;
            }
            segments->push_back(segment);
        }
    }
    std::free(buffer);
    if (!ok)
        return SEGMENT_FILE_REFUSED;
    *line_number = 0;
    if (std::ferror(in)) {
        *problem = std::string("cannot read: ") + std::strerror(errno ? errno : EIO);
        return SEGMENT_FILE_REFUSED;
    }
    return check_count(segments->size(), problem);
}

bool read_segments(std::FILE* in, std::vector<Segment>* segments, long* line_number, std::string* problem)
{
    return read_lines(in, segments, nullptr, line_number, problem) == SEGMENT_FILE_READ;
}

// Opens, reads and closes `name` (unless from_stdin), with *message ready to print.
static SegmentFileStatus read_file(const char* name, bool from_stdin, std::vector<Segment>* segments,
                                   std::vector<SegmentComment>* comments, std::string* message)
{
    const std::string label = from_stdin ? "standard input" : name;
    std::FILE* in = from_stdin ? stdin : std::fopen(name, "r");
    if (!in) {
        *message = label + ": cannot open: " + std::strerror(errno);
        return SEGMENT_FILE_REFUSED;
    }
    long line = 0;
    std::string problem;
    const SegmentFileStatus status = read_lines(in, segments, comments, &line, &problem);
    if (!from_stdin)
        std::fclose(in);
    if (status != SEGMENT_FILE_READ)
        *message = segment_file_message(label, line, problem);
    return status;
}

bool read_segment_file(const char* name, std::vector<Segment>* segments, std::string* message,
                       SegmentsTaken taken)
{
    const SegmentFileStatus status = read_file(name, std::strcmp(name, "-") == 0, segments, nullptr, message);
    return status == SEGMENT_FILE_READ || (status == SEGMENT_FILE_EMPTY && taken == SEGMENTS_PAIRS_OR_NONE);
}

SegmentFileStatus read_commented_segment_file(const char* name, std::vector<Segment>* segments,
                                              std::vector<SegmentComment>* comments, std::string* message)
{
    comments->clear();
    return read_file(name, false, segments, comments, message);
}

std::string segment_file_message(const std::string& name, long line, const std::string& problem)
{
    return line > 0 ? name + ":" + std::to_string(line) + ": " + problem : name + ": " + problem;
}

std::string format_coordinate(double value)
{
    // Plain decimals where they are short enough; the exponent form otherwise.
    char text[64];
    if (std::fabs(value) < 1e15)
        for (int decimals = 0; decimals <= 17; ++decimals) {
            std::snprintf(text, sizeof text, "%.*f", decimals, value);
            if (std::strtod(text, nullptr) == value)
                return std::strcmp(text, "-0") == 0 ? "0" : text;
        }
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string segment_line(const Segment& s)
{
    return format_coordinate(s.x1) + " " + format_coordinate(s.y1) + " " + format_coordinate(s.x2) + " "
         + format_coordinate(s.y2);
}

bool write_segment_file(const std::string& name, const std::string& text, std::string* message)
{
    OutputTarget target;
    std::string problem;
    bool ok = output_prepare(name, &target, &problem)
           && output_commit(
                  target,
                  [&](std::FILE* out, std::string* why) {
                      if (std::fwrite(text.data(), 1, text.size(), out) == text.size())
                          return true;
                      *why = std::string("cannot write: ") + std::strerror(errno);
                      return false;
                  },
                  &problem);
    if (!ok)
        *message = name + ": " + problem;
    return ok;
}
