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
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "raster/surface_check.h"
#include "tools/cli.h"
#include "tools/segment_file.h"
#include "warp/warp.h"

namespace fs = std::filesystem;

#ifndef TAVROSK_VERSION
#define TAVROSK_VERSION "unknown"
#endif

static const ToolInfo tool = {"tavrosk-warp", "[options] SOURCE.bmp SEGMENTS RESULT.bmp"};

struct Options {
    WarpParams params;
    WarpOptions warp;
    const char* source = nullptr;
    const char* segments = nullptr;
    const char* result = nullptr;
};

static void print_help()
{
    print_usage_line(tool, stdout);
    std::printf(
        "Warps SOURCE by the segment pairs in SEGMENTS and writes RESULT (a BMP).\n"
        "SEGMENTS is a text file, or - for standard input, with one segment a line:\n"
        "  x1 y1 x2 y2\n"
        "Blank lines and lines starting with # are skipped, and a line may end with\n"
        "a # comment. Lines 1 and 2 form the first pair: where a feature lies in\n"
        "SOURCE, and where it is to lie in RESULT.\n"
        "\n"
        "Options:\n"
        "  -p P              length exponent of the weight (default 0.5, P >= 0)\n"
        "  -a A              distance offset of the weight (default 1.0, A > 0)\n"
        "  -b B              falloff exponent of the weight (default 1.0, B >= 0)\n"
        "  -t, --threads N   run the fast kernel on N threads (default: all cores)\n"
        "      --reference   run the literal reference kernel (on one thread)\n"
        "  -h, --help        show this help\n"
        "      --version     show the version\n");
}

enum { OPT_REFERENCE = 256, OPT_VERSION };

// Returns -1 when the program is to go on, else the exit status.
static int parse_arguments(int argc, char** argv, Options* options)
{
    static const option long_options[] = {
        {"threads", required_argument, nullptr, 't'},
        {"reference", no_argument, nullptr, OPT_REFERENCE},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, OPT_VERSION},
        {nullptr, 0, nullptr, 0},
    };
    bool threads_given = false;
    std::string problem;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":p:a:b:t:h", long_options, nullptr)) != -1) {
        switch (c) {
        case 'p':
        case 'a':
        case 'b':
            if (!parse_weight(static_cast<char>(c), optarg, &options->params, &problem))
                return input_error(tool, problem);
            break;
        case 't':
            if (!parse_threads(optarg, &options->warp.threads, &problem))
                return input_error(tool, problem);
            threads_given = true;
            break;
        case OPT_REFERENCE:
            options->warp.kernel = WARP_KERNEL_LITERAL;
            break;
        case 'h':
            print_help();
            return 0;
        case OPT_VERSION:
            std::printf("%s %s\n", tool.program, TAVROSK_VERSION);
            return 0;
        default:
            return usage_error(tool, getopt_problem(c, argv[optind - 1]));
        }
    }
    const int count = argc - optind;
    if (count < 3)
        return usage_error(tool, "missing arguments");
    if (count > 3)
        return usage_error(tool, std::string("unexpected argument ") + argv[optind + 3]);
    if (options->warp.kernel == WARP_KERNEL_LITERAL && threads_given)
        std::fprintf(stderr, "%s: --reference runs on one thread; --threads is ignored\n", tool.program);
    options->source = argv[optind];
    options->segments = argv[optind + 1];
    options->result = argv[optind + 2];
    return -1;
}

static int read_segment_table(const char* name, std::vector<Segment>* segments)
{
    std::string message;
    if (!read_segment_file(name, segments, &message))
        return input_error(tool, message);
    return -1;
}

static int load_source(const char* path, SDL_Surface** surface)
{
    std::FILE* in = std::fopen(path, "rb");
    if (!in)
        return input_error(tool, std::string(path) + ": cannot open: " + std::strerror(errno));
    struct stat info;
    if (fstat(fileno(in), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(in);
        return input_error(tool, std::string(path) + ": is a directory");
    }
    SDL_ClearError();
    *surface = load_bmp_rw_checked(SDL_RWFromFP(in, 1));
    if (!*surface) {
        const char* why = SDL_GetError();
        return input_error(tool, std::string(path) + ": not a BMP image that can be loaded"
                           + (why && *why ? std::string(" (") + why + ")" : std::string()));
    }
    return -1;
}

// The folder a result is written in: "." for a bare name.
static fs::path folder_of(const fs::path& path)
{
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

// SDL_SaveBMP into a fresh temporary beside RESULT, flushed and synced, then
// renamed over RESULT. The stream is closed by us, not by SDL, so that a
// write error that only shows on the final flush is not lost.
static int save_result(SDL_Surface* image, const char* result)
{
    const std::string path = result;
    const std::string folder = folder_of(path).string();
    const std::string temp = (folder_of(path) / ("." + fs::path(path).filename().string() + ".XXXXXX")).string();
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return input_error(tool, path + ": cannot create a temporary file in " + folder + ": "
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
        return input_error(tool, path + ": cannot write: " + failure);
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
        return input_error(tool, std::string("cannot initialise SDL: ") + SDL_GetError());
    std::atexit(SDL_Quit);

    SDL_Surface* source = nullptr;
    if ((status = load_source(options.source, &source)) >= 0)
        return status;
    // Fail before the warp, not after it, when the result cannot be written.
    const std::string folder = folder_of(options.result).string();
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        SDL_FreeSurface(source);
        return input_error(tool, std::string(options.result) + ": cannot write in " + folder + ": "
                                     + std::strerror(errno));
    }

    SDL_Surface* result = SDL_CreateRGBSurface(0, source->w, source->h, 32, 0, 0, 0, 0);
    if (result) {
        warp_run(source, result, segments.data(), static_cast<int>(segments.size()), options.params, options.warp);
        status = save_result(result, options.result);
        SDL_FreeSurface(result);
    } else {
        status = input_error(tool, std::string("cannot create the ") + std::to_string(source->w) + " x "
                             + std::to_string(source->h) + " result image");
    }
    SDL_FreeSurface(source);
    return status;
}
