// tavrosk-warp: the program's line-pair warp applied to image files.
//   tavrosk-warp [options] SOURCE SEGMENTS RESULT
// Bad input: one line on stderr, exit 1. Usage errors: exit 2. Success is
// silent. Every file written is checked before the warp and written whole
// (a temporary beside it, renamed into place), so a failure leaves it as it
// was.
#include <SDL.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "raster/pixel.h"
#include "cli/cli.h"
#include "io/image_io.h"
#include "io/output_file.h"
#include "cli/progress.h"
#include "io/segment_file.h"
#include "warp/warp_views.h"
#include "warp/warp.h"

static const ToolInfo tool = {"tavrosk-warp", "[options] SOURCE SEGMENTS RESULT"};

struct Options : ToolOptions {
    const char* folds = nullptr;   // --folds FILE: the fold map
    ImageFormat folds_format = IMAGE_PNG;
    const char* field = nullptr;   // --field FILE: the displacement field
    const char* source = nullptr;
    const char* segments = nullptr;
    const char* result = nullptr;
};

static void print_help()
{
    print_usage_line(tool, stdout);
    std::printf(
        "Warps SOURCE by the segment pairs in SEGMENTS and writes RESULT.\n"
        "SOURCE is a BMP (RLE-compressed ones too), PNG or JPEG image, told by its\n"
        "first bytes; alpha is ignored, the warp works on colour only.\n"
        "SEGMENTS is a text file, or - for standard input, with one segment a line:\n"
        "  x1 y1 x2 y2\n"
        "Blank lines and lines starting with # are skipped, and a line may end with\n"
        "a # comment. Lines 1 and 2 form the first pair: where a feature lies in\n"
        "SOURCE, and where it is to lie in RESULT.\n"
        "RESULT's format comes from its extension (.bmp, .png, .jpg, .jpeg); - writes\n"
        "the image to standard output (PNG unless --format says otherwise).\n"
        "\n"
        "Options:\n"
        "  -p P              length exponent of the weight (default 0.5, P >= 0)\n"
        "  -a A              distance offset of the weight (default 1.0, A > 0)\n"
        "  -b B              falloff exponent of the weight (default 1.0, B >= 0)\n"
        "  -t, --threads N   run the fast kernel on N threads (default: all cores)\n"
        "      --reference   run the literal reference kernel (on one thread)\n"
        "  -f, --format F    bmp, png or jpeg, whatever RESULT's extension\n"
        "  -Q, --quality Q   JPEG quality from 1 to 100 (default 92)\n"
        "      --no-auto-orient  keep a JPEG's pixels as stored, whatever its Exif\n"
        "                    orientation says (by default they are turned as viewed)\n"
        "      --strip       write RESULT without the source's colour profile, colour\n"
        "                    chunks and Exif (by default they are kept where RESULT's\n"
        "                    format can hold them)\n"
        "      --folds FILE  also write a fold map: the result dimmed, pixels where the\n"
        "                    warp folds the image over itself red, pixels whose source\n"
        "                    lies outside it blue, each pair's second segment drawn;\n"
        "                    its format from FILE's extension; prints the counts\n"
        "      --field FILE  also write the displacement field (Middlebury .flo)\n"
        "  -q, --quiet       no progress line (shown only on a terminal, after a second)\n"
        "  -h, --help        show this help\n"
        "      --version     show the version\n");
}

enum { OPT_FOLDS = OPT_TOOL, OPT_FIELD };

// The format of a result named `name` (for messages, `what`): --format when
// given, PNG for standard output, else the extension. False with a usage
// problem.
static bool result_format(const Options& options, const char* name, ImageFormat* format, std::string* problem)
{
    if (options.format_given) {
        *format = options.format;
        return true;
    }
    if (output_is_stdout(name)) {
        *format = IMAGE_PNG;
        return true;
    }
    return result_format_from_name(name, format, problem);
}

