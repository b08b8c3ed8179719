// The progress line: its text, and what reaches a pty, a pipe, or a quiet
// run. Timed bounds are loose (the machine is shared); each still fails by
// far for a reporter that sleeps through its waits or redraws continuously.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/progress.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(ProgressLine, PercentageElapsedAndTimeLeft)
{
    const struct {
        long long done, total;
        double elapsed;
        const char* line;
    } cases[] = {
        {3, 10, 3.0, "tool: 30% (3.0 s elapsed, about 7.0 s left)"},
        {0, 10, 0.5, "tool: 0% (0.5 s elapsed)"},
        {2, 3, 1.0, "tool: 66% (1.0 s elapsed, about 0.5 s left)"},
        {10, 10, 12.0, "tool: 100% (12.0 s elapsed, about 0.0 s left)"},
        {999999, 1000000, 2.0, "tool: 99% (2.0 s elapsed, about 0.0 s left)"},
        {1, 4, 30.0, "tool: 25% (30.0 s elapsed, about 1 min 30 s left)"},
        {1, 2, 59.97, "tool: 50% (1 min 00 s elapsed, about 1 min 00 s left)"},
        {1, 1000, 10.0, "tool: 0% (10.0 s elapsed, about 2 h 46 min left)"},
        {30, 60, 3725.0, "tool: 50% (1 h 02 min elapsed, about 1 h 02 min left)"},
        {12, 10, 1.0, "tool: 100% (1.0 s elapsed, about 0.0 s left)"},
        {-5, 10, 1.0, "tool: 0% (1.0 s elapsed)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress_line("tool", c.done, c.total, c.elapsed, 79), c.line) << c.done << " of " << c.total;
    // A later stage (the rows of a file being written) estimates the time
    // left from its own rate; the elapsed time is the whole run's.
    EXPECT_EQ(progress_line("tool", 1, 4, 10.0, 79, "writing a.png", 2.0),
              "tool: writing a.png, 25% (10.0 s elapsed, about 6.0 s left)");
    EXPECT_EQ(progress_line("tool", 0, 4, 10.0, 79, "writing a.png", 0.5), "tool: writing a.png, 0% (10.0 s elapsed)");
}

TEST(ProgressLine, CutToTheWidth)
{
    EXPECT_EQ(progress_line("tool", 3, 10, 3.0, 20), "tool: 30% (3.0 s ela");
    std::string program(120, 'p');
    std::string line = progress_line(program.c_str(), 1, 1000, 1e12, 79);
    EXPECT_EQ(line, program.substr(0, 79));
    // The longest times fit on a line with the program's name.
    line = progress_line("tavrosk-morph", 1, 1000000, 1e9, 79);
    EXPECT_LE(line.size(), 79u);
    EXPECT_EQ(line.back(), ')') << line;
}

// A pty in raw mode: what the program writes reaches the master unchanged.
struct Pty {
    int master = -1, slave = -1;
    Pty()
    {
        termios raw;
        cfmakeraw(&raw);
        if (openpty(&master, &slave, nullptr, &raw, nullptr) == 0)
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty()
    {
        close(master);
        close(slave);
    }
};

// Everything readable on `fd` until it has been quiet for 300 ms: a pty
// passes data on to its master a moment after the write.
std::string drain(int fd)
{
    std::string data;
    pollfd ready = {fd, POLLIN, 0};
    while (poll(&ready, 1, 300) > 0) {
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    return data;
}

// Counts from 0 to `total` evenly over `seconds`.
void work(std::atomic<long long>* done, long long total, double seconds)
{
    Clock::time_point start = Clock::now();
    for (long long i = 1; i <= total; ++i) {
        std::this_thread::sleep_until(start + std::chrono::duration<double>(seconds * i / total));
        done->store(i);
    }
}

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(Progress, ShownOnlyOnATerminalAfterASecond)
{
    Pty shown, quiet;
    ASSERT_GE(shown.slave, 0);
    ASSERT_GE(quiet.slave, 0);
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    fcntl(channel[0], F_SETFL, O_NONBLOCK);

    // Three runs side by side over the same 1.6 s of work.
    std::atomic<long long> done(0);
    Progress on_pty, on_pipe, when_quiet;
    Clock::time_point start = Clock::now();
    progress_start(&on_pty, "test-progress", 100, &done, false, shown.slave);
    progress_start(&on_pipe, "test-progress", 100, &done, false, channel[1]);
    progress_start(&when_quiet, "test-progress", 100, &done, true, quiet.slave);
    work(&done, 80, 1.6);
    progress_finish(&on_pty);
    progress_finish(&on_pipe);
    progress_finish(&when_quiet);
    double elapsed = seconds_since(start);

    close(channel[1]);
    EXPECT_EQ(drain(channel[0]), "");
    close(channel[0]);
    EXPECT_EQ(drain(quiet.master), "");

    // "\r" LINE "\033[K", one or more times, then the erasing "\r\033[K".
    std::string out = drain(shown.master);
    const std::string erase = "\r\033[K";
    ASSERT_GE(out.size(), erase.size()) << out;
    EXPECT_EQ(out.substr(out.size() - erase.size()), erase);
    EXPECT_EQ(out[0], '\r');
    std::vector<std::string> lines;
    size_t at = 0;
    while (at + erase.size() < out.size()) {
        size_t end = out.find("\033[K", at);
        ASSERT_NE(end, std::string::npos) << out;
        ASSERT_EQ(out[at], '\r') << out;
        lines.push_back(out.substr(at + 1, end - at - 1));
        at = end + 3;
    }
    ASSERT_GE(lines.size(), 1u) << out;
    // Drawn from 1 s on, four times a second at most, with slack.
    EXPECT_LE(static_cast<double>(lines.size()), (elapsed - 1.0) * 4 + 3) << out;
    int last_percent = -1;
    for (const std::string& line : lines) {
        // Parsed, then printed again: the line must be exactly that, so that
        // a stray character or a second decimal fails.
        int percent = -1;
        double spent = -1, left = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "test-progress: %d%% (%lf s elapsed, about %lf s left)", &percent, &spent,
                              &left),
                  3)
            << line;
        char again[100];
        std::snprintf(again, sizeof again, "test-progress: %d%% (%.1f s elapsed, about %.1f s left)", percent, spent,
                      left);
        ASSERT_EQ(line, again);
        EXPECT_GE(percent, last_percent) << line;
        EXPECT_LT(percent, 100) << line;
        EXPECT_GE(spent, 0.95) << line;
        EXPECT_LE(line.size(), 79u);
        last_percent = percent;
    }
}

TEST(Progress, ShortWorkDrawsNothingAndFinishIsPrompt)
{
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    // Each finish comes in the middle of the reporter's first, one-second
    // wait: ten runs take ten seconds if it sleeps through them.
    Clock::time_point start = Clock::now();
    for (int run = 0; run < 10; ++run) {
        std::atomic<long long> done(0);
        Progress progress;
        progress_start(&progress, "test-progress", 10, &done, false, pty.slave);
        work(&done, 10, 0.02);
        progress_finish(&progress);
    }
    EXPECT_LT(seconds_since(start), 2.0);
    EXPECT_EQ(drain(pty.master), "");

    // Finishing between redraws, once a line is up, erases it; the work
    // never moved, so the line has no estimate.
    std::atomic<long long> done(0);
    Progress progress;
    progress_start(&progress, "test-progress", 10, &done, false, pty.slave);
    pollfd ready = {pty.master, POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 5000), 1);
    Clock::time_point finish = Clock::now();
    progress_finish(&progress);
    EXPECT_LT(seconds_since(finish), 2.0);
    std::string out = drain(pty.master);
    EXPECT_EQ(out.rfind("\rtest-progress: 0% (", 0), 0u) << out;
    EXPECT_EQ(out.substr(out.size() - 4), "\r\033[K") << out;
}

}  // namespace
