// tavrosk-edit: draw, adjust and keep the segment pairs of tavrosk-warp and
// tavrosk-morph, with an exact live preview.
//   tavrosk-edit [options] IMAGE PAIRS
//   tavrosk-edit [options] FIRST SECOND PAIRS
// Everything that can be wrong with the files is refused before the window
// opens: one line on stderr naming the file (and line), exit 1. Usage
// errors: exit 2.
#include <SDL.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "edit/editor.h"
#include "edit/model.h"
#include "io/image_io.h"
#include "io/output_file.h"
#include "raster/pixel.h"

static const ToolInfo tool = {"tavrosk-edit", "[options] IMAGE PAIRS  or  [options] FIRST SECOND PAIRS"};

static void print_help()
{
    print_usage_line(tool, stdout);
    std::printf(
        "Draws and adjusts segment pairs in a window and keeps them in PAIRS, the\n"
        "file tavrosk-warp and tavrosk-morph read. With one image, a pair's first\n"
        "segment marks a feature of IMAGE and its second where that feature goes;\n"
        "with two (of the same size), its first segment marks a feature of FIRST\n"
        "and its second the same feature of SECOND. PAIRS is read when it exists\n"
        "and written again after every change; only complete pairs are written.\n"
        "Images: BMP, PNG or JPEG, as tavrosk-warp reads them.\n"
        "\n"
        "Options:\n"
        "  -p P              length exponent of the preview's weight (default 0.5)\n"
        "  -a A              distance offset of the weight (default 1.0)\n"
        "  -b B              falloff exponent of the weight (default 1.0)\n"
        "  -t, --threads N   render the preview on N threads (default: all cores)\n"
        "  -h, --help        show this help\n"
        "      --version     show the version\n"
        "\n"
        "In the window F1 or ? lists the keys; Esc or Q quits.\n");
}

struct Options {
    WarpParams params;
    int threads = 0;
    std::vector<const char*> operands;
};

// Returns -1 to go on, else the exit status.
static int parse_arguments(int argc, char** argv, Options* options)
{
    static const option long_options[] = {
        {"threads", required_argument, nullptr, 't'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, OPT_VERSION},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    std::string problem;
    while ((c = getopt_long(argc, argv, ":p:a:b:t:h", long_options, nullptr)) != -1) {
        switch (c) {
        case 'p':
        case 'a':
        case 'b':
            if (!parse_weight(static_cast<char>(c), optarg, &options->params, &problem))
                return input_error(tool, problem);
            break;
        case 't':
            if (!parse_threads(optarg, &options->threads, &problem))
                return input_error(tool, problem);
            break;
        case 'h':
            print_help();
            return 0;
        case OPT_VERSION:
            std::printf("%s %s\n", tool.program, TAVROSK_VERSION);
            return 0;
        default:
            return usage_error(tool, getopt_problem(c, argv[optind - 1], long_options));
        }
    }
    const int count = argc - optind;
    if (count < 2)
        return usage_error(tool, "missing arguments");
    if (count > 3)
        return usage_error(tool, std::string("unexpected argument ") + argv[optind + 3]);
    for (int i = optind; i < argc; ++i)
        options->operands.push_back(argv[i]);
    return -1;
}

int main(int argc, char** argv)
{
    // SIGINT, SIGTERM and SIGHUP remove a temporary being written and end
    // the program; every change before it is in the file already.
    output_handle_signals();
    Options options;
    int status = parse_arguments(argc, argv, &options);
    if (status >= 0)
        return status;
    const bool morph = options.operands.size() == 3;
    const char* first_name = options.operands[0];
    const char* second_name = morph ? options.operands[1] : nullptr;
    const char* pairs_name = options.operands.back();

    if (SDL_Init(0) < 0)
        return input_error(tool, std::string("cannot initialise SDL: ") + SDL_GetError());
    std::atexit(SDL_Quit);

    std::string problem;
    SurfacePtr first(image_load(first_name, &problem));
    if (!first)
        return input_error(tool, std::string(first_name) + ": " + problem);
    SurfacePtr second;
    if (morph) {
        second.reset(image_load(second_name, &problem));
        if (!second)
            return input_error(tool, std::string(second_name) + ": " + problem);
        if (second->w != first->w || second->h != first->h)
            return input_error(tool, std::string(second_name) + " is " + std::to_string(second->w) + " x "
                                         + std::to_string(second->h) + " but " + first_name + " is "
                                         + std::to_string(first->w) + " x " + std::to_string(first->h)
                                         + "; the images of a morph have one size");
    }

    // PAIRS must be writable (as tavrosk-warp judges a result) before
    // anything is drawn, and readable when it exists.
    OutputTarget target;
    if (!output_prepare(pairs_name, &target, &problem))
        return input_error(tool, std::string(pairs_name) + ": " + problem);
    std::vector<Segment> segments;
    std::vector<PairsComment> comments;
    struct stat info;
    const bool exists = stat(pairs_name, &info) == 0;
    if (exists && !load_pairs_file(pairs_name, &segments, &comments, &problem))
        return input_error(tool, problem);

    // Without X, SDL falls back on drawing in the terminal (aalib, libcaca),
    // where nothing can be drawn with the mouse: X it is, unless a driver is
    // asked for by name (SDL_VIDEODRIVER).
    const char* display = std::getenv("DISPLAY");
    if (!std::getenv("SDL_VIDEODRIVER")) {
        if (!display || !*display)
            return input_error(tool, "cannot open the display: DISPLAY is not set");
        setenv("SDL_VIDEODRIVER", "x11", 1);
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) < 0)
        return input_error(tool, std::string("cannot open the display ") + (display ? display : "") + ": "
                                     + SDL_GetError());

    EditorSetup setup;
    setup.mode = morph ? EDIT_MORPH : EDIT_WARP;
    setup.first_name = first_name;
    setup.second_name = second_name;
    setup.pairs_name = pairs_name;
    setup.pairs_exist = exists;
    setup.params = options.params;
    setup.threads = options.threads;
    setup.dump_path = std::getenv("TAVROSK_EDIT_DUMP");
    return run_editor(setup, first.get(), second.get(), std::move(segments), std::move(comments));
}
