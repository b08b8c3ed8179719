// tavrosk-morph run as a process in a fresh folder: its frames against the
// plain morph of plain_morph.h, --range against a full run, the PPM stream
// parsed back into images, every bad input (one line, exit 1, no frame and no
// temporary written), usage errors, a file size limit hit part way through
// files and through the stream, and terminals. TAVROSK_SEED=N reruns one seed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sdl/pixel.h"
#include "io/image_io.h"
#include "raster/kinds.h"
#include "tests/support/sample_images.h"
#include "tests/support/test_support.h"
#include "tests/warp/plain_morph.h"

namespace {

uint32_t base_seed()
{
    const char* text = std::getenv("TAVROSK_SEED");
    return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 20261209u;
}

struct Outcome {
    int status;
    std::string out, err;
};

std::string segment_line(const Segment& s)
{
    char line[200];
    std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g\n", s.x1, s.y1, s.x2, s.y2);
    return line;
}

class MorphTool : public ScratchDirTest {
protected:
    const int w = 23, h = 17;
    SurfacePtr first, second;
    std::vector<Segment> pairs;

    // FIRST is 24-bit, SECOND 8-bit with a palette; both random. Four pairs
    // near each other plus one with a zero-length first segment.
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        const uint32_t seed = base_seed();
        first.reset(make_surface(w, h, 24));
        second.reset(make_surface(w, h, 8));
        fill_random(first.get(), seed);
        fill_random(second.get(), seed + 1);
        ASSERT_EQ(SDL_SaveBMP(first.get(), at("a.bmp").c_str()), 0);
        ASSERT_EQ(SDL_SaveBMP(second.get(), at("b.bmp").c_str()), 0);
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> x(-2, w + 2), y(-2, h + 2), nudge(-4, 4);
        std::string text = "# seeded pairs\n";
        for (int k = 0; k < 5; ++k) {
            Segment a = {x(rng), y(rng), x(rng), y(rng)};
            Segment b = {a.x1 + nudge(rng), a.y1 + nudge(rng), a.x2 + nudge(rng), a.y2 + nudge(rng)};
            if (k == 4)
                a.x2 = a.x1, a.y2 = a.y1;
            pairs.insert(pairs.end(), {a, b});
            text += segment_line(a) + segment_line(b);
        }
        write("pairs.txt", text);
        mkdir(at("out").c_str(), 0755);
    }

    void write(const std::string& name, const std::string& text) { write_file(at(name), text); }
    std::string read(const std::string& name) { return read_file(at(name)); }

    // Runs the tool in `dir` with `args`; `input` goes to its standard input.
    // With `file_limit`, no file it writes may grow past that many bytes.
    Outcome run(const std::string& args, const std::string& input = "", rlim_t file_limit = RLIM_INFINITY)
    {
        write(".stdin", input);
        const std::string command = "cd '" + dir + "' && " TAVROSK_MORPH " " + args + " <.stdin >.stdout 2>.stderr";
        rlimit before;
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit limited = before;
        limited.rlim_cur = file_limit;
        setrlimit(RLIMIT_FSIZE, &limited);
        const int status = std::system(command.c_str());
        setrlimit(RLIMIT_FSIZE, &before);
        Outcome r = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(".stdout"), read(".stderr")};
        for (const char* f : {".stdin", ".stdout", ".stderr"})
            unlink(at(f).c_str());
        return r;
    }

    std::string frame_name(int i) const
    {
        char name[32];
        std::snprintf(name, sizeof name, "out/f%02d.bmp", i);
        return name;
    }

    // Frame i of n as the tool wrote it, against the plain morph.
    void expect_frame(int i, int n, const std::string& what)
    {
        SurfacePtr got(SDL_LoadBMP(at(frame_name(i)).c_str()));
        ASSERT_NE(got, nullptr) << what << ": " << frame_name(i) << " does not load";
        SurfacePtr want = plain_morph_frame(first.get(), second.get(), pairs, WarpParams(), i, n);
        EXPECT_EQ(compare_rgb(want.get(), got.get()), "")
            << what << ", frame " << i << " of " << n << " (expected plain morph, actual tool; TAVROSK_SEED="
            << base_seed() << ")";
    }
};

