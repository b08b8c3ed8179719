#include "cli/cli.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "io/image_codecs.h"
#include "io/output_file.h"

#ifndef TAVROSK_VERSION
#define TAVROSK_VERSION "unknown"
#endif

// The options programs share, in the order getopt_long is given them (which
// orders the candidates of an ambiguous abbreviation).
static const OptionSpec SHARED_OPTIONS[] = {
    {'p', nullptr, "P", "length exponent of the weight (default 0.5, P >= 0)"},
    {'a', nullptr, "A", "distance offset of the weight (default 1.0, A > 0)"},
    {'b', nullptr, "B", "falloff exponent of the weight (default 1.0, B >= 0)"},
    {'t', "threads", "N", "run the fast kernel on N threads (default: all cores)"},
    {OPT_REFERENCE, "reference", nullptr, "run the literal reference kernel (on one thread)"},
    {'f', "format", "F", "write bmp, png, jpeg, tiff, webp, heif or avif,\nwhatever the extension"},
    {'Q', "quality", "Q", "quality of JPEG, HEIF and AVIF from 1 to 100 (default\n92); WebP is lossy at Q, lossless without it"},
    {OPT_PNG_COMPRESSION, "png-compression", "N",
     "PNG compression (zlib level) from 0 to 9: 1 fastest,\n9 smallest, 0 none (default 6)"},
    {OPT_OUTSIDE, "outside", "COLOUR",
     "what pixels whose source point lies outside the\nsource become: transparent (which adds alpha), black,\n"
     "a name such as white or grey, or #rrggbb (default:\ntransparent where the result has alpha, else black)"},
    {OPT_DEPTH, "depth", "BITS", "write 8-bit samples whatever the source has (only 8\nis taken; by default a result keeps its source's)"},
    {OPT_NO_AUTO_ORIENT, "no-auto-orient", nullptr,
     "keep a JPEG's pixels as stored, whatever its Exif\norientation says (by default they are turned as viewed)"},
    {OPT_STRIP, "strip", nullptr,
     "write results without their source's colour profile,\ncolour chunks and Exif (by default they are kept where\n"
     "the format can hold them)"},
    {'q', "quiet", nullptr, "no progress line (shown only on a terminal, after a second)"},
    {'h', "help", nullptr, "show this help"},
    {OPT_VERSION, "version", nullptr, "show the version"},
};

// Where an option's help starts in --help.
enum { HELP_COLUMN = 20 };

static bool takes(const ProgramInfo& program, int id)
{
    for (int taken : program.options)
        if (taken == id)
            return true;
    return false;
}

static const OptionSpec* find_option(const ProgramInfo& program, int id)
{
    for (const OptionSpec& option_entry : program.own)
        if (option_entry.id == id)
            return &option_entry;
    for (const OptionSpec& option_entry : SHARED_OPTIONS)
        if (option_entry.id == id)
            return &option_entry;
    return nullptr;
}

static void print_usage_line(const ProgramInfo& program, std::FILE* out)
{
    std::fprintf(out, "usage: %s %s\n", program.program, program.usage);
}

static void print_help(const ProgramInfo& program)
{
    print_usage_line(program, stdout);
    std::fputs(program.about, stdout);
    std::fputs("\nOptions:\n", stdout);
    for (int id : program.options) {
        const OptionSpec* option_entry = find_option(program, id);
        std::string left = "  ";
        left += id < OPT_REFERENCE ? std::string("-") + static_cast<char>(id) + (option_entry->long_name ? ", " : "")
                                   : std::string("    ");
        if (option_entry->long_name)
            left += std::string("--") + option_entry->long_name;
        if (option_entry->value_name)
            left += std::string(" ") + option_entry->value_name;
        left.resize(std::max<size_t>(left.size() + 2, HELP_COLUMN), ' ');
        for (const char* line = option_entry->help; *line;) {
            const char* end = std::strchr(line, '\n');
            const size_t length = end ? static_cast<size_t>(end - line) : std::strlen(line);
            std::printf("%s%.*s\n", left.c_str(), static_cast<int>(length), line);
            left.assign(HELP_COLUMN, ' ');
            line += length + (end ? 1 : 0);
        }
    }
    if (program.after)
        std::printf("\n%s", program.after);
}

int usage_error(const ProgramInfo& program, const std::string& problem)
{
    std::fprintf(stderr, "%s: %s\n", program.program, problem.c_str());
    print_usage_line(program, stderr);
    std::fprintf(stderr, "Try '%s --help' for more information.\n", program.program);
    return EXIT_USAGE;
}

