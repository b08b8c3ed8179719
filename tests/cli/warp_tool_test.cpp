// tavrosk-warp run as a process in a fresh folder. The golden image is a
// whole-pixel move worked out by hand; every bad input must leave an existing
// RESULT byte for byte as it was and no temporary file behind.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sdl/pixel.h"
#include "tests/support/test_support.h"
#include "tests/io/image_test.h"
#include "tests/support/png_reference.h"
#include "io/flo.h"
#include "raster/kinds.h"
#include "warp/warp_views.h"
#include "warp/warp.h"

namespace {

std::string as_string(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

struct Outcome {
    int status;
    std::string out, err;
};

class Tool : public ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        // 6 x 4 source, pixel (x, y) = (40x, 60y, 7 + x + y).
        SurfacePtr s(make_surface(6, 4, 24));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                put_pixel(s.get(), x, y, 40 * x, 60 * y, 7 + x + y);
        ASSERT_EQ(SDL_SaveBMP(s.get(), at("in.bmp").c_str()), 0);
        write("old.bmp", "previous result");
        write("text.bmp", "this is not a bitmap\n");
    }

    void write(const std::string& name, const std::string& text) { write_file(at(name), text); }
    std::string read(const std::string& name) { return read_file(at(name)); }

    // Runs the tool in `dir` with `args`; `input` goes to its standard input.
    Outcome run(const std::string& args, const std::string& input = "")
    {
        write(".stdin", input);
        std::string command = "cd '" + dir + "' && " TAVROSK_WARP " " + args + " <.stdin >.stdout 2>.stderr";
        int status = std::system(command.c_str());
        Outcome r = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(".stdout"), read(".stderr")};
        for (const char* f : {".stdin", ".stdout", ".stderr"})
            unlink((dir + "/" + f).c_str());
        return r;
    }

    std::vector<std::string> entries() { return folder_entries(dir); }
};

// Pair: (1, 1)-(5, 1) in the source lies at (3, 2)-(7, 2) in the result, a
// move by (2, 1). Segments of length 4 along x keep the arithmetic exact, so
// result (x, y) is source (x - 2, y - 1), black in columns 0-1 and row 0.
void expect_golden(const std::string& path)
{
    SurfacePtr out_owner(SDL_LoadBMP(path.c_str()));
    SDL_Surface* out = out_owner.get();
    ASSERT_NE(out, nullptr) << path;
    ASSERT_EQ(out->w, 6);
    ASSERT_EQ(out->h, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            Uint8 r, g, b;
            get_pixel(out, x, y, &r, &g, &b);
            int sx = x - 2, sy = y - 1;
            bool inside = sx >= 0 && sy >= 0;
            EXPECT_EQ(r, inside ? 40 * sx : 0) << x << ", " << y;
            EXPECT_EQ(g, inside ? 60 * sy : 0) << x << ", " << y;
            EXPECT_EQ(b, inside ? 7 + sx + sy : 0) << x << ", " << y;
        }
}

