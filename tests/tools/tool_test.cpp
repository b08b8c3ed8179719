// tavrosk-warp run as a process in a fresh folder. The golden image is a
// whole-pixel move worked out by hand; every bad input must leave an existing
// RESULT byte for byte as it was and no temporary file behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "raster/pixel.h"
#include "tests/support/test_support.h"
#include "warp/warp.h"

namespace {

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
    EXPECT_EQ(entries(), (std::vector<std::string>{"in.bmp", "old.bmp", "out.bmp", "out3.bmp", "pairs.txt",
                                                    "text.bmp"}));
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
    mkdir((dir + "/sub").c_str(), 0755);
    const struct {
        std::string args, err;
    } cases[] = {
        {"none.bmp good.txt old.bmp", "none.bmp: cannot open: No such file or directory"},
        {"text.bmp good.txt old.bmp", "text.bmp: not a BMP image that can be loaded (File is not a Windows BMP file)"},
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
        {"in.bmp - old.bmp", "standard input:1: expected four numbers, found 'x'"},
        {"-a 0 in.bmp good.txt old.bmp", "-a: '0' is not a finite number greater than 0"},
        {"-p -1 in.bmp good.txt old.bmp", "-p: '-1' is not a finite number, 0 or more"},
        {"-b inf in.bmp good.txt old.bmp", "-b: 'inf' is not a finite number, 0 or more"},
        {"-p 1x in.bmp good.txt old.bmp", "-p: '1x' is not a finite number, 0 or more"},
        {"--threads 0 in.bmp good.txt old.bmp", "--threads: '0' is not a whole number from 1 to 1024"},
        {"in.bmp good.txt nowhere/out.bmp", "nowhere/out.bmp: cannot write in nowhere: No such file or directory"},
        {"in.bmp good.txt sub", "sub: cannot write: Is a directory"},
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
    const std::string usage = "usage: tavrosk-warp [options] SOURCE.bmp SEGMENTS RESULT.bmp\n";
    const std::string try_help = "Try 'tavrosk-warp --help' for more information.\n";
    const struct {
        std::string args, err;
    } cases[] = {
        {"", "missing arguments"},
        {"in.bmp pairs.txt", "missing arguments"},
        {"in.bmp pairs.txt old.bmp extra", "unexpected argument extra"},
        {"-x in.bmp pairs.txt old.bmp", "unknown option -x"},
        {"--frobnicate in.bmp pairs.txt old.bmp", "unknown or ambiguous option --frobnicate"},
        {"--reference=yes in.bmp pairs.txt old.bmp", "unknown or ambiguous option --reference"},
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
    EXPECT_EQ(version.out, "tavrosk-warp 1.0\n");
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
        warp_run(src.get(), dst.get(), table.data(), static_cast<int>(table.size()), params, options);
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

}  // namespace