int input_error(const ProgramInfo& program, const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", program.program, message.c_str());
    return EXIT_BAD_INPUT;
}

// What went wrong when getopt_long (with opterr = 0 and a leading ':' in its
// short options) returned '?' or ':' for argv[optind - 1], told apart by the
// long options table (ended by a zero entry): a missing value, an unknown
// option, a value given to an option that takes none, or an abbreviation of
// several options, which are listed ("--f: ambiguous; --format or --folds?").
static std::string getopt_problem(int result, const char* argument, const option* long_options)
{
    const std::string arg = argument ? argument : "";
    // A short option's letter is the one getopt stopped at; a long option is
    // the word up to any '='.
    const bool is_long = arg.compare(0, 2, "--") == 0;
    const std::string name = is_long ? arg.substr(0, arg.find('=')) : "-" + std::string(1, static_cast<char>(optopt));
    if (result == ':')
        return "missing value for " + name;
    if (!is_long)
        return "unknown option " + name;
    // The options this word abbreviates, in the table's order; an exact name
    // stands alone, as getopt_long takes it.
    const std::string word = name.substr(2);
    std::vector<std::string> candidates;
    for (const option* o = long_options; o && o->name; ++o) {
        if (o->name == word) {
            candidates = {o->name};
            break;
        }
        if (!word.empty() && std::strncmp(o->name, word.c_str(), word.size()) == 0)
            candidates.push_back(o->name);
    }
    if (candidates.empty())
        return "unknown option " + name;
    if (candidates.size() == 1)
        return "--" + candidates[0] + " takes no value";
    std::string list;
    for (size_t i = 0; i < candidates.size(); ++i)
        list += (i == 0 ? "--" : i + 1 == candidates.size() ? " or --" : ", --") + candidates[i];
    return name + ": ambiguous; " + list + "?";
}

bool parse_whole(const char* text, long low, long high, long* value)
{
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || v < low || v > high)
        return false;
    *value = v;
    return true;
}

// -p, -a or -b (which names the option) with its value: finite, p and b
// >= 0, a > 0. False with *problem naming the option and value.
static bool parse_weight(char which, const char* text, WarpParams* params, std::string* problem)
{
    char* end = nullptr;
    double v = std::strtod(text, &end);
    const bool number = end != text && *end == '\0' && std::isfinite(v);
    const bool positive_only = which == 'a';
    if (!number || (positive_only ? !(v > 0) : !(v >= 0))) {
        *problem = std::string("-") + which + ": '" + text + "' is not "
                 + (positive_only ? "a finite number greater than 0" : "a finite number, 0 or more");
        return false;
    }
    (which == 'p' ? params->p : which == 'a' ? params->a : params->b) = v;
    return true;
}

bool parse_whole_option(const char* option, const char* text, long low, long high, long* value,
                        std::string* problem)
{
    if (parse_whole(text, low, high, value))
        return true;
    *problem = std::string(option) + ": '" + text + "' is not a whole number from " + std::to_string(low) + " to "
             + std::to_string(high);
    return false;
}

// "HEIF results cannot be written: ..." where Debian's libheif has no
// encoder for the format; "" where it can be written.
static std::string unwritable(ImageFormat format)
{
    if (image_format_writable(format))
        return "";
    return std::string(image_format_name(format)) + " results cannot be written: this build of libheif has no "
         + (format == IMAGE_AVIF ? "AV1" : "HEVC") + " encoder";
}

// --format: bmp, png, jpeg (jpg too), tiff (tif), webp, heif (heic) or
// avif, in any case.
static bool parse_result_format(const char* text, ImageFormat* format, std::string* problem)
{
    if (!image_format_from_word(text, format) || *format == IMAGE_PPM) {
        *problem = std::string("--format: '") + text + "' is not bmp, png, jpeg, tiff, webp, heif or avif";
        return false;
    }
    *problem = unwritable(*format);
    return problem->empty();
}

bool result_format_from_name(const std::string& name, ImageFormat* format, std::string* problem)
{
    ImageFormat by_name;
    if (!image_format_from_name(name, &by_name) || by_name == IMAGE_PPM) {
        *problem = name + ": cannot tell the format from the name; use .bmp, .png, .jpg, .jpeg, .tif, .tiff, "
                          ".webp, .heic, .heif or .avif, or --format bmp|png|jpeg|tiff|webp|heif|avif";
        return false;
    }
    *problem = unwritable(by_name);
    if (!problem->empty()) {
        *problem = name + ": " + *problem;
        return false;
    }
    *format = by_name;
    return true;
}

int result_quality(const CommonOptions& options, ImageFormat format)
{
    return format == IMAGE_WEBP && !options.quality_given ? 0 : options.quality;
}

