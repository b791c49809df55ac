# Cross-builds moltravytext for another Linux machine with Debian's own
# cross-compilers, for a Debian package of that architecture, and runs what
# it builds (the glyph drawer, the tests) under qemu-user:
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/debian-cross.cmake \
#       -DDEBARCH=arm64 -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-arm64 --target package
#
# DEBARCH is arm64 (64-bit ARM boards, a Raspberry Pi 3 or later on a 64-bit
# system) or armhf (32-bit ARM with a hardware float unit). Needs
# crossbuild-essential-<arch>, qemu-user, and the target's own libraries
# from Debian's multiarch packages (dpkg --add-architecture <arch>, then
# libc6:<arch> libstdc++6:<arch> zlib1g-dev:<arch>), where qemu finds them without being told
# (its -L would break the programs the tests fork) and dpkg-shlibdeps finds
# them for the package's dependencies.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DEBARCH)
set(CMAKE_SYSTEM_NAME Linux)
if(DEBARCH STREQUAL "arm64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(triplet aarch64-linux-gnu)
  set(qemu qemu-aarch64)
elseif(DEBARCH STREQUAL "armhf")
  set(CMAKE_SYSTEM_PROCESSOR armv7l)
  set(triplet arm-linux-gnueabihf)
  set(qemu qemu-arm)
else()
  message(FATAL_ERROR "DEBARCH must be arm64 or armhf")
endif()
set(CMAKE_C_COMPILER ${triplet}-gcc)
set(CMAKE_CXX_COMPILER ${triplet}-g++)
set(CMAKE_STRIP /usr/bin/${triplet}-strip)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/${qemu})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${DEBARCH})
# stb is headers only, the same for every system; zlib is Debian's
# multiarch package zlib1g-dev:<arch>, whose headers are every machine's.
set(STB_INCLUDE_DIR /usr/include/stb CACHE PATH "The stb headers")
set(ZLIB_INCLUDE_DIR /usr/include CACHE PATH "zlib's headers")
set(ZLIB_LIBRARY /usr/lib/${triplet}/libz.so CACHE FILEPATH "zlib")
