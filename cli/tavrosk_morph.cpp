// tavrosk-morph: the frames of a morph from one image to another, on the
// warp engine of tavrosk-warp.
//   tavrosk-morph [options] FIRST SECOND PAIRS OUTPUT
// Bad input: one line on stderr, exit 1, no frame written. Usage errors:
// exit 2. Success is silent. Every frame's file is checked before the first
// warp and written whole (a temporary renamed into place) by a writer thread
// while the next frames are warped; "-" streams binary PPM images instead.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "io/frame_pattern.h"
#include "io/image_codecs.h"
#include "io/image_io.h"
#include "warp/morph.h"
#include "io/output_file.h"
#include "cli/progress.h"
#include "io/segment_file.h"

enum { DEFAULT_FRAMES = 30, MAX_FRAMES = 1000000 };

enum { OPT_FRAMES = OPT_PROGRAM, OPT_RANGE };

static const ProgramInfo tool = {
    "tavrosk-morph",
    "[options] FIRST SECOND PAIRS OUTPUT",
    "Writes the frames of a morph from FIRST to SECOND, two images of the same\n"
    "size (BMP, PNG, JPEG, TIFF, WebP, HEIF or AVIF). The frames are of the wider\n"
    "kind of the two: colour if either has colour, alpha if either has alpha,\n"
    "16-bit or float samples if either has them. In frame i of N the segments lie\n"
    "the fraction t = i / (N - 1) of the way from their place in FIRST to their\n"
    "place in SECOND; both images are warped onto them and blended, FIRST by\n"
    "1 - t and SECOND by t (weighted by alpha). Frame 0 is FIRST and frame N - 1\n"
    "is SECOND.\n"
    "PAIRS is a segment file as tavrosk-warp reads it (- for standard input):\n"
    "  x1 y1 x2 y2\n"
    "one segment a line; in each pair of lines the first marks a feature in\n"
    "FIRST, the second the same feature in SECOND. PAIRS without any segment\n"
    "(an empty file, /dev/null) makes a plain cross-fade.\n"
    "OUTPUT is a file name with one frame number field, such as f%03d.png\n"
    "(%% for a percent sign); the extension gives the format (.bmp, .png, .jpg,\n"
    ".jpeg, .tif, .tiff, .webp, .heic, .heif or .avif). OUTPUT - writes every frame to standard output as binary\n"
    "PPM, one after another, for example for\n"
    "  ffmpeg -f image2pipe -framerate 30 -c:v ppm -i - \\\n"
    "      -vf 'pad=ceil(iw/2)*2:ceil(ih/2)*2' -pix_fmt yuv420p out.mp4\n"
    "(the pad filter makes an odd width or height even, as yuv420p needs).\n",
    nullptr,
    {OPT_FRAMES, OPT_RANGE, 'p', 'a', 'b', 't', OPT_REFERENCE, 'f', 'Q', OPT_PNG_COMPRESSION, OPT_OUTSIDE, OPT_DEPTH,
     OPT_NO_AUTO_ORIENT, OPT_STRIP, 'q', 'h', OPT_VERSION},
    {{OPT_FRAMES, "frames", "N", "how many frames from FIRST to SECOND (default 30, N >= 2)"},
     {OPT_RANGE, "range", "I-J",
      "write only frames I to J of the N (numbered from 0); they\n"
      "are the same, bit for bit, as in a run of all N"}},
    4,
    4,
};

struct Options : CommonOptions {
    long frames = DEFAULT_FRAMES;
    const char* range = nullptr;  // "I-J" as given
    long range_first = 0, range_last = -1;
    const char* first = nullptr;
    const char* second = nullptr;
    const char* pairs = nullptr;
    const char* output = nullptr;
};

// --frames and --range; -1 to go on, else the exit status.
static int own_option(int id, const char* value, Options* options)
{
    std::string problem;
    if (id == OPT_RANGE)
        options->range = value;
    else if (!parse_whole_option("--frames", value, 2, MAX_FRAMES, &options->frames, &problem))
        return input_error(tool, problem);
    return -1;
}

