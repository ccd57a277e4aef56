# Builds MEX modules for GNU Octave with the compile and link settings that
# Octave's own mkoctfile reports.
find_program(MKOCTFILE_EXECUTABLE NAMES mkoctfile REQUIRED)
execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} --version OUTPUT_VARIABLE version_text ERROR_VARIABLE version_text)
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" OCTAVE_VERSION "${version_text}")
if(OCTAVE_VERSION VERSION_LESS OCTAVE_MINIMUM_VERSION)
  message(FATAL_ERROR "Octave ${OCTAVE_VERSION} found; the modules need Octave ${OCTAVE_MINIMUM_VERSION} or later")
endif()

function(_mkoctfile_query variable out)
  execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} -p ${variable}
                  OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

_mkoctfile_query(OCTINCLUDEDIR OCTAVE_INCLUDE_DIR)
_mkoctfile_query(OCTLIBDIR OCTAVE_LIB_DIR)
find_library(OCTAVE_OCTINTERP_LIBRARY octinterp HINTS ${OCTAVE_LIB_DIR} REQUIRED)
find_library(OCTAVE_OCTAVE_LIBRARY octave HINTS ${OCTAVE_LIB_DIR} REQUIRED)
find_program(OCTAVE_CLI_EXECUTABLE NAMES octave-cli REQUIRED)

add_library(octave_mex_api INTERFACE)
target_include_directories(octave_mex_api SYSTEM INTERFACE ${OCTAVE_INCLUDE_DIR})
target_link_libraries(octave_mex_api INTERFACE ${OCTAVE_OCTINTERP_LIBRARY} ${OCTAVE_OCTAVE_LIBRARY})

# add_mex_module(<name> <sources>...): <name>.mex in the build folder.
function(add_mex_module name)
  add_library(${name} MODULE ${ARGN})
  target_link_libraries(${name} PRIVATE octave_mex_api)
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".mex"
                        LIBRARY_OUTPUT_DIRECTORY ${MEX_OUTPUT_DIR})
  target_link_options(${name} PRIVATE -Wl,-Bsymbolic
                      -Wl,--version-script=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/exports.map)
endfunction()
