#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <map>
#include <mutex>
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

cpu_set_t OwnCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    pthread_getaffinity_np(pthread_self(), sizeof set, &set);
    return set;
}

// The CPUs each thread taking part in a loop was allowed to run on.
std::map<std::thread::id, cpu_set_t> LoopCpus() {
    std::mutex mutex;
    std::map<std::thread::id, cpu_set_t> seen;
    ParallelRows(0, 4000, [&](int) {
        volatile double spin = 0;
        for (int i = 0; i < 20000; ++i) spin = spin + i;
        const cpu_set_t own = OwnCpus();
        std::lock_guard<std::mutex> lock(mutex);
        seen[std::this_thread::get_id()] = own;
    });
    return seen;
}

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

TEST(EngineThreads, LongRunsKeepEachThreadOnACpuOfItsOwnAndGiveTheCpusBack) {
    EngineThreadsGuard restore;
    const cpu_set_t before = OwnCpus();
    const int cpus = CPU_COUNT(&before);
    if (cpus < 2) GTEST_SKIP() << "needs two CPUs";
    SetEngineThreads(cpus);
    {
        const CpuSpread spread(CpuSpread::kMinPixels);
        ASSERT_TRUE(spread.Active());
        const cpu_set_t caller = OwnCpus();
        ASSERT_EQ(CPU_COUNT(&caller), 1);
        cpu_set_t used;
        CPU_ZERO(&used);
        for (const auto& [thread, set] : LoopCpus()) {
            ASSERT_EQ(CPU_COUNT(&set), 1);
            cpu_set_t both;
            CPU_AND(&both, &used, &set);
            EXPECT_EQ(CPU_COUNT(&both), 0) << "two threads on one CPU";
            CPU_OR(&used, &used, &set);
        }
        CPU_AND(&used, &used, &before);
        EXPECT_GE(CPU_COUNT(&used), 1);

        // One run at a time: another run, here or on another thread, leaves
        // the CPUs as they are.
        EXPECT_FALSE(CpuSpread(CpuSpread::kMinPixels * 4).Active());
        std::thread other([&] {
            pthread_setaffinity_np(pthread_self(), sizeof before, &before);
            EXPECT_FALSE(CpuSpread(CpuSpread::kMinPixels).Active());
            const cpu_set_t own = OwnCpus();
            EXPECT_TRUE(CPU_EQUAL(&own, &before));
        });
        other.join();
        const cpu_set_t still = OwnCpus();
        EXPECT_TRUE(CPU_EQUAL(&still, &caller));
    }
    const cpu_set_t after = OwnCpus();
    EXPECT_TRUE(CPU_EQUAL(&after, &before));
    for (const auto& [thread, set] : LoopCpus()) EXPECT_TRUE(CPU_EQUAL(&set, &before));

    // Previews, and fewer threads than CPUs, leave the scheduler free.
    EXPECT_FALSE(CpuSpread(CpuSpread::kMinPixels - 1).Active());
    SetEngineThreads(cpus - 1 > 1 ? cpus - 1 : cpus + 1);
    EXPECT_FALSE(CpuSpread(CpuSpread::kMinPixels).Active());
    const cpu_set_t unchanged = OwnCpus();
    EXPECT_TRUE(CPU_EQUAL(&unchanged, &before));
}
