// Fuzz target: any bytes as a pairs file, through the reader of
// io/segment_file.h. A file is either read, giving an even count of at least
// two segments of finite numbers that are exactly those its lines give each
// read alone, or refused naming the first line that is bad alone, or the
// file as a whole when every line is good, in one line of printable text.
// Any fault aborts, so that the fuzzer keeps the input.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/segment_file.h"

[[noreturn]] static void fail(const char* what, long line)
{
    std::fprintf(stderr, "fuzz_pairs: %s (line %ld)\n", what, line);
    std::abort();
}

static bool same(const Segment& a, const Segment& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The lines as the reader sees them: split at each line feed, a last line
// without one counted.
static std::vector<std::string> lines_of(const uint8_t* data, size_t size)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < size; ++i)
        if (data[i] == '\n') {
            lines.emplace_back(reinterpret_cast<const char*>(data) + start, i - start);
            start = i + 1;
        }
    if (start < size)
        lines.emplace_back(reinterpret_cast<const char*>(data) + start, size - start);
    return lines;
}

static bool read_text(const std::string& text, std::vector<Segment>* segments, long* line, std::string* problem)
{
    std::FILE* in = !text.empty() ? fmemopen(const_cast<char*>(text.data()), text.size(), "r")
                                  : std::fopen("/dev/null", "r");
    if (!in)
        fail("cannot open the input", 0);
    const bool ok = read_segments(in, segments, line, problem);
    std::fclose(in);
    return ok;
}

enum Kind { SKIPPED, READ, BAD };

// Line `number` of a file read alone: after a blank line unless it is the
// first, where a byte-order mark opens the file.
static Kind line_alone(const std::string& text, long number, Segment* segment)
{
    std::vector<Segment> segments;
    long line = -1;
    std::string problem;
    read_text(number == 1 ? text : "\n" + text, &segments, &line, &problem);
    if (line > 0)
        return BAD;
    if (segments.size() == 1)
        *segment = segments[0];
    return segments.size() == 1 ? READ : SKIPPED;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<Segment> segments;
    long line = -1;
    std::string problem;
    const bool ok = read_text(std::string(reinterpret_cast<const char*>(data), size), &segments, &line, &problem);

    const std::vector<std::string> lines = lines_of(data, size);
    std::vector<Segment> expected;
    long first_bad = 0;
    for (size_t i = 0; i < lines.size() && first_bad == 0; ++i) {
        Segment s;
        const Kind kind = line_alone(lines[i], static_cast<long>(i) + 1, &s);
        if (kind == BAD)
            first_bad = static_cast<long>(i) + 1;
        else if (kind == READ)
            expected.push_back(s);
    }

    if (ok) {
        if (first_bad != 0)
            fail("read a file with a bad line", first_bad);
        if (segments.size() < 2 || segments.size() % 2 != 0)
            fail("read a file without whole pairs", 0);
        if (segments.size() != expected.size())
            fail("read another count of segments than the lines hold", 0);
        for (size_t i = 0; i < segments.size(); ++i) {
            const Segment& s = segments[i];
            if (!std::isfinite(s.x1) || !std::isfinite(s.y1) || !std::isfinite(s.x2) || !std::isfinite(s.y2))
                fail("read a number that is not finite", static_cast<long>(i));
            if (!same(s, expected[i]))
                fail("read a segment its line does not give", static_cast<long>(i));
        }
        return 0;
    }
    if (line != first_bad)
        fail("refused naming another line than the first bad one", line);
    if (line == 0 && expected.size() >= 2 && expected.size() % 2 == 0)
        fail("refused a file of whole pairs", 0);
    if (problem.empty())
        fail("refused without saying why", line);
    for (unsigned char c : problem)
        if (c < 0x20 || c == 0x7F)
            fail("the refusal holds a control character", line);
    return 0;
}
