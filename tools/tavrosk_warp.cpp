// tavrosk-warp: the program's line-pair warp applied to BMP files.
//   tavrosk-warp [options] SOURCE.bmp SEGMENTS RESULT.bmp
// Bad input: one line on stderr, exit 1. Usage errors: exit 2. Success is
// silent. RESULT is written to a temporary file beside it and renamed into
// place, so it is either the whole new image or left as it was.
#include <SDL.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "raster/surface_check.h"
#include "tools/segment_file.h"
#include "warp/warp.h"

#ifndef TAVROSK_VERSION
#define TAVROSK_VERSION "unknown"
#endif

static const char* const program = "tavrosk-warp";
static const int max_threads = 1024;

struct Options {
    double p = 0.5, a = 1.0, b = 1.0;
    int threads = 0;  // 0: the fast kernel's default
    bool reference = false;
    const char* source = nullptr;
    const char* segments = nullptr;
    const char* result = nullptr;
};

static void print_usage(std::FILE* out)
{
    std::fprintf(out, "usage: %s [options] SOURCE.bmp SEGMENTS RESULT.bmp\n", program);
}

static void print_help()
{
    print_usage(stdout);
    std::printf(
        "Warps SOURCE by the segment pairs in SEGMENTS and writes RESULT (a BMP).\n"
        "SEGMENTS is a text file, or - for standard input, with one segment a line:\n"
        "  x1 y1 x2 y2\n"
        "Blank lines and lines starting with # are skipped. Lines 1 and 2 form the\n"
        "first pair: where a feature lies in SOURCE, and where it is to lie in RESULT.\n"
        "\n"
        "Options:\n"
        "  -p P          length exponent of the weight (default 0.5, P >= 0)\n"
        "  -a A          distance offset of the weight (default 1.0, A > 0)\n"
        "  -b B          falloff exponent of the weight (default 1.0, B >= 0)\n"
        "  --threads N   run the fast kernel on N threads (default: all cores)\n"
        "  --reference   run the literal reference kernel on one thread\n"
        "  -h, --help    show this help\n"
        "  --version     show the version\n");
}

// Exit status 2: the command line itself is malformed.
static int usage_error(const char* what, const char* arg)
{
    std::fprintf(stderr, "%s: %s%s%s\n", program, what, arg ? " " : "", arg ? arg : "");
    print_usage(stderr);
    return 2;
}

// Exit status 1: a bad value, file or image.
static int input_error(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    return 1;
}

static bool parse_parameter(const char* text, double* value)
{
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

static bool parse_threads(const char* text, int* value)
{
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || v < 1 || v > max_threads)
        return false;
    *value = static_cast<int>(v);
    return true;
}

// Returns -1 when the program is to go on, else the exit status.
static int parse_arguments(int argc, char** argv, Options* options)
{
    const char* positional[3];
    int count = 0;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_done || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
            if (count == 3)
                return usage_error("unexpected argument", arg);
            positional[count++] = arg;
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            print_help();
            return 0;
        } else if (std::strcmp(arg, "--version") == 0) {
            std::printf("%s %s\n", program, TAVROSK_VERSION);
            return 0;
        } else if (std::strcmp(arg, "--reference") == 0) {
            options->reference = true;
        } else if (std::strcmp(arg, "--threads") == 0 || std::strncmp(arg, "--threads=", 10) == 0) {
            const char* value = arg[9] == '=' ? arg + 10 : (i + 1 < argc ? argv[++i] : nullptr);
            if (!value)
                return usage_error("missing value for", "--threads");
            if (!parse_threads(value, &options->threads))
                return input_error(std::string("--threads: '") + value + "' is not a whole number from 1 to "
                                   + std::to_string(max_threads));
        } else if ((arg[1] == 'p' || arg[1] == 'a' || arg[1] == 'b') && arg[2] == '\0') {
            if (i + 1 >= argc)
                return usage_error("missing value for", arg);
            const char* value = argv[++i];
            double v;
            bool ok = parse_parameter(value, &v);
            double* target = arg[1] == 'p' ? &options->p : arg[1] == 'a' ? &options->a : &options->b;
            const char* rule = arg[1] == 'a' ? "a finite number greater than 0" : "a finite number, 0 or more";
            if (!ok || (arg[1] == 'a' ? !(v > 0) : !(v >= 0)))
                return input_error(std::string(arg) + ": '" + value + "' is not " + rule);
            *target = v;
        } else {
            return usage_error("unknown option", arg);
        }
    }
    if (count < 3)
        return usage_error("missing arguments", nullptr);
    options->source = positional[0];
    options->segments = positional[1];
    options->result = positional[2];
    return -1;
}