TEST_F(MorphTool, FramesEqualThePlainMorphAndTheEndsTheInputs)
{
    const int n = 5;
    Outcome r = run("--frames 5 a.bmp b.bmp pairs.txt out/f%02d.bmp");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    for (int i = 0; i < n; ++i)
        expect_frame(i, n, "default run");
    // The ends are the inputs as they were read, whatever their depth.
    SurfacePtr start(SDL_LoadBMP(at(frame_name(0)).c_str())), end(SDL_LoadBMP(at(frame_name(n - 1)).c_str()));
    ASSERT_TRUE(start && end);
    EXPECT_EQ(compare_rgb(first.get(), start.get()), "");
    EXPECT_EQ(compare_rgb(second.get(), end.get()), "");
    EXPECT_EQ(folder_entries(at("out")),
              (std::vector<std::string>{"f00.bmp", "f01.bmp", "f02.bmp", "f03.bmp", "f04.bmp"}));

    // One thread, many, the literal kernel: the same bytes.
    const std::string full = read(frame_name(2));
    for (const char* options : {"--threads 1", "-t7", "--reference"}) {
        r = run(std::string(options) + " --frames=5 a.bmp b.bmp pairs.txt out/f%02d.bmp");
        ASSERT_EQ(r.status, 0) << options << ": " << r.err;
        EXPECT_EQ(read(frame_name(2)), full) << options;
    }
    // PNG compression reaches the frames' writer: stored frames of a black
    // picture are larger.
    SurfacePtr black(make_surface(w, h, 24));
    ASSERT_EQ(SDL_SaveBMP(black.get(), at("black.bmp").c_str()), 0);
    ASSERT_EQ(run("--frames 2 black.bmp black.bmp pairs.txt out/z%d.png").status, 0);
    ASSERT_EQ(run("--frames 2 --png-compression 0 black.bmp black.bmp pairs.txt out/s%d.png").status, 0);
    EXPECT_GT(read("out/s1.png").size(), read("out/z1.png").size());
}

// The frames have the wider kind of the inputs (grey with 16-bit RGBA:
// 16-bit RGBA), 8-bit samples under --depth 8, alpha added under --outside
// transparent; the ends are the inputs in that kind, and a middle frame is
// the engine's, which the morph's own tests check.
TEST_F(MorphTool, FramesAreOfTheWiderKind)
{
    const struct {
        ImageKind first, second;
        std::string args;
        ImageKind want;
    } cases[] = {
        {{1, SAMPLE_U8}, {4, SAMPLE_U16}, "", {4, SAMPLE_U16}},
        {{1, SAMPLE_U8}, {4, SAMPLE_U16}, "--depth 8", {4, SAMPLE_U8}},
        {{3, SAMPLE_U16}, {1, SAMPLE_U8}, "--outside transparent", {4, SAMPLE_U16}},
    };
    for (const auto& c : cases) {
        ImageBuffer inputs[2];
        std::string problem;
        for (int k = 0; k < 2; ++k) {
            const ImageKind kind = k == 0 ? c.first : c.second;
            ASSERT_TRUE(image_buffer_make(&inputs[k], w, h, kind.channels, kind.type));
            fill_random_samples(inputs[k].view, base_seed() + k);
            ASSERT_TRUE(save_image(at(k == 0 ? "a.tif" : "b.tif"), inputs[k].view, IMAGE_TIFF, &problem)) << problem;
        }
        const Outcome r = run(c.args + " --frames 3 a.tif b.tif pairs.txt out/f%d.tif");
        ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
        EXPECT_EQ(r.out + r.err, "") << c.args;
        for (int i = 0; i < 3; ++i) {
            ImageBuffer got, want;
            ASSERT_TRUE(image_load(at("out/f" + std::to_string(i) + ".tif").c_str(), &got, &problem)) << problem;
            EXPECT_TRUE(kind_equal(image_kind(got.view), c.want)) << c.args << ", frame " << i;
            if (i == 1)
                continue;
            ASSERT_TRUE(image_convert(inputs[i / 2].view, c.want, &want));
            EXPECT_EQ(std::memcmp(got.view.pixels, want.view.pixels, image_pixel_bytes(want.view) * w * h), 0)
                << c.args << ", frame " << i;
        }
    }
}

