# Helpers every folder uses to declare its libraries, tests and fuzz targets.
#
# The build has two flavours:
#   - Windows (mingw-w64 cross build, TLM_WINDOWS): every target; tests run under Wine.
#   - native  (host clang with ASan/UBSan): only the portable core, its tests and fuzz targets.
# A folder declares portable code with tlm_portable_library and guards the rest with
# if(TLM_WINDOWS).

include(GoogleTest)

# tlm_portable_library(NAME SOURCES... [LIBS ...])
# Code that includes no windows.h. Built in both flavours.
function(tlm_portable_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC tlm_options ${ARG_LIBS})
  if(TLM_FUZZ)
    # Fuzz targets get coverage feedback from the code under test, not only from their own.
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# tlm_windows_library(NAME SOURCES... [LIBS ...])
# Code that calls the Windows API. Built in the Windows flavour only; does nothing natively.
function(tlm_windows_library name)
  if(NOT TLM_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC tlm_options ${ARG_LIBS})
endfunction()

# tlm_add_test(NAME LABELS label... SOURCES file... [LIBS lib...] [WINDOWS_ONLY]
#              [PROPERTIES prop value...])
# One GoogleTest program; every TEST becomes a CTest test carrying the labels. Under Wine each
# program runs in a prefix of its own, and the tests of one program never run at the same time,
# since they share that prefix's registry and services.
function(tlm_add_test name)
  cmake_parse_arguments(ARG "WINDOWS_ONLY" "" "LABELS;SOURCES;LIBS;PROPERTIES" ${ARGN})
  if(ARG_WINDOWS_ONLY AND NOT TLM_WINDOWS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE tlm_options ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  set(props LABELS "${ARG_LABELS}")
  if(TLM_WINDOWS)
    list(APPEND props RESOURCE_LOCK "wine-${name}" FIXTURES_REQUIRED wine)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    # a fresh Wine prefix on a busy machine can take minutes to list the tests
    DISCOVERY_TIMEOUT 600
    PROPERTIES ${props} ${ARG_PROPERTIES})
endfunction()

# tlm_add_fuzz(NAME SOURCES file... [LIBS lib...] CORPUS dir [RUNS n])
# A libFuzzer entry point (LLVMFuzzerTestOneInput). With clang (TLM_FUZZ) it is a real fuzzer
# and `make test` runs it for RUNS iterations from its seed corpus; otherwise the same entry
# point replays the corpus once, so every flavour checks the seeds.
function(tlm_add_fuzz name)
  cmake_parse_arguments(ARG "" "CORPUS;RUNS" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_RUNS)
    set(ARG_RUNS 20000)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE tlm_options ${ARG_LIBS})
  set(labels fuzz ${ARG_LABELS})
  if(TLM_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
    add_test(NAME ${name}
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
              ${CMAKE_SOURCE_DIR}/scripts/run-fuzz.sh $<TARGET_FILE:${name}> ${ARG_CORPUS} ${work} ${ARG_RUNS})
  else()
    target_sources(${name} PRIVATE ${TLM_SOURCE_DIR}/cmake/fuzz_replay_main.cpp)
    add_test(NAME ${name} COMMAND ${name} ${ARG_CORPUS})
    if(TLM_WINDOWS)
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "wine-${name}" FIXTURES_REQUIRED wine)
    endif()
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT 600)
endfunction()

# tlm_windows_dll(NAME DEF file.def SOURCES file... [LIBS lib...])
# A Windows DLL named NAME.dll (no "lib" prefix) whose exports, names and ordinals, are exactly
# those of the .def file. Built in the Windows flavour only.
function(tlm_windows_dll name)
  if(NOT TLM_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "DEF" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS} ${ARG_DEF})
  set_target_properties(${name} PROPERTIES PREFIX "" IMPORT_PREFIX "" LINK_DEPENDS ${ARG_DEF})
  target_link_libraries(${name} PRIVATE tlm_options ${ARG_LIBS})
endfunction()
