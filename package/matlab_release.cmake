# Writes the MATLAB release archive, <build>/tessary-<version>-matlab.zip:
# the module files for 64-bit and 32-bit Windows and 64-bit Linux, the help
# texts and the users' layer, a README for MATLAB users and the licence, in one
# folder.
#   cmake -DSOURCE_DIR=<repository> -DBUILD_DIR=<build-windows> -P matlab_release.cmake
file(STRINGS ${SOURCE_DIR}/CMakeLists.txt project_line REGEX "^project\\(tessary VERSION")
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" version "${project_line}")
set(name tessary-${version}-matlab)
set(stage ${BUILD_DIR}/${name})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage})
foreach(module tessary corvane)
  foreach(file win64/${module}.mexw64 win32/${module}.mexw32 linux64/${module}.mexa64)
    if(NOT EXISTS ${BUILD_DIR}/${file})
      message(FATAL_ERROR "${BUILD_DIR}/${file} has not been built")
    endif()
    file(COPY ${BUILD_DIR}/${file} DESTINATION ${stage})
  endforeach()
endforeach()
file(GLOB user_files ${SOURCE_DIR}/inst/*.m)
file(COPY ${user_files} ${SOURCE_DIR}/inst/private ${SOURCE_DIR}/COPYING DESTINATION ${stage})
configure_file(${SOURCE_DIR}/package/MATLAB-README.txt ${stage}/README.txt @ONLY)
file(REMOVE ${BUILD_DIR}/${name}.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${name}.zip --format=zip ${name}
                WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${BUILD_DIR}/${name}.zip")
endif()
