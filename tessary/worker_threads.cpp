#include "worker_threads.hpp"

// Only where the OpenMP runtime is linked into the module file (MinGW).
#if defined(__MINGW32__) && defined(_OPENMP)
#define TESSARY_OWN_OPENMP_RUNTIME
#include <omp.h>
#include <windows.h>

#include <vector>

#include "c_heap_allocator.hpp"
#endif

namespace tessary {

#if defined(TESSARY_OWN_OPENMP_RUNTIME)

// MinGW builds link the OpenMP runtime into the module file. Pausing it hard
// ends its threads without waiting for them; each thread is therefore opened
// first, from inside a parallel region, and waited for afterwards. The host
// calls this between module calls, when every thread of the pool is idle.
void stopWorkerThreads() {
    const int threads = omp_get_max_threads();
    // C heap: nothing here may take host memory, and the region may not allocate.
    std::vector<HANDLE, common::CHeapAllocator<HANDLE>> workers(static_cast<std::size_t>(threads), nullptr);
#pragma omp parallel num_threads(threads)
    {
        const int t = omp_get_thread_num();
        if (t != 0) workers[static_cast<std::size_t>(t)] = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    }
    omp_pause_resource_all(omp_pause_hard);
    for (HANDLE worker : workers) {
        if (worker == nullptr) continue;
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
    }
}

#else

// Elsewhere the OpenMP runtime is a library of the host process that stays
// loaded when the module file goes (libgomp under Octave, MATLAB's own on
// Linux, Visual C++'s runtime DLL): its threads serve the whole process and
// run none of the module's code between calls, so they are left alone.
// Without OpenMP there are no worker threads.
void stopWorkerThreads() {}

#endif

}  // namespace tessary