// Returns -1 when the program is to go on, else the exit status.
static int parse_arguments(int argc, char** argv, Options* options)
{
    const char* operands[3];
    const int status = parse_command_line(
        tool, argc, argv,
        {{"folds", required_argument, nullptr, OPT_FOLDS}, {"field", required_argument, nullptr, OPT_FIELD}},
        [&](int option, const char* value) {
            (option == OPT_FOLDS ? options->folds : options->field) = value;
            return -1;
        },
        print_help, options, 3, operands);
    if (status >= 0)
        return status;
    options->source = operands[0];
    options->segments = operands[1];
    options->result = operands[2];
    std::string problem;
    // A folder given as the result has no format to tell, but that is not
    // what is wrong with it.
    std::error_code ignored;
    if (!output_is_stdout(options->result) && std::filesystem::is_directory(options->result, ignored))
        return input_error(tool, std::string(options->result) + ": is a directory");
    ImageFormat format;
    if (!result_format(*options, options->result, &format, &problem))
        return usage_error(tool, problem);
    options->format = format;
    // The extra views go to files of their own: standard output is RESULT's.
    for (const char* extra : {options->folds, options->field})
        if (extra && output_is_stdout(extra))
            return usage_error(tool, std::string(extra == options->folds ? "--folds" : "--field")
                                         + " needs a file name, not -");
    if (options->folds) {
        if (!image_format_from_name(options->folds, &format) || format == IMAGE_PPM)
            return usage_error(tool, std::string(options->folds)
                                         + ": cannot tell the format from the name; use .bmp, .png, .jpg or .jpeg");
        options->folds_format = format;
    }
    note_ignored_options(tool, *options);
    return -1;
}

// Where one image goes: a file checked before the warp, or standard output.
struct ImageOutput {
    const char* name;
    ImageFormat format;
    bool to_stdout;
    OutputTarget target;
};

static int prepare_file(const char* name, OutputTarget* target)
{
    std::string problem;
    if (!output_prepare(name, target, &problem))
        return input_error(tool, std::string(name) + ": " + problem);
    return -1;
}

static int prepare_output(const char* name, ImageFormat format, ImageOutput* out)
{
    out->name = name;
    out->format = format;
    out->to_stdout = output_is_stdout(name);
    if (out->to_stdout) {
        if (isatty(STDOUT_FILENO))
            return input_error(tool, "standard output is a terminal; not writing binary data to it (redirect it "
                                     "or give a file name)");
        return -1;
    }
    return prepare_file(name, &out->target);
}

// `meta`: the description the image carries, or NULL.
static int write_output(const ImageOutput& out, SDL_Surface* image, int quality, const ImageMeta* meta = nullptr)
{
    std::string problem;
    if (out.to_stdout) {
        // A BMP writer seeks back to fill in its header, which a pipe cannot
        // do: every image for standard output is encoded in memory first.
        char* bytes = nullptr;
        size_t size = 0;
        std::FILE* memory = open_memstream(&bytes, &size);
        bool ok = memory && image_encode(image, out.format, quality, memory, &problem, meta);
        if (memory && std::fclose(memory) != 0 && ok) {
            ok = false;
            problem = std::string("cannot encode the image: ") + std::strerror(errno);
        }
        if (ok)
            ok = output_to_stdout(
                [&](std::FILE* stream, std::string* why) {
                    if (std::fwrite(bytes, 1, size, stream) == size)
                        return true;
                    *why = std::string("cannot write to standard output: ") + std::strerror(errno);
                    return false;
                },
                &problem);
        std::free(bytes);
        return ok ? 0 : input_error(tool, problem);
    }
    const bool ok = output_commit(
        out.target,
        [&](std::FILE* stream, std::string* why) {
            return image_encode(image, out.format, quality, stream, why, meta);
        },
        &problem);
    return ok ? 0 : input_error(tool, std::string(out.name) + ": " + problem);
}

// Two of the files naming one (after symbolic links) would leave only the
// last one written: refused before the warp.
static int refuse_same_file(const Options& options, const ImageOutput& result, const ImageOutput& folds,
                            const OutputTarget& field)
{
    namespace fs = std::filesystem;
    std::vector<std::pair<const char*, std::string>> files;
    if (!result.to_stdout)
        files.push_back({options.result, result.target.path});
    if (options.folds)
        files.push_back({options.folds, folds.target.path});
    if (options.field)
        files.push_back({options.field, field.path});
    std::error_code ignored;
    for (size_t i = 0; i < files.size(); ++i)
        for (size_t j = i + 1; j < files.size(); ++j)
            if (fs::weakly_canonical(files[i].second, ignored) == fs::weakly_canonical(files[j].second, ignored))
                return usage_error(tool, std::string(files[i].first) + " and " + files[j].first
                                             + " are the same file");
    return -1;
}