TEST_F(MorphTool, RangeFramesEqualThoseOfAFullRun)
{
    const int n = 7;
    ASSERT_EQ(run("--frames 7 a.bmp b.bmp pairs.txt out/f%02d.bmp").status, 0);
    std::vector<std::string> full;
    for (int i = 0; i < n; ++i)
        full.push_back(read(frame_name(i)));
    const struct {
        const char* range;
        int from, to;
    } ranges[] = {{"2-4", 2, 4}, {"0-0", 0, 0}, {"6-6", 6, 6}, {"5-6", 5, 6}};
    for (const auto& range : ranges) {
        std::system(("rm -f '" + at("out") + "'/*").c_str());
        Outcome r = run(std::string("--range ") + range.range + " --frames 7 a.bmp b.bmp pairs.txt out/f%02d.bmp");
        ASSERT_EQ(r.status, 0) << range.range << ": " << r.err;
        std::vector<std::string> names;
        for (int i = range.from; i <= range.to; ++i) {
            names.push_back(frame_name(i).substr(4));
            EXPECT_EQ(read(frame_name(i)), full[i]) << "--range " << range.range << ", frame " << i;
        }
        EXPECT_EQ(folder_entries(at("out")), names) << "--range " << range.range;
    }
}

// The stream "-": N binary PPM images one after another, each the frame the
// plain morph gives.
TEST_F(MorphTool, StandardOutputIsAStreamOfPpmImages)
{
    const int n = 4;
    Outcome r = run("--frames 4 a.bmp b.bmp - -", read("pairs.txt"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string& data = r.out;
    size_t at_byte = 0;
    for (int i = 0; i < n; ++i) {
        int image_w = 0, image_h = 0, maxval = 0, used = 0;
        ASSERT_EQ(std::sscanf(data.c_str() + at_byte, "P6 %d %d %d%n", &image_w, &image_h, &maxval, &used), 3)
            << "image " << i << " at byte " << at_byte;
        ASSERT_EQ(image_w, w);
        ASSERT_EQ(image_h, h);
        ASSERT_EQ(maxval, 255);
        at_byte += static_cast<size_t>(used) + 1;  // one blank after maxval
        ASSERT_LE(at_byte + 3 * w * h, data.size()) << "image " << i << " is cut short";
        SurfacePtr got(SDL_CreateRGBSurface(0, w, h, 32, 0, 0, 0, 0));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x, at_byte += 3)
                put_pixel(got.get(), x, y, static_cast<Uint8>(data[at_byte]), static_cast<Uint8>(data[at_byte + 1]),
                          static_cast<Uint8>(data[at_byte + 2]));
        SurfacePtr want = plain_morph_frame(first.get(), second.get(), pairs, WarpParams(), i, n);
        EXPECT_EQ(compare_rgb(want.get(), got.get()), "") << "image " << i << " of the stream";
    }
    EXPECT_EQ(at_byte, data.size()) << "bytes after the last image";
}

// Without any segment, every frame is the blend of the inputs themselves.
TEST_F(MorphTool, NoPairsMakeTheCrossFade)
{
    pairs.clear();
    write("empty.txt", "");
    write("comments.txt", "# nothing yet\n\n");
    for (const char* file : {"empty.txt", "comments.txt", "/dev/null"}) {
        Outcome r = run(std::string("--frames 4 a.bmp b.bmp ") + file + " out/f%02d.bmp");
        ASSERT_EQ(r.status, 0) << file << ": " << r.err;
        EXPECT_EQ(r.err, "") << file;
        for (int i = 0; i < 4; ++i)
            expect_frame(i, 4, file);
    }
    // The same from standard input.
    ASSERT_EQ(run("--frames 4 a.bmp b.bmp - out/f%02d.bmp").status, 0);
    expect_frame(2, 4, "no pairs on standard input");
}

TEST_F(MorphTool, BadInputNamesTheProblemAndWritesNothing)
{
    SurfacePtr small(make_surface(w - 1, h, 24));
    fill_random(small.get(), 5);
    ASSERT_EQ(SDL_SaveBMP(small.get(), at("small.bmp").c_str()), 0);
    ASSERT_EQ(SDL_SaveBMP(small.get(), at("small copy.bmp").c_str()), 0);
    write("text.bmp", "this is not an image\n");
    write("odd.txt", "1 1 5 1\n3 2 7 2\n0 0 1 1\n");
    write("out/f03.bmp", "an old frame");
    chmod(at("out/f03.bmp").c_str(), 0444);
    const struct {
        std::string args, err;
    } cases[] = {
        {"none.bmp b.bmp pairs.txt out/f%02d.bmp", "none.bmp: cannot open: No such file or directory"},
        {"a.bmp none.bmp pairs.txt out/f%02d.bmp", "none.bmp: cannot open: No such file or directory"},
        {"a.bmp . pairs.txt out/f%02d.bmp", ".: is a directory"},
        {"a.bmp small.bmp pairs.txt out/f%02d.bmp",
         "small.bmp is 22 x 17 but a.bmp is 23 x 17; resize it first (convert small.bmp -resize 23x17! small2.bmp)"},
        {"a.bmp 'small copy.bmp' pairs.txt out/f%02d.bmp",
         "small copy.bmp is 22 x 17 but a.bmp is 23 x 17; resize it first (convert 'small copy.bmp' -resize 23x17! "
         "'small copy2.bmp')"},
        {"small.bmp a.bmp pairs.txt out/f%02d.bmp",
         "a.bmp is 23 x 17 but small.bmp is 22 x 17; resize it first (convert a.bmp -resize 22x17! a2.bmp)"},
        {"a.bmp b.bmp none.txt out/f%02d.bmp", "none.txt: cannot open: No such file or directory"},
        {"a.bmp b.bmp odd.txt out/f%02d.bmp", "odd.txt: 3 segments, an odd count; every pair needs two lines"},
        {"a.bmp b.bmp - out/f%02d.bmp", "standard input:1: expected four numbers, found 'x'"},
        {"a.bmp b.bmp pairs.txt out/frame.bmp", "out/frame.bmp: no frame number field such as %d or %03d"},
        {"a.bmp b.bmp pairs.txt out/f%%.bmp", "out/f%%.bmp: no frame number field such as %d or %03d"},
        {"a.bmp b.bmp pairs.txt out/f%d-%d.bmp", "out/f%d-%d.bmp: more than one frame number field"},
        {"a.bmp b.bmp pairs.txt out/f%s.bmp",
         "out/f%s.bmp: '%s' is not a frame number field (use %d with flags and a width, such as %03d, or %% for a "
         "percent sign)"},
        {"a.bmp b.bmp pairs.txt out/f%5.2d.bmp",
         "out/f%5.2d.bmp: '%5.' is not a frame number field (use %d with flags and a width, such as %03d, or %% for "
         "a percent sign)"},
        {"-f bmp a.bmp b.bmp pairs.txt out/f%",
         "out/f%: '%' at the end is not a frame number field (use %d, or %% for a percent sign)"},
        {"--frames 1 a.bmp b.bmp pairs.txt out/f%02d.bmp", "--frames: '1' is not a whole number from 2 to 1000000"},
        {"--frames ten a.bmp b.bmp pairs.txt out/f%02d.bmp",
         "--frames: 'ten' is not a whole number from 2 to 1000000"},
        {"--range 3-30 a.bmp b.bmp pairs.txt out/f%02d.bmp", "--range: 3-30 is outside frames 0-29 of 30"},
        {"--range 5-4 --frames 9 a.bmp b.bmp pairs.txt out/f%02d.bmp",
         "--range: 5-4 is reversed; give the lower frame first"},
        {"--range=-2-4 a.bmp b.bmp pairs.txt out/f%02d.bmp",
         "--range: '-2-4' is not two frame numbers I-J, such as 0-9"},
        {"--range 4 a.bmp b.bmp pairs.txt out/f%02d.bmp", "--range: '4' is not two frame numbers I-J, such as 0-9"},
        {"-p -1 a.bmp b.bmp pairs.txt out/f%02d.bmp", "-p: '-1' is not a finite number, 0 or more"},
        {"--threads 0 a.bmp b.bmp pairs.txt out/f%02d.bmp", "--threads: '0' is not a whole number from 1 to 1024"},
        {"--quality 101 a.bmp b.bmp pairs.txt out/f%02d.jpg", "--quality: '101' is not a whole number from 1 to 100"},
        {"a.bmp b.bmp pairs.txt nowhere/f%02d.bmp", "nowhere/f00.bmp: cannot write in nowhere: No such file or directory"},
        {"--frames 5 a.bmp b.bmp pairs.txt out/f%02d.bmp", "out/f03.bmp: is read-only; not replaced"},
    };
    const std::vector<std::string> files = folder_entries(dir), frames = folder_entries(at("out"));
    for (const auto& c : cases) {
        Outcome r = run(c.args, "x y z w\n");
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, "tavrosk-morph: " + c.err + "\n") << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_EQ(folder_entries(dir), files) << c.args;
        EXPECT_EQ(folder_entries(at("out")), frames) << c.args;
    }
    EXPECT_EQ(read("out/f03.bmp"), "an old frame");
    // The read-only frame outside the range is no obstacle.
    EXPECT_EQ(run("--frames 5 --range 0-2 a.bmp b.bmp pairs.txt out/f%02d.bmp").status, 0);
}