// The operands, and the options checked against them. Returns -1 when the
// program is to go on, else the exit status.
static int check_arguments(const std::vector<const char*>& operands, Options* options)
{
    options->first = operands[0];
    options->second = operands[1];
    options->pairs = operands[2];
    options->output = operands[3];
    std::string problem;
    // Frames for standard output are always PPM; files take --format or the
    // pattern's extension.
    if (output_is_stdout(options->output)) {
        if (options->format_given)
            return usage_error(tool, "--format: standard output takes a PPM stream only");
        options->format = IMAGE_PPM;
    } else if (!options->format_given && !result_format_from_name(options->output, &options->format, &problem)) {
        return usage_error(tool, problem);
    }
    note_ignored_options(tool, *options);
    return -1;
}

// --range against --frames, which may come after it: two whole numbers I-J
// with 0 <= I <= J < N. Without --range, every frame.
static int check_range(Options* options)
{
    const long last = options->frames - 1;
    if (!options->range) {
        options->range_first = 0;
        options->range_last = last;
        return -1;
    }
    const std::string text = options->range;
    const size_t dash = text.find('-', 1);
    if (dash == std::string::npos
        || !parse_whole(text.substr(0, dash).c_str(), 0, LONG_MAX, &options->range_first)
        || !parse_whole(text.substr(dash + 1).c_str(), 0, LONG_MAX, &options->range_last))
        return input_error(tool, "--range: '" + text + "' is not two frame numbers I-J, such as 0-9");
    if (options->range_first > options->range_last)
        return input_error(tool, "--range: " + text + " is reversed; give the lower frame first");
    if (options->range_last > last)
        return input_error(tool, "--range: " + text + " is outside frames 0-" + std::to_string(last) + " of "
                                     + std::to_string(options->frames));
    return -1;
}

static int load_image(const char* path, ImageOrientation orientation, ImageBuffer* image, ImageMeta* meta)
{
    return load_for_warp(tool, path, orientation, image, meta);
}

// The frames travel from the warps to the writer through two short queues:
// rendered frames one way, empty ones back. Their number bounds the memory
// whatever the frame count, and a writer that fails stops the warps.
struct Frame {
    int number;
    ImageBuffer* image;
};

class FrameQueues {
public:
    explicit FrameQueues(std::vector<ImageBuffer*> empty) : empty_(std::move(empty)) {}

    // An empty frame to render into; NULL once the writer has stopped.
    ImageBuffer* take_empty()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return stopped_ || !empty_.empty(); });
        if (stopped_)
            return nullptr;
        ImageBuffer* image = empty_.back();
        empty_.pop_back();
        return image;
    }

    void put_rendered(const Frame& frame)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rendered_.push_back(frame);
        changed_.notify_all();
    }

    // No more frames will be rendered.
    void finish()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        changed_.notify_all();
    }

    // The next rendered frame in order; false when there is none left.
    bool take_rendered(Frame* frame)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return finished_ || !rendered_.empty(); });
        if (rendered_.empty())
            return false;
        *frame = rendered_.front();
        rendered_.pop_front();
        return true;
    }

    void give_back(ImageBuffer* image)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        empty_.push_back(image);
        changed_.notify_all();
    }

    // The writer failed: rendering stops at the next frame.
    void stop()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ImageBuffer*> empty_;
    std::deque<Frame> rendered_;
    bool finished_ = false;
    bool stopped_ = false;
};

// A frame being rendered and one being written.
enum { FRAMES_IN_FLIGHT = 2 };

struct Output {
    bool to_stdout;
    ImageFormat format;  // IMAGE_PPM for standard output
    int quality;
    int png_compression;
    ImageKind kind;  // the frames' as written: 8-bit samples under --depth 8
    std::vector<OutputTarget> targets;  // frame first_frame + k at [k]
    long first_frame, last_frame;
    const ImageMeta* meta;  // FIRST's description, NULL under --strip
    FramePattern pattern;  // the names of files
};

