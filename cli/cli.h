// The command line of every program (tavrosk-warp, tavrosk-morph and
// tavrosk-edit): one table of the options they share, with one help text
// each; a program describes itself (its own options, which shared ones it
// takes, how many operands) and start_program reads its command line GNU
// style. Messages are one line "PROGRAM: problem" on stderr; exit status 1
// for bad input, 2 for a malformed command line, which also gets the usage
// line and a pointer to --help. Also the checks and warnings the batch tools
// share: result formats, lost metadata, ignored options.
#pragma once
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "io/image_io.h"
#include "warp/warp.h"

enum { EXIT_BAD_INPUT = 1, EXIT_USAGE = 2, MAX_THREADS = 1024 };

// The shared options without a short letter; a program's own long-only
// options are numbered from OPT_PROGRAM up.
enum {
    OPT_REFERENCE = 256,
    OPT_VERSION,
    OPT_NO_AUTO_ORIENT,
    OPT_STRIP,
    OPT_PNG_COMPRESSION,
    OPT_OUTSIDE,
    OPT_DEPTH,
    OPT_PROGRAM
};

// One option as getopt_long and the help know it.
struct OptionSpec {
    int id;                  // its short letter, or one of the OPT_ values above
    const char* long_name;   // NULL: short only
    const char* value_name;  // the value's name in the help ("N"); NULL: it takes no value
    const char* help;        // '\n' starts a continuation line
};

// A program's command line. `options` lists every option it takes, in the
// order of its help: the shared ones by id ('p', 'a', 'b' for the weights,
// 't' threads, OPT_REFERENCE, 'f' format, 'Q' quality, OPT_PNG_COMPRESSION,
// OPT_OUTSIDE, OPT_DEPTH, OPT_NO_AUTO_ORIENT, OPT_STRIP, 'q' quiet, 'h'
// help, OPT_VERSION), its own by the id of their
// entry in `own` (OPT_PROGRAM and up).
struct ProgramInfo {
    const char* program;  // "tavrosk-warp"
    const char* usage;    // "[options] SOURCE SEGMENTS RESULT"
    const char* about;    // the help before the options
    const char* after;    // the help after them, or NULL
    std::vector<int> options;
    std::vector<OptionSpec> own;
    int min_operands, max_operands;
};

// Both print and return the exit status.
int usage_error(const ProgramInfo& program, const std::string& problem);
int input_error(const ProgramInfo& program, const std::string& message);

// What the shared options set. A program's own options struct derives from
// this one; the fields of options it does not take keep their defaults.
struct CommonOptions {
    WarpParams params;
    WarpOptions warp;
    bool threads_given = false;
    bool format_given = false;
    ImageFormat format = IMAGE_PNG;
    int quality = 92;
    bool quality_given = false;
    int png_compression = PNG_COMPRESSION_DEFAULT;
    ImageOrientation orientation = IMAGE_AS_VIEWED;  // --no-auto-orient: IMAGE_AS_STORED
    bool strip = false;                              // --strip: results carry no metadata
    // --outside transparent (or none) given: results gain alpha where the
    // source has none. The colour itself is warp.outside.
    bool outside_transparent = false;
    bool depth_8 = false;  // --depth 8: results written with 8-bit samples
    bool quiet = false;
};

// A program's own option with its value (NULL when it takes none): -1 to go
// on, else the exit status.
using OwnOption = std::function<int(int id, const char* value)>;

// The opening of every program's main: installs the signal handling of
// io/output_file (before any thread starts), then reads the command line:
// the shared options into *options, the program's own through `own`, the
// operands into *operands. Returns -1 when the program is to go on, else the
// exit status: 0 after --help or --version, 1 for a bad value, 2 for a
// malformed command line.
int start_program(const ProgramInfo& program, int argc, char** argv, CommonOptions* options, const OwnOption& own,
                  std::vector<const char*>* operands);

// A whole number from low to high.
bool parse_whole(const char* text, long low, long high, long* value);
// The same for the value of `option`; false with *problem naming both, as
// "--frames: 'x' is not a whole number from 2 to 1000000".
bool parse_whole_option(const char* option, const char* text, long low, long high, long* value,
                        std::string* problem);

// The format of a result file by its name's extension: .bmp, .png, .jpg,
// .jpeg, .tif, .tiff, .webp, .heic, .heif or .avif. False with *problem
// naming the file and the ways to give a format, or saying that this build
// cannot write it.
bool result_format_from_name(const std::string& name, ImageFormat* format, std::string* problem);

// The refusal of a morph's two images of different sizes, with the command
// that makes them one: "SECOND is 22 x 17 but FIRST is 23 x 17; resize it
// first (convert SECOND -resize 23x17! SECOND2)", SECOND2 beside SECOND.
std::string size_mismatch(const char* first, int first_w, int first_h, const char* second, int second_w,
                          int second_h);

// The quality a result in `format` is written at: --quality's, or 0
// (lossless) for WebP without it.
int result_quality(const CommonOptions& options, ImageFormat format);

// Loads the image at `path` ("-": standard input) for the warp, in the kind
// its file holds. -1, or the exit status after the message.
int load_for_warp(const ProgramInfo& program, const char* path, ImageOrientation orientation, ImageBuffer* image,
                  ImageMeta* meta);

// --outside's value: "transparent" (or "none"), a colour name of the small
// table ImageMagick users know (black, white, grey, red, ...), or #rrggbb,
// in any case. False with *problem naming the option and value.
bool parse_outside(const char* text, OutsideColour* colour, bool* transparent, std::string* problem);

// The kind the warp of a source of kind `source` works in: the source's,
// with alpha added under an explicit --outside transparent.
ImageKind warp_kind(const CommonOptions& options, ImageKind source);

// The kind a result of kind `kind` is written in: 8-bit samples under
// --depth 8, else `kind`.
ImageKind written_kind(const CommonOptions& options, ImageKind kind);

// *image in kind `kind` (image_convert), in place; unchanged when it has it
// already. False when memory runs out.
bool image_to_kind(ImageBuffer* image, ImageKind kind);

// Before a result of kind `kind` named `name` is written in `format` with
// `meta` (NULL under --strip): one warning line on stderr naming all the
// format cannot carry, e.g. "tavrosk-warp: warning: out.bmp: BMP cannot
// carry the source's alpha and ICC profile; written without them".
void warn_of_losses(const ProgramInfo& program, const std::string& name, ImageKind kind, ImageFormat format,
                    const ImageMeta* meta);

// Once every option is read: a note on stderr when --reference meets
// --threads, which the reference kernel does not take.
void note_ignored_options(const ProgramInfo& program, const CommonOptions& options);