static int read_segment_table(const char* name, std::vector<Segment>* segments)
{
    std::string message;
    if (!read_segment_file(name, segments, &message))
        return input_error(tool, message);
    return -1;
}

// Points with no finite value come from weights that overflow or underflow,
// which only the weight parameters (or absurd coordinates) bring about.
static void warn_of_nonfinite_points(const Options& options, long long nonfinite, long long pixels)
{
    if (nonfinite == 0)
        return;
    std::fprintf(stderr,
                 "%s: warning: %lld of %lld pixels have no finite source point and are black; the weights overflow "
                 "or underflow, most likely because of the parameters (p %g, a %g, b %g)\n",
                 tool.program, nonfinite, pixels, options.params.p, options.params.a, options.params.b);
}

int main(int argc, char** argv)
{
    output_handle_signals();
    Options options;
    int status = parse_arguments(argc, argv, &options);
    if (status >= 0)
        return status;

    std::vector<Segment> segments;
    if ((status = read_segment_table(options.segments, &segments)) >= 0)
        return status;

    // No video is needed: only the image files and software surfaces.
    if (SDL_Init(0) < 0)
        return input_error(tool, std::string("cannot initialise SDL: ") + SDL_GetError());
    std::atexit(SDL_Quit);

    std::string problem;
    ImageMeta meta;
    SurfacePtr owned_source(image_load(options.source, &problem, &meta, options.orientation));
    SDL_Surface* source = owned_source.get();
    if (!source)
        return input_error(tool, std::string(options.source) + ": " + problem);
    // Fail before the warp, not after it, when a file cannot be written.
    ImageOutput result, folds;
    OutputTarget field;
    if ((status = prepare_output(options.result, options.format, &result)) >= 0
        || (options.folds && (status = prepare_output(options.folds, options.folds_format, &folds)) >= 0)
        || (options.field && (status = prepare_file(options.field, &field)) >= 0)
        || (status = refuse_same_file(options, result, folds, field)) >= 0)
        return status;

    SurfacePtr image(SDL_CreateRGBSurface(0, source->w, source->h, 32, 0, 0, 0, 0));
    SurfacePtr map(options.folds ? new_fold_map(source->w, source->h) : nullptr);
    if (!image || (options.folds && !map))
        return input_error(tool, std::string("cannot create the ") + std::to_string(source->w) + " x "
                                     + std::to_string(source->h) + " result image");
    const long long pixels = static_cast<long long>(source->w) * source->h;
    std::atomic<long long> done(0);
    options.warp.pixels_done = &done;
    WarpReport report;
    WarpViews views;
    // The fold map and the field are made on the warp's threads from its
    // rows of source points, as each is finished; the field goes straight to
    // its (temporary) file, so the warp runs while that file is open.
    auto warp = [&](std::FILE* field_stream, std::string* why) {
        const bool viewed = map || field_stream;
        if (viewed && !views_start(&views, source, image.get(), map.get(), field_stream, &options.warp)) {
            *why = views.problem;
            return false;
        }
        Progress progress;
        progress_start(&progress, tool.program, pixels, &done, options.quiet);
        warp_run(source, image.get(), segments.data(), static_cast<int>(segments.size()), options.params,
                 options.warp, &report);
        progress_finish(&progress);
        if (viewed && !views_finish(&views, segments.data(), static_cast<int>(segments.size()))) {
            *why = views.problem;
            return false;
        }
        return true;
    };
    if (options.field) {
        if (!output_commit(field, warp, &problem))
            status = input_error(tool, std::string(options.field) + ": " + problem);
    } else if (!warp(nullptr, &problem)) {
        status = input_error(tool, std::string(options.folds) + ": " + problem);
    }
    if (status < 0) {
        warn_of_nonfinite_points(options, report.nonfinite_points, pixels);
        const ImageMeta* kept = options.strip ? nullptr : &meta;
        warn_of_lost_meta(tool, result.to_stdout ? "standard output" : options.result, result.format, kept);
        status = write_output(result, image.get(), options.quality, kept);
    }
    if (status == 0 && options.folds && (status = write_output(folds, map.get(), options.quality)) == 0)
        std::fprintf(stderr, "%s\n", fold_summary(views.counts).c_str());
    return status;
}