TEST_F(Tool, GoldenMoveFromFileAndFromStandardInput)
{
    // Comments, blank lines, tabs, decimals, exponents and a CRLF line.
    write("pairs.txt", "# eye\n\n   1.0 1 5e0 1\n\t# its new place\n3 2.000 7 2 \r\n");
    Outcome r = run("in.bmp pairs.txt out.bmp");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    expect_golden(dir + "/out.bmp");

    // The same move with negative coordinates, from standard input, over an
    // existing result, with the literal kernel and other weight parameters
    // (one pair: the weight cancels).
    r = run("--reference -p 2 -a 0.5 -b 3 in.bmp - old.bmp", "-3 1 1 1\n-1 2 3 2\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    expect_golden(dir + "/old.bmp");
    EXPECT_EQ(read("old.bmp"), read("out.bmp"));

    r = run("--threads 3 in.bmp pairs.txt out3.bmp");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read("out3.bmp"), read("out.bmp"));

    // The image from standard input; the pairs from a file saved with a
    // byte-order mark and UTF-8 comments.
    write("marked.txt", "\xEF\xBB\xBF# oko \xE2\x80\x93 lev\xC3\xA9\n1 1 5 1\n3 2 7 2 # \xF0\x9F\x91\x81\n");
    r = run("- marked.txt out-stdin.bmp", read("in.bmp"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(read("out-stdin.bmp"), read("out.bmp"));
    EXPECT_EQ(entries(), (std::vector<std::string>{"in.bmp", "marked.txt", "old.bmp", "out-stdin.bmp", "out.bmp",
                                                    "out3.bmp", "pairs.txt", "text.bmp"}));
}

TEST_F(Tool, BadInputNamesTheFileAndLeavesResultAlone)
{
    write("good.txt", "1 1 5 1\n3 2 7 2\n");
    write("short.txt", "1 1 5 1\n\n1 2 3\n");
    write("word.txt", "1 1 5 1\n3 two 7 2\n");
    write("junk.txt", "1 1 5 1\n3 2 7 2px\n");
    write("five.txt", "# one too many\n1 1 5 1 9\n3 2 7 2\n");
    write("nan.txt", "1 1 5 1\n3 2 nan 2\n");
    write("huge.txt", "1 1 5 1\n3 2 1e999 2\n");
    write("odd.txt", "1 1 5 1\n3 2 7 2\n0 0 1 1\n");
    write("one.txt", "# only\n1 1 5 1\n");
    write("empty.txt", "# nothing\n\n");
    write("control.txt", "1 1 5 1\n3 2\x1b[1m 7 2\n");
    write("latin1.txt", "# caf\xE9\n1 1 5 1\n3 2 7 2\n");
    write("nul.txt", std::string("1 1 5 1\n3 2 7 2\0\n", 17));
    write("overlong.txt", "1 1 5 1 # \xC0\xAF\n3 2 7 2\n");
    write("late-bom.txt", "1 1 5 1\n\xEF\xBB\xBF" "3 2 7 2\n");
    mkdir((dir + "/sub").c_str(), 0755);
    const struct {
        std::string args, err;
    } cases[] = {
        {"none.bmp good.txt old.bmp", "none.bmp: cannot open: No such file or directory"},
        {"text.bmp good.txt old.bmp", "text.bmp: not a BMP, PNG, JPEG, TIFF, WebP, HEIF or AVIF image"},
        {". good.txt old.bmp", ".: is a directory"},
        {"in.bmp none.txt old.bmp", "none.txt: cannot open: No such file or directory"},
        {"in.bmp short.txt old.bmp", "short.txt:3: expected four numbers, found 3"},
        {"in.bmp word.txt old.bmp", "word.txt:2: expected four numbers, found 'two'"},
        {"in.bmp junk.txt old.bmp", "junk.txt:2: expected four numbers, found '2px'"},
        {"in.bmp five.txt old.bmp", "five.txt:2: expected four numbers, found more"},
        {"in.bmp nan.txt old.bmp", "nan.txt:2: 'nan' is not a finite number"},
        {"in.bmp huge.txt old.bmp", "huge.txt:2: '1e999' is not a finite number"},
        {"in.bmp odd.txt old.bmp", "odd.txt: 3 segments, an odd count; every pair needs two lines"},
        {"in.bmp one.txt old.bmp", "one.txt: only one segment; a pair needs two lines"},
        {"in.bmp empty.txt old.bmp", "empty.txt: no segments; a pair needs two lines"},
        {"in.bmp /dev/null old.bmp", "/dev/null: no segments; a pair needs two lines"},
        {"in.bmp - old.bmp", "standard input:1: expected four numbers, found 'x'"},
        {"- good.txt old.bmp", "standard input: not a BMP, PNG, JPEG, TIFF, WebP, HEIF or AVIF image"},
        {"in.bmp in.bmp old.bmp", "in.bmp:1: not a text line"},
        {"in.bmp control.txt old.bmp", "control.txt:2: not a text line"},
        {"in.bmp latin1.txt old.bmp", "latin1.txt:1: not a text line"},
        {"in.bmp nul.txt old.bmp", "nul.txt:2: not a text line"},
        {"in.bmp overlong.txt old.bmp", "overlong.txt:1: not a text line"},
        {"in.bmp late-bom.txt old.bmp", "late-bom.txt:2: expected four numbers, found '\xEF\xBB\xBF" "3'"},
        {"-a 0 in.bmp good.txt old.bmp", "-a: '0' is not a finite number greater than 0"},
        {"-p -1 in.bmp good.txt old.bmp", "-p: '-1' is not a finite number, 0 or more"},
        {"-b inf in.bmp good.txt old.bmp", "-b: 'inf' is not a finite number, 0 or more"},
        {"-p 1x in.bmp good.txt old.bmp", "-p: '1x' is not a finite number, 0 or more"},
        {"--threads 0 in.bmp good.txt old.bmp", "--threads: '0' is not a whole number from 1 to 1024"},
        {"--png-compression 10 in.bmp good.txt old.bmp", "--png-compression: '10' is not a whole number from 0 to 9"},
        {"in.bmp good.txt nowhere/out.bmp", "nowhere/out.bmp: cannot write in nowhere: No such file or directory"},
        {"in.bmp good.txt sub", "sub: is a directory"},
    };
    const std::string before = read("old.bmp");
    const std::vector<std::string> files = entries();
    for (const auto& c : cases) {
        Outcome r = run(c.args, "x y z w\n");
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, "tavrosk-warp: " + c.err + "\n") << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_EQ(read("old.bmp"), before) << c.args;
        EXPECT_EQ(entries(), files) << c.args;
    }
}

TEST_F(Tool, UsageErrorsExitTwo)
{
    const std::string usage = "usage: tavrosk-warp [options] SOURCE SEGMENTS RESULT\n";
    const std::string try_help = "Try 'tavrosk-warp --help' for more information.\n";
    const struct {
        std::string args, err;
    } cases[] = {
        {"", "missing arguments"},
        {"in.bmp pairs.txt", "missing arguments"},
        {"in.bmp pairs.txt old.bmp extra", "unexpected argument extra"},
        {"-x in.bmp pairs.txt old.bmp", "unknown option -x"},
        {"--frobnicate in.bmp pairs.txt old.bmp", "unknown option --frobnicate"},
        {"--reference=yes in.bmp pairs.txt old.bmp", "--reference takes no value"},
        {"--f png in.bmp pairs.txt old.bmp", "--f: ambiguous; --format, --folds or --field?"},
        {"--fo=x.png in.bmp pairs.txt old.bmp", "--fo: ambiguous; --format or --folds?"},
        {"--- in.bmp pairs.txt old.bmp", "unknown option ---"},
        {"- - old.bmp", "SOURCE and SEGMENTS cannot both be standard input (-)"},
        {"in.bmp pairs.txt old.bmp -p", "missing value for -p"},
        {"--threads", "missing value for --threads"},
    };
    const std::string before = read("old.bmp");
    for (const auto& c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, "tavrosk-warp: " + c.err + "\n" + usage + try_help) << c.args;
        EXPECT_EQ(read("old.bmp"), before);
    }
    Outcome help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(usage, 0), 0u);
    Outcome version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.substr(0, version.out.find('\n') + 1), "tavrosk-warp 1.0\n");
}

// The engine reads TAVROSK_TARGET and TAVROSK_QUOTIENTS itself, so they act
// in every program; --version names the instruction set and the method of
// quotients the fast kernel runs, and what became of each variable. The
// parts of a line follow each other in it, the first opening it and the last
// closing it (one part: the whole line). Rows whose instruction set this
// processor lacks are passed over.
TEST_F(Tool, VersionNamesTheKernelUnderTheVariables)
{
    const std::string forced = " (forced by TAVROSK_TARGET), quotients by ";
    const struct {
        int64_t target;  // 0: any
        const char* variables;
        std::vector<std::string> parts;
    } cases[] = {
        {HWY_SSE4, "TAVROSK_TARGET=sse4 TAVROSK_QUOTIENTS=fma",
         {"fast kernel: SSE4" + forced + "divider (no fused multiply-add on this instruction set)\n"}},
        {HWY_AVX2, "TAVROSK_TARGET=AVX2 TAVROSK_QUOTIENTS=divider",
         {"fast kernel: AVX2" + forced + "divider (forced by TAVROSK_QUOTIENTS)\n"}},
        {HWY_AVX2, "TAVROSK_TARGET=AVX2 TAVROSK_QUOTIENTS=Newton",
         {"fast kernel: AVX2" + forced
          + "fma (forced by TAVROSK_QUOTIENTS to newton, which this instruction set lacks)\n"}},
        {0, "TAVROSK_TARGET=NONE TAVROSK_QUOTIENTS=slow",
         {"fast kernel: ",
          " (TAVROSK_TARGET=NONE ignored: not an instruction set this processor runs), quotients by ",
          " (measured); TAVROSK_QUOTIENTS=slow ignored: not divider, fma or newton\n"}},
    };
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    for (const auto& c : cases) {
        if (c.target && std::find(targets.begin(), targets.end(), c.target) == targets.end())
            continue;
        const std::string command = std::string("cd '") + dir + "' && " + c.variables + " " TAVROSK_WARP
                                  + " --version >.stdout";
        ASSERT_EQ(std::system(command.c_str()), 0) << c.variables;
        const std::string out = read(".stdout");
        const std::string line = out.substr(out.find('\n') + 1);
        size_t at = 0;
        for (const std::string& part : c.parts) {
            at = line.find(part, at);
            ASSERT_NE(at, std::string::npos) << c.variables << ": '" << part << "' in " << line;
            at += part.size();
        }
        EXPECT_EQ(line.rfind(c.parts.front(), 0), 0u) << c.variables << ": " << line;
        EXPECT_EQ(at, line.size()) << c.variables << ": " << line;
    }
}

