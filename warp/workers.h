// Sharing whole-image work among threads, for the fast kernel and for the
// tools that process images row by row beside it. A thread count of 0 means
// one thread per hardware thread. The calling thread is always one of the
// workers, and a helper that cannot be started only means fewer workers.
#pragma once
#include <functional>

// The number of threads `threads` stands for: itself when positive, else one
// per hardware thread (at least one).
int worker_count(int threads);

// Calls work() on min(worker_count(threads), rows) threads at once, the
// caller's among them, and returns when every call has returned.
void run_workers(int threads, int rows, const std::function<void()>& work);

// What one worker does to row y, with scratch of its own.
using RowWorker = std::function<void(int y)>;

// Rows 0 .. rows - 1 shared out among the workers of run_workers: each
// worker calls make_worker() once, on its own thread, and then the function
// it returned for the next whole row of a counter of this call's until none
// is left, so a worker that the machine slows down simply takes fewer rows.
// Returns when every row is done.
void run_rows(int threads, int rows, const std::function<RowWorker()>& make_worker);
