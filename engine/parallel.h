// Row-parallel loops for the engine. Every loop body writes only its own
// rows or pixels, so results do not depend on the number of threads.
//
// The loops run on the engine's own pool of threads. Rows are handed out in
// small chunks on demand rather than split evenly up front, so a thread
// whose core is busy with another program simply takes fewer of them; idle
// threads sleep instead of spinning. A loop started inside another loop, or
// while another thread's loop has the pool, runs on the calling thread.
#pragma once

#include <algorithm>
#include <cstddef>

#include "engine_threads.h"

namespace parallel_detail {

using ChunkFn = void (*)(void* context, int begin, int end);
// Runs fn over [begin, end) in chunks of `chunk` items.
void Run(int begin, int end, int chunk, ChunkFn fn, void* context);

// About thirty-two chunks per thread, each at least `minChunk` items. Taking
// a chunk costs one atomic add; what matters is the last chunk, which the
// other threads wait for — longer still when its thread shares a core with
// another program.
inline int ChunkSize(int items, int minChunk) {
    return std::max({1, minChunk, items / (32 * std::max(1, EngineThreads()))});
}

template <typename Body>
void Loop(int begin, int end, int chunk, Body& body) {
    auto each = [](void* context, int b, int e) {
        Body& f = *static_cast<Body*>(context);
        for (int i = b; i < e; ++i) f(i);
    };
    Run(begin, end, chunk, each, &body);
}

}  // namespace parallel_detail

template <typename Body>
void ParallelRows(int begin, int end, Body&& body) {
    if (end <= begin) return;
    parallel_detail::Loop(begin, end, parallel_detail::ChunkSize(end - begin, 1), body);
}

// For a few large independent tasks (the tiles of a picture): one task at a
// time per thread, taken in order as threads become free. The loops inside a
// task run on the thread that took it.
template <typename Body>
void ParallelTasks(int begin, int end, Body&& body) {
    if (end <= begin) return;
    parallel_detail::Loop(begin, end, 1, body);
}

// For loops over items much cheaper than a row: runs on the calling thread
// below `minItems` (waking the pool would cost more) and hands out chunks of
// at least `minChunk` items.
template <typename Body>
void ParallelItems(int begin, int end, Body&& body, int minItems, int minChunk) {
    if (end - begin < minItems) {
        for (int i = begin; i < end; ++i) body(i);
        return;
    }
    parallel_detail::Loop(begin, end, parallel_detail::ChunkSize(end - begin, minChunk), body);
}

// While a long run lasts, keeps each of the engine's threads on a CPU of its
// own: the calling thread on the first CPU it may use, pool thread i on the
// next. Without it, the scheduler may stack two of them on one CPU beside a
// program that has the other to itself, and moves them between CPUs, each
// move costing the caches. Only when the engine uses exactly as many threads
// as there are CPUs (so none waits for a CPU another of them could have
// left) and the picture is large: a preview's loops are too short for the
// others to take over the work of a thread held on a busy CPU. One run at a
// time; a run started during another, or inside a loop, changes nothing.
class CpuSpread {
public:
    static constexpr long long kMinPixels = 1000000;
    explicit CpuSpread(long long pixels);
    ~CpuSpread();
    CpuSpread(const CpuSpread&) = delete;
    CpuSpread& operator=(const CpuSpread&) = delete;
    bool Active() const { return active_; }

private:
    bool active_ = false;
};

// Copies with every block of samples taken on demand.
template <typename T>
void ParallelCopy(const T* from, T* to, size_t count) {
    constexpr size_t kBlock = size_t(1) << 16;
    const int blocks = int((count + kBlock - 1) / kBlock);
    ParallelRows(0, blocks, [&](int k) {
        const size_t begin = size_t(k) * kBlock, end = std::min(count, begin + kBlock);
        std::copy(from + begin, from + end, to + begin);
    });
}
