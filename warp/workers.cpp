#include "warp/workers.h"

#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

int worker_count(int threads)
{
    if (threads > 0)
        return threads;
    const int hardware = static_cast<int>(std::thread::hardware_concurrency());
    return hardware > 0 ? hardware : 1;
}

void run_workers(int threads, int rows, const std::function<void()>& work)
{
    int workers = worker_count(threads);
    if (workers > rows)
        workers = rows;
    std::vector<std::thread> helpers;
    for (int i = 1; i < workers; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
}

void run_rows(int threads, int rows, const std::function<RowWorker()>& make_worker)
{
    std::atomic<int> next(0);
    run_workers(threads, rows, [&] {
        const RowWorker row = make_worker();
        for (int y = next.fetch_add(1); y < rows; y = next.fetch_add(1))
            row(y);
    });
}
