// The option table of cli/cli.h: a program takes the shared options it lists
// and its own, refuses every other as unknown, counts its operands, and its
// help lists its options in its order, aligned.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

enum { OPT_COLOUR = OPT_PROGRAM };

const ProgramInfo program = {
    "prog", "[options] A [B]", "About.\n", "After.\n", {OPT_COLOUR, 't', 'q', 'h'},
    {{OPT_COLOUR, "colour", "C", "paint in C\nor not"}}, 1, 2,
};

struct Outcome {
    int status;
    std::string out, err, colour;
    CommonOptions options;
    std::vector<std::string> operands;
};

Outcome run(std::vector<std::string> args)
{
    args.insert(args.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    Outcome r;
    std::vector<const char*> operands;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    r.status = start_program(
        program, static_cast<int>(args.size()), argv.data(), &r.options,
        [&](int id, const char* value) {
            r.colour = std::to_string(id) + value;
            return -1;
        },
        &operands);
    r.operands.assign(operands.begin(), operands.end());
    r.out = testing::internal::GetCapturedStdout();
    r.err = testing::internal::GetCapturedStderr();
    return r;
}

TEST(OptionTable, AProgramTakesTheOptionsItListsAndNoOthers)
{
    const std::string usage = "\nusage: prog [options] A [B]\nTry 'prog --help' for more information.\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"--colour", "red", "-t", "3", "-q", "a"}, -1, ""},
        {{"a", "--col=red", "b", "-qt3"}, -1, ""},
        {{"-p", "1", "a"}, 2, "prog: unknown option -p" + usage},
        {{"--strip", "a"}, 2, "prog: unknown option --strip" + usage},
        {{"a", "--colour"}, 2, "prog: missing value for --colour" + usage},
        {{"-t", "0", "a"}, 1, "prog: --threads: '0' is not a whole number from 1 to 1024\n"},
        {{}, 2, "prog: missing arguments" + usage},
        {{"a", "b", "c"}, 2, "prog: unexpected argument c" + usage},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.size();
        EXPECT_EQ(r.err, c.err);
        if (c.status == -1) {
            EXPECT_EQ(r.colour, std::to_string(OPT_COLOUR) + "red");
            EXPECT_EQ(r.options.warp.threads, 3);
            EXPECT_TRUE(r.options.quiet);
            EXPECT_EQ(r.operands.at(0), "a");
        }
    }
}

TEST(OptionTable, TheHelpListsTheProgramsOptionsInItsOrder)
{
    const Outcome r = run({"--help", "a"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "usage: prog [options] A [B]\nAbout.\n\nOptions:\n"
                     "      --colour C    paint in C\n"
                     "                    or not\n"
                     "  -t, --threads N   run the fast kernel on N threads (default: all cores)\n"
                     "  -q, --quiet       no progress line (shown only on a terminal, after a second)\n"
                     "  -h, --help        show this help\n"
                     "\nAfter.\n");
}

// --outside's words: transparent and its ImageMagick spelling none, names
// in any case, #rrggbb; nothing else.
TEST(OptionTable, OutsideTakesTransparentNamesAndHexColours)
{
    const struct {
        const char* text;
        bool ok, transparent;
        double r, g, b;
    } cases[] = {
        {"transparent", true, true, 0, 0, 0}, {"NONE", true, true, 0, 0, 0},     {"black", true, false, 0, 0, 0},
        {"White", true, false, 255, 255, 255}, {"gray", true, false, 126, 126, 126}, {"green", true, false, 0, 128, 0},
        {"#0a1B2c", true, false, 10, 27, 44},  {"#fff", false, false, 0, 0, 0},   {"#12345g", false, false, 0, 0, 0},
        {"purple", false, false, 0, 0, 0},     {"", false, false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        OutsideColour colour = {9, 9, 9, 9};
        bool transparent = !c.transparent;
        std::string problem;
        EXPECT_EQ(parse_outside(c.text, &colour, &transparent, &problem), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_EQ(problem.rfind(std::string("--outside: '") + c.text + "' is not", 0), 0u) << problem;
            continue;
        }
        EXPECT_EQ(transparent, c.transparent) << c.text;
        EXPECT_EQ(colour.r * 255, c.r) << c.text;
        EXPECT_EQ(colour.g * 255, c.g) << c.text;
        EXPECT_EQ(colour.b * 255, c.b) << c.text;
        EXPECT_EQ(colour.a, c.transparent ? 0 : 1) << c.text;
    }
}

}  // namespace
