// Command-line pieces the batch tools share: GNU-style messages (one line
// "PROGRAM: problem" on stderr; exit status 1 for bad input, 2 for a
// malformed command line, which also gets the usage line and a pointer to
// --help), getopt_long's failures put into words, and the checks of the
// warp's parameters and of --threads.
#pragma once
#include <getopt.h>

#include <string>

#include "tools/image_io.h"
#include "warp/warp.h"

struct ToolInfo {
    const char* program;  // "tavrosk-warp"
    const char* usage;    // "[options] SOURCE SEGMENTS RESULT"
};

enum { EXIT_BAD_INPUT = 1, EXIT_USAGE = 2, MAX_THREADS = 1024 };

void print_usage_line(const ToolInfo& tool, std::FILE* out);

// Both print and return the exit status.
int usage_error(const ToolInfo& tool, const std::string& problem);
int input_error(const ToolInfo& tool, const std::string& message);

// What went wrong when getopt_long (with opterr = 0 and a leading ':' in its
// short options) returned '?' or ':' for argv[optind - 1].
std::string getopt_problem(int result, const char* argument);

// -p, -a or -b (which names the option) with its value: finite, p and b
// >= 0, a > 0. False with *problem naming the option and value.
bool parse_weight(char which, const char* text, WarpParams* params, std::string* problem);

// --threads: a whole number from 1 to MAX_THREADS.
bool parse_threads(const char* text, int* threads, std::string* problem);

// A whole number from low to high.
bool parse_whole(const char* text, long low, long high, long* value);

// --quality: JPEG quality, a whole number from 1 to 100.
bool parse_quality(const char* text, int* quality, std::string* problem);

// --format: bmp, png or jpeg (jpg too), in any case.
bool parse_result_format(const char* text, ImageFormat* format, std::string* problem);
