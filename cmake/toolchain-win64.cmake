# 64-bit Windows (x86-64): every MATLAB since R2016a.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
