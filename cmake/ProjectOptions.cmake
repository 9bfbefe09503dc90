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
