# Makes the Debian package of a build with cpack and checks its file list
# (dpkg-deb -c) and its dependencies (dpkg-deb -f): the programs, the libraries
# with their SONAME links and unversioned names, the headers, the CMake and
# pkg-config files, the Python module and the manual pages, all under /usr.
# Usage: cmake -DBUILD=<build> -DOUT=<folder> -DLIBDIR=<libdir> -DPYTHON_DIR=<dir>
#              -DVERSION=<project version> -DWITH_PYTHON=ON|OFF -P check_package.cmake
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND cpack -G DEB --config ${BUILD}/CPackConfig.cmake -B ${OUT}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${out}${err}")
endif()
file(GLOB packages ${OUT}/arbsuite_*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} arbsuite_*.deb files in ${OUT}:\n${out}")
endif()
execute_process(COMMAND dpkg-deb -c ${packages} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
execute_process(COMMAND dpkg-deb -f ${packages} Package Version Depends
                OUTPUT_VARIABLE fields)
message(STATUS "${packages}\n${fields}${listing}")

set(lib ./usr/${LIBDIR})
set(expected ./usr/bin/wavepack ./usr/bin/iqsynth ./usr/bin/arbtool
    ./usr/include/wavecrypt.h ./usr/include/seqlink.h ./usr/include/iqsynth.h
    ./usr/include/wavepack.h
    ${lib}/cmake/arbsuite/arbsuiteConfig.cmake ${lib}/cmake/arbsuite/arbsuiteConfigVersion.cmake
    ${lib}/cmake/arbsuite/arbsuiteTargets.cmake
    ./usr/share/man/man1/wavepack.1.gz ./usr/share/man/man1/iqsynth.1.gz
    ./usr/share/man/man1/arbtool.1.gz)
string(REGEX MATCH "^[0-9]+" major "${VERSION}")
foreach(library wavecrypt seqlink iqsynth)
  list(APPEND expected ${lib}/lib${library}.so.${VERSION} "${lib}/lib${library}.so.${major} -> "
       "${lib}/lib${library}.so -> " ${lib}/pkgconfig/${library}.pc)
endforeach()
set(missing)
foreach(entry ${expected})
  string(FIND "${listing}" " ${entry}" at)
  if(at EQUAL -1)
    list(APPEND missing "${entry}")
  endif()
endforeach()
if(WITH_PYTHON AND NOT listing MATCHES " \\./usr/${PYTHON_DIR}/arbsuite\\.cpython-[^ \n]*\\.so\n")
  list(APPEND missing "./usr/${PYTHON_DIR}/arbsuite.cpython-*.so")
endif()
# dpkg-shlibdeps found the Debian libraries the binaries link.
# libmatio, libsndfile, FFTW and PLplot, which the programs load by name, are listed
# by hand.
foreach(dependency libc6 libgsl libstdc\\+\\+6 plplot-driver-cairo libmatio libsndfile
                   libfftw3-double libfftw3-single libplplot)
  if(NOT fields MATCHES "Depends:.*${dependency}")
    list(APPEND missing "dependency ${dependency}")
  endif()
endforeach()
if(WITH_PYTHON AND NOT fields MATCHES "python3-numpy")
  list(APPEND missing "dependency python3-numpy")
endif()
if(missing)
  message(FATAL_ERROR "the package lacks: ${missing}")
endif()