// Writes the rendered frames as they come; on a failure stops the queues and
// leaves the message in *failure. Once the last frame is rendered, the
// progress line says which file is being written and counts its rows.
static void write_frames(FrameQueues* queues, const Output* output, Progress* progress, std::string* failure)
{
    Frame frame;
    std::atomic<long long> rows(0);
    ImageEncodeOptions encoding;
    encoding.png_compression = output->png_compression;
    // A frame of another kind than the one written is converted into a
    // buffer of the writer's own, while the next frame renders.
    ImageBuffer reduced;
    auto encode = [&](std::FILE* out, std::string* why, const std::string& name) {
        const ImageView* image = &frame.image->view;
        if (!kind_equal(image_kind(*image), output->kind)) {
            if (!image_convert(*image, output->kind, &reduced)) {
                *why = "not enough memory to reduce the frame to 8-bit samples";
                return false;
            }
            image = &reduced.view;
        }
        if (frame.number == output->last_frame) {
            encoding.rows_done = &rows;
            progress_stage(progress, "writing " + name, image->height, &rows);
        }
        return image_encode(*image, output->format, output->quality, out, why, output->meta, encoding);
    };
    if (output->to_stdout) {
        long number = -1;
        std::string problem;
        const bool ok = output_to_stdout(
            [&](std::FILE* out, std::string* why) {
                while (queues->take_rendered(&frame)) {
                    number = frame.number;
                    if (!encode(out, why, "standard output"))
                        return false;
                    queues->give_back(frame.image);
                }
                return true;
            },
            &problem);
        if (!ok) {
            *failure = (number >= 0 ? "frame " + std::to_string(number) + ": " : std::string()) + problem;
            queues->stop();
        }
        return;
    }
    while (queues->take_rendered(&frame)) {
        const size_t k = static_cast<size_t>(frame.number - output->first_frame);
        const OutputTarget& target = output->targets[k];
        std::string problem;
        const bool ok = output_commit(
            target, [&](std::FILE* out, std::string* why) { return encode(out, why, target.name); }, &problem);
        if (!ok) {
            *failure = target.name + ": " + problem;
            queues->stop();
            return;
        }
        queues->give_back(frame.image);
    }
}

// Every frame's name must be writable before the first warp.
static int prepare_output(const Options& options, Output* output)
{
    output->to_stdout = output_is_stdout(options.output);
    output->format = options.format;
    output->quality = result_quality(options, options.format);
    output->png_compression = options.png_compression;
    output->first_frame = options.range_first;
    output->last_frame = options.range_last;
    std::string problem;
    if (output->to_stdout) {
        // Nothing written: only the checks of standard output itself.
        if (!output_to_stdout([](std::FILE*, std::string*) { return true; }, &problem))
            return input_error(tool, problem);
        return -1;
    }
    if (!frame_pattern_parse(options.output, &output->pattern, &problem))
        return input_error(tool, std::string(options.output) + ": " + problem);
    for (long i = options.range_first; i <= options.range_last; ++i) {
        OutputTarget target;
        const std::string name = frame_pattern_name(output->pattern, static_cast<int>(i));
        if (!output_prepare(name, &target, &problem))
            return input_error(tool, name + ": " + problem);
        output->targets.push_back(target);
    }
    return -1;
}

// Frames numbered n and up that an earlier, longer run left behind would
// join this run's frames in any video made from the pattern. They are
// named, not deleted: they may be wanted.
static void warn_of_stale_frames(const Options& options, const FramePattern& pattern, int n)
{
    const std::vector<int> stale = frame_pattern_existing(pattern, n);
    if (stale.empty())
        return;
    const std::string first = frame_pattern_name(pattern, stale.front());
    const bool one = stale.size() == 1;
    std::fprintf(stderr,
                 "%s: warning: %zu %s beyond this run's last frame, %s, %s %s; a video made from the pattern would "
                 "include %s\n",
                 tool.program, stale.size(), one ? "file" : "files",
                 one ? first.c_str() : (first + " to " + frame_pattern_name(pattern, stale.back())).c_str(),
                 one ? "matches" : "match", options.output, one ? "it" : "them");
}

// FIRST and SECOND, which must be of one size.
static int load_images(const Options& options, ImageBuffer* first, ImageBuffer* second, ImageMeta* first_meta,
                       ImageMeta* second_meta)
{
    int status;
    if ((status = load_image(options.first, options.orientation, first, first_meta)) >= 0
        || (status = load_image(options.second, options.orientation, second, second_meta)) >= 0)
        return status;
    const int w = first->view.width, h = first->view.height;
    if (second->view.width != w || second->view.height != h)
        return input_error(tool, size_mismatch(options.first, w, h, options.second, second->view.width,
                                               second->view.height));
    return -1;
}

