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

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

class Tool : public testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char name[] = "/tmp/tavrosk-tool-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        // 6 x 4 source, pixel (x, y) = (40x, 60y, 7 + x + y).
        SDL_Surface* s = make_surface(6, 4, 24);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                put_pixel(s, x, y, 40 * x, 60 * y, 7 + x + y);
        ASSERT_EQ(SDL_SaveBMP(s, (dir + "/in.bmp").c_str()), 0);
        SDL_FreeSurface(s);
        write("old.bmp", "previous result");
        write("text.bmp", "this is not a bitmap\n");
    }

    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    void write(const std::string& name, const std::string& text)
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }

    std::string read(const std::string& name)
    {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

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

    // Every entry of the folder other than . and ..
    std::vector<std::string> entries()
    {
        std::vector<std::string> names;
        DIR* d = opendir(dir.c_str());
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Pair: (1, 1)-(5, 1) in the source lies at (3, 2)-(7, 2) in the result, a
// move by (2, 1). Segments of length 4 along x keep the arithmetic exact, so
// result (x, y) is source (x - 2, y - 1), black in columns 0-1 and row 0.
void expect_golden(const std::string& path)
{
    SDL_Surface* out = SDL_LoadBMP(path.c_str());
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
    SDL_FreeSurface(out);
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
    const struct {
        std::string args, err;
    } cases[] = {
        {"", "missing arguments"},
        {"in.bmp pairs.txt", "missing arguments"},
        {"in.bmp pairs.txt old.bmp extra", "unexpected argument extra"},
        {"-q in.bmp pairs.txt old.bmp", "unknown option -q"},
        {"in.bmp pairs.txt old.bmp -p", "missing value for -p"},
        {"--threads", "missing value for --threads"},
    };
    const std::string before = read("old.bmp");
    for (const auto& c : cases) {
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, "tavrosk-warp: " + c.err + "\n" + usage) << c.args;
        EXPECT_EQ(read("old.bmp"), before);
    }
    Outcome help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(usage, 0), 0u);
    Outcome version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tavrosk-warp 1.0\n");
}

}  // namespace
