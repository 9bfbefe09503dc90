# Builds and runs the consumer programs against the installed suite in PREFIX, in
# the scratch folder WORK: MODE find_package configures tests/consumer with
# CMAKE_PREFIX_PATH, MODE pkg-config compiles consumer.c with the flags of
# `pkg-config --cflags --libs wavecrypt seqlink iqsynth`. Each program reads an
# .arb file that the installed wavepack makes from the example CSV.
# Usage: cmake -DMODE=... -DPREFIX=... -DLIBDIR=... -DWORK=... -DSOURCE=... -DEXAMPLE=...
#              -DCC=... -DCXX=... -DFLAGS=... [-DRUN_LIBRARY_PATH=...] -P run_consumers.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run_step)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "${ARGN}\n${out}${err}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}")
  endif()
endfunction()

run_step(${PREFIX}/bin/wavepack -d ${EXAMPLE} -f 10MHz -o ${WORK}/example.arb)
# One pair per line of numbers (the first line names the columns).
file(STRINGS ${EXAMPLE} lines REGEX "^[-+0-9.]")
list(LENGTH lines pairs)

# Sanitizer builds: the programs are instrumented like the libraries, and the
# preloaded runtime hides libseqlink's RUNPATH, so the library folder is named.
set(run_environment)
if(RUN_LIBRARY_PATH)
  set(run_environment ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${RUN_LIBRARY_PATH})
endif()
set(quiet ${CMAKE_COMMAND} -E env IQSYNTH_RUN_LOG= IQSYNTH_STDOUT=0)

if(MODE STREQUAL "find_package")
  run_step(${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -DCMAKE_PREFIX_PATH=${PREFIX}
           -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_C_FLAGS=${FLAGS}"
           "-DCMAKE_CXX_FLAGS=${FLAGS}")
  run_step(${CMAKE_COMMAND} --build ${WORK}/build)
  foreach(program consumer_c consumer_cpp)
    run_step(${quiet} ${run_environment} ${WORK}/build/${program} ${WORK}/example.arb ${pairs})
  endforeach()
else()
  set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
  execute_process(COMMAND pkg-config --cflags --libs wavecrypt seqlink iqsynth
                  OUTPUT_VARIABLE flags RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know the suite's libraries")
  endif()
  execute_process(COMMAND pkg-config --variable=libdir seqlink
                  OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  separate_arguments(extra UNIX_COMMAND "${FLAGS}")
  run_step(${CC} ${extra} ${SOURCE}/consumer.c -o ${WORK}/consumer_pc ${flags})
  # pkg-config gives no run path: the program finds the libraries as any program
  # outside the loader's default folders does.
  run_step(${quiet} LD_LIBRARY_PATH=${libdir} ${WORK}/consumer_pc ${WORK}/example.arb ${pairs})
endif()