TEST_F(MorphTool, UsageErrorsExitTwo)
{
    const std::string usage = "usage: tavrosk-morph [options] FIRST SECOND PAIRS OUTPUT\n";
    const std::string try_help = "Try 'tavrosk-morph --help' for more information.\n";
    const struct {
        std::string args, err;
    } cases[] = {
        {"", "missing arguments"},
        {"a.bmp b.bmp pairs.txt", "missing arguments"},
        {"a.bmp b.bmp pairs.txt f%d.bmp extra", "unexpected argument extra"},
        {"-x a.bmp b.bmp pairs.txt f%d.bmp", "unknown option -x"},
        {"--f 3 a.bmp b.bmp pairs.txt f%d.bmp", "--f: ambiguous; --format or --frames?"},
        {"--qu a.bmp b.bmp pairs.txt f%d.bmp", "--qu: ambiguous; --quality or --quiet?"},
        {"--folds x.png a.bmp b.bmp pairs.txt f%d.bmp", "unknown option --folds"},
        {"--frames", "missing value for --frames"},
        {"a.bmp b.bmp pairs.txt f%d.bmp --range", "missing value for --range"},
        {"--quiet=yes a.bmp b.bmp pairs.txt f%d.bmp", "--quiet takes no value"},
        {"--format gif a.bmp b.bmp pairs.txt f%d.bmp", "--format: 'gif' is not bmp, png, jpeg, tiff, webp, heif or avif"},
        {"--format ppm a.bmp b.bmp pairs.txt f%d.bmp", "--format: 'ppm' is not bmp, png, jpeg, tiff, webp, heif or avif"},
        {"-f bmp a.bmp b.bmp pairs.txt -", "--format: standard output takes a PPM stream only"},
        {"a.bmp b.bmp pairs.txt out/f%02d.xyz",
         "out/f%02d.xyz: cannot tell the format from the name; use .bmp, .png, .jpg, .jpeg, .tif, .tiff, "
         ".webp, .heic, .heif or .avif, or --format bmp|png|jpeg|tiff|webp|heif|avif"},
        {"a.bmp b.bmp pairs.txt out/f%02d.ppm",
         "out/f%02d.ppm: cannot tell the format from the name; use .bmp, .png, .jpg, .jpeg, .tif, .tiff, "
         ".webp, .heic, .heif or .avif, or --format bmp|png|jpeg|tiff|webp|heif|avif"},
    };
    for (const auto& c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, "tavrosk-morph: " + c.err + "\n" + usage + try_help) << c.args;
    }
    EXPECT_EQ(folder_entries(at("out")), std::vector<std::string>{});
    Outcome help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(usage, 0), 0u);
    EXPECT_NE(help.out.find("the wider\nkind of the two"), std::string::npos);
    Outcome version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.substr(0, version.out.find('\n') + 1), "tavrosk-morph 1.0\n");
    EXPECT_EQ(version.out.find("\nfast kernel: "), std::string("tavrosk-morph 1.0").size());
    // GNU spellings: glued values, '=', abbreviations, options after names.
    Outcome r = run("-p0.5 --fra=3 --ran 1-1 -q a.bmp b.bmp pairs.txt out/f%02d.bmp -t2");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(folder_entries(at("out")), std::vector<std::string>{"f01.bmp"});
}

