# nanoflann, header only. The point index reads the built tree's members
# (its leaf order, nodes and bounding box), which nanoflann renamed in 1.5:
# only 1.4.x will do. The version is read from the header itself, so that
# the check holds for cross builds too, where the package's own version file
# refuses a 32-bit target.
find_path(NANOFLANN_INCLUDE_DIR nanoflann.hpp NO_CMAKE_FIND_ROOT_PATH)
if(NOT NANOFLANN_INCLUDE_DIR)
  message(FATAL_ERROR "nanoflann.hpp not found: install nanoflann 1.4.x (Debian: libnanoflann-dev) "
                      "or set NANOFLANN_INCLUDE_DIR")
endif()
file(STRINGS ${NANOFLANN_INCLUDE_DIR}/nanoflann.hpp version_line REGEX "^#define NANOFLANN_VERSION 0x")
string(REGEX MATCH "0x([0-9a-fA-F])([0-9a-fA-F])([0-9a-fA-F])" found "${version_line}")
set(nanoflann_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}")
if(NOT found OR nanoflann_VERSION VERSION_LESS 1.4 OR NOT nanoflann_VERSION VERSION_LESS 1.5)
  message(FATAL_ERROR "nanoflann ${nanoflann_VERSION} in ${NANOFLANN_INCLUDE_DIR} cannot be used: the point index "
                      "reads members of nanoflann's tree as 1.4.x has them (at least 1.4, below 1.5)")
endif()

# A cross compiler must not see the build machine's other headers beside it.
set(include_dir ${NANOFLANN_INCLUDE_DIR})
if(CMAKE_CROSSCOMPILING)
  set(include_dir ${CMAKE_BINARY_DIR}/nanoflann)
  configure_file(${NANOFLANN_INCLUDE_DIR}/nanoflann.hpp ${include_dir}/nanoflann.hpp COPYONLY)
endif()
add_library(nanoflann INTERFACE)
target_include_directories(nanoflann SYSTEM INTERFACE ${include_dir})
