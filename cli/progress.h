// A progress line on stderr for long batch runs: shown only when stderr is a
// terminal and the work has taken more than a second; redrawn in place as
// "\r" LINE "\033[K" (carriage return, text, clear to end of line) at most
// four times a second; erased when done with "\r\033[K", which leaves the
// cursor at the start of an empty line. Counting is the caller's: an atomic
// count of work units done out of a known total, read by a reporter thread.
// The work may go on in stages with counts of their own (the warp's pixels,
// then the rows of the file being written). Nothing else should write to
// the terminal between start and finish.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct Progress {
    std::thread reporter;  // runs only when a line may be shown
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;  // under mutex
    std::string note;       // under mutex: what is being done, shown before the percentage
    bool drawn = false;     // written by the reporter, read after joining it
    int fd = 2;
    const char* program = "";
    long long total = 0;                           // under mutex: the stage's
    const std::atomic<long long>* done = nullptr;  // under mutex: the stage's
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point stage_start;  // under mutex
};

// The text of one line, e.g. "tavrosk-warp: 42% (3.1 s elapsed, about 4.3 s
// left)", or with a note "tavrosk-morph: frame 3/30, 42% (...)", cut to
// `width` characters. The percentage is rounded down and
// reaches 100 only when done == total; the time left, estimated from the rate
// so far, is left out while nothing is done. Times of a minute or more read
// "M min SS s", of an hour or more "H h MM min". The time left is estimated
// from the rate of the stage, which began stage_seconds ago (the whole
// elapsed time when negative).
std::string progress_line(const char* program, long long done, long long total, double elapsed_seconds, int width,
                          const std::string& note = "", double stage_seconds = -1);

// Starts timing, and a reporter thread when `fd` is a terminal and not
// `quiet`. `program` and `done` must outlive progress_finish. One finish for
// each start.
void progress_start(Progress* progress, const char* program, long long total, const std::atomic<long long>* done,
                    bool quiet, int fd = 2);

// Sets the note the next redraw shows ("frame 3/30", "writing out.png"); any
// thread may call it between start and finish.
void progress_note(Progress* progress, const std::string& note);

// Begins another stage of the work: from now on the line shows `note` and
// the count `done` of `total`, which must outlive progress_finish (e.g.
// "writing out.png" and the rows encoded so far); the elapsed time runs on.
void progress_stage(Progress* progress, const std::string& note, long long total, const std::atomic<long long>* done);

// Stops the reporter at once (it waits on a condition variable, not in a
// sleep) and erases the line if one was drawn.
void progress_finish(Progress* progress);
