# Cross-compiles 32-bit Windows executables with mingw-w64. The posix thread
# model gives std::thread and friends; the runtime is linked statically so a
# built .exe runs without any mingw DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KOV_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KOV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KOV_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KOV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and tools run under Wine, in a prefix private to this build folder so
# they never touch (or depend on) the user's own ~/.wine.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;--prefix=${CMAKE_BINARY_DIR}/wineprefix")
