# Cross-compiling for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu). Test programs run under qemu-user, with the
# target's libraries from the cross toolchain's sysroot; no binfmt setup needed.
#   cmake -S . -B build/aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DTAMSEL_BUILD_TESTS=ON -DTAMSEL_GTEST_SOURCE_DIR=/usr/src/googletest
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# GCC 12 for aarch64 at -O3 sees a false overlap in std::string's inlined
# copies (-Wrestrict, GCC bug 105329); with -Werror that stops the build.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")

set(TAMSEL_AARCH64_SYSROOT /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${TAMSEL_AARCH64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# How CMake (test discovery) and ctest run the programs built here.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${TAMSEL_AARCH64_SYSROOT})
