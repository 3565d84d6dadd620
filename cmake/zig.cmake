# Release wheels for old glibc: compiles with zig's clang, which links
# against the glibc version named in the target (2.17 here, as manylinux_2_17
# needs) and links its own C++ library (libc++, libc++abi, libunwind)
# statically, so the module needs nothing newer from the system than that
# glibc. scripts/wheels.sh passes this file to the wheel build; a plain
# `pip install .` keeps the system compiler.
#   -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DTAMSEL_ZIG_TARGET=aarch64-linux-gnu.2.17
set(TAMSEL_ZIG_TARGET "x86_64-linux-gnu.2.17" CACHE STRING "zig target: arch-linux-gnu.glibc-version")
# try_compile projects see the target too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAMSEL_ZIG_TARGET)

string(REGEX MATCH "^[^-]+" _tamsel_zig_arch "${TAMSEL_ZIG_TARGET}")
if(NOT _tamsel_zig_arch STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${_tamsel_zig_arch})
endif()

set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig/c++)
set(CMAKE_CXX_COMPILER_TARGET ${TAMSEL_ZIG_TARGET})
set(CMAKE_AR ${CMAKE_CURRENT_LIST_DIR}/zig/ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${CMAKE_CURRENT_LIST_DIR}/zig/ranlib CACHE FILEPATH "")
# zig hands clang -O2 whatever -O level it is given and keeps the frame
# pointer; the system build is g++ -O3, which omits it. Giving clang -O3
# itself and dropping the frame pointer took small calls from 1.13 to 0.99
# times the g++ build's time (bench/ab.py; see the README, Release wheels).
set(CMAKE_CXX_FLAGS_INIT "-fomit-frame-pointer")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-Xclang -O3")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/zig/python-module.map")
