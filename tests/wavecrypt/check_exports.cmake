# Fails unless `nm -D --defined-only` lists exactly the three exported functions
# of libwavecrypt.so. Usage: cmake -DNM=nm -DLIBRARY=libwavecrypt.so -P check_exports.cmake
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
set(expected AfxGetCrcU32 AfxgetRandKeyR5 EncOrDecOpt)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports of ${LIBRARY}: '${names}', expected '${expected}'")
endif()
message(STATUS "exports: ${names}")
