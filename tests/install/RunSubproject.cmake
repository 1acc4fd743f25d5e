# Configures, builds and runs the parent project of subproject/ in a scratch
# folder, with a build type and flags of its own.
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "command failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/subproject -B ${WORK_DIR}
    -DNVF_SOURCE_DIR=${SOURCE_DIR} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
    -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=-DNVF_PARENT_FLAG=1")
run(${CMAKE_COMMAND} --build ${WORK_DIR} -j 2)
run(${WORK_DIR}/consumer)
