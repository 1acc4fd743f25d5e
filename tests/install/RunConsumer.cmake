# Installs the build tree into a staging prefix, checks that exactly the public
# headers were installed, then configures, builds and runs a small outside
# project against it, once through find_package and once through pkg-config.
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "command failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# Exactly the public headers are installed: the header sets of the targets,
# nothing from a detail/ folder, nothing left out.
file(GLOB_RECURSE installed RELATIVE ${prefix}/include ${prefix}/include/*)
list(SORT installed)
file(STRINGS ${EXPECTED_HEADERS} expected)
list(SORT expected)
if(NOT "${installed}" STREQUAL "${expected}")
  set(extra ${installed})
  list(REMOVE_ITEM extra ${expected})
  set(missing ${expected})
  list(REMOVE_ITEM missing ${installed})
  message(FATAL_ERROR "installed headers differ from the public ones\n  not public: ${extra}\n  missing: ${missing}")
endif()
foreach(header IN LISTS installed)
  if(header MATCHES "(^|/)detail/")
    message(FATAL_ERROR "a private header was installed: ${header}")
  endif()
endforeach()
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build -j 2)
run(${WORK_DIR}/build/consumer)

# pkg-config, where the machine has it.
find_program(PKG_CONFIG_EXECUTABLE NAMES pkg-config pkgconf)
if(PKG_CONFIG_EXECUTABLE)
  file(GLOB pcdir LIST_DIRECTORIES true ${prefix}/lib*/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "${pcdir}")
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --cflags --libs nvFiltering
    RESULT_VARIABLE rc OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know nvFiltering")
  endif()
  separate_arguments(flag_list UNIX_COMMAND "${flags}")
  file(GLOB libdir LIST_DIRECTORIES true ${prefix}/lib*)
  list(GET libdir 0 libdir)
  run(${CMAKE_CXX_COMPILER} ${CONSUMER_SOURCE_DIR}/main.cpp ${flag_list} -Wl,-rpath,${libdir}
      -o ${WORK_DIR}/consumer_pc)
  run(${WORK_DIR}/consumer_pc)
endif()
