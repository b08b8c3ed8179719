#include "cli/progress.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <system_error>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const auto first_delay = std::chrono::seconds(1);
const auto redraw_interval = std::chrono::milliseconds(250);
const int max_width = 79;

std::string duration_text(double seconds)
{
    char text[64];
    if (!(seconds >= 0))
        seconds = 0;
    // Below 59.95 s, "%.1f" cannot round up to "60.0".
    if (seconds < 59.95) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
        return text;
    }
    long long whole = seconds < 9e15 ? std::llround(seconds) : 9000000000000000LL;
    if (whole < 3600)
        std::snprintf(text, sizeof text, "%lld min %02lld s", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld h %02lld min", whole / 3600, whole % 3600 / 60);
    return text;
}

// Room on the terminal's row: a line as wide as the row would wrap on some
// terminals, and "\r" could then not bring the cursor back over it.
int line_width(int fd)
{
    struct winsize size;
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && size.ws_col - 1 < max_width)
        return size.ws_col - 1;
    return max_width;
}

// Progress is cosmetic: a failed write is dropped, not reported.
void write_all(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void report(Progress* progress)
{
    std::unique_lock<std::mutex> lock(progress->mutex);
    Clock::time_point next = progress->start + first_delay;
    while (!progress->wake.wait_until(lock, next, [progress] { return progress->stopping; })) {
        // Drawn without the lock, so that a terminal held by Ctrl+S does not
        // hold up the flag as well.
        const std::string note = progress->note;
        const long long total = progress->total;
        const long long done = progress->done->load(std::memory_order_relaxed);
        const Clock::time_point stage_start = progress->stage_start;
        lock.unlock();
        Clock::time_point now = Clock::now();
        double elapsed = std::chrono::duration<double>(now - progress->start).count();
        double stage = std::chrono::duration<double>(now - stage_start).count();
        write_all(progress->fd, "\r" + progress_line(progress->program, done, total, elapsed,
                                                      line_width(progress->fd), note, stage)
                                    + "\033[K");
        progress->drawn = true;
        next = now + redraw_interval;
        lock.lock();
    }
}

}  // namespace

std::string progress_line(const char* program, long long done, long long total, double elapsed_seconds, int width,
                          const std::string& note, double stage_seconds)
{
    if (stage_seconds < 0)
        stage_seconds = elapsed_seconds;
    if (done < 0)
        done = 0;
    if (done > total)
        done = total;
    int percent = 100;
    if (done < total) {
        percent = static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total));
        // In doubles a huge total can round 99.99...% up.
        if (percent > 99)
            percent = 99;
    }
    std::string line = std::string(program) + ": " + (note.empty() ? "" : note + ", ") + std::to_string(percent) + "% (" + duration_text(elapsed_seconds)
                       + " elapsed";
    if (done > 0) {
        double left = stage_seconds * static_cast<double>(total - done) / static_cast<double>(done);
        line += ", about " + duration_text(left) + " left";
    }
    line += ")";
    if (width >= 0 && line.size() > static_cast<size_t>(width))
        line.resize(static_cast<size_t>(width));
    return line;
}

void progress_start(Progress* progress, const char* program, long long total, const std::atomic<long long>* done,
                    bool quiet, int fd)
{
    progress->stopping = false;
    progress->drawn = false;
    progress->note.clear();
    progress->fd = fd;
    progress->program = program;
    progress->total = total;
    progress->done = done;
    progress->start = progress->stage_start = Clock::now();
    if (quiet || total <= 0 || !done || !isatty(fd))
        return;
    // Without a thread there is simply no progress line.
    try {
        progress->reporter = std::thread(report, progress);
    } catch (const std::system_error&) {
    }
}

void progress_note(Progress* progress, const std::string& note)
{
    std::lock_guard<std::mutex> lock(progress->mutex);
    progress->note = note;
}

void progress_stage(Progress* progress, const std::string& note, long long total, const std::atomic<long long>* done)
{
    std::lock_guard<std::mutex> lock(progress->mutex);
    progress->note = note;
    progress->total = total;
    progress->done = done;
    progress->stage_start = Clock::now();
}

void progress_finish(Progress* progress)
{
    if (!progress->reporter.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(progress->mutex);
        progress->stopping = true;
    }
    progress->wake.notify_all();
    progress->reporter.join();
    if (progress->drawn)
        write_all(progress->fd, "\r\033[K");
}
