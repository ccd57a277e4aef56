# Lays out the Octave package tessary-<version>.tar.gz: DESCRIPTION, INDEX,
# COPYING, inst/ and src/ with its Makefile and the sources.
# Called with SOURCE_DIR, OUTPUT_DIR and VERSION.
set(stage ${OUTPUT_DIR}/tessary-${VERSION})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/inst ${stage}/src)
set(PROJECT_VERSION ${VERSION})
configure_file(${SOURCE_DIR}/package/DESCRIPTION.in ${stage}/DESCRIPTION @ONLY)
file(COPY ${SOURCE_DIR}/package/INDEX ${SOURCE_DIR}/COPYING DESTINATION ${stage})
file(GLOB user_files ${SOURCE_DIR}/inst/*.m)
file(COPY ${user_files} DESTINATION ${stage}/inst)
file(COPY ${SOURCE_DIR}/package/Makefile ${SOURCE_DIR}/cmake/exports.map DESTINATION ${stage}/src)
foreach(dir common tessary corvane)
  file(GLOB sources ${SOURCE_DIR}/${dir}/*.cpp ${SOURCE_DIR}/${dir}/*.hpp)
  file(COPY ${sources} DESTINATION ${stage}/src/${dir})
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf tessary-${VERSION}.tar.gz tessary-${VERSION}
                WORKING_DIRECTORY ${OUTPUT_DIR} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write the package")
endif()
message(STATUS "Wrote ${OUTPUT_DIR}/tessary-${VERSION}.tar.gz")
