# Cross-builds for 64-bit Windows with mingw-w64 (scripts/install_windows_deps.sh
# installs it) and runs what it builds, tests included, under Wine:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The posix thread variant of the compilers is the one with std::thread; the
# win32 variant of GCC 12 has none. Everything is linked statically so that no
# runtime DLL (libstdc++, libgcc, winpthread) has to sit beside the exe.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(QUILLARO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLARO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLARO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLARO_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${QUILLARO_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUILLARO_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# Headers and libraries come from the mingw tree only, programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLARO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(BUILD_SHARED_LIBS OFF)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# ctest and try_run start the exes through Wine. The caller chooses the prefix
# (WINEPREFIX) and keeps DISPLAY unset; WINEDEBUG=-all keeps Wine's own
# diagnostics out of the programs' output.
find_program(QUILLARO_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLARO_WINE})
