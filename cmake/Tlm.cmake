# Helpers every folder uses to declare its libraries, tests and fuzz targets.
#
# The build has two flavours:
#   - Windows (mingw-w64 cross build, TLM_WINDOWS): every target; tests run under Wine.
#   - native  (host clang with ASan/UBSan): only the portable core, its tests and fuzz targets.
# A folder declares portable code with tlm_portable_library and guards the rest with
# if(TLM_WINDOWS).

# Test code of the Windows flavour is built lightly optimised and without debug information: a
# test source costs under half the compile time it would at the product's -O2 -g, its object a
# tenth of the size to link, and GoogleTest names a failure's file and line without either. The
# product code the tests link stays as it ships.
set(TLM_TEST_COMPILE_OPTIONS -Og -g0)

# tlm_test_code(NAME...): targets that hold only test code (test programs, their support
# libraries and fakes).
function(tlm_test_code)
  if(TLM_WINDOWS)
    foreach(name IN LISTS ARGN)
      target_compile_options(${name} PRIVATE ${TLM_TEST_COMPILE_OPTIONS})
    endforeach()
  endif()
endfunction()

# Precompiled headers of the Windows flavour. Parsing windows.h, GoogleTest and the standard
# library is most of a small file's compile time under mingw-w64, so each set is compiled once, by
# a target of its own, and reused by every target of its kind (same flags, so the header is valid
# for all; a target whose flags differ falls back to parsing the headers).
set(TLM_PCH_STD <algorithm> <atomic> <cstdint> <cstdio> <cstring> <functional> <map> <memory>
    <mutex> <string> <vector>)
function(tlm_pch_target name)
  cmake_parse_arguments(ARG "" "" "HEADERS;LIBS" ${ARGN})
  file(WRITE ${CMAKE_BINARY_DIR}/${name}.cpp "// The precompiled header's own translation unit.\n")
  add_library(${name} STATIC ${CMAKE_BINARY_DIR}/${name}.cpp)
  target_link_libraries(${name} PRIVATE tlm_options ${ARG_LIBS})
  target_precompile_headers(${name} PRIVATE ${ARG_HEADERS})
endfunction()

if(TLM_WINDOWS)
  # The test programs' set: windows.h, GoogleTest and the standard library.
  tlm_pch_target(tlm_test_pch HEADERS <windows.h> <gtest/gtest.h> ${TLM_PCH_STD}
    LIBS GTest::gtest)
  target_compile_options(tlm_test_pch PRIVATE ${TLM_TEST_COMPILE_OPTIONS})
  # The Windows libraries' set: windows.h and the standard library.
  tlm_pch_target(tlm_windows_pch HEADERS <windows.h> ${TLM_PCH_STD})
endif()

# Code inlined from the C and C++ library headers (char_traits.h, wchar.h) is no longer treated as
# system code once those headers come from a precompiled header, and GCC 12 then reports its known
# false positives of these checks there. They stay on for the native build and every target
# without a precompiled header.
set(TLM_PCH_WARNINGS -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread)

function(tlm_use_test_pch name)
  if(TLM_WINDOWS)
    target_precompile_headers(${name} REUSE_FROM tlm_test_pch)
    target_compile_options(${name} PRIVATE ${TLM_PCH_WARNINGS})
  endif()
endfunction()

function(tlm_use_windows_pch name)
  target_precompile_headers(${name} REUSE_FROM tlm_windows_pch)
  target_compile_options(${name} PRIVATE ${TLM_PCH_WARNINGS})
endfunction()

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
  tlm_use_windows_pch(${name})
endfunction()

# tlm_add_test(NAME LABELS label... SOURCES file... [LIBS lib...] [WINDOWS_ONLY]
#              [PROPERTIES prop value...])
# One GoogleTest program, registered as one CTest test carrying the labels: the program runs all
# its cases in one process and GoogleTest names each case that fails in the test's output
# (`ctest -R NAME --output-on-failure`, or the program itself with --gtest_filter for one case).
# Nothing is listed before the run. Under Wine each program runs in a prefix of its own, whose
# Wine environment ends with the program (the emulator is scripts/wine-run.sh --end), so no more
# environments are alive than CTest runs tests.
function(tlm_add_test name)
  cmake_parse_arguments(ARG "WINDOWS_ONLY" "" "LABELS;SOURCES;LIBS;PROPERTIES" ${ARGN})
  if(ARG_WINDOWS_ONLY AND NOT TLM_WINDOWS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE tlm_options ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  tlm_use_test_pch(${name})
  tlm_test_code(${name})
  add_test(NAME ${name} COMMAND ${name})
  if(TLM_WINDOWS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "wine-${name}" FIXTURES_REQUIRED wine)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" ${ARG_PROPERTIES})
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

# tlm_split_debug(TARGET)
# The debug information of a program or DLL that ships goes to a file of its own beside it,
# TARGET's file name + ".debug", which the binary names in its .gnu_debuglink section for a
# debugger. The binary keeps no debug sections: Wine reads every section of an image into memory
# when it loads it, and the DWARF sections were most of the service's resident set (and of the
# package). Windows flavour only.
function(tlm_split_debug target)
  if(NOT TLM_WINDOWS OR NOT CMAKE_OBJCOPY)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-debug --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
            $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
