# SPDX-License-Identifier: MIT
# Shared part of the Linux cross toolchains: compilers by GNU triplet, the
# target's libraries from the cross sysroot, and qemu-user to run what is
# built, so that ctest runs the target's tests through it.
#   PELLUCOR_TRIPLET    GNU triplet, e.g. aarch64-linux-gnu
#   PELLUCOR_QEMU       qemu-user program, e.g. qemu-aarch64
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${PELLUCOR_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${PELLUCOR_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${PELLUCOR_TRIPLET})
# PELLUCOR_DEPENDENCIES: a folder laid out as a root (usr/include, usr/lib
# or include, lib) that holds the target's libspng and zlib.
if(PELLUCOR_DEPENDENCIES)
  list(APPEND CMAKE_FIND_ROOT_PATH ${PELLUCOR_DEPENDENCIES})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(PELLUCOR_QEMU_PROGRAM ${PELLUCOR_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLUCOR_QEMU_PROGRAM} -L /usr/${PELLUCOR_TRIPLET})
# The target's libspng needs its zlib, which lies beside it there.
if(PELLUCOR_DEPENDENCIES)
  list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -E LD_LIBRARY_PATH=${PELLUCOR_DEPENDENCIES}/usr/lib/${PELLUCOR_TRIPLET})
endif()
