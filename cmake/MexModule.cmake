# add_mex_module(<target> NAME <module> SOURCES <file>... [LINK <library>...]
#                [HOST <host>] [OUTPUT_DIR <folder>])
#
# One MEX module file, <module> and the host's suffix, in OUTPUT_DIR
# (MEX_OUTPUT_DIR by default), with the help texts and the users' layer of inst/
# beside it. HOST, TESSARY_HOST by default, is one of
#   octave            GNU Octave, with the settings its mkoctfile reports: .mex
#   matlab            MATLAB, through CMake's FindMatlab and MATLAB's own
#                     headers and libraries; untested, as MATLAB is not at hand
#   matlab-interface  MATLAB's binary interface from matlab/, without MATLAB:
#                     .mexa64 or .mexglx; with the MinGW-w64 toolchain files
#                     .mexw64 or .mexw32, importing libmx.dll and libmex.dll
#                     through import libraries made from matlab/*.def
# Every module exports mexFunction alone (and, for Octave 10 and later, the
# SOVERSION it is built for; a pattern, so that builds without it link
# too): mexFunction.map for GNU ld, mexFunction.def for MinGW-w64, beside
# this file.
set(MEX_EXPORTS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(MATLAB_INTERFACE_DIR ${PROJECT_SOURCE_DIR}/matlab)

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(MATLAB_MEX_SUFFIX .mexw32)
elseif(WIN32)
  set(MATLAB_MEX_SUFFIX .mexw64)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(MATLAB_MEX_SUFFIX .mexglx)
else()
  set(MATLAB_MEX_SUFFIX .mexa64)
endif()

if(TESSARY_HOST STREQUAL "octave")
  find_program(MKOCTFILE_EXECUTABLE NAMES mkoctfile REQUIRED)
  execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} --version OUTPUT_VARIABLE version_text ERROR_VARIABLE version_text)
  string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" OCTAVE_VERSION "${version_text}")
  if(OCTAVE_VERSION VERSION_LESS OCTAVE_MINIMUM_VERSION)
    message(FATAL_ERROR "Octave ${OCTAVE_VERSION} found; the modules need Octave ${OCTAVE_MINIMUM_VERSION} or later")
  endif()
  foreach(variable OCTINCLUDEDIR OCTLIBDIR)
    execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} -p ${variable}
                    OUTPUT_VARIABLE OCTAVE_${variable} OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endforeach()
  find_library(OCTAVE_OCTINTERP_LIBRARY octinterp HINTS ${OCTAVE_OCTLIBDIR} REQUIRED)
  find_library(OCTAVE_OCTAVE_LIBRARY octave HINTS ${OCTAVE_OCTLIBDIR} REQUIRED)
  find_program(OCTAVE_CLI_EXECUTABLE NAMES octave-cli REQUIRED)
  add_library(octave_mex_api INTERFACE)
  target_include_directories(octave_mex_api SYSTEM INTERFACE ${OCTAVE_OCTINCLUDEDIR})
  target_link_libraries(octave_mex_api INTERFACE ${OCTAVE_OCTINTERP_LIBRARY} ${OCTAVE_OCTAVE_LIBRARY})
  # Octave 10 and later keep the MEX interface in a library of its own,
  # liboctmex, and load only a .mex that names that library's SOVERSION, as
  # mkoctfile's builds do: the modules link it and name its SOVERSION too.
  find_library(OCTAVE_OCTMEX_LIBRARY octmex HINTS ${OCTAVE_OCTLIBDIR} NO_DEFAULT_PATH)
  if(OCTAVE_OCTMEX_LIBRARY)
    get_filename_component(octmex_file ${OCTAVE_OCTMEX_LIBRARY} REALPATH)
    if(NOT octmex_file MATCHES "octmex[.]so[.]([0-9]+)|octmex[.]([0-9]+)[.]dylib")
      message(FATAL_ERROR "no SOVERSION in the name of ${octmex_file}")
    endif()
    target_link_libraries(octave_mex_api INTERFACE ${OCTAVE_OCTMEX_LIBRARY})
    target_compile_definitions(octave_mex_api INTERFACE OCTAVE_MEX_SOVERSION=${CMAKE_MATCH_1}${CMAKE_MATCH_2})
  endif()
