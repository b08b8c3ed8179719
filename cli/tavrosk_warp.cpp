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

#include "cli/cli.h"
#include "io/image_io.h"
#include "io/output_file.h"
#include "cli/progress.h"
#include "io/segment_file.h"
#include "io/flo.h"
#include "warp/warp_views.h"
#include "warp/warp.h"

enum { OPT_FOLDS = OPT_PROGRAM, OPT_FIELD };

static const ProgramInfo tool = {
    "tavrosk-warp",
    "[options] SOURCE SEGMENTS RESULT",
    "Warps SOURCE by the segment pairs in SEGMENTS and writes RESULT.\n"
    "SOURCE is a BMP (RLE-compressed ones too), PNG, JPEG, TIFF, WebP, HEIF or\n"
    "AVIF image, told by its first bytes; - reads it from standard input. The\n"
    "warp keeps its kind: grey or colour, alpha, 8 or 16-bit or float samples.\n"
    "SEGMENTS is a text file, or - for standard input, with one segment a line:\n"
    "  x1 y1 x2 y2\n"
    "Blank lines and lines starting with # are skipped, and a line may end with\n"
    "a # comment. Lines 1 and 2 form the first pair: where a feature lies in\n"
    "SOURCE, and where it is to lie in RESULT.\n"
    "RESULT's format comes from its extension (.bmp, .png, .jpg, .jpeg, .tif,\n"
    ".tiff, .webp, .heic, .heif, .avif); - writes the image to standard output\n"
    "(PNG unless --format says otherwise).\n",
    nullptr,
    {'p', 'a', 'b', 't', OPT_REFERENCE, 'f', 'Q', OPT_PNG_COMPRESSION, OPT_OUTSIDE, OPT_DEPTH, OPT_NO_AUTO_ORIENT,
     OPT_STRIP, OPT_FOLDS, OPT_FIELD, 'q', 'h', OPT_VERSION},
    {{OPT_FOLDS, "folds", "FILE",
      "also write a fold map: the result dimmed, pixels where the\n"
      "warp folds the image over itself red, pixels whose source\n"
      "lies outside it hatched blue, each pair's second segment\n"
      "drawn; its format from FILE's extension; prints the counts"},
     {OPT_FIELD, "field", "FILE", "also write the displacement field (Middlebury .flo)"}},
    3,
    3,
};

struct Options : CommonOptions {
    const char* folds = nullptr;   // --folds FILE: the fold map
    ImageFormat folds_format = IMAGE_PNG;
    const char* field = nullptr;   // --field FILE: the displacement field
    const char* source = nullptr;
    const char* segments = nullptr;
    const char* result = nullptr;
};

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

// The operands, and the options checked against them and each other.
// Returns -1 when the program is to go on, else the exit status.
static int check_arguments(const std::vector<const char*>& operands, Options* options)
{
    options->source = operands[0];
    options->segments = operands[1];
    options->result = operands[2];
    if (std::strcmp(options->source, "-") == 0 && std::strcmp(options->segments, "-") == 0)
        return usage_error(tool, "SOURCE and SEGMENTS cannot both be standard input (-)");
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
        if (!result_format_from_name(options->folds, &format, &problem))
            return usage_error(tool, problem);
        options->folds_format = format;
    }
    // The field is always Middlebury .flo data, whatever its name says; an
    // image's name is a slip for --folds or a wish the tool cannot meet.
    if (options->field && image_format_from_name(options->field, &format))
        return usage_error(tool, std::string("--field ") + options->field
                                     + ": the field is written as .flo data, not as an image; name it "
                                     + std::filesystem::path(options->field).replace_extension(".flo").string());
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