// The frames carry FIRST's colour description, as far as their format can;
// a SECOND that describes its colours otherwise is named with both
// descriptions, unless the frames carry none (BMP, the PPM stream).
static void warn_of_colours(const Options& options, const Output& output, const ImageMeta& first_meta,
                            const ImageMeta& second_meta)
{
    if (output.meta && image_format_carries_colour(output.format) && !image_same_colour(first_meta, second_meta))
        std::fprintf(stderr, "%s: warning: the images describe their colours differently (%s: %s; %s: %s); the "
                     "frames carry %s's\n",
                     tool.program, options.second, image_colour_words(second_meta).c_str(), options.first,
                     image_colour_words(first_meta).c_str(), options.first);
    warn_of_losses(tool, output.to_stdout ? "standard output" : options.output, output.kind, output.format,
                   output.meta);
}

// Renders the frames of the range into `frames` in turn while a thread
// writes them; returns the exit status.
static int render_frames(const Options& options, MorphJob* job, const Output& output,
                         const std::vector<ImageBuffer*>& frames)
{
    const int n = static_cast<int>(options.frames);
    const int range_first = static_cast<int>(options.range_first);
    const int range_last = static_cast<int>(options.range_last);
    const long long pixels = static_cast<long long>(frames[0]->view.width) * frames[0]->view.height;
    long long total = 0;
    for (int i = range_first; i <= range_last; ++i)
        total += morph_warps_for_frame(i, n) * pixels;
    std::atomic<long long> done(0);
    job->options.pixels_done = &done;
    Progress progress;
    progress_start(&progress, tool.program, total, &done, options.quiet);

    FrameQueues queues(frames);
    std::string failure;
    std::thread writer(write_frames, &queues, &output, &progress, &failure);
    for (int i = range_first; i <= range_last; ++i) {
        ImageBuffer* image = queues.take_empty();
        if (!image)
            break;
        progress_note(&progress, "frame " + std::to_string(i) + "/" + std::to_string(n));
        morph_render(job, i, n, image->view);
        queues.put_rendered({i, image});
    }
    queues.finish();
    writer.join();
    progress_finish(&progress);
    if (!failure.empty())
        return input_error(tool, failure);
    if (!options.range && !output.to_stdout)
        warn_of_stale_frames(options, output.pattern, n);
    return 0;
}

int main(int argc, char** argv)
{
    Options options;
    std::vector<const char*> operands;
    int status = start_program(
        tool, argc, argv, &options, [&](int id, const char* value) { return own_option(id, value, &options); },
        &operands);
    if (status < 0)
        status = check_arguments(operands, &options);
    if (status >= 0 || (status = check_range(&options)) >= 0)
        return status;

    MorphJob job;
    std::string message;
    // No pair at all makes the cross-fade: every warp is then an exact copy.
    if (!read_segment_file(options.pairs, &job.pairs, &message, SEGMENTS_PAIRS_OR_NONE))
        return input_error(tool, message);

    // No video is needed: only software surfaces.
    if (SDL_Init(0) < 0)
        return input_error(tool, std::string("cannot initialise SDL: ") + SDL_GetError());
    std::atexit(SDL_Quit);

    ImageBuffer first, second;
    ImageMeta first_meta, second_meta;
    if ((status = load_images(options, &first, &second, &first_meta, &second_meta)) >= 0)
        return status;
    const int w = first.view.width, h = first.view.height;
    // FIRST gains the alpha --outside transparent asks for; the morph widens
    // SECOND to it.
    bool made = image_to_kind(&first, warp_kind(options, image_kind(first.view)))
             && morph_job_init(&job, first.view, second.view);
    Output output;
    output.meta = options.strip ? nullptr : &first_meta;
    output.kind = written_kind(options, job.kind);
    if (made && (status = prepare_output(options, &output)) >= 0)
        return status;
    if (made)
        warn_of_colours(options, output, first_meta, second_meta);

    std::vector<ImageBuffer> owned_frames(FRAMES_IN_FLIGHT);
    std::vector<ImageBuffer*> frames;
    for (ImageBuffer& frame : owned_frames) {
        made = made && image_buffer_make(&frame, w, h, job.kind.channels, job.kind.type);
        frames.push_back(&frame);
    }
    if (!made)
        return input_error(tool, "not enough memory for the " + std::to_string(w) + " x " + std::to_string(h)
                                     + " frames");
    job.params = options.params;
    job.options = options.warp;
    return render_frames(options, &job, output, frames);
}
