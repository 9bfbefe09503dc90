# Fails unless libseqlink.so exports exactly its six functions and carries the
# RUNPATH $ORIGIN (not an RPATH), so that libwavecrypt.so is found beside it.
# Usage: cmake -DNM=nm -DREADELF=readelf -DLIBRARY=libseqlink.so -P check_library.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names)
foreach(line ${lines})
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected crtMultiSegArb outputIQDataAndInf readArbFileAllInf readArbFileData readArbFileInf
             readMultiSegConfig)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports of ${LIBRARY}: '${names}', expected '${expected}'")
endif()

execute_process(COMMAND ${READELF} -d ${LIBRARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${LIBRARY}")
endif()
if(NOT dynamic MATCHES "\\(RUNPATH\\)[^\n]*\\[\\$ORIGIN\\]")
  message(FATAL_ERROR "${LIBRARY} lacks RUNPATH [$ORIGIN]:\n${dynamic}")
endif()
if(dynamic MATCHES "\\(RPATH\\)")
  message(FATAL_ERROR "${LIBRARY} has an RPATH:\n${dynamic}")
endif()
message(STATUS "exports: ${names}; RUNPATH $ORIGIN")
