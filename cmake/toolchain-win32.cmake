# 32-bit Windows (i686): MATLAB R2015b and earlier.
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
