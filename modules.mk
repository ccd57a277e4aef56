# The modules' sources, include folders and the compiler flags that fix
# their arithmetic, written once: CMake (cmake/ModuleSources.cmake), build.m
# and the Octave package's Makefile all read this file. One variable a line,
# values separated by spaces, paths relative to this folder.

# The front end both modules share. What never calls the host, also tested
# in plain C++:
COMMON_CORE := common/core/error_report.cpp common/core/handle_registry.cpp common/core/load_serial.cpp
# and what does, compiled into each module:
COMMON_MEX := common/host/dispatch.cpp common/host/arguments.cpp common/host/persistent_memory.cpp
# The point index module: its numerical core, free of MEX calls, and its MEX layer.
TESSARY_CORE := tessary/point_index.cpp tessary/tree_builder.cpp tessary/knn_search.cpp tessary/wide_nearest_set.cpp tessary/gaussian_kernel.cpp tessary/gaussian_gate.cpp tessary/cell_order.cpp tessary/density_grid.cpp tessary/density_clusterer.cpp tessary/voxel_gaussians.cpp tessary/density_clusters.cpp tessary/range_search.cpp tessary/shared_candidates.cpp tessary/scan_registration.cpp
TESSARY_MEX := tessary/tessary_module.cpp tessary/worker_threads.cpp
# The placeholder module.
CORVANE_MEX := corvane/corvane_module.cpp
INCLUDE_DIRS := common/core common/host tessary

# GCC and Clang: no floating-point operation fused or reordered, so that
# results are the same bits with every build; nothing exported but what is
# marked so (mexFunction).
ARITHMETIC_FLAGS := -ffp-contract=off -fno-fast-math
# Every compiler: Eigen's scalar code, the same on every architecture (its
# SIMD paths, SSE against NEON, round the kernel's inverse differently).
ARITHMETIC_DEFINES := EIGEN_DONT_VECTORIZE
VISIBILITY_FLAGS := -fvisibility=hidden
# 32-bit x86: SSE2 arithmetic, never x87's 80-bit registers.
X86_32_FLAGS := -msse2 -mfpmath=sse
# 32-bit Windows: a caller aligns the stack to 4 bytes only, which SSE2
# spills must not assume.
WINDOWS_X86_32_FLAGS := -mincoming-stack-boundary=2
# Visual C++: no contraction without /arch:AVX2, which is not given.
MSVC_ARITHMETIC_FLAGS := /fp:precise
