# Compiles and links moltravytext for macOS with zig 0.11, whose clang
# brings macOS's headers and libSystem stubs (Debian has no macOS SDK).
# Nothing built here can run on this machine: it shows that the program
# builds for macOS, as a Mac would build it.
#
#   cmake -S . -B build-macos -DCMAKE_TOOLCHAIN_FILE=cmake/zig-macos.cmake \
#       -DZIG=/path/to/zig -DZIGTARGET=aarch64-macos -DMOLTRAVYTEXT_TESTS=OFF
#   cmake --build build-macos --target moltravytext
#
# ZIGTARGET is x86_64-macos or aarch64-macos; scripts/test installs zig
# from the npm registry, pinned by scripts/macos/package-lock.json.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIG ZIGTARGET)
set(CMAKE_SYSTEM_NAME Darwin)
if(ZIGTARGET MATCHES "^aarch64")
  set(CMAKE_SYSTEM_PROCESSOR arm64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()
set(CMAKE_CXX_COMPILER ${ZIG})
set(CMAKE_CXX_COMPILER_ARG1 "c++ -target ${ZIGTARGET}")
set(CMAKE_OSX_SYSROOT "" CACHE PATH "zig brings its own")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# stb is headers only, the same for every system.
set(STB_INCLUDE_DIR /usr/include/stb CACHE PATH "The stb headers")
# zig's linker takes no -v, so CMake cannot learn the pointer size from it;
# the one thing here that asks is the library folder's default.
set(CMAKE_INSTALL_LIBDIR lib CACHE PATH "Object code libraries")
