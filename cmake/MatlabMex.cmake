# Builds the same modules for MATLAB through CMake's FindMatlab. Not tested:
# MATLAB is not available where this project is built and tested.
find_package(Matlab REQUIRED COMPONENTS MX_LIBRARY MEX_COMPILER)

function(add_mex_module name)
  matlab_add_mex(NAME ${name} MODULE SRC ${ARGN}
                 LINK_TO ${Matlab_MEX_LIBRARY} ${Matlab_MX_LIBRARY})
  set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${MEX_OUTPUT_DIR})
  if(NOT WIN32)
    target_link_options(${name} PRIVATE
                        -Wl,--version-script=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/exports.map)
  endif()
endfunction()