// Files an earlier, longer run left with the pattern's names, numbered N and
// up, are named in one warning after a full run: the first, the last and
// their count. Names the pattern would not give, --range runs and the stream
// pass in silence; nothing is deleted.
TEST_F(MorphTool, FramesLeftByALongerRunAreNamedNotDeleted)
{
    const std::string warning = "tavrosk-morph: warning: ";
    const std::string video = "; a video made from the pattern would include ";
    const struct {
        std::vector<std::string> old;  // files in out/ before the run
        std::string args, err;
    } cases[] = {
        {{"f05.bmp", "f06.bmp", "f09.bmp", "f5.bmp", "f05.png", "f0010.bmp", "g07.bmp", ".f07.bmp.Xy12ab"},
         "--frames 5 a.bmp b.bmp pairs.txt out/f%02d.bmp",
         warning + "3 files beyond this run's last frame, out/f05.bmp to out/f09.bmp, match out/f%02d.bmp" + video
             + "them\n"},
        {{"f03.bmp", "f4.bmp", "f12.bmp", "f 5.bmp", "f-7.bmp"}, "--frames 4 a.bmp b.bmp pairs.txt out/f%d.bmp",
         warning + "2 files beyond this run's last frame, out/f4.bmp to out/f12.bmp, match out/f%d.bmp" + video
             + "them\n"},
        {{"f+2.bmp", "f2.bmp"}, "--frames 2 a.bmp b.bmp pairs.txt out/f%+d.bmp",
         warning + "1 file beyond this run's last frame, out/f+2.bmp, matches out/f%+d.bmp" + video + "it\n"},
        {{"f  9.bmp", "f 10.bmp", "f100.bmp"}, "--frames 3 a.bmp b.bmp pairs.txt 'out/f% 3d.bmp'",
         warning + "2 files beyond this run's last frame, out/f  9.bmp to out/f 10.bmp, match out/f% 3d.bmp" + video
             + "them\n"},
        {{"f02.bmp", "f04.bmp"}, "--frames 2 a.bmp b.bmp pairs.txt out/%%f%02d.bmp", ""},
        {{"f05.bmp"}, "--frames 5 --range 0-4 a.bmp b.bmp pairs.txt out/f%02d.bmp", ""},
        {{"f05.bmp"}, "--frames 5 a.bmp b.bmp pairs.txt - >/dev/null", ""},
    };
    for (const auto& c : cases) {
        std::system(("rm -rf '" + at("out") + "' && mkdir '" + at("out") + "'").c_str());
        for (const std::string& name : c.old)
            write("out/" + name, "old");
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 0) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
        for (const std::string& name : c.old)
            EXPECT_EQ(read("out/" + name), "old") << c.args << ": " << name;
    }
}

