#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>
#include <string>
#include <vector>

#include "parallel.h"

namespace {

class EngineThreadsGuard {
public:
    ~EngineThreadsGuard() { SetEngineThreads(0); }
};

}  // namespace

TEST(EngineThreads, EveryRowAndItemIsVisitedOnceWhateverTheThreadCount) {
    EngineThreadsGuard restore;
    for (int threads : {1, 2, 3, 7}) {
        SetEngineThreads(threads);
        EXPECT_EQ(EngineThreads(), threads);
        for (int n : {0, 1, 2, 5, 63, 64, 1000, 40000}) {
            std::vector<std::atomic<int>> rows(size_t(n) + 3), items(size_t(n) + 3);
            ParallelRows(3, n + 3, [&](int y) { ++rows[size_t(y)]; });
            ParallelItems(3, n + 3, [&](int i) { ++items[size_t(i)]; }, 1000, 16);
            for (int i = 0; i < n + 3; ++i) {
                ASSERT_EQ(rows[size_t(i)].load(), i < 3 ? 0 : 1) << threads << " threads, " << n << " rows";
                ASSERT_EQ(items[size_t(i)].load(), i < 3 ? 0 : 1) << threads << " threads, " << n << " items";
            }
        }
        for (size_t count : {size_t(0), size_t(1), size_t(65535), size_t(65537), size_t(300000)}) {
            std::vector<int> from(count), to(count, -1);
            for (size_t i = 0; i < count; ++i) from[i] = int(i * 7);
            ParallelCopy(from.data(), to.data(), count);
            ASSERT_EQ(to, from) << count;
        }
    }
}

TEST(EngineThreads, NestedAndConcurrentLoopsAndErrorsReachTheCaller) {
    EngineThreadsGuard restore;
    SetEngineThreads(3);
    // A loop inside a loop runs on the thread that reached it.
    std::vector<std::atomic<int>> cells(40 * 50);
    ParallelRows(0, 40, [&](int y) { ParallelRows(0, 50, [&](int x) { ++cells[size_t(y) * 50 + x]; }); });
    for (const std::atomic<int>& c : cells) ASSERT_EQ(c.load(), 1);

    // Two threads with loops of their own at the same time.
    std::vector<std::atomic<int>> a(5000), b(7000);
    std::thread other([&] {
        for (int k = 0; k < 50; ++k) ParallelRows(0, 7000, [&](int i) { ++b[size_t(i)]; });
    });
    for (int k = 0; k < 50; ++k) ParallelRows(0, 5000, [&](int i) { ++a[size_t(i)]; });
    other.join();
    for (const std::atomic<int>& v : a) ASSERT_EQ(v.load(), 50);
    for (const std::atomic<int>& v : b) ASSERT_EQ(v.load(), 50);

    // An allocation failure on any thread ends the loop and is thrown to the caller.
    for (int failing : {0, 999, 500}) {
        EXPECT_THROW(ParallelRows(0, 1000,
                                  [&](int y) {
                                      if (y == failing) throw std::bad_alloc();
                                  }),
                     std::bad_alloc);
    }
    std::atomic<int> after{0};
    ParallelRows(0, 100, [&](int) { ++after; });
    EXPECT_EQ(after.load(), 100);
}