// GNU option syntax: values glued to short options, '=' after long ones,
// unambiguous abbreviations, options after the file names, "--" before a
// name that starts with '-'. Every spelling gives the golden move's bytes.
TEST_F(Tool, OptionsAsGnuToolsTakeThem)
{
    write("pairs.txt", "1 1 5 1   # the feature\n3 2 7 2# where it goes\n");
    write("-pairs.txt", "1 1 5 1\n3 2 7 2\n");
    ASSERT_EQ(run("in.bmp pairs.txt want.bmp").status, 0);
    expect_golden(dir + "/want.bmp");
    for (const char* args : {"-p0.7 -a2 -b1.5 in.bmp pairs.txt got.bmp", "--threads=2 in.bmp pairs.txt got.bmp",
                             "--thr 2 --ref in.bmp pairs.txt got.bmp", "-t1 in.bmp pairs.txt got.bmp",
                             "in.bmp pairs.txt got.bmp -p 0.7", "-- in.bmp -pairs.txt got.bmp"}) {
        Outcome r = run(args);
        EXPECT_EQ(r.status, 0) << args << ": " << r.err;
        EXPECT_EQ(read("got.bmp"), read("want.bmp")) << args;
        if (std::string(args).find("--ref") != std::string::npos)
            EXPECT_EQ(r.err, "tavrosk-warp: --reference runs on one thread; --threads is ignored\n") << args;
        else
            EXPECT_EQ(r.err, "") << args;
    }
}

// Three pairs with p, a and b unlike the defaults and unlike each other: the
// tool's result must be the literal kernel's with exactly these parameters,
// and the parameters must matter (swapping a and b, or dropping one, gives
// another image), so that a parameter passed in the wrong place fails.
TEST_F(Tool, WeightParametersReachTheWarpInTheirPlaces)
{
    SurfacePtr src(make_surface(40, 30, 24));
    fill_random(src.get(), 31);
    ASSERT_EQ(SDL_SaveBMP(src.get(), (dir + "/rand.bmp").c_str()), 0);
    const std::vector<Segment> table = {{5, 5, 30, 8},  {6, 7, 31, 12},  {10, 25, 20, 3},
                                        {8, 27, 23, 4}, {35, 28, 36, 2}, {33, 29, 37, 1}};
    std::string text;
    for (const Segment& s : table)
        text += std::to_string(s.x1) + " " + std::to_string(s.y1) + " " + std::to_string(s.x2) + " " +
                std::to_string(s.y2) + "\n";
    write("three.txt", text);
    auto literal = [&](double p, double a, double b) {
        WarpParams params;
        params.p = p;
        params.a = a;
        params.b = b;
        WarpOptions options;
        options.kernel = WARP_KERNEL_LITERAL;
        SurfacePtr dst(SDL_CreateRGBSurface(0, 40, 30, 32, 0, 0, 0, 0));
        warp_surfaces(src.get(), dst.get(), table.data(), static_cast<int>(table.size()), params, options);
        return dst;
    };
    ASSERT_EQ(run("-p 1.3 -a 0.4 -b 2.2 rand.bmp three.txt got.bmp").status, 0);
    SurfacePtr got(SDL_LoadBMP((dir + "/got.bmp").c_str()));
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(compare_rgb(literal(1.3, 0.4, 2.2).get(), got.get()), "");
    const double others[][3] = {{1.3, 2.2, 0.4}, {0.4, 1.3, 2.2}, {0.5, 0.4, 2.2}, {1.3, 1.0, 2.2}, {1.3, 0.4, 1.0}};
    for (const auto& o : others)
        EXPECT_NE(compare_rgb(literal(o[0], o[1], o[2]).get(), got.get()), "")
            << "p " << o[0] << " a " << o[1] << " b " << o[2] << " gives the same image";
}

