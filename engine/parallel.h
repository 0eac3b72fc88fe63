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