// `meta`: the description the image carries, or NULL. False with *failure,
// the line to print after "PROGRAM: ".
static bool write_output(const ImageOutput& out, const ImageView& image, int quality,
                         const ImageEncodeOptions& encoding, const ImageMeta* meta, std::string* failure)
{
    std::string problem;
    auto encode = [&](std::FILE* stream, std::string* why) {
        return image_encode(image, out.format, quality, stream, why, meta, encoding);
    };
    if (out.to_stdout && out.format != IMAGE_BMP) {
        // Streamed as it is encoded, so that the rows counted are the rows
        // the reader has taken, give or take the pipe's buffer.
        const bool ok = output_to_stdout(encode, &problem);
        if (!ok)
            *failure = problem;
        return ok;
    }
    if (out.to_stdout) {
        // A BMP writer seeks back to fill in its header, which a pipe cannot
        // do: a BMP for standard output is encoded in memory first.
        char* bytes = nullptr;
        size_t size = 0;
        std::FILE* memory = open_memstream(&bytes, &size);
        bool ok = memory && image_encode(image, out.format, quality, memory, &problem, meta, encoding);
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
        if (!ok)
            *failure = problem;
        return ok;
    }
    const bool ok = output_commit(out.target, encode, &problem);
    if (!ok)
        *failure = std::string(out.name) + ": " + problem;
    return ok;
}

// Two of the files naming one (after symbolic links) would leave only the
// last one written: refused before the warp, naming the two arguments and
// the name given first of them.
static int refuse_same_file(const Options& options, const ImageOutput& result, const ImageOutput& folds,
                            const OutputTarget& field)
{
    namespace fs = std::filesystem;
    struct File {
        const char* argument;  // "--folds", "--field" or "RESULT"
        const char* name;
        std::string path;
    };
    std::vector<File> files;
    if (options.folds)
        files.push_back({"--folds", options.folds, folds.target.path});
    if (options.field)
        files.push_back({"--field", options.field, field.path});
    if (!result.to_stdout)
        files.push_back({"RESULT", options.result, result.target.path});
    // Made absolute first: weakly_canonical leaves a relative name whose
    // first part does not exist as it is, so "o.flo" and "./o.flo" would differ.
    std::error_code ignored;
    auto resolved = [&](const std::string& path) { return fs::weakly_canonical(fs::absolute(path, ignored), ignored); };
    for (size_t i = 0; i < files.size(); ++i)
        for (size_t j = i + 1; j < files.size(); ++j)
            if (resolved(files[i].path) == resolved(files[j].path))
                return usage_error(tool, std::string(files[i].argument) + " and " + files[j].argument
                                             + " name the same file: " + files[i].name);
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
                 "%s: warning: %lld of %lld pixels have no finite source point and take the outside colour; the "
                 "weights overflow or underflow, most likely because of the parameters (p %g, a %g, b %g)\n",
                 tool.program, nonfinite, pixels, options.params.p, options.params.a, options.params.b);
}

// One run: what was read, the images made and the files to write.
struct Run {
    Options options;
    std::vector<Segment> segments;
    ImageBuffer source;
    ImageMeta meta;
    ImageOutput result = {}, folds = {};
    OutputTarget field;
    ImageBuffer image, map;
    WarpReport report;
    WarpViews views;
    bool warped = false;
};

static int load_source(Run* run)
{
    const Options& options = run->options;
    const int status = load_for_warp(tool, options.source, options.orientation, &run->source, &run->meta);
    if (status < 0 && !image_to_kind(&run->source, warp_kind(options, image_kind(run->source.view))))
        return input_error(tool, std::string(options.source) + ": not enough memory to add alpha to it");
    return status;
}

// Fails before the warp, not after it, when a file cannot be written.
static int prepare_outputs(Run* run)
{
    const Options& options = run->options;
    int status;
    if ((status = prepare_output(options.result, options.format, &run->result)) >= 0
        || (options.folds && (status = prepare_output(options.folds, options.folds_format, &run->folds)) >= 0)
        || (options.field && (status = prepare_file(options.field, &run->field)) >= 0))
        return status;
    return refuse_same_file(options, run->result, run->folds, run->field);
}

static int make_images(Run* run)
{
    const ImageView& source = run->source.view;
    if (!image_buffer_make(&run->image, source.width, source.height, source.channels, source.type)
        || (run->options.folds && !image_buffer_make(&run->map, source.width, source.height, 3, SAMPLE_U8)))
        return input_error(tool, std::string("cannot create the ") + std::to_string(source.width) + " x "
                                     + std::to_string(source.height) + " result image");
    return -1;
}

