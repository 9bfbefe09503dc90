# Fails unless the dynamic symbol table of each library and of the wavepack program
# (`nm -D --defined-only`) lists exactly the names below, libseqlink.so carries
# the RUNPATH $ORIGIN (not an RPATH) that finds libwavecrypt.so beside it, the
# libraries have their SONAMEs and links, the wavepack program, not libseqlink.so,
# holds the interrupt registry, the programs load the libraries of rarer work by name
# and no library path has an empty entry.
# Usage: cmake -DNM=nm -DREADELF=readelf -DWAVECRYPT=... -DSEQLINK=... -DIQSYNTH=...
#              -DWAVEPACK=... -DARBTOOL=... -DIQSYNTH_PROGRAM=... [-DPYTHON_MODULE=...]
#              -DSOVERSION=<major> -P check_exports.cmake

set(wavecrypt_exports AfxGetCrcU32 AfxgetRandKeyR5 EncOrDecOpt)
set(seqlink_exports crtMultiSegArb outputIQDataAndInf readArbFileAllInf readArbFileData
                    readArbFileInf readMultiSegConfig)
set(wavepack_exports AfxgetRandKeyR5 EncOrDecOpt PackuserIQdata)
# Three getters keep C++ linkage, hence their mangled names.
set(iqsynth_exports
    setAlphaBt getAlphaBt setCodingType getCodingType setDataSrc getDataSrc
    setDigiModulatingType getDigiModulatingType setFilterLengh getFilterLengh setMaxFskDev
    getMaxFskDev setMaxAskDepth getMaxAskDepth setOverSamplingRate getOverSamplingRate
    setPrbs getPrbs setSequenceLenth getSequenceLenth setShapingFilterType
    getShapingFilterType setSymbolRate getSymbolRate setUsrListSize getUsrListSize
    setWorkingMode getWorkingMode setDataFormatIsHex isDataFormatIsHex
    setFskPhaseCorrectEnable isFskPhaseCorrectEnable setPowerRampEnable setPowerRampFunc
    setPowerRampTime setPowerRampItem setSigAddNoiseIsEnable setNoiseSampleRate
    setNoiseSeqLength setNoiseSystemBandwidth setBandWidthRatio setNoiseCNR
    setMccwCarrierItem setMccwCarrierSpacing setMccwOptCrestFactorEn
    setMccwOptCrestFactorMode setInstallPath setDataFileList setCtrlFileList
    setIqFilePathName setTmpFilePathName setUsrList setShapingFilterCoef
    setPowerRampStartSymbol setPowerRampAttenuation setMccwCarrierSAmp setMccwCarrierPhase
    setMccwCarrierEn setUsrModulatingSymbolItem setUsrModulatingConstelMap getFilterTap
    getFilterCoef getSymbolMap getConstelMap getUserList getNoiseBandWidth getNoiseLvlSysBW
    getNoiseLvlTotalBW getSigLvlPep getCarrierLvldB getSigLvldB getMccwCarrierSample
    getMccwCarrierSampleFreq getMaxFilterLen getMaxOsr getMaxUsrListSize
    runMccwCarrierParamGen runIqSynth _Z17isPowerRampEnablev _Z16getPowerRampFuncv
    _Z16getPowerRampTimev gIqSynthCfg iMapDat qMapDat mapDat edge8PSKRotSin edge8PSKRotCos
)