// The tool on a terminal: forkpty puts its standard input, output and error
// on a pseudo-terminal; everything it wrote there comes back as `out`.
Outcome run_on_terminal(const std::string& dir, const std::string& args)
{
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
        const std::string command = "cd '" + dir + "' && exec " TAVROSK_WARP " " + args;
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    Outcome r = {-1, "", ""};
    if (child < 0)
        return r;
    char buffer[4096];
    ssize_t n;
    // Reading the master ends with EIO once the child has closed the terminal.
    while ((n = read(master, buffer, sizeof buffer)) > 0)
        r.out.append(buffer, static_cast<size_t>(n));
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// One image in the forms a user has it: an 8-bit BMP as SDL writes it, the
// same pixels as a PNG and as an RLE8 BMP (the ImageMagick default), and a
// JPEG with, beside it, a 24-bit BMP of exactly the pixels the JPEG decodes
// to. A BMP result of each must be the same file.
TEST_F(Tool, EveryInputFormatGivesTheWarpOfItsPixels)
{
    const int w = 57, h = 41;
    SurfacePtr image(make_surface(w, h, 8));
    std::mt19937 rng(3);
    std::vector<uint8_t> indices(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Runs of one colour, so that the RLE stream holds runs as well as absolute blocks.
            indices[y * w + x] = static_cast<uint8_t>(rng() % 6 == 0 ? rng() : (x / 5 + y / 3) * 17);
            static_cast<Uint8*>(image->pixels)[y * image->pitch + x] = indices[y * w + x];
        }
    ASSERT_EQ(SDL_SaveBMP(image.get(), at("pal.bmp").c_str()), 0);
    write("pal.png", as_string(encode(image.get(), IMAGE_PNG)));
    std::vector<uint8_t> palette;
    for (int i = 0; i < 256; ++i) {
        const SDL_Color& c = image->format->palette->colors[i];
        palette.insert(palette.end(), {c.r, c.g, c.b});
    }
    write("pal-rle.bmp", as_string(write_rle_bmp(w, h, 8, palette, rle_encode(indices, w, h, 8))));

    const Bytes jpeg = encode(image.get(), IMAGE_JPEG);
    write("photo.jpg", as_string(jpeg));
    std::string problem;
    SurfacePtr decoded(decode_surface(jpeg.data(), jpeg.size(), &problem));
    ASSERT_NE(decoded, nullptr) << problem;
    ASSERT_EQ(SDL_SaveBMP(decoded.get(), at("photo.bmp").c_str()), 0);

    write("pairs.txt", "10 5 40 30\n12 8 45 28\n50 35 20 38\n48 30 22 36\n");
    for (const char* input : {"pal.bmp", "pal.png", "pal-rle.bmp", "photo.jpg", "photo.bmp"}) {
        Outcome r = run(std::string(input) + " pairs.txt " + input + ".out.bmp");
        EXPECT_EQ(r.status, 0) << input << ": " << r.err;
    }
    // Compared as whole files; a mismatch is reported by name, not dumped.
    EXPECT_TRUE(read("pal.png.out.bmp") == read("pal.bmp.out.bmp")) << "PNG and BMP inputs differ";
    EXPECT_TRUE(read("pal-rle.bmp.out.bmp") == read("pal.bmp.out.bmp")) << "RLE and BMP inputs differ";
    EXPECT_TRUE(read("photo.jpg.out.bmp") == read("photo.bmp.out.bmp")) << "JPEG and its decoded BMP differ";
    EXPECT_FALSE(read("photo.jpg.out.bmp") == read("pal.bmp.out.bmp")) << "the JPEG should have lost something";
}

// The result's format: its extension, --format over it, PNG on standard
// output; each written file decodes to the BMP result's pixels (JPEG: close).
TEST_F(Tool, ResultFormatsFromExtensionOrOption)
{
    write("pairs.txt", "1 1 5 1\n3 2 7 2\n");
    ASSERT_EQ(run("in.bmp pairs.txt want.bmp").status, 0);
    SurfacePtr want(load_surface(at("want.bmp").c_str(), nullptr));
    ASSERT_NE(want, nullptr);
    const struct {
        std::string args, file, magic;
    } cases[] = {
        {"in.bmp pairs.txt a.png", "a.png", "\x89PNG"},
        {"in.bmp pairs.txt a.JPG", "a.JPG", "\xFF\xD8\xFF"},
        {"-Q 100 in.bmp pairs.txt a.jpeg", "a.jpeg", "\xFF\xD8\xFF"},
        {"--format png in.bmp pairs.txt b.bmp", "b.bmp", "\x89PNG"},
        {"-f jpeg in.bmp pairs.txt b.png", "b.png", "\xFF\xD8\xFF"},
        {"--format=BMP in.bmp pairs.txt c.jpg", "c.jpg", "BM"},
        {"in.bmp pairs.txt - >stdout.png", "stdout.png", "\x89PNG"},
        {"--format bmp in.bmp pairs.txt - >stdout.bmp", "stdout.bmp", "BM"},
        {"--png-compression 0 in.bmp pairs.txt stored.png", "stored.png", "\x89PNG"},
    };
    for (const auto& c : cases) {
        const std::string command = "cd '" + dir + "' && " TAVROSK_WARP " " + c.args + " 2>err.txt";
        EXPECT_EQ(std::system(command.c_str()), 0) << c.args << ": " << read("err.txt");
        EXPECT_EQ(read("err.txt"), "") << c.args;
        const std::string bytes = read(c.file);
        EXPECT_EQ(bytes.compare(0, c.magic.size(), c.magic), 0) << c.args;
        SurfacePtr got(load_surface(at(c.file).c_str(), nullptr));
        ASSERT_NE(got, nullptr) << c.args;
        if (c.magic == "\xFF\xD8\xFF")
            EXPECT_EQ(got->w * got->h, want->w * want->h) << c.args;
        else
            EXPECT_EQ(compare_rgb(want.get(), got.get()), "") << c.args;
    }
    // Quality reaches the JPEG writer: the best quality makes the larger file;
    // so does PNG compression 0, stored, against the default.
    EXPECT_GT(read("a.jpeg").size(), read("a.JPG").size());
    EXPECT_GT(read("stored.png").size(), read("a.png").size());
}

// Results behave as files should: written through a symlink, a read-only
// file refused (even for root) and untouched, no temporary left behind by
// any failure, a disk filling up midway (ulimit -f) reported, not half-written.
TEST_F(Tool, ResultFilesAreNeverClobberedOrHalfWritten)
{
    write("pairs.txt", "1 1 5 1\n3 2 7 2\n");
    mkdir(at("real").c_str(), 0755);
    write("real/target.png", "old target");
    ASSERT_EQ(symlink("real/target.png", at("link.png").c_str()), 0);
    Outcome r = run("in.bmp pairs.txt link.png");
    EXPECT_EQ(r.status, 0) << r.err;
    char target[256] = {};
    EXPECT_EQ(readlink(at("link.png").c_str(), target, sizeof target - 1), 15) << "the link must stay a link";
    EXPECT_EQ(read("real/target.png").compare(0, 4, "\x89PNG"), 0);
    EXPECT_EQ(folder_entries(at("real")), std::vector<std::string>{"target.png"});

    write("locked.png", "read-only result");
    chmod(at("locked.png").c_str(), 0444);
    // A big random image, so that its PNG outgrows a 16 KiB file size limit.
    SurfacePtr noise(make_surface(200, 150, 24));
    fill_random(noise.get(), 8);
    ASSERT_EQ(SDL_SaveBMP(noise.get(), at("noise.bmp").c_str()), 0);
    const std::vector<std::string> before = entries();
    const struct {
        std::string args, err;
        int status;
    } cases[] = {
        {"in.bmp pairs.txt locked.png", "locked.png: is read-only; not replaced", 1},
        {"in.bmp pairs.txt old.gif",
         "old.gif: cannot tell the format from the name; use .bmp, .png, .jpg, .jpeg, .tif, .tiff, .webp, .heic, "
         ".heif or .avif, or --format bmp|png|jpeg|tiff|webp|heif|avif\n"
         "usage: tavrosk-warp [options] SOURCE SEGMENTS RESULT\nTry 'tavrosk-warp --help' for more information.",
         2},
        {"in.bmp pairs.txt noext",
         "noext: cannot tell the format from the name; use .bmp, .png, .jpg, .jpeg, .tif, .tiff, .webp, .heic, .heif "
         "or .avif, or --format bmp|png|jpeg|tiff|webp|heif|avif\n"
         "usage: tavrosk-warp [options] SOURCE SEGMENTS RESULT\nTry 'tavrosk-warp --help' for more information.",
         2},
        {"--format gif in.bmp pairs.txt old.bmp",
         "--format: 'gif' is not bmp, png, jpeg, tiff, webp, heif or avif\n"
         "usage: tavrosk-warp [options] SOURCE SEGMENTS RESULT\nTry 'tavrosk-warp --help' for more information.",
         2},
        {"-Q 0 in.bmp pairs.txt old.bmp", "--quality: '0' is not a whole number from 1 to 100", 1},
        {"real pairs.txt old.bmp", "real: is a directory", 1},
    };
    for (const auto& c : cases) {
        Outcome o = run(c.args);
        EXPECT_EQ(o.status, c.status) << c.args;
        EXPECT_EQ(o.err, "tavrosk-warp: " + c.err + "\n") << c.args;
        EXPECT_EQ(entries(), before) << c.args;
    }
    EXPECT_EQ(read("locked.png"), "read-only result");

    write("noise-old.png", "previous noise");
    const std::string command = "cd '" + dir + "' && ulimit -f 16 && " TAVROSK_WARP
                                " noise.bmp pairs.txt noise-old.png 2>err.txt";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(read("err.txt"), "tavrosk-warp: noise-old.png: cannot write: File too large\n");
    EXPECT_EQ(read("noise-old.png"), "previous noise");
    std::vector<std::string> after = before;
    after.insert(after.end(), {"err.txt", "noise-old.png"});
    std::sort(after.begin(), after.end());
    EXPECT_EQ(entries(), after) << "a temporary file was left behind";
}

// The result keeps the source's kind, gains alpha under --outside
// transparent, is reduced under --depth 8, and its outside pixels take
// --outside's colour; a format without alpha is warned of. The move of the
// golden test: result (x, y) is source (x - 2, y - 1) exactly, so inside it
// is the source in the result's kind, outside columns 0-1 and row 0. A 16-bit
// grey TIFF with alpha in, a lossless WebP out too.
TEST_F(Tool, TiffInWebpOut)
{
    write("pairs.txt", "1 1 5 1\n3 2 7 2\n");
    const int w = 6, h = 4;
    const struct {
        ImageKind source;
        std::string args, result;
        ImageKind want;  // 0 channels: refused
        OutsideColour outside;
        std::string err;
    } cases[] = {
        {{4, SAMPLE_U8}, "", "a.tif", {4, SAMPLE_U8}, {}, ""},
        {{4, SAMPLE_U8}, "--outside '#102030'", "b.tif", {4, SAMPLE_U8}, {16 / 255.0, 32 / 255.0, 48 / 255.0, 1}, ""},
        {{3, SAMPLE_U8}, "--outside White", "c.tif", {3, SAMPLE_U8}, {1, 1, 1, 1}, ""},
        {{3, SAMPLE_U16}, "--outside transparent", "d.tif", {4, SAMPLE_U16}, {}, ""},
        {{1, SAMPLE_F32}, "--outside grey", "e.tif", {1, SAMPLE_F32}, {126 / 255.0, 126 / 255.0, 126 / 255.0, 1}, ""},
        {{2, SAMPLE_U16}, "--depth 8", "f.tif", {2, SAMPLE_U8}, {}, ""},
        {{2, SAMPLE_U16}, "--depth=8", "g.webp", {2, SAMPLE_U8}, {}, ""},
        {{4, SAMPLE_U8},
         "--outside black",
         "h.bmp",
         {3, SAMPLE_U8},
         {0, 0, 0, 1},
         "tavrosk-warp: warning: h.bmp: BMP cannot carry the source's alpha; written without it\n"},
        {{3, SAMPLE_U8}, "--outside purple", "i.tif", {0, SAMPLE_U8}, {},
         "tavrosk-warp: --outside: 'purple' is not transparent, #rrggbb or a colour name (black, white, grey, red, "
         "green, lime, blue, yellow, cyan, magenta)\n"},
        {{3, SAMPLE_U8}, "--depth 16", "j.tif", {0, SAMPLE_U8}, {},
         "tavrosk-warp: --depth: '16' is not 8; without --depth a result keeps its source's depth\n"},
    };
    for (const auto& c : cases) {
        ImageBuffer source;
        ASSERT_TRUE(image_buffer_make(&source, w, h, c.source.channels, c.source.type));
        fill_random_samples(source.view, 11);
        // Floats within 0 .. 1; alpha never 0, which would hide the colour.
        const int last = c.source.channels - 1, bytes = image_pixel_bytes(source.view);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                unsigned char* pixel = image_row(source.view, y) + bytes * x;
                if (c.source.type == SAMPLE_F32)
                    set_pixel_sample(pixel, SAMPLE_F32, 0, (x + 10 * y) / 64.0);
                if (image_has_alpha(source.view))
                    set_pixel_sample(pixel, c.source.type, last,
                                     (1 + x + 10 * y) * (c.source.type == SAMPLE_U8 ? 1.0 : 257.0));
            }
        std::string problem;
        ASSERT_TRUE(save_image(at("src.tif"), source.view, IMAGE_TIFF, &problem)) << problem;
        const Outcome r = run(c.args + " src.tif pairs.txt " + c.result);
        EXPECT_EQ(r.err, c.err) << c.args;
        EXPECT_EQ(r.status, c.want.channels == 0 ? 1 : 0) << c.args;
        if (r.status != 0)
            continue;
        ImageBuffer got, want;
        ASSERT_TRUE(image_load(at(c.result).c_str(), &got, &problem)) << c.args << ": " << problem;
        ASSERT_TRUE(image_convert(source.view, c.want, &want));
        // The formats that hold less than the warp made: what they hold.
        ImageKind held = image_format_kind(c.want, c.result.back() == 'p' ? IMAGE_WEBP : IMAGE_TIFF);
        if (c.result.back() == 'p') {
            ImageBuffer widened;
            ASSERT_TRUE(image_convert(want.view, held, &widened));
            want = std::move(widened);
        }
        ASSERT_TRUE(kind_equal(image_kind(got.view), image_kind(want.view))) << c.args;
        unsigned char outside[KIND_MAX_PIXEL_BYTES];
        outside_pixel(c.outside, image_kind(got.view), outside);
        const int got_bytes = image_pixel_bytes(got.view);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const unsigned char* expected =
                    x >= 2 && y >= 1 ? image_row(want.view, y - 1) + got_bytes * (x - 2) : outside;
                EXPECT_EQ(std::memcmp(image_row(got.view, y) + got_bytes * x, expected, got_bytes), 0)
                    << c.args << " at " << x << ", " << y;
            }
    }
}

