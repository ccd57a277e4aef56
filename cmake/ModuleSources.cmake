# Reads modules.mk, the one description of the modules' sources and flags,
# into CMake variables of the same names (lists).
file(STRINGS ${PROJECT_SOURCE_DIR}/modules.mk definitions REGEX "^[A-Z0-9_]+ :=")
foreach(definition ${definitions})
  string(REGEX MATCH "^([A-Z0-9_]+) :=(.*)$" matched "${definition}")
  separate_arguments(values UNIX_COMMAND "${CMAKE_MATCH_2}")
  set(${CMAKE_MATCH_1} ${values})
endforeach()
foreach(group COMMON_CORE COMMON_MEX TESSARY_CORE TESSARY_MEX CORVANE_MEX INCLUDE_DIRS)
  list(TRANSFORM ${group} PREPEND ${PROJECT_SOURCE_DIR}/)
endforeach()
# An edit of modules.mk configures the build anew.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/modules.mk)
