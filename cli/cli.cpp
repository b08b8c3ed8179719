#include "cli/cli.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void print_usage_line(const ToolInfo& tool, std::FILE* out)
{
    std::fprintf(out, "usage: %s %s\n", tool.program, tool.usage);
}

int usage_error(const ToolInfo& tool, const std::string& problem)
{
    std::fprintf(stderr, "%s: %s\n", tool.program, problem.c_str());
    print_usage_line(tool, stderr);
    std::fprintf(stderr, "Try '%s --help' for more information.\n", tool.program);
    return EXIT_USAGE;
}

int input_error(const ToolInfo& tool, const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", tool.program, message.c_str());
    return EXIT_BAD_INPUT;
}

std::string getopt_problem(int result, const char* argument)
{
    const std::string arg = argument ? argument : "";
    // A short option's letter is the one getopt stopped at; a long option is
    // the word up to any '='.
    const bool is_long = arg.compare(0, 2, "--") == 0;
    const std::string name = is_long ? arg.substr(0, arg.find('=')) : "-" + std::string(1, static_cast<char>(optopt));
    if (result == ':')
        return "missing value for " + name;
    if (is_long)
        return "unknown or ambiguous option " + name;
    return "unknown option " + name;
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

bool parse_weight(char which, const char* text, WarpParams* params, std::string* problem)
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

bool parse_threads(const char* text, int* threads, std::string* problem)
{
    long v;
    if (!parse_whole(text, 1, MAX_THREADS, &v)) {
        *problem = std::string("--threads: '") + text + "' is not a whole number from 1 to "
                 + std::to_string(MAX_THREADS);
        return false;
    }
    *threads = static_cast<int>(v);
    return true;
}

bool parse_quality(const char* text, int* quality, std::string* problem)
{
    long v;
    if (!parse_whole(text, 1, 100, &v)) {
        *problem = std::string("--quality: '") + text + "' is not a whole number from 1 to 100";
        return false;
    }
    *quality = static_cast<int>(v);
    return true;
}

bool parse_result_format(const char* text, ImageFormat* format, std::string* problem)
{
    if (!image_format_from_word(text, format) || *format == IMAGE_PPM) {
        *problem = std::string("--format: '") + text + "' is not bmp, png or jpeg";
        return false;
    }
    return true;
}

bool result_format_from_name(const std::string& name, ImageFormat* format, std::string* problem)
{
    ImageFormat by_name;
    if (!image_format_from_name(name, &by_name) || by_name == IMAGE_PPM) {
        *problem = name + ": cannot tell the format from the name; use .bmp, .png, .jpg or .jpeg, "
                   "or --format bmp|png|jpeg";
        return false;
    }
    *format = by_name;
    return true;
}

#ifndef TAVROSK_VERSION
#define TAVROSK_VERSION "unknown"
#endif

// One option of those both tools take: -1 when it was taken, -2 when it is
// not one of them, else the exit status.
static int parse_tool_option(const ToolInfo& tool, int c, const char* value, void (*print_help)(),
                             ToolOptions* options)
{
    std::string problem;
    switch (c) {
    case 'p':
    case 'a':
    case 'b':
        if (!parse_weight(static_cast<char>(c), value, &options->params, &problem))
            return input_error(tool, problem);
        return -1;
    case 't':
        if (!parse_threads(value, &options->warp.threads, &problem))
            return input_error(tool, problem);
        options->threads_given = true;
        return -1;
    case OPT_REFERENCE:
        options->warp.kernel = WARP_KERNEL_LITERAL;
        return -1;
    case 'f':
        if (!parse_result_format(value, &options->format, &problem))
            return usage_error(tool, problem);
        options->format_given = true;
        return -1;
    case 'Q':
        if (!parse_quality(value, &options->quality, &problem))
            return input_error(tool, problem);
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
        print_help();
        return 0;
    case OPT_VERSION:
        std::printf("%s %s\n", tool.program, TAVROSK_VERSION);
        return 0;
    default:
        return -2;
    }
}

int parse_command_line(const ToolInfo& tool, int argc, char** argv, std::initializer_list<option> own_options,
                       const std::function<int(int option, const char* value)>& own, void (*print_help)(),
                       ToolOptions* options, int count, const char** operands)
{
    std::vector<option> long_options = {
        {"threads", required_argument, nullptr, 't'},
        {"reference", no_argument, nullptr, OPT_REFERENCE},
        {"format", required_argument, nullptr, 'f'},
        {"quality", required_argument, nullptr, 'Q'},
        {"no-auto-orient", no_argument, nullptr, OPT_NO_AUTO_ORIENT},
        {"strip", no_argument, nullptr, OPT_STRIP},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, OPT_VERSION},
    };
    long_options.insert(long_options.end(), own_options.begin(), own_options.end());
    long_options.push_back({nullptr, 0, nullptr, 0});
    // Messages are the tool's own, so getopt prints none; the leading ':'
    // tells a missing value from an unknown option.
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":p:a:b:t:f:Q:qh", long_options.data(), nullptr)) != -1) {
        int status = parse_tool_option(tool, c, optarg, print_help, options);
        if (status == -2)
            status = c >= OPT_TOOL ? own(c, optarg) : usage_error(tool, getopt_problem(c, argv[optind - 1]));
        if (status >= 0)
            return status;
    }
    if (argc - optind < count)
        return usage_error(tool, "missing arguments");
    if (argc - optind > count)
        return usage_error(tool, std::string("unexpected argument ") + argv[optind + count]);
    for (int i = 0; i < count; ++i)
        operands[i] = argv[optind + i];
    return -1;
}

void warn_of_lost_meta(const ToolInfo& tool, const std::string& name, ImageFormat format, const ImageMeta* meta)
{
    const std::string lost = meta ? image_meta_lost(*meta, format) : "";
    if (!lost.empty())
        std::fprintf(stderr, "%s: warning: %s: %s cannot carry the source's %s; written without it\n", tool.program,
                     name.c_str(), image_format_name(format), lost.c_str());
}

void note_ignored_options(const ToolInfo& tool, const ToolOptions& options)
{
    if (options.warp.kernel == WARP_KERNEL_LITERAL && options.threads_given)
        std::fprintf(stderr, "%s: --reference runs on one thread; --threads is ignored\n", tool.program);
}