// Truncated and foreign inputs are refused with a line that names them.
TEST_F(Tool, CutOrForeignImagesAreRefused)
{
    write("pairs.txt", "1 1 5 1\n3 2 7 2\n");
    SurfacePtr image(make_surface(30, 20, 24));
    fill_random(image.get(), 4);
    const std::string png = as_string(encode(image.get(), IMAGE_PNG));
    const std::string jpeg = as_string(encode(image.get(), IMAGE_JPEG));
    write("cut.png", png.substr(0, png.size() / 2));
    write("cut.jpg", jpeg.substr(0, jpeg.size() / 2));
    write("image.gif", "GIF89a\x01\x00\x01\x00");
    const std::string before = read("old.bmp");
    for (const char* name : {"cut.png", "cut.jpg", "image.gif"}) {
        Outcome r = run(std::string(name) + " pairs.txt old.bmp");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err.rfind(std::string("tavrosk-warp: ") + name + ": ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(read("old.bmp"), before);
    }
    EXPECT_EQ(run("image.gif pairs.txt old.bmp").err,
              "tavrosk-warp: image.gif: not a BMP, PNG, JPEG, TIFF, WebP, HEIF or AVIF image\n");
    // Inputs that would exhaust memory are refused before they are read: a
    // device, and a (sparse) file larger than any image the decoders take.
    EXPECT_EQ(run("/dev/zero pairs.txt old.bmp").err, "tavrosk-warp: /dev/zero: is a device, not an image file\n");
    write("huge.bmp", "BM");
    ASSERT_EQ(truncate(at("huge.bmp").c_str(), (1LL << 30) + 1), 0);
    EXPECT_EQ(run("huge.bmp pairs.txt old.bmp").err,
              "tavrosk-warp: huge.bmp: file too large for an image (over 1 GiB)\n");
    EXPECT_EQ(read("old.bmp"), before);
}

// Weights that overflow leave pixels without a finite source point: the
// result is still written, with one warning that counts them.
TEST_F(Tool, OverflowingWeightsWarnAndStillWrite)
{
    write("pairs.txt", "1 1 5 1\n3 2 7 2\n");
    Outcome r = run("-p 1e308 in.bmp pairs.txt huge.bmp");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "tavrosk-warp: warning: 24 of 24 pixels have no finite source point and take the outside colour; "
                     "the weights overflow or underflow, most likely because of the parameters (p 1e+308, a 1, b 1)\n");
    SurfacePtr huge(SDL_LoadBMP(at("huge.bmp").c_str()));
    ASSERT_NE(huge, nullptr);
    for (int y = 0; y < huge->h; ++y)
        for (int x = 0; x < huge->w; ++x) {
            Uint8 c[3];
            get_pixel(huge.get(), x, y, &c[0], &c[1], &c[2]);
            EXPECT_TRUE(c[0] == 0 && c[1] == 0 && c[2] == 0) << x << ", " << y;
        }
    EXPECT_EQ(run("in.bmp pairs.txt fine.bmp").err, "");
}