int load_for_warp(const ProgramInfo& program, const char* path, ImageOrientation orientation, ImageBuffer* image,
                  ImageMeta* meta)
{
    std::string problem;
    const bool from_stdin = std::strcmp(path, "-") == 0;
    if (!(from_stdin ? image_read(stdin, image, &problem, meta, orientation)
                     : image_load(path, image, &problem, meta, orientation)))
        return input_error(program, (from_stdin ? "standard input" : path) + std::string(": ") + problem);
    return -1;
}

// A name as a shell reads it back: in single quotes unless it is plain.
static std::string shell_word(const std::string& name)
{
    if (!name.empty() && name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./+-,:=@")
                             == std::string::npos)
        return name;
    std::string quoted = "'";
    for (char c : name)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// "b.png" becomes "b2.png": where a resized copy of SECOND could go.
static std::string resized_name(const std::string& name)
{
    std::filesystem::path path(name);
    return path.replace_filename(path.stem().string() + "2" + path.extension().string()).string();
}

// The colours --outside knows by name: those of ImageMagick's table that
// people type most (its green is the web's half-bright one, lime the full).
static const struct {
    const char* name;
    uint8_t r, g, b;
} COLOUR_NAMES[] = {
    {"black", 0, 0, 0},      {"white", 255, 255, 255}, {"red", 255, 0, 0},       {"green", 0, 128, 0},
    {"lime", 0, 255, 0},     {"blue", 0, 0, 255},      {"yellow", 255, 255, 0},  {"cyan", 0, 255, 255},
    {"magenta", 255, 0, 255}, {"grey", 126, 126, 126}, {"gray", 126, 126, 126},
};

bool parse_outside(const char* text, OutsideColour* colour, bool* transparent, std::string* problem)
{
    std::string word = text;
    for (char& c : word)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    *transparent = word == "transparent" || word == "none";
    if (*transparent) {
        *colour = OutsideColour();
        return true;
    }
    unsigned rgb[3];
    bool known = false;
    if (word.size() == 7 && word[0] == '#' && word.find_first_not_of("0123456789abcdef", 1) == std::string::npos) {
        for (int c = 0; c < 3; ++c)
            rgb[c] = static_cast<unsigned>(std::stoul(word.substr(1 + 2 * c, 2), nullptr, 16));
        known = true;
    }
    for (const auto& named : COLOUR_NAMES)
        if (word == named.name) {
            rgb[0] = named.r, rgb[1] = named.g, rgb[2] = named.b;
            known = true;
        }
    if (!known) {
        *problem = std::string("--outside: '") + text
                 + "' is not transparent, #rrggbb or a colour name (black, white, grey, red, green, lime, blue, "
                   "yellow, cyan, magenta)";
        return false;
    }
    *colour = {rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, 1.0};
    return true;
}

ImageKind warp_kind(const CommonOptions& options, ImageKind source)
{
    if (options.outside_transparent && (source.channels == 1 || source.channels == 3))
        ++source.channels;
    return source;
}

ImageKind written_kind(const CommonOptions& options, ImageKind kind)
{
    if (options.depth_8)
        kind.type = SAMPLE_U8;
    return kind;
}

bool image_to_kind(ImageBuffer* image, ImageKind kind)
{
    if (kind_equal(image_kind(image->view), kind))
        return true;
    ImageBuffer converted;
    if (!image_convert(image->view, kind, &converted))
        return false;
    *image = std::move(converted);
    return true;
}

std::string size_mismatch(const char* first, int first_w, int first_h, const char* second, int second_w,
                          int second_h)
{
    const std::string size = std::to_string(first_w) + "x" + std::to_string(first_h);
    return std::string(second) + " is " + std::to_string(second_w) + " x " + std::to_string(second_h) + " but "
         + first + " is " + std::to_string(first_w) + " x " + std::to_string(first_h) + "; resize it first (convert "
         + shell_word(second) + " -resize " + size + "! " + shell_word(resized_name(second)) + ")";
}

// One shared option: -1 when it was taken, else the exit status.
static int parse_shared_option(const ProgramInfo& program, int id, const char* value, CommonOptions* options)
{
    std::string problem;
    long whole;
    switch (id) {
    case 'p':
    case 'a':
    case 'b':
        if (!parse_weight(static_cast<char>(id), value, &options->params, &problem))
            return input_error(program, problem);
        return -1;
    case 't':
        if (!parse_whole_option("--threads", value, 1, MAX_THREADS, &whole, &problem))
            return input_error(program, problem);
        options->warp.threads = static_cast<int>(whole);
        options->threads_given = true;
        return -1;
    case OPT_REFERENCE:
        options->warp.kernel = WARP_KERNEL_LITERAL;
        return -1;
    case 'f':
        if (!parse_result_format(value, &options->format, &problem))
            return usage_error(program, problem);
        options->format_given = true;
        return -1;
    case 'Q':
        options->quality_given = true;
        if (!parse_whole_option("--quality", value, 1, 100, &whole, &problem))
            return input_error(program, problem);
        options->quality = static_cast<int>(whole);
        return -1;
    case OPT_PNG_COMPRESSION:
        if (!parse_whole_option("--png-compression", value, 0, 9, &whole, &problem))
            return input_error(program, problem);
        options->png_compression = static_cast<int>(whole);
        return -1;
    case OPT_OUTSIDE:
        if (!parse_outside(value, &options->warp.outside, &options->outside_transparent, &problem))
            return input_error(program, problem);
        return -1;
    case OPT_DEPTH:
        if (std::strcmp(value, "8") != 0)
            return input_error(program, std::string("--depth: '") + value
                                            + "' is not 8; without --depth a result keeps its source's depth");
        options->depth_8 = true;
        return -1;
    case OPT_NO_AUTO_ORIENT:
        options->orientation = IMAGE_AS_STORED;
        return -1;
    case OPT_STRIP:
        options->strip = true;
        return -1;
    case 'q':
        options->quiet = true;
        return -1;
    case 'h':
        print_help(program);
        return 0;
    default:  // OPT_VERSION
        std::printf("%s %s\n%s\n", program.program, TAVROSK_VERSION, warp_kernel_summary().c_str());
        return 0;
    }
}

// getopt_long's tables for the options `program` takes: the shared ones in
// their table's order, then its own.
static void getopt_tables(const ProgramInfo& program, std::string* short_options, std::vector<option>* long_options)
{
    // Messages are the program's own, so getopt prints none; the leading ':'
    // tells a missing value from an unknown option.
    *short_options = ":";
    auto add = [&](const OptionSpec& option_entry) {
        if (!takes(program, option_entry.id))
            return;
        const int has_value = option_entry.value_name ? required_argument : no_argument;
        if (option_entry.id < OPT_REFERENCE)
            *short_options += std::string(1, static_cast<char>(option_entry.id)) + (option_entry.value_name ? ":" : "");
        if (option_entry.long_name)
            long_options->push_back({option_entry.long_name, has_value, nullptr, option_entry.id});
    };
    for (const OptionSpec& option_entry : SHARED_OPTIONS)
        add(option_entry);
    for (const OptionSpec& option_entry : program.own)
        add(option_entry);
    long_options->push_back({nullptr, 0, nullptr, 0});
}

int start_program(const ProgramInfo& program, int argc, char** argv, CommonOptions* options, const OwnOption& own,
                  std::vector<const char*>* operands)
{
    output_handle_signals();
    std::string short_options;
    std::vector<option> long_options;
    getopt_tables(program, &short_options, &long_options);
    opterr = 0;
    optind = 0;  // from the start, whatever was read before (tests read several)
    int c;
    while ((c = getopt_long(argc, argv, short_options.c_str(), long_options.data(), nullptr)) != -1) {
        int status;
        if (c == '?' || c == ':')
            status = usage_error(program, getopt_problem(c, argv[optind - 1], long_options.data()));
        else if (c >= OPT_PROGRAM)
            status = own(c, optarg);
        else
            status = parse_shared_option(program, c, optarg, options);
        if (status >= 0)
            return status;
    }
    const int count = argc - optind;
    if (count < program.min_operands)
        return usage_error(program, "missing arguments");
    if (count > program.max_operands)
        return usage_error(program, std::string("unexpected argument ") + argv[optind + program.max_operands]);
    operands->assign(argv + optind, argv + argc);
    return -1;
}

void warn_of_losses(const ProgramInfo& program, const std::string& name, ImageKind kind, ImageFormat format,
                    const ImageMeta* meta)
{
    const char* pronoun;
    const std::string lost = image_lost(kind, meta, format, &pronoun);
    if (!lost.empty())
        std::fprintf(stderr, "%s: warning: %s: %s cannot carry the source's %s; written without %s\n",
                     program.program, name.c_str(), image_format_name(format), lost.c_str(), pronoun);
}

void note_ignored_options(const ProgramInfo& program, const CommonOptions& options)
{
    if (options.warp.kernel == WARP_KERNEL_LITERAL && options.threads_given)
        std::fprintf(stderr, "%s: --reference runs on one thread; --threads is ignored\n", program.program);
}
