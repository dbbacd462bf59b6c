# Cross-compiles real Windows x64 binaries with mingw-w64 (POSIX thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TLM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${TLM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TLM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TLM_MINGW_PREFIX}-windres)
set(CMAKE_MC_COMPILER  ${TLM_MINGW_PREFIX}-windmc)
set(CMAKE_OBJDUMP      ${TLM_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TLM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything the binaries need beside Windows' own DLLs is linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Every Windows program the build makes is run through Wine, in the build tree's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
