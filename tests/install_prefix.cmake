# Installs the build tree into a fresh prefix, as a user's `cmake --install` would,
# for the tests of the installed suite (the Python module, the C and C++ consumers).
# Usage: cmake -DBUILD=<build folder> -DPREFIX=<folder> -P install_prefix.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD} --prefix ${PREFIX} failed")
endif()
