# 64-bit ARM Linux (the arithmetic of Apple Silicon and of ARM64 Linux) with
# clang's cross target and Debian's arm64 cross libraries, which install
# beside g++-multilib where a GCC cross compiler would remove it. OpenMP is
# GNU's libgomp, as GCC's builds have. qemu runs the programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(triple aarch64-linux-gnu)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(OpenMP_CXX_FLAGS -fopenmp=libgomp)
set(OpenMP_CXX_LIB_NAMES gomp)
set(OpenMP_gomp_LIBRARY /usr/${triple}/lib/libgomp.so.1)
find_program(QEMU_AARCH64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64} -L /usr/${triple})