// A file size limit that the stream passes after some frames: the message
// names the frame, the status is 1, and what went out before is whole images.
TEST_F(MorphTool, StreamStopsAtTheFileSizeLimit)
{
    // Each image is a 13-byte header and 23 x 17 x 3 bytes; 4096 bytes hold
    // three of them.
    const size_t image = 13 + 3 * w * h;
    ASSERT_EQ(image, 1186u);
    Outcome r = run("--frames 6 a.bmp b.bmp pairs.txt -", "", 4096);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tavrosk-morph: frame 3: cannot write to standard output: File too large\n");
    EXPECT_EQ(r.out.size(), 4096u);
    EXPECT_EQ(r.out.substr(0, 3 * image), [&] {
        Outcome full = run("--frames 6 a.bmp b.bmp pairs.txt -");
        return full.out.substr(0, 3 * image);
    }());
}

// PNG frames from a flat grey image to a noisy one: frame 0 compresses to
// next to nothing, frame 1 is noise and cannot. With a file size limit
// between the two, the run stops at frame 1 with a message naming it, frame 0
// is the complete file of a full run, and nothing else is left behind.
TEST_F(MorphTool, FileSizeLimitStopsAtTheFrameThatPassesIt)
{
    SurfacePtr flat(make_surface(w, h, 24));
    SDL_FillRect(flat.get(), nullptr, SDL_MapRGB(flat->format, 128, 128, 128));
    ASSERT_EQ(SDL_SaveBMP(flat.get(), at("flat.bmp").c_str()), 0);
    const std::string args = "--frames 4 flat.bmp a.bmp pairs.txt out/f%02d.png";
    ASSERT_EQ(run(args).status, 0);
    const std::string first_frame = read("out/f00.png"), second_frame = read("out/f01.png");
    ASSERT_LT(first_frame.size() + 100, second_frame.size()) << "frame 1 should be far larger than frame 0";
    std::system(("rm -f '" + at("out") + "'/*").c_str());

    Outcome r = run(args, "", first_frame.size() + 50);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tavrosk-morph: out/f01.png: cannot write: File too large\n");
    EXPECT_EQ(folder_entries(at("out")), std::vector<std::string>{"f00.png"});
    EXPECT_EQ(read("out/f00.png"), first_frame);
}

