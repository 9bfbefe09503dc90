# Third-party packages, all from Debian: libtclap-dev, libcli11-dev, libgsl-dev,
# libtommath-dev, nlohmann-json3-dev, libmatio-dev, libsndfile1-dev, libgtest-dev,
# libgmock-dev, libbenchmark-dev, zlib1g-dev.
find_package(Threads REQUIRED)
find_package(GSL REQUIRED)

find_path(TCLAP_INCLUDE_DIR tclap/CmdLine.h REQUIRED)
add_library(tclap INTERFACE)
target_include_directories(tclap SYSTEM INTERFACE ${TCLAP_INCLUDE_DIR})

# CLI11 (header-only) parses the command lines of iqsynth and arbtool. Debian
# ships its CMake package file, which defines the interface target CLI11::CLI11.
find_package(CLI11 2.1 CONFIG REQUIRED)

# The input formats of wavepack: SigMF metadata is JSON (nlohmann-json, header-only,
# with its CMake package file); MATLAB .mat files (versions 5 and 7.3, the latter
# through HDF5) are read with libmatio and WAV files with libsndfile, both found
# through pkg-config. The tests write .mat and WAV files with the same libraries.
find_package(nlohmann_json 3 CONFIG REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(MATIO REQUIRED IMPORTED_TARGET matio)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)

# The file name by which the loader finds a library at run time (its soname, e.g.
# libsndfile.so.1), from the development link's target: wavepack loads libmatio and
# libsndfile by these names when it meets a MATLAB or WAV file, the analysis and
# the preparation steps FFTW and PLplot when they first need them. Also the Debian
# package that holds it, for the package's dependencies (empty off Debian).
function(arbsuite_runtime_library prefix library)
  get_filename_component(real "${library}" REALPATH)
  get_filename_component(name "${real}" NAME)
  string(REGEX MATCH "^lib[^/]*\\.so\\.[0-9]+" soname "${name}")
  if(NOT soname)
    set(soname "${name}")
  endif()
  set(${prefix}_SONAME "${soname}" PARENT_SCOPE)
  set(package "")
  find_program(DPKG_QUERY dpkg-query)
  if(DPKG_QUERY)
    execute_process(COMMAND ${DPKG_QUERY} -S "${real}" OUTPUT_VARIABLE owner ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REGEX MATCH "^[^:,]+" package "${owner}")
  endif()
  set(${prefix}_PACKAGE "${package}" PARENT_SCOPE)
endfunction()
find_library(ARBSUITE_MATIO_LIBRARY NAMES matio HINTS ${MATIO_LIBRARY_DIRS} REQUIRED)
find_library(ARBSUITE_SNDFILE_LIBRARY NAMES sndfile HINTS ${SNDFILE_LIBRARY_DIRS} REQUIRED)
arbsuite_runtime_library(ARBSUITE_MATIO "${ARBSUITE_MATIO_LIBRARY}")
arbsuite_runtime_library(ARBSUITE_SNDFILE "${ARBSUITE_SNDFILE_LIBRARY}")
message(STATUS "MATLAB and WAV readers load ${ARBSUITE_MATIO_SONAME} (${ARBSUITE_MATIO_PACKAGE}) "
               "and ${ARBSUITE_SNDFILE_SONAME} (${ARBSUITE_SNDFILE_PACKAGE})")
# zlib inflates the compressed variables of v5 .mat files for their layout check.
find_package(ZLIB REQUIRED)

find_path(TOMMATH_INCLUDE_DIR tommath.h PATH_SUFFIXES libtommath REQUIRED)
find_library(TOMMATH_LIBRARY NAMES tommath REQUIRED)
add_library(tommath INTERFACE)
target_include_directories(tommath SYSTEM INTERFACE ${TOMMATH_INCLUDE_DIR})
target_link_libraries(tommath INTERFACE ${TOMMATH_LIBRARY})

if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()

# The waveform analysis of the hosts (hosts/analysis): FFTW in single precision,
# PLplot's C interface (drawn through the cairo driver, Debian plplot-driver-cairo,
# which PLplot loads itself) and nlohmann-json for the JSON it writes; the
# preparation steps (prep/): FFTW in double precision with its threads. Debian
# libfftw3-dev, libplplot-dev, nlohmann-json3-dev. Only their headers are compiled
# against: the libraries are loaded by name when a transform or a plot is first
# made (fileio's loaded_library.h), so that a join, a dump or a conversion starts
# without mapping them and the thirteen libraries behind them.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFTW3 REQUIRED fftw3)
pkg_check_modules(FFTW3F REQUIRED fftw3f)
pkg_check_modules(PLPLOT REQUIRED plplot)
find_library(ARBSUITE_FFTW3_LIBRARY NAMES fftw3 HINTS ${FFTW3_LIBRARY_DIRS} REQUIRED)
find_library(ARBSUITE_FFTW3_THREADS_LIBRARY NAMES fftw3_threads HINTS ${FFTW3_LIBRARY_DIRS}
             REQUIRED)
find_library(ARBSUITE_FFTW3F_LIBRARY NAMES fftw3f HINTS ${FFTW3F_LIBRARY_DIRS} REQUIRED)
find_library(ARBSUITE_PLPLOT_LIBRARY NAMES plplot HINTS ${PLPLOT_LIBRARY_DIRS} REQUIRED)
arbsuite_runtime_library(ARBSUITE_FFTW3 "${ARBSUITE_FFTW3_LIBRARY}")
arbsuite_runtime_library(ARBSUITE_FFTW3_THREADS "${ARBSUITE_FFTW3_THREADS_LIBRARY}")
arbsuite_runtime_library(ARBSUITE_FFTW3F "${ARBSUITE_FFTW3F_LIBRARY}")
arbsuite_runtime_library(ARBSUITE_PLPLOT "${ARBSUITE_PLPLOT_LIBRARY}")
message(STATUS "Transforms and plots load ${ARBSUITE_FFTW3_SONAME}, "
               "${ARBSUITE_FFTW3_THREADS_SONAME}, ${ARBSUITE_FFTW3F_SONAME} "
               "(${ARBSUITE_FFTW3_PACKAGE}, ${ARBSUITE_FFTW3F_PACKAGE}) and "
               "${ARBSUITE_PLPLOT_SONAME} (${ARBSUITE_PLPLOT_PACKAGE})")
find_package(nlohmann_json 3.10 REQUIRED)

# The Python module (python/): pybind11 for Debian's own Python 3 (Debian
# python3-dev, pybind11-dev; at run time python3-numpy, for the tests python3-pytest).
# The interpreter is /usr/bin/python3 unless Python3_EXECUTABLE names another: an
# interpreter earlier on PATH may lack numpy, or be of another minor version than
# Debian's python3-numpy and the /usr/lib/python3/dist-packages the package installs to.
if(BUILD_PYTHON)
  if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "Python interpreter of the module")
  endif()
  find_package(Python3 3.8 REQUIRED COMPONENTS Interpreter Development.Module)
  find_package(pybind11 2.6 CONFIG REQUIRED)
endif()