set(failures "")
function(check_exports file expected_var)
  execute_process(COMMAND ${NM} -D --defined-only ${file}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${file}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${listing}")
  set(names)
  foreach(line ${lines})
    string(REGEX REPLACE "^.* " "" name "${line}")
    # Copy relocations of library data (std::cout@GLIBCXX_3.4 in a program),
    # version definitions and the data a sanitizer runtime places in a program
    # (__asan_*, __ubsan_*) are not symbols of ours.
    if(NOT name MATCHES "@" AND NOT line MATCHES " A " AND NOT name MATCHES "^__(a|ub|l)san_")
      list(APPEND names ${name})
    endif()
  endforeach()
  list(SORT names)
  set(expected ${${expected_var}})
  list(SORT expected)
  if(NOT names STREQUAL expected)
    set(missing ${expected})
    list(REMOVE_ITEM missing ${names})
    set(extra ${names})
    list(REMOVE_ITEM extra ${expected})
    set(failures "${failures}\n${file}: missing '${missing}', unexpected '${extra}'" PARENT_SCOPE)
  else()
    list(LENGTH names count)
    message(STATUS "${file}: ${count} exports as reviewed")
  endif()
endfunction()

check_exports(${WAVECRYPT} wavecrypt_exports)
check_exports(${SEQLINK} seqlink_exports)
check_exports(${IQSYNTH} iqsynth_exports)
check_exports(${WAVEPACK} wavepack_exports)

execute_process(COMMAND ${READELF} -d ${SEQLINK} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${SEQLINK}")
endif()
if(NOT dynamic MATCHES "\\(RUNPATH\\)[^\n]*\\[\\$ORIGIN\\]")
  set(failures "${failures}\n${SEQLINK} lacks RUNPATH [$ORIGIN]")
endif()
if(dynamic MATCHES "\\(RPATH\\)")
  set(failures "${failures}\n${SEQLINK} has an RPATH")
endif()

# wavepack loads libmatio and libsndfile only when it reads a MATLAB or WAV file, the
# programs FFTW and PLplot only for a transform or a plot: none of them is among the
# libraries every start maps. No RUNPATH has an empty entry, which the loader reads as
# the working folder (a library put there would be loaded in place of the real one).
foreach(program ${WAVEPACK} ${ARBTOOL} ${IQSYNTH_PROGRAM})
  execute_process(COMMAND ${READELF} -d ${program} OUTPUT_VARIABLE dynamic)
  foreach(loaded libmatio libsndfile libfftw3 libfftw3f libfftw3_threads libplplot libplplotcxx)
    if(dynamic MATCHES "\\(NEEDED\\)[^\n]*\\[${loaded}\\.")
      set(failures "${failures}\n${program} links ${loaded} instead of loading it when needed")
    endif()
  endforeach()
endforeach()
foreach(file ${WAVEPACK} ${ARBTOOL} ${IQSYNTH_PROGRAM} ${WAVECRYPT} ${SEQLINK} ${IQSYNTH}
             ${PYTHON_MODULE})
  execute_process(COMMAND ${READELF} -d ${file} OUTPUT_VARIABLE dynamic)
  if(dynamic MATCHES "\\((RUNPATH|RPATH)\\)[^\n]*\\[(:|[^]]*::|[^]]*:\\])")
    set(failures "${failures}\n${file} has an empty entry in its library path")
  endif()
endforeach()

# Each library carries the SONAME of the project's major version, and both links
# (lib<name>.so.<major> and the unversioned lib<name>.so, which seqlink and iqsynth
# load by name) stand beside it and lead to it.
foreach(library ${WAVECRYPT} ${SEQLINK} ${IQSYNTH})
  get_filename_component(folder ${library} DIRECTORY)
  get_filename_component(file ${library} NAME)
  string(REGEX REPLACE "\\.so\\..*$" ".so" unversioned "${file}")
  execute_process(COMMAND ${READELF} -d ${library} OUTPUT_VARIABLE dynamic)
  if(NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[${unversioned}\\.${SOVERSION}\\]")
    set(failures "${failures}\n${library} lacks the SONAME ${unversioned}.${SOVERSION}")
  endif()
  foreach(link ${unversioned}.${SOVERSION} ${unversioned})
    get_filename_component(target ${folder}/${link} REALPATH)
    if(NOT target STREQUAL library)
      set(failures "${failures}\n${folder}/${link} does not lead to ${file}")
    endif()
  endforeach()
endforeach()

# One interrupt registry in a process, in the program that installs the handlers:
# libseqlink.so compiles in fileio without it (no slot table, no handler, no
# installInterruptCleanup among its own symbols), the wavepack program with it.
# Read from the full symbol table; a stripped file has none to read.
set(registry_symbols "installInterruptCleanup|removeRegisteredAndDie|gSlots")
foreach(check "${SEQLINK};without" "${WAVEPACK};with")
  list(GET check 0 file)
  list(GET check 1 expectation)
  execute_process(COMMAND ${NM} -C ${file} OUTPUT_VARIABLE symbols ERROR_VARIABLE nm_errors
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR symbols STREQUAL "")
    message(STATUS "${file}: no symbol table, its interrupt registry not checked")
  elseif(expectation STREQUAL "without" AND symbols MATCHES "${registry_symbols}")
    set(failures "${failures}\n${file} holds the interrupt registry (${CMAKE_MATCH_0})")
  elseif(expectation STREQUAL "with" AND NOT symbols MATCHES "removeRegisteredAndDie")
    set(failures "${failures}\n${file} lacks the interrupt registry")
  else()
    message(STATUS "${file}: ${expectation} the interrupt registry")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "export check failed:${failures}")
endif()
