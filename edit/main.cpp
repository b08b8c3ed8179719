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
#include "edit/pairs_file.h"
#include "io/image_io.h"
#include "io/output_file.h"

static const ProgramInfo tool = {
    "tavrosk-edit",
    "[options] IMAGE PAIRS  or  [options] FIRST SECOND PAIRS",
    "Draws and adjusts segment pairs in a window and keeps them in PAIRS, the\n"
    "file tavrosk-warp and tavrosk-morph read. With one image, a pair's first\n"
    "segment marks a feature of IMAGE and its second where that feature goes;\n"
    "with two (of the same size), its first segment marks a feature of FIRST\n"
    "and its second the same feature of SECOND. PAIRS is read when it exists\n"
    "and written again after every change; only complete pairs are written.\n"
    "Images: BMP, PNG, JPEG, TIFF, WebP, HEIF or AVIF, as tavrosk-warp reads them.\n",
    "In the window F1 or ? lists the keys; Q quits, and Esc once no segment is\nin progress.\n",
    {'p', 'a', 'b', 't', OPT_NO_AUTO_ORIENT, 'h', OPT_VERSION},
    {},
    2,
    3,
};

// IMAGE, or FIRST and SECOND, which must be of one size, turned as the
// batch tools turn them.
static int load_images(const char* first_name, const char* second_name, ImageOrientation orientation,
                       ImageBuffer* first, ImageBuffer* second)
{
    int status;
    if ((status = load_for_warp(tool, first_name, orientation, first, nullptr)) >= 0)
        return status;
    if (!second_name)
        return -1;
    if ((status = load_for_warp(tool, second_name, orientation, second, nullptr)) >= 0)
        return status;
    const ImageView &a = first->view, &b = second->view;
    if (b.width != a.width || b.height != a.height)
        return input_error(tool, size_mismatch(first_name, a.width, a.height, second_name, b.width, b.height));
    return -1;
}

// PAIRS must be writable (as tavrosk-warp judges a result) before anything
// is drawn, and readable when it exists (*exists), its heading in *heading.
static int load_pairs(const char* name, std::vector<Segment>* segments, std::vector<SegmentComment>* comments,
                      bool* exists, std::string* heading)
{
    OutputTarget target;
    std::string problem;
    if (!output_prepare(name, &target, &problem))
        return input_error(tool, std::string(name) + ": " + problem);
    struct stat info;
    *exists = stat(name, &info) == 0;
    if (*exists && !load_pairs_file(name, segments, comments, &problem, heading))
        return input_error(tool, problem);
    return -1;
}

// Without X, SDL falls back on drawing in the terminal (aalib, libcaca),
// where nothing can be drawn with the mouse: X it is, unless a driver is
// asked for by name (SDL_VIDEODRIVER).
static int open_display()
{
    const char* display = std::getenv("DISPLAY");
    if (!std::getenv("SDL_VIDEODRIVER")) {
        if (!display || !*display)
            return input_error(tool, "cannot open the display: DISPLAY is not set");
        setenv("SDL_VIDEODRIVER", "x11", 1);
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) < 0)
        return input_error(tool, std::string("cannot open the display ") + (display ? display : "") + ": "
                                     + SDL_GetError());
    return -1;
}

int main(int argc, char** argv)
{
    CommonOptions options;
    std::vector<const char*> operands;
    // From here SIGINT, SIGTERM and SIGHUP remove a temporary being written
    // and end the program; every change before it is in the file already.
    int status = start_program(
        tool, argc, argv, &options, [](int, const char*) { return -1; }, &operands);
    if (status >= 0)
        return status;
    EditorSetup setup;
    setup.mode = operands.size() == 3 ? EDIT_MORPH : EDIT_WARP;
    setup.first_name = operands[0];
    setup.second_name = setup.mode == EDIT_MORPH ? operands[1] : nullptr;
    setup.pairs_name = operands.back();
    setup.params = options.params;
    setup.threads = options.warp.threads;

    if (SDL_Init(0) < 0)
        return input_error(tool, std::string("cannot initialise SDL: ") + SDL_GetError());
    std::atexit(SDL_Quit);

    ImageBuffer first, second;
    std::vector<Segment> segments;
    std::vector<SegmentComment> comments;
    std::string heading;
    if ((status = load_images(setup.first_name, setup.second_name, options.orientation, &first, &second)) >= 0
        || (status = load_pairs(setup.pairs_name, &segments, &comments, &setup.pairs_exist, &heading)) >= 0)
        return status;
    setup.warnings = pairs_file_warnings(setup.pairs_name, heading, segments, setup.mode, setup.first_name,
                                         setup.second_name ? setup.second_name : "", first.view.width,
                                         first.view.height);
    for (const std::string& warning : setup.warnings)
        std::fprintf(stderr, "%s: warning: %s\n", tool.program, warning.c_str());
    if ((status = open_display()) >= 0)
        return status;
    return run_editor(setup, first.view, setup.second_name ? &second.view : nullptr, std::move(segments),
                      std::move(comments));
}