// Reads what reaches a pty's master until it has been quiet for 300 ms.
std::string drain(int fd)
{
    std::string text;
    char buffer[4096];
    pollfd p = {fd, POLLIN, 0};
    while (poll(&p, 1, 300) > 0) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

// Standard output on a terminal is refused before any work; standard error on
// a terminal shows the progress line of a run that takes over a second, and
// -q keeps it quiet.
TEST_F(MorphTool, TerminalsGetNoBinaryAndAProgressLine)
{
    int master = -1, slave = -1;
    termios raw;
    cfmakeraw(&raw);
    ASSERT_EQ(openpty(&master, &slave, nullptr, &raw, nullptr), 0);
    const std::string tty = ttyname(slave);

    std::string command = "cd '" + dir + "' && " TAVROSK_MORPH " a.bmp b.bmp pairs.txt - >" + tty + " 2>.stderr";
    int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(read(".stderr"),
              "tavrosk-morph: standard output is a terminal; not writing binary data to it (redirect it or give a "
              "file name)\n");
    EXPECT_EQ(drain(master), "");

    // The literal kernel on 160 x 120 with 20 pairs and 40 frames: 76 warps
    // of 384 000 pixel-pairs, at least 1.4 s at 50 ns each.
    SurfacePtr big(make_surface(160, 120, 24));
    fill_random(big.get(), 9);
    ASSERT_EQ(SDL_SaveBMP(big.get(), at("big.bmp").c_str()), 0);
    std::string many;
    for (int k = 0; k < 20; ++k)
        many += segment_line({5.0 * k, 10, 5.0 * k + 30, 100}) + segment_line({5.0 * k + 3, 12, 5.0 * k + 31, 96});
    write("many.txt", many);
    for (bool quiet : {false, true}) {
        command = "cd '" + dir + "' && " TAVROSK_MORPH " --reference --frames 40 " + (quiet ? "-q " : "")
                  + "big.bmp big.bmp many.txt - >/dev/null 2>" + tty;
        status = std::system(command.c_str());
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const std::string shown = drain(master);
        if (quiet) {
            EXPECT_EQ(shown, "");
        } else {
            EXPECT_EQ(shown.rfind("\rtavrosk-morph: frame ", 0), 0u) << shown;
            EXPECT_NE(shown.find("/40, "), std::string::npos) << shown;
            EXPECT_NE(shown.find("% ("), std::string::npos) << shown;
            EXPECT_GE(shown.size(), 3u);
            EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << shown;
        }
    }
    close(master);
    close(slave);
}

// FIRST's colour description goes to every frame its format can carry,
// byte for byte; SECOND's, where it differs, is named beside FIRST's in one
// warning, unless the frames carry no description (BMP, the PPM stream); a
// format that cannot carry FIRST's gets a warning of its own; --strip
// writes none and says nothing. ImageMagick's gAMA and cHRM, which say
// sRGB, are no difference from none.
TEST_F(MorphTool, FramesCarryFirstsColourDescription)
{
    const Bytes profile = icc_profile(70000, 4);
    auto write_png_meta = [&](const char* name, const ImageMeta& meta) {
        std::FILE* out = std::fopen(at(name).c_str(), "wb");
        ASSERT_TRUE(out && encode_surface(first.get(), IMAGE_PNG, 90, out, nullptr, &meta));
        std::fclose(out);
    };
    ImageMeta icc, magick, half;
    icc.icc = profile;
    magick.gama = {0, 0, 0xB1, 0x8F};  // 0.45455
    magick.chrm = {0, 0, 0x7A, 0x26, 0, 0, 0x80, 0x84, 0, 0, 0xFA, 0, 0, 0, 0x80, 0xE8,
                   0, 0, 0x75, 0x30, 0, 0, 0xEA, 0x60, 0, 0, 0x3A, 0x98, 0, 0, 0x17, 0x70};
    half.gama = {0, 0, 0xC3, 0x50};  // 0.5
    write_png_meta("a.png", icc);
    write_png_meta("magick.png", magick);
    write_png_meta("half.png", half);
    const std::string differs = "tavrosk-morph: warning: the images describe their colours differently (b.bmp: "
                                "none; a.png: ICC profile of 70000 bytes); the frames carry a.png's\n";
    const struct {
        std::string args, frame, err;
        bool icc;
    } cases[] = {
        {"a.png b.bmp pairs.txt out/p%d.png", "out/p1.png", differs, true},
        {"a.png b.bmp pairs.txt out/j%d.jpg", "out/j1.jpg", differs, true},
        {"a.png b.bmp pairs.txt out/b%d.bmp", "out/b1.bmp",
         "tavrosk-morph: warning: out/b%d.bmp: BMP cannot carry the source's ICC profile; written without it\n",
         false},
        {"--strip a.png b.bmp pairs.txt out/s%d.png", "out/s1.png", "", false},
        {"a.png a.png pairs.txt out/same%d.png", "out/same1.png", "", true},
        {"b.bmp magick.png pairs.txt out/m%d.png", "out/m1.png", "", false},
        {"magick.png b.bmp pairs.txt out/n%d.png", "out/n1.png", "", false},
        {"b.bmp half.png pairs.txt out/h%d.png", "out/h1.png",
         "tavrosk-morph: warning: the images describe their colours differently (half.png: gAMA 0.5; b.bmp: none); "
         "the frames carry b.bmp's\n",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = run("--frames 3 " + c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err);
        ImageMeta got;
        std::string problem;
        SurfacePtr frame(load_surface(at(c.frame).c_str(), &problem, &got));
        ASSERT_TRUE(frame) << problem;
        EXPECT_EQ(got.icc == profile, c.icc);
        EXPECT_EQ(got.icc.empty(), !c.icc);
    }
    // The PPM stream carries no description: only the lost profile is named.
    Outcome r = run("--frames 2 a.png b.bmp pairs.txt -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "tavrosk-morph: warning: standard output: PPM cannot carry the source's ICC profile; written "
                     "without it\n");
}

// A portrait JPEG stored on its side (Exif orientation 6) is compared with
// SECOND as viewed; as stored, its sides are the other way round.
TEST_F(MorphTool, SizesAreComparedAsViewed)
{
    JpegSample j = {h, w, 3, false, false, false, 0, 90, 0, std::vector<uint8_t>(3 * w * h, 120)};
    const Bytes exif = exif_app1(exif_block(true, 6, false));
    const Bytes jpeg = jpeg_with_segment(write_jpeg(j), 0xE1, exif);
    write("side.jpg", std::string(jpeg.begin(), jpeg.end()));
    Outcome r = run("--frames 2 side.jpg b.bmp pairs.txt out/v%d.png");
    EXPECT_EQ(r.status, 0) << r.err;
    r = run("--no-auto-orient --frames 2 side.jpg b.bmp pairs.txt out/s%d.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("tavrosk-morph: b.bmp is 23 x 17 but side.jpg is 17 x 23;", 0), 0u) << r.err;
}

}  // namespace