// A terminal on standard output gets no binary data; a long warp on a
// terminal shows a progress line that is erased at the end, and --quiet or
// a pipe shows none.
TEST_F(Tool, TerminalsGetProgressButNoBinaryData)
{
    write("pairs.txt", "1 1 5 1\n3 2 7 2\n");
    Outcome r = run_on_terminal(dir, "in.bmp pairs.txt -");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "tavrosk-warp: standard output is a terminal; not writing binary data to it (redirect it or "
                     "give a file name)\r\n");

    // The literal kernel on 1000 x 800 pixels and 50 pairs takes about two
    // seconds here, well over the second before a line shows.
    SurfacePtr big(make_surface(1000, 800, 24));
    fill_random(big.get(), 2);
    ASSERT_EQ(SDL_SaveBMP(big.get(), at("big.bmp").c_str()), 0);
    std::string pairs;
    std::mt19937 rng(1);
    for (int i = 0; i < 100; ++i)
        pairs += std::to_string(rng() % 1000) + " " + std::to_string(rng() % 800) + " " +
                 std::to_string(rng() % 1000) + " " + std::to_string(rng() % 800) + "\n";
    write("many.txt", pairs);
    Outcome shown = run_on_terminal(dir, "--reference big.bmp many.txt big-out.png");
    EXPECT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find("tavrosk-warp: "), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("% ("), std::string::npos) << shown.out;
    ASSERT_GE(shown.out.size(), 4u);
    EXPECT_EQ(shown.out.substr(shown.out.size() - 4), "\r\033[K") << "the line must be erased at the end";
    Outcome quiet = run_on_terminal(dir, "--quiet --reference big.bmp many.txt big-out.png");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
    Outcome piped = run("--reference big.bmp many.txt big-out.png");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");

    // The line lasts while the result is written, and counts the rows
    // encoded: a PNG of noise far larger than a pipe holds, streamed to a
    // pipe that stops being read for two seconds once the first bytes come
    // (however long the warp took), so the line stays below 100 %
    // meanwhile. A BMP is made whole first.
    write("one.txt", "1 1 5 1\n3 2 7 2\n");
    for (const char* format : {"png", "jpeg", "bmp"}) {
        SCOPED_TRACE(format);
        Outcome held = run_on_terminal(
            dir, std::string("-f ") + format + " big.bmp one.txt - | (head -c 1 >/dev/null; sleep 2; cat >/dev/null)");
        EXPECT_EQ(held.status, 0) << held.out;
        const std::string line = "\rtavrosk-warp: writing standard output, ";
        const size_t at_line = held.out.find(line);
        ASSERT_NE(at_line, std::string::npos) << held.out;
        const int percent = std::atoi(held.out.c_str() + at_line + line.size());
        if (std::string(format) == "bmp")
            EXPECT_EQ(percent, 100) << held.out;
        else
            EXPECT_LT(percent, 100) << held.out;
        ASSERT_GE(held.out.size(), 4u);
        EXPECT_EQ(held.out.substr(held.out.size() - 4), "\r\033[K");
    }
}

