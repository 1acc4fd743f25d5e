# Installs the build tree into a staging prefix of its own, then configures,
# builds and runs the conformance program against it through find_package.
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "command failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

if(WARNINGS_AS_ERRORS)
  set(werror ON)
else()
  set(werror OFF)
endif()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${CONFORMANCE_SOURCE_DIR} -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER} -DCMAKE_BUILD_TYPE=Release
    -DCONFORMANCE_WARNINGS_AS_ERRORS=${werror})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build -j 2)
run(${WORK_DIR}/build/conformance)
