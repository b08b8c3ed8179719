// run_workers: how many workers it starts, and that the caller is one.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "warp/workers.h"

TEST(Workers, CountsAndCallerAmongThem)
{
    EXPECT_EQ(worker_count(3), 3);
    EXPECT_GE(worker_count(0), 1);

    // threads, rows, the workers expected.
    const int cases[][3] = {{1, 10, 1}, {4, 10, 4}, {8, 3, 3}, {5, 1, 1}, {0, 1000, worker_count(0)}};
    for (const auto& c : cases) {
        std::mutex lock;
        std::set<std::thread::id> seen;
        std::atomic<int> calls(0), waiting(0);
        run_workers(c[0], c[1], [&] {
            ++calls;
            // Every worker waits until all have started, so that none can
            // run twice on one thread and all run at once.
            ++waiting;
            while (waiting.load() < c[2])
                std::this_thread::yield();
            std::lock_guard<std::mutex> hold(lock);
            seen.insert(std::this_thread::get_id());
        });
        EXPECT_EQ(calls.load(), c[2]) << "threads " << c[0] << ", rows " << c[1];
        EXPECT_EQ(seen.size(), static_cast<size_t>(c[2]));
        EXPECT_EQ(seen.count(std::this_thread::get_id()), 1u) << "the caller is not one of the workers";
    }
}
