# The two shapes every component takes: an OBJECT library <component>_core holding
# its sources, and, for the three deliverable libraries, a shared library made from
# it with a reviewed export list.

# arbsuite_add_core(<name> SOURCES src... [BUILDING <MACRO>] [LINK lib...])
# An OBJECT library of the sources. Its include/ folder (where the component has
# one) is public; its src/ folder is private (the component's own tests and benchmarks add it themselves).
# BUILDING names the macro that switches the component's export macro on: it is set
# privately, so only the component's own objects carry default visibility.
function(arbsuite_add_core name)
  cmake_parse_arguments(ARG "" "BUILDING" "SOURCES;LINK" ${ARGN})
  add_library(${name} OBJECT ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>)
  endif()
  if(ARG_BUILDING)
    target_compile_definitions(${name} PRIVATE ${ARG_BUILDING})
  endif()
  if(ARG_LINK)
    target_link_libraries(${name} PUBLIC ${ARG_LINK})
  endif()
  if(BUILD_FUZZERS AND CMAKE_CXX_COMPILER_ID MATCHES Clang)
    # Coverage feedback for the libFuzzer targets of the tests.
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# arbsuite_add_shared_library(<name> CORES core... VERSION_SCRIPT file HEADERS h...
#                             DESCRIPTION text [LINK lib...] [RUNPATH_ORIGIN])
# The shared library lib<name>.so from the objects of CORES, as the target lib<name>
# (a library's target says so by its name; a program's is the program's file name). The linker version
# script (ending in "local: *;") is its whole export list. RUNPATH_ORIGIN makes it
# find sibling libraries in its own folder, in the build tree and installed.
# The file is lib<name>.so.<version> with the SONAME lib<name>.so.<major>; both
# links, lib<name>.so.<major> and lib<name>.so, stand beside it in the build tree
# and installed (lib<name>.so belongs to the runtime: seqlink and iqsynth load
# libwavecrypt.so and libiqsynth.so by those names). Installed, the library is the
# target arbsuite::<name> of the CMake package and has a pkg-config file <name>.pc
# (DESCRIPTION is its description).
function(arbsuite_add_shared_library name)
  cmake_parse_arguments(ARG "RUNPATH_ORIGIN" "VERSION_SCRIPT;DESCRIPTION" "CORES;HEADERS;LINK"
                        ${ARGN})
  set(library lib${name})
  add_library(${library} SHARED)
  add_library(arbsuite::${name} ALIAS ${library})
  set_target_properties(${library} PROPERTIES OUTPUT_NAME ${name}
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} EXPORT_NAME ${name})
  target_link_libraries(${library} PRIVATE ${ARG_CORES} ${ARG_LINK})
  target_include_directories(${library} INTERFACE
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_options(${library} PRIVATE "LINKER:--version-script=${ARG_VERSION_SCRIPT}")
  set_property(TARGET ${library} APPEND PROPERTY LINK_DEPENDS ${ARG_VERSION_SCRIPT})
  if(ARG_RUNPATH_ORIGIN)
    # The build tree uses the install RUNPATH as it is (no padding, no link folders);
    # new dtags make it a RUNPATH rather than an RPATH.
    set_target_properties(${library} PROPERTIES
      BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN" BUILD_WITH_INSTALL_RPATH ON)
    target_link_options(${library} PRIVATE "LINKER:--enable-new-dtags")
  endif()
  install(TARGETS ${library} EXPORT arbsuiteTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${ARG_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  arbsuite_add_pkg_config(${name} "${ARG_DESCRIPTION}")
endfunction()

# arbsuite_add_pkg_config(<name> description)
# <build>/pkgconfig/<name>.pc for the library lib<name>.so, installed into
# <libdir>/pkgconfig with paths relative to the installation (${pcfiledir}), so
# that a moved prefix or a DESTDIR staging still gives the right folders.
function(arbsuite_add_pkg_config name description)
  file(RELATIVE_PATH to_prefix "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
  string(REGEX REPLACE "/$" "" to_prefix "${to_prefix}")
  set(PC_NAME ${name})
  set(PC_DESCRIPTION "${description}")
  set(PC_PREFIX "\${pcfiledir}/${to_prefix}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in
                 ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

# arbsuite_add_program(<name> SOURCES src... [OUTPUT_NAME file] [LINK lib...])
# A program of bin/ that finds the suite's libraries in ../lib, in the build tree
# (which has the installed layout) and installed.
function(arbsuite_add_program name)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINK})
  target_compile_definitions(${name} PRIVATE ARBSUITE_VERSION="${PROJECT_VERSION}")
  set_target_properties(${name} PROPERTIES
    BUILD_RPATH "$ORIGIN/../lib"
    INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  # Where the two are the same, the program is built with the RUNPATH it is installed
  # with: a build RUNPATH that the install rewrites, CMake pads with an empty entry
  # ("$ORIGIN/../lib:"), which the loader reads as the working folder, so a program
  # of the build tree would look there first for every library it loads.
  if(CMAKE_INSTALL_LIBDIR STREQUAL "lib")
    set_target_properties(${name} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
  endif()
  if(ARG_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
