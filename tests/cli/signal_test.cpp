// tavrosk-warp and tavrosk-morph stopped by a signal while a PNG result is
// being written: the temporary is gone, a file being replaced is as it was,
// every frame left is a whole image, and the process died by that signal. The
// source is random noise, slow to compress, so that the temporary lives long
// enough to be caught; a run that ends before the signal lands is repeated
// with a larger image rather than counted.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sdl/pixel.h"
#include "tests/support/test_support.h"
#include "io/image_io.h"

namespace {

const std::string old_bytes = "previous result";

struct Case {
    const char* tool;  // "warp" or "morph"
    int sig;
    const char* sig_name;
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.tool << " " << c.sig_name;
}

std::string case_name(const testing::TestParamInfo<Case>& info)
{
    return std::string(info.param.tool) + "_" + info.param.sig_name;
}

class SignalRun : public ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        write_file(at("pairs.txt"), "0 0 10 0\n1 0 11 0\n");
        ASSERT_EQ(mkdir(at("out").c_str(), 0755), 0);
    }

    void make_source(int side)
    {
        SurfacePtr noise(make_surface(side, side, 24));
        fill_random(noise.get(), static_cast<uint32_t>(side));
        ASSERT_EQ(SDL_SaveBMP(noise.get(), at("noise.bmp").c_str()), 0);
    }

    // Starts the tool with the signals at their defaults (a background job
    // of a shell may have SIGINT ignored), output and errors to files.
    pid_t start(const std::vector<std::string>& args, int ignored_signal = 0)
    {
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const std::string log = at("log");
        pid_t child = fork();
        if (child == 0) {
            for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
                signal(sig, sig == ignored_signal ? SIG_IGN : SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            int null = open("/dev/null", O_RDONLY), out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(null, STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return child;
    }

    // Waits until out/ holds a temporary whose name begins with `prefix`,
    // then sends `sig`; false when the tool ended first. *status is the
    // wait status.
    bool signal_when_temporary(pid_t child, const std::string& prefix, int sig, int* status)
    {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (waitpid(child, status, WNOHANG) == 0) {
            for (const std::string& name : folder_entries(at("out")))
                if (name.compare(0, prefix.size(), prefix) == 0) {
                    kill(child, sig);
                    waitpid(child, status, 0);
                    return true;
                }
            if (std::chrono::steady_clock::now() > give_up) {
                kill(child, SIGKILL);
                waitpid(child, status, 0);
                ADD_FAILURE() << "no temporary " << prefix << "* within a minute";
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    void clear_out()
    {
        for (const std::string& name : folder_entries(at("out")))
            unlink(at("out/" + name).c_str());
    }
};

class Interrupted : public SignalRun, public testing::WithParamInterface<Case> {
protected:

    // One run of the case on a side x side source; false when it ended
    // before the signal could stop it.
    bool run_case(const Case& c, int side)
    {
        make_source(side);
        const bool warp = std::string(c.tool) == "warp";
        // The result, or the last frame, is an old file to be left alone.
        const std::string old_name = warp ? "old.png" : "f03.png";
        write_file(at("out/" + old_name), old_bytes);
        const pid_t child = warp ? start({TAVROSK_WARP, "-q", at("noise.bmp"), at("pairs.txt"), at("out/old.png")})
                                 : start({TAVROSK_MORPH, "-q", "--frames", "4", at("noise.bmp"), at("noise.bmp"),
                                          at("pairs.txt"), at("out/f%02d.png")});
        // A morph is caught writing frame 1, when frame 0 is in place.
        int status;
        if (!signal_when_temporary(child, warp ? ".old.png." : ".f01.png.", c.sig, &status)
            || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
            return false;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig)
            << "wait status " << status << "; the tool wrote: " << read_file(at("log"));
        EXPECT_EQ(read_file(at("out/" + old_name)), old_bytes);
        const std::vector<std::string> left = folder_entries(at("out"));
        if (!warp) {
            EXPECT_TRUE(!left.empty() && left.front() == "f00.png") << "frame 0 is not in place";
        }
        for (const std::string& name : left) {
            EXPECT_NE(name[0], '.') << name << " left behind";
            if (name[0] == '.' || name == old_name)
                continue;
            std::string problem;
            SurfacePtr frame(load_surface(at("out/" + name).c_str(), &problem));
            EXPECT_NE(frame, nullptr) << name << ": " << problem;
            EXPECT_TRUE(frame && frame->w == side && frame->h == side) << name;
        }
        return true;
    }
};

TEST_P(Interrupted, LeavesNoTemporaryAndDiesByTheSignal)
{
    for (int side = 512; side <= 2048; side *= 2) {
        if (run_case(GetParam(), side))
            return;
        clear_out();
    }
    FAIL() << "every run ended before the signal reached it, up to a 2048 x 2048 image";
}

INSTANTIATE_TEST_SUITE_P(Tools, Interrupted,
                         testing::Values(Case{"warp", SIGINT, "INT"}, Case{"warp", SIGTERM, "TERM"},
                                         Case{"warp", SIGHUP, "HUP"}, Case{"warp", SIGPIPE, "PIPE"},
                                         Case{"morph", SIGINT, "INT"}, Case{"morph", SIGTERM, "TERM"},
                                         Case{"morph", SIGHUP, "HUP"}, Case{"morph", SIGPIPE, "PIPE"}),
                         case_name);

// Under nohup SIGHUP is ignored, and stays so: the run goes on to the end.
TEST_F(SignalRun, AnIgnoredSignalStaysIgnored)
{
    for (int side = 512; side <= 2048; side *= 2) {
        make_source(side);
        write_file(at("out/old.png"), old_bytes);
        const pid_t child =
            start({TAVROSK_WARP, "-q", at("noise.bmp"), at("pairs.txt"), at("out/old.png")}, SIGHUP);
        int status;
        const bool sent = signal_when_temporary(child, ".old.png.", SIGHUP, &status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
        EXPECT_EQ(folder_entries(at("out")), std::vector<std::string>{"old.png"});
        std::string problem;
        EXPECT_NE(SurfacePtr(load_surface(at("out/old.png").c_str(), &problem)), nullptr) << problem;
        if (sent)
            return;
        clear_out();
    }
    FAIL() << "every run ended before the signal reached it, up to a 2048 x 2048 image";
}

}  // namespace
