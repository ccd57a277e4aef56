# nanoflann, header only: the oracle of the unit tests and a peer of the
# benchmark. The modules build their own tree (nanoflann 1.4's, node for
# node) and need no nanoflann at all. Any release from 1.4 on will do; what
# the tests need to know of their differences is in
# tests/unit/nanoflann_compat.hpp. The version is read from the header
# itself: 1.4.3 writes 0x143, later releases two hex digits a part
# (1.12.1: 0x010C01).
if(TARGET nanoflann)
  return()
endif()
find_path(NANOFLANN_INCLUDE_DIR nanoflann.hpp NO_CMAKE_FIND_ROOT_PATH)
if(NOT NANOFLANN_INCLUDE_DIR)
  message(FATAL_ERROR "nanoflann.hpp not found: install nanoflann 1.4 or later (Debian: libnanoflann-dev, "
                      "Homebrew: nanoflann) or set NANOFLANN_INCLUDE_DIR")
endif()
file(STRINGS ${NANOFLANN_INCLUDE_DIR}/nanoflann.hpp version_line REGEX "^#define NANOFLANN_VERSION 0x")
string(REGEX MATCH "0x([0-9a-fA-F]+)" found "${version_line}")
set(hex "${CMAKE_MATCH_1}")
string(LENGTH "${hex}" digits)
if(digits LESS_EQUAL 3)
  string(REGEX MATCH "^([0-9a-fA-F])([0-9a-fA-F])([0-9a-fA-F])$" parts "${hex}")
else()
  string(REGEX MATCH "^([0-9a-fA-F]*)([0-9a-fA-F][0-9a-fA-F])([0-9a-fA-F][0-9a-fA-F])$" parts "${hex}")
endif()
set(nanoflann_VERSION "")
foreach(part 1 2 3)
  math(EXPR value "0x0${CMAKE_MATCH_${part}}")
  list(APPEND nanoflann_VERSION ${value})
endforeach()
list(JOIN nanoflann_VERSION "." nanoflann_VERSION)
if(NOT found OR NOT parts OR nanoflann_VERSION VERSION_LESS 1.4)
  message(FATAL_ERROR "nanoflann in ${NANOFLANN_INCLUDE_DIR} (${version_line}) cannot be used: 1.4 or later is needed")
endif()
message(STATUS "nanoflann ${nanoflann_VERSION} in ${NANOFLANN_INCLUDE_DIR}")
add_library(nanoflann INTERFACE)
target_include_directories(nanoflann SYSTEM INTERFACE ${NANOFLANN_INCLUDE_DIR})
