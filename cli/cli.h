// Command-line pieces the batch tools share: GNU-style messages (one line
// "PROGRAM: problem" on stderr; exit status 1 for bad input, 2 for a
// malformed command line, which also gets the usage line and a pointer to
// --help), getopt_long's failures put into words, the checks of the warp's
// parameters and of --threads, and the options both tools take.
#pragma once
#include <getopt.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "io/image_io.h"
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

// The format of a result file by its name's extension: .bmp, .png, .jpg or
// .jpeg. False with *problem naming the file and the ways to give a format.
bool result_format_from_name(const std::string& name, ImageFormat* format, std::string* problem);

// The options both batch tools take: -p, -a, -b, -t/--threads, --reference,
// -f/--format, -Q/--quality, --no-auto-orient, --strip, -q/--quiet,
// -h/--help and --version. A tool's own options struct derives from this one.
struct ToolOptions {
    WarpParams params;
    WarpOptions warp;
    bool threads_given = false;
    bool format_given = false;
    ImageFormat format = IMAGE_PNG;
    int quality = 92;
    ImageOrientation orientation = IMAGE_AS_VIEWED;  // --no-auto-orient: IMAGE_AS_STORED
    bool strip = false;                              // --strip: results carry no metadata
    bool quiet = false;
};

// The values of a tool's own long options start here.
enum { OPT_REFERENCE = 256, OPT_VERSION, OPT_NO_AUTO_ORIENT, OPT_STRIP, OPT_TOOL };

// Reads the whole command line, GNU style: the shared options into
// *options, the tool's own (own_options, whose values start at OPT_TOOL)
// through `own`, which returns -1 to go on or an exit status, and exactly
// `count` operands into operands[0 .. count - 1]. Returns -1 when the tool
// is to go on, else the exit status: 0 after --help (print_help is called)
// or --version, 1 for a bad value, 2 for a malformed command line.
int parse_command_line(const ToolInfo& tool, int argc, char** argv, std::initializer_list<option> own_options,
                       const std::function<int(int option, const char* value)>& own, void (*print_help)(),
                       ToolOptions* options, int count, const char** operands);

// Before a result named `name` is written in `format` with `meta` (NULL
// under --strip): one warning line on stderr when the format cannot carry
// the source's colour description, e.g. "tavrosk-warp: warning: out.bmp:
// BMP cannot carry the source's ICC profile; written without it".
void warn_of_lost_meta(const ToolInfo& tool, const std::string& name, ImageFormat format, const ImageMeta* meta);

// Once every option is read: a note on stderr when --reference meets
// --threads, which the reference kernel does not take.
void note_ignored_options(const ToolInfo& tool, const ToolOptions& options);