// The fold map and the field are made on the warp's threads from its rows
// of source points, as each is finished; the field goes straight to its
// (temporary) file, so the warp runs while that file is open. False with
// *failure.
static bool warp_with_views(Run* run, Progress* progress, std::string* failure)
{
    Options& options = run->options;
    const int count = static_cast<int>(run->segments.size());
    auto warp = [&](std::FILE* field_stream, std::string* why) {
        const bool viewed = options.folds || field_stream;
        FieldRows field_rows;
        if (field_stream && !field_rows_start(&field_rows, field_stream, run->image.view.width,
                                              run->image.view.height)) {
            *why = field_rows.problem;
            return false;
        }
        if (viewed
            && !run->views.start(run->source.view, run->image.view, options.folds ? &run->map.view : nullptr,
                                 field_stream ? &field_rows.sink : nullptr, &options.warp)) {
            *why = run->views.problem();
            return false;
        }
        warp_run(run->source.view, run->image.view, run->segments.data(), count, options.params, options.warp,
                 &run->report);
        run->warped = true;
        if (field_stream)
            progress_note(progress, std::string("writing ") + options.field);
        if (viewed && !run->views.finish(run->segments.data(), count)) {
            *why = run->views.problem();
            return false;
        }
        if (field_stream && !field_rows_finish(&field_rows)) {
            *why = field_rows.problem;
            return false;
        }
        return true;
    };
    std::string problem;
    if (options.field ? output_commit(run->field, warp, &problem) : warp(nullptr, &problem))
        return true;
    *failure = std::string(options.field ? options.field : options.folds) + ": " + problem;
    return false;
}

// Warps and writes every file; returns the exit status.
static int warp_and_write(Run* run)
{
    Options& options = run->options;
    const long long pixels = static_cast<long long>(run->source.view.width) * run->source.view.height;
    std::atomic<long long> done(0);
    options.warp.pixels_done = &done;
    // The progress line lasts until the last file is written: encoding a
    // large PNG can take longer than the warp, so each file counts its rows
    // as a stage of its own. Nothing else is printed while it runs.
    Progress progress;
    progress_start(&progress, tool.program, pixels, &done, options.quiet);
    std::string failure;
    bool writing = warp_with_views(run, &progress, &failure);
    if (writing && !image_to_kind(&run->image, written_kind(options, image_kind(run->image.view)))) {
        failure = "not enough memory to reduce the result to 8-bit samples";
        writing = false;
    }
    const ImageMeta* kept = options.strip ? nullptr : &run->meta;
    std::atomic<long long> rows(0);
    ImageEncodeOptions encoding;
    encoding.png_compression = options.png_compression;
    encoding.rows_done = &rows;
    auto write = [&](const ImageOutput& out, const ImageView& picture, const ImageMeta* with) {
        rows = 0;
        progress_stage(&progress, "writing " + (out.to_stdout ? std::string("standard output") : out.name),
                       picture.height, &rows);
        return write_output(out, picture, result_quality(options, out.format), encoding, with, &failure);
    };
    if (writing && write(run->result, run->image.view, kept) && options.folds)
        write(run->folds, run->map.view, nullptr);
    progress_finish(&progress);
    if (run->warped)
        warn_of_nonfinite_points(options, run->report.nonfinite_points, pixels);
    if (writing)
        warn_of_losses(tool, run->result.to_stdout ? "standard output" : options.result, image_kind(run->image.view),
                       run->result.format, kept);
    if (!failure.empty())
        return input_error(tool, failure);
    if (options.folds)
        std::fprintf(stderr, "%s\n", fold_summary(run->views.counts()).c_str());
    return 0;
}

int main(int argc, char** argv)
{
    Run run;
    Options& options = run.options;
    std::vector<const char*> operands;
    int status = start_program(
        tool, argc, argv, &options,
        [&](int id, const char* value) {
            (id == OPT_FOLDS ? options.folds : options.field) = value;
            return -1;
        },
        &operands);
    if (status < 0)
        status = check_arguments(operands, &options);
    if (status >= 0 || (status = read_segment_table(options.segments, &run.segments)) >= 0)
        return status;

    // No video is needed: only the image files and software surfaces.
    if (SDL_Init(0) < 0)
        return input_error(tool, std::string("cannot initialise SDL: ") + SDL_GetError());
    std::atexit(SDL_Quit);

    if ((status = load_source(&run)) >= 0 || (status = prepare_outputs(&run)) >= 0
        || (status = make_images(&run)) >= 0)
        return status;
    return warp_and_write(&run);
}
