# Builds MEX modules on MATLAB's binary interface from the layer in matlab/
# (MATLAB's types and entry points), with no MATLAB at hand. Each module
# names what provides libmx and libmex: on Windows the import libraries made
# here from matlab/*.def, elsewhere the stand-in host of the tests.
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

# matlab_libmx and matlab_libmex: import libraries of libmx.dll and libmex.dll.
function(add_matlab_import_libraries)
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
endfunction()

# add_matlab_module(<target> NAME <module> OUTPUT_DIR <dir> SOURCES <files>... LINK <libraries>...)
function(add_matlab_module target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "NAME;OUTPUT_DIR" "SOURCES;LINK")
  add_library(${target} MODULE ${arg_SOURCES})
  target_include_directories(${target} PRIVATE ${MATLAB_INTERFACE_DIR}/include)
  target_link_libraries(${target} PRIVATE ${arg_LINK})
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ${MATLAB_MEX_SUFFIX} OUTPUT_NAME ${arg_NAME}
                        LIBRARY_OUTPUT_DIRECTORY ${arg_OUTPUT_DIR})
  if(WIN32)
    # One file that stands alone: the C++ and OpenMP runtimes linked in, and
    # mexFunction its only export (MinGW would export every symbol of the
    # static runtimes as well).
    target_link_options(${target} PRIVATE -static -Wl,--exclude-all-symbols
                        ${MATLAB_INTERFACE_DIR}/mexFunction.def)
  else()
    target_link_options(${target} PRIVATE -Wl,-Bsymbolic
                        -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exports.map)
  endif()
endfunction()