// --folds and --field: the map, the counts line and the .flo bytes are those
// the views module makes from the literal kernel's source points, whatever
// the kernel and the thread count; the result is still written, to standard
// output too.
TEST_F(Tool, FoldMapAndFieldAreTheWarpsOwn)
{
    SurfacePtr src(make_surface(48, 36, 24));
    fill_random(src.get(), 12);
    ASSERT_EQ(SDL_SaveBMP(src.get(), at("src.bmp").c_str()), 0);
    // Second segments that cross where the first ones do not: the warp folds there.
    const std::vector<Segment> table = {{10, 8, 38, 8}, {10, 6, 38, 30}, {10, 28, 38, 28}, {10, 30, 38, 6}};
    write("cross.txt", "10 8 38 8\n10 6 38 30\n10 28 38 28\n10 30 38 6\n");

    const int w = 48, h = 36;
    std::vector<double> px(w * h), py(w * h);
    WarpOptions literal;
    literal.kernel = WARP_KERNEL_LITERAL;
    literal.points_x = px.data();
    literal.points_y = py.data();
    SurfacePtr want(SDL_CreateRGBSurface(0, w, h, 32, 0, 0, 0, 0));
    warp_surfaces(src.get(), want.get(), table.data(), 4, WarpParams(), literal);
    std::vector<uint8_t> flags(w * h);
    const FoldCounts counts = analyse_folds(px.data(), py.data(), w, h, w, h, flags.data());
    ASSERT_GT(counts.folds, 0) << "the crossing pairs should fold";
    SurfacePtr want_map = fold_map_surface(want.get(), flags.data(), table.data(), 4);
    char* flo = nullptr;
    size_t flo_size = 0;
    std::FILE* memory = open_memstream(&flo, &flo_size);
    std::string problem;
    ASSERT_TRUE(write_flo(memory, px.data(), py.data(), w, h, &problem)) << problem;
    std::fclose(memory);
    const std::string want_flo(flo, flo_size);
    std::free(flo);

    for (const char* kernel : {"--reference", "--threads 1", "--threads 3", ""}) {
        SCOPED_TRACE(kernel);
        Outcome r = run(std::string(kernel) + " --folds map.png --field f.flo src.bmp cross.txt out.bmp");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, fold_summary(counts) + "\n");
        EXPECT_TRUE(read("f.flo") == want_flo) << "the field differs";
        SurfacePtr map(load_surface(at("map.png").c_str(), nullptr));
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(compare_rgb(want_map.get(), map.get()), "");
        SurfacePtr out(load_surface(at("out.bmp").c_str(), nullptr));
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(compare_rgb(want.get(), out.get()), "");
    }
    // The result to standard output, the views to their files.
    const std::string command = "cd '" + dir + "' && " TAVROSK_WARP
                                " --field g.flo --folds m.bmp src.bmp cross.txt - >stdout.png 2>err.txt";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read("err.txt"), fold_summary(counts) + "\n");
    SurfacePtr piped(load_surface(at("stdout.png").c_str(), nullptr));
    ASSERT_NE(piped, nullptr);
    EXPECT_EQ(compare_rgb(want.get(), piped.get()), "");
    EXPECT_TRUE(read("g.flo") == want_flo);
}

// The views' files are checked before the warp like the result, and a
// field that cannot be written stops the run before the result is written.
TEST_F(Tool, FoldMapAndFieldFilesAreCheckedAndNeverHalfWritten)
{
    write("pairs.txt", "1 1 5 1\n3 2 7 2\n");
    ASSERT_EQ(symlink("map.bmp", at("link.flo").c_str()), 0);
    const std::string usage = "\nusage: tavrosk-warp [options] SOURCE SEGMENTS RESULT\n"
                              "Try 'tavrosk-warp --help' for more information.\n";
    const std::vector<std::string> before = entries();
    const struct {
        std::string args, err;
        int status;
    } cases[] = {
        {"--folds - in.bmp pairs.txt old.bmp", "--folds needs a file name, not -" + usage, 2},
        {"--field - in.bmp pairs.txt old.bmp", "--field needs a file name, not -" + usage, 2},
        {"--folds map.gif in.bmp pairs.txt old.bmp",
         "map.gif: cannot tell the format from the name; use .bmp, .png, .jpg, .jpeg, .tif, .tiff, .webp, .heic, .heif "
         "or .avif, or --format bmp|png|jpeg|tiff|webp|heif|avif" + usage, 2},
        {"--folds old.bmp in.bmp pairs.txt old.bmp", "--folds and RESULT name the same file: old.bmp" + usage, 2},
        {"--folds map.bmp --field link.flo in.bmp pairs.txt old.bmp",
         "--folds and --field name the same file: map.bmp" + usage, 2},
        {"--field ./o.flo -f png in.bmp pairs.txt o.flo", "--field and RESULT name the same file: ./o.flo" + usage, 2},
        {"--field map.png in.bmp pairs.txt old.bmp",
         "--field map.png: the field is written as .flo data, not as an image; name it map.flo" + usage, 2},
        {"--field f.JPEG in.bmp pairs.txt old.bmp",
         "--field f.JPEG: the field is written as .flo data, not as an image; name it f.flo" + usage, 2},
        {"--field nowhere/f.flo in.bmp pairs.txt old.bmp",
         "nowhere/f.flo: cannot write in nowhere: No such file or directory\n", 1},
    };
    for (const auto& c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.err, "tavrosk-warp: " + c.err) << c.args;
        EXPECT_EQ(entries(), before) << c.args;
    }

    SurfacePtr noise(make_surface(200, 150, 24));
    fill_random(noise.get(), 8);
    ASSERT_EQ(SDL_SaveBMP(noise.get(), at("noise.bmp").c_str()), 0);
    write("f.flo", "old field");
    // 12 + 8 * 200 * 150 bytes of field do not fit under 64 KiB.
    const std::string command = "cd '" + dir + "' && ulimit -f 64 && " TAVROSK_WARP
                                " --field f.flo noise.bmp pairs.txt old.bmp 2>err.txt";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(read("err.txt"), "tavrosk-warp: f.flo: cannot write: File too large\n");
    EXPECT_EQ(read("f.flo"), "old field");
    EXPECT_EQ(read("old.bmp"), "previous result");
    std::vector<std::string> after = before;
    after.insert(after.end(), {"err.txt", "f.flo", "noise.bmp"});
    std::sort(after.begin(), after.end());
    EXPECT_EQ(entries(), after) << "a temporary file was left behind";
}

