# What other programs use the installed suite through: the CMake package
# (find_package(arbsuite)), and the Debian package that `cpack -G DEB` makes in
# the build folder from everything `cmake --install` installs.
include(CMakePackageConfigHelpers)

set(ARBSUITE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/arbsuite)
install(EXPORT arbsuiteTargets NAMESPACE arbsuite:: DESTINATION ${ARBSUITE_CMAKE_DIR})
configure_package_config_file(cmake/arbsuiteConfig.cmake.in
  ${PROJECT_BINARY_DIR}/arbsuiteConfig.cmake INSTALL_DESTINATION ${ARBSUITE_CMAKE_DIR})
# A program built against 1.x runs with any later 1.x: the SONAMEs carry the major version.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/arbsuiteConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/arbsuiteConfig.cmake
              ${PROJECT_BINARY_DIR}/arbsuiteConfigVersion.cmake
        DESTINATION ${ARBSUITE_CMAKE_DIR})

# One package "arbsuite" for /usr with the programs, the libraries (with their
# unversioned links, which the suite loads at run time), headers, CMake and
# pkg-config files, the Python module and the manual pages. dpkg-shlibdeps finds
# the Debian libraries the binaries link; the packages loaded at run time or by
# Python are listed here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME arbsuite)
set(CPACK_PACKAGE_VENDOR "arbsuite developers")
set(CPACK_PACKAGE_CONTACT "arbsuite developers <arbsuite@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "waveform preparation for arbitrary-waveform and vector signal generators")
set(CPACK_PACKAGE_DESCRIPTION
    "Converts IQ data into the instrument's encrypted .arb waveform files (wavepack),
synthesises digitally modulated baseband signals (iqsynth, libiqsynth), reads,
measures, plots and joins .arb files (arbtool, libseqlink), with the crypto
library libwavecrypt, their headers, CMake and pkg-config files, and the Python
module arbsuite (numpy).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The suite's own libraries, for dpkg-shlibdeps (it looks for them in the package).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
# PLplot draws through its cairo driver, loaded at run time; the Python module is
# built for one Python minor version and returns numpy arrays.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "plplot-driver-cairo")
# wavepack loads libmatio and libsndfile by name when it reads a MATLAB or WAV file,
# the programs and the Python module FFTW and PLplot for a transform or a plot:
# dpkg-shlibdeps sees none of them.
set(loaded_packages ${ARBSUITE_MATIO_PACKAGE} ${ARBSUITE_SNDFILE_PACKAGE}
    ${ARBSUITE_FFTW3_PACKAGE} ${ARBSUITE_FFTW3_THREADS_PACKAGE} ${ARBSUITE_FFTW3F_PACKAGE}
    ${ARBSUITE_PLPLOT_PACKAGE})
list(REMOVE_DUPLICATES loaded_packages)
foreach(package IN LISTS loaded_packages)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${package}")
endforeach()
if(BUILD_PYTHON)
  math(EXPR next_minor "${Python3_VERSION_MINOR} + 1")
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})"
         ", python3 (<< ${Python3_VERSION_MAJOR}.${next_minor}), python3-numpy")
endif()
include(CPack)
