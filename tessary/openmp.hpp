// The few OpenMP calls the modules make, in one place. Built without OpenMP
// (TESSARY_OPENMP=OFF, or Apple's clang without libomp) the compiler ignores
// the parallel pragmas and every loop runs on the calling thread; these then
// answer as a team of one thread would, so every result stays the same.
#pragma once

#if defined(_OPENMP)
#include <omp.h>
#endif

namespace tessary {

// Threads the next parallel region may use.
inline int maxThreads() {
#if defined(_OPENMP)
    return omp_get_max_threads();
#else
    return 1;
#endif
}

// This thread's number in its team, 0 outside a parallel region.
inline int threadNumber() {
#if defined(_OPENMP)
    return omp_get_thread_num();
#else
    return 0;
#endif
}

// How many threads later parallel regions use (the tests vary it).
inline void setThreadCount(int threads) {
#if defined(_OPENMP)
    omp_set_num_threads(threads);
#else
    (void)threads;
#endif
}

}  // namespace tessary