// The source's description travels to the result as far as the result's
// format can carry it, with one warning where it cannot; --strip drops it
// all; a JPEG turned by its Exif orientation is warped as viewed unless
// --no-auto-orient keeps it as stored. The pair changes nothing.
TEST_F(Tool, MetadataTravelsWithThePixels)
{
    write("pairs.txt", "0 0 10 0\n0 0 10 0\n");
    const Bytes profile = icc_profile(3000, 9);
    JpegSample j = {40, 24, 3, false, false, false, 0, 90, 0, std::vector<uint8_t>(40 * 24 * 3, 0)};
    for (size_t i = 0; i < j.samples.size(); ++i)
        j.samples[i] = static_cast<uint8_t>(i * 7 / 5);
    const Bytes exif = exif_app1(exif_block(false, 6, true));
    write("photo.jpg", as_string(jpeg_with_icc(jpeg_with_segment(write_jpeg(j), 0xE1, exif), profile)));
    const std::string bmp_warning =
        "tavrosk-warp: warning: out.bmp: BMP cannot carry the source's ICC profile; written without it\n";
    const struct {
        std::string args, result, err;
        int w, h;
        bool icc, exif;
    } cases[] = {
        {"photo.jpg pairs.txt out.jpg", "out.jpg", "", 24, 40, true, true},
        {"photo.jpg pairs.txt out.png", "out.png", "", 24, 40, true, false},
        {"photo.jpg pairs.txt out.bmp", "out.bmp", bmp_warning, 24, 40, false, false},
        {"--strip photo.jpg pairs.txt stripped.jpg", "stripped.jpg", "", 24, 40, false, false},
        {"--strip photo.jpg pairs.txt stripped.bmp", "stripped.bmp", "", 24, 40, false, false},
        {"--no-auto-orient photo.jpg pairs.txt stored.jpg", "stored.jpg", "", 40, 24, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err);
        ImageMeta meta;
        std::string problem;
        SurfacePtr got(load_surface(at(c.result).c_str(), &problem, &meta, IMAGE_AS_STORED));
        ASSERT_TRUE(got) << problem;
        EXPECT_EQ(got->w, c.w);
        EXPECT_EQ(got->h, c.h);
        EXPECT_EQ(meta.icc == profile, c.icc);
        EXPECT_EQ(meta.icc.empty(), !c.icc);
        EXPECT_EQ(meta.exif == exif_block(false, 1, false), c.exif) << "orientation 1, no thumbnail, the rest kept";
        EXPECT_EQ(meta.orientation, 1);
    }
}

// PngSuite's images warped by a pair that changes nothing, PNG to PNG: the
// same pixels, and the same chunks that describe colour.
TEST_F(Tool, PngSuiteKeepsItsColourChunks)
{
    const std::filesystem::path suite = TAVROSK_PNGSUITE_DIR;
    SKIP_OR_FAIL_WITHOUT(suite, "PngSuite", "TAVROSK_PNGSUITE_DIR");
    write("pairs.txt", "0 0 10 0\n0 0 10 0\n");
    auto colour_chunks = [](const std::string& text) {
        std::vector<PngChunkRef> kept;
        for (const PngChunkRef& c : png_chunks(Bytes(text.begin(), text.end())))
            if (c.type == "gAMA" || c.type == "cHRM" || c.type == "sRGB" || c.type == "iCCP")
                kept.push_back(c);
        return kept;
    };
    int with_chunks = 0;
    for (const std::string& name : folder_entries(suite.string())) {
        if (std::filesystem::path(name).extension() != ".png")
            continue;
        SCOPED_TRACE(name);
        const std::string source = (suite / name).string();
        Outcome r = run("'" + source + "' pairs.txt out.png");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const auto want = colour_chunks(read_file(source)), got = colour_chunks(read("out.png"));
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].type, want[i].type);
            EXPECT_TRUE(got[i].body == want[i].body) << want[i].type;
        }
        with_chunks += !want.empty();
        // The same kind and samples, but the colour under a pixel whose alpha
        // is 0, which a result holds as 0.
        ImageBuffer a, b;
        ASSERT_TRUE(image_load(source.c_str(), &a, nullptr) && image_load(at("out.png").c_str(), &b, nullptr));
        ASSERT_TRUE(image_same_layout(a.view, b.view));
        const int n = a.view.channels, bytes = image_pixel_bytes(a.view);
        int differ = 0;
        for (int y = 0; y < a.view.height; ++y)
            for (int x = 0; x < a.view.width; ++x) {
                const unsigned char *pa = image_row(a.view, y) + x * bytes, *pb = image_row(b.view, y) + x * bytes;
                const bool clear = image_has_alpha(a.view) && pixel_sample(pa, a.view.type, n - 1) == 0;
                differ += clear ? pixel_sample(pb, b.view.type, n - 1) != 0 : std::memcmp(pa, pb, bytes) != 0;
            }
        EXPECT_EQ(differ, 0);
    }
    EXPECT_GT(with_chunks, 20);
}

}  // namespace