elseif(TESSARY_HOST STREQUAL "matlab")
  find_package(Matlab REQUIRED COMPONENTS MX_LIBRARY MEX_COMPILER)
elseif(NOT TESSARY_HOST STREQUAL "matlab-interface")
  message(FATAL_ERROR "TESSARY_HOST must be octave, matlab or matlab-interface")
endif()

# On Windows a module imports libmx.dll and libmex.dll by name, through
# import libraries made here; elsewhere the host process provides them when
# it loads a module.
if(WIN32 AND TESSARY_HOST STREQUAL "matlab-interface")
  foreach(name mx mex)
    set(library ${CMAKE_BINARY_DIR}/matlab/lib${name}.a)
    add_custom_command(OUTPUT ${library}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/matlab
      COMMAND ${CMAKE_DLLTOOL} --input-def ${MATLAB_INTERFACE_DIR}/lib${name}.def --dllname lib${name}.dll
              --output-lib ${library}
      DEPENDS ${MATLAB_INTERFACE_DIR}/lib${name}.def VERBATIM)
    add_custom_target(matlab_lib${name}_import DEPENDS ${library})
    add_library(matlab_lib${name} INTERFACE)
    target_link_libraries(matlab_lib${name} INTERFACE ${library})
    add_dependencies(matlab_lib${name} matlab_lib${name}_import)
  endforeach()
endif()

function(add_mex_module target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "NAME;HOST;OUTPUT_DIR" "SOURCES;LINK")
  if(NOT arg_HOST)
    set(arg_HOST ${TESSARY_HOST})
  endif()
  if(NOT arg_OUTPUT_DIR)
    set(arg_OUTPUT_DIR ${MEX_OUTPUT_DIR})
  endif()

  if(arg_HOST STREQUAL "matlab")
    matlab_add_mex(NAME ${target} MODULE SRC ${arg_SOURCES} LINK_TO ${Matlab_MEX_LIBRARY} ${Matlab_MX_LIBRARY})
  else()
    add_library(${target} MODULE ${arg_SOURCES})
  endif()
  target_include_directories(${target} PRIVATE ${INCLUDE_DIRS})
  target_link_libraries(${target} PRIVATE ${arg_LINK})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${arg_NAME} LIBRARY_OUTPUT_DIRECTORY ${arg_OUTPUT_DIR})

  if(arg_HOST STREQUAL "octave")
    target_link_libraries(${target} PRIVATE octave_mex_api)
    set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX .mex)
  elseif(arg_HOST STREQUAL "matlab-interface")
    target_include_directories(${target} PRIVATE ${MATLAB_INTERFACE_DIR}/include)
    set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ${MATLAB_MEX_SUFFIX})
  endif()

  if(WIN32 AND arg_HOST STREQUAL "matlab-interface")
    # One file that stands alone: the C++ and OpenMP runtimes linked in, and
    # mexFunction its only export (MinGW would export every symbol of the
    # static runtimes as well).
    target_link_libraries(${target} PRIVATE matlab_libmx matlab_libmex)
    target_link_options(${target} PRIVATE -static -Wl,--exclude-all-symbols ${MEX_EXPORTS_DIR}/mexFunction.def)
  elseif(NOT WIN32)
    target_link_options(${target} PRIVATE -Wl,-Bsymbolic -Wl,--version-script=${MEX_EXPORTS_DIR}/mexFunction.map)
  endif()

  # Help texts and the users' layer sit beside the modules, as the host expects,
  # the layer's helpers in private/ below them.
  file(MAKE_DIRECTORY ${arg_OUTPUT_DIR})
  file(GLOB_RECURSE user_files RELATIVE ${PROJECT_SOURCE_DIR}/inst ${PROJECT_SOURCE_DIR}/inst/*.m)
  foreach(file ${user_files})
    configure_file(${PROJECT_SOURCE_DIR}/inst/${file} ${arg_OUTPUT_DIR}/${file} COPYONLY)
  endforeach()
endfunction()
