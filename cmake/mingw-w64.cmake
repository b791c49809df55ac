# Cross-builds moltravytext for 64-bit Windows with Debian's mingw-w64, its
# posix-threads flavour, and runs what it builds (the glyph drawer, the
# tests) under wine64:
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#       -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-win --target package
#
# Needs g++-mingw-w64-x86-64-posix and wine64 (scripts/setup windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# stb is headers only, the same for every system.
set(STB_INCLUDE_DIR /usr/include/stb CACHE PATH "The stb headers")
# Debian's wine64 lives outside PATH unless the wine package is installed
# too; its messages about what it does not implement are kept quiet.
if(EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all wine64)
endif()
