# Unpacks the MATLAB release archive into an empty folder and runs the
# stand-in driver's commands scenario on the module files it holds.
#   cmake -DARCHIVE=<zip> -DFOLDER=<folder to make> -DSUFFIX=<.mexa64 | .mexw64>
#         -DDRIVER=<standin_driver> [-DWINE=<wine64>] -P release_test.cmake
if(NOT EXISTS "${ARCHIVE}")
  message(FATAL_ERROR "no release archive: '${ARCHIVE}' (scripts/build-windows.sh writes it)")
endif()
file(REMOVE_RECURSE ${FOLDER})
file(MAKE_DIRECTORY ${FOLDER})
file(ARCHIVE_EXTRACT INPUT ${ARCHIVE} DESTINATION ${FOLDER})
file(GLOB top RELATIVE ${FOLDER} ${FOLDER}/*)
list(LENGTH top count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "the archive should hold one folder, not: ${top}")
endif()
set(unpacked ${FOLDER}/${top})
foreach(name tessary${SUFFIX} corvane${SUFFIX} tessary.m corvane.m PointCloudIndex.m gaussianGate.m gateAndCluster.m
       voxelGaussians.m registerToMap.m densityClusters.m Contents.m private/pointRows.m README.txt COPYING)
  if(NOT EXISTS ${unpacked}/${name})
    message(FATAL_ERROR "the archive holds no ${name}")
  endif()
endforeach()
set(modules ${unpacked})
if(WINE)
  set(modules Z:${unpacked})
endif()
execute_process(COMMAND ${WINE} ${DRIVER} ${modules} ${SUFFIX} - commands
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the commands scenario failed on the unpacked ${SUFFIX} files (status ${status})")
endif()
