// Row-parallel loops for the engine. Every loop body writes only its own
// rows or pixels, so results do not depend on the number of threads.
#pragma once

#include <omp.h>

// Threads used by the engine's loops; 0 means all cores.
inline void SetEngineThreads(int threads) {
    omp_set_num_threads(threads > 0 ? threads : omp_get_num_procs());
}
inline int EngineThreads() { return omp_get_max_threads(); }

template <typename Body>
void ParallelRows(int begin, int end, Body&& body) {
#pragma omp parallel for schedule(static)
    for (int y = begin; y < end; ++y) body(y);
}

// For loops whose rows differ much in cost.
template <typename Body>
void ParallelRowsDynamic(int begin, int end, Body&& body) {
#pragma omp parallel for schedule(dynamic, 2)
    for (int y = begin; y < end; ++y) body(y);
}

// Copies with every row-range on its own thread.
template <typename T>
void ParallelCopy(const T* from, T* to, size_t count) {
    const int chunks = 64;
#pragma omp parallel for schedule(static)
    for (int k = 0; k < chunks; ++k) {
        const size_t begin = count * size_t(k) / chunks, end = count * size_t(k + 1) / chunks;
        for (size_t i = begin; i < end; ++i) to[i] = from[i];
    }
}
