# Lays out the Octave package tessary-<version>.tar.gz: DESCRIPTION, INDEX,
# COPYING, inst/ and src/ with its Makefile and the sources.
# Called with SOURCE_DIR, OUTPUT_DIR, VERSION and OCTAVE_MINIMUM_VERSION.
set(stage ${OUTPUT_DIR}/tessary-${VERSION})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/inst ${stage}/src)
set(PROJECT_VERSION ${VERSION})
# Today, or SOURCE_DATE_EPOCH's day for a reproducible package.
string(TIMESTAMP PACKAGE_DATE "%Y-%m-%d" UTC)
configure_file(${SOURCE_DIR}/package/DESCRIPTION.in ${stage}/DESCRIPTION @ONLY)
file(COPY ${SOURCE_DIR}/package/INDEX ${SOURCE_DIR}/COPYING DESTINATION ${stage})
# The modules' help texts must sit beside the modules, in the package's
# architecture folder, which only the build knows: src/Makefile puts them
# there. src/FILES names what pkg copies from src/: the modules alone.
file(GLOB user_files ${SOURCE_DIR}/inst/*.m)
foreach(file ${user_files})
  get_filename_component(name ${file} NAME_WE)
  if(name STREQUAL "tessary" OR name STREQUAL "corvane")
    file(COPY ${file} DESTINATION ${stage}/src/help)
  else()
    file(COPY ${file} DESTINATION ${stage}/inst)
  endif()
endforeach()
file(COPY ${SOURCE_DIR}/inst/private DESTINATION ${stage}/inst)
file(COPY ${SOURCE_DIR}/package/Makefile ${SOURCE_DIR}/modules.mk ${SOURCE_DIR}/cmake/mexFunction.map
     DESTINATION ${stage}/src)
file(WRITE ${stage}/src/FILES "tessary.mex\ncorvane.mex\n")
foreach(dir common/core common/host tessary corvane)
  file(GLOB sources ${SOURCE_DIR}/${dir}/*.cpp ${SOURCE_DIR}/${dir}/*.hpp)
  file(COPY ${sources} DESTINATION ${stage}/src/${dir})
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf tessary-${VERSION}.tar.gz tessary-${VERSION}
                WORKING_DIRECTORY ${OUTPUT_DIR} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write the package")
endif()
message(STATUS "Wrote ${OUTPUT_DIR}/tessary-${VERSION}.tar.gz")
