# Compiler flags shared by every target of the suite.
add_compile_options(-Wall -Wextra)
if(WARNINGS_AS_ERRORS)
  add_compile_options(-Werror)
endif()

if(ENABLE_SANITIZERS)
  set(ARBSUITE_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                               -fno-omit-frame-pointer)
  add_compile_options(${ARBSUITE_SANITIZER_FLAGS})
  add_link_options(${ARBSUITE_SANITIZER_FLAGS})
endif()

# Every shared library is installed side by side in lib/ and finds its siblings there.
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

# Limits a shared library's dynamic symbol table to the names in a version script.
function(arbsuite_export_map target map_file)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${map_file}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map_file})
endfunction()