static int read_segment_table(const char* name, std::vector<Segment>* segments)
{
    bool from_stdin = std::strcmp(name, "-") == 0;
    std::string label = from_stdin ? "standard input" : name;
    std::FILE* in = from_stdin ? stdin : std::fopen(name, "r");
    if (!in)
        return input_error(label + ": cannot open: " + std::strerror(errno));
    long line = 0;
    std::string problem;
    bool ok = read_segments(in, segments, &line, &problem);
    if (!from_stdin)
        std::fclose(in);
    if (!ok)
        return input_error(line > 0 ? label + ":" + std::to_string(line) + ": " + problem : label + ": " + problem);
    return -1;
}

static int load_source(const char* path, SDL_Surface** surface)
{
    std::FILE* in = std::fopen(path, "rb");
    if (!in)
        return input_error(std::string(path) + ": cannot open: " + std::strerror(errno));
    struct stat info;
    if (fstat(fileno(in), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(in);
        return input_error(std::string(path) + ": is a directory");
    }
    SDL_ClearError();
    *surface = load_bmp_rw_checked(SDL_RWFromFP(in, 1));
    if (!*surface) {
        const char* why = SDL_GetError();
        return input_error(std::string(path) + ": not a BMP image that can be loaded"
                           + (why && *why ? std::string(" (") + why + ")" : std::string()));
    }
    return -1;
}

static std::string folder_of(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

static std::string base_of(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// SDL_SaveBMP into a fresh temporary beside RESULT, flushed and synced, then
// renamed over RESULT. The stream is closed by us, not by SDL, so that a
// write error that only shows on the final flush is not lost.
static int save_result(SDL_Surface* image, const char* result)
{
    std::string path = result;
    std::string temp = folder_of(path) + "/." + base_of(path) + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return input_error(path + ": cannot create a temporary file in " + folder_of(path) + ": "
                           + std::strerror(errno));
    // mkstemp makes the file private; give the result the usual permissions.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    std::string failure;
    std::FILE* out = fdopen(fd, "wb");
    if (!out) {
        failure = std::strerror(errno);
        close(fd);
    } else {
        SDL_ClearError();
        SDL_RWops* rw = SDL_RWFromFP(out, 0);
        if (!rw || SDL_SaveBMP_RW(image, rw, 1) != 0)
            failure = SDL_GetError();
        if (failure.empty() && (std::fflush(out) != 0 || fsync(fd) != 0))
            failure = std::strerror(errno);
        if (std::fclose(out) != 0 && failure.empty())
            failure = std::strerror(errno);
        if (failure.empty() && std::rename(name.data(), result) != 0)
            failure = std::strerror(errno);
    }
    if (!failure.empty()) {
        unlink(name.data());
        return input_error(path + ": cannot write: " + failure);
    }
    return 0;
}

int main(int argc, char** argv)
{
    Options options;
    int status = parse_arguments(argc, argv, &options);
    if (status >= 0)
        return status;

    std::vector<Segment> segments;
    if ((status = read_segment_table(options.segments, &segments)) >= 0)
        return status;

    // No video is needed: only the BMP reader and writer and software surfaces.
    if (SDL_Init(0) < 0)
        return input_error(std::string("cannot initialise SDL: ") + SDL_GetError());
    std::atexit(SDL_Quit);

    SDL_Surface* source = nullptr;
    if ((status = load_source(options.source, &source)) >= 0)
        return status;
    // Fail before the warp, not after it, when the result cannot be written.
    std::string folder = folder_of(options.result);
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        SDL_FreeSurface(source);
        return input_error(std::string(options.result) + ": cannot write in " + folder + ": " + std::strerror(errno));
    }

    if (options.reference)
        warp_select(WARP_KERNEL_LITERAL, 1);
    else
        warp_select(WARP_KERNEL_FAST, options.threads);
    SDL_Surface* result = nullptr;
    warp_image(source, &result, segments.data(), static_cast<int>(segments.size()), options.p, options.b,
               options.a);
    if (result) {
        status = save_result(result, options.result);
        SDL_FreeSurface(result);
    } else {
        // warp_image has printed its bare "error" on stdout; end that line.
        std::printf("\n");
        status = input_error(std::string("cannot create the ") + std::to_string(source->w) + " x "
                             + std::to_string(source->h) + " result image");
    }
    SDL_FreeSurface(source);
    return status;
}
