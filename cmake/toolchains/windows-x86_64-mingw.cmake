# SPDX-License-Identifier: MIT
# Windows x86-64 with MinGW-w64, run under Wine. The programs are linked
# statically, so that they need no MinGW DLLs at run time. The posix
# thread model gives GoogleTest its std::mutex.
# Debian: g++-mingw-w64-x86-64 wine64
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# PELLUCOR_DEPENDENCIES: a folder laid out as a root (usr/include, usr/lib
# or include, lib) that holds the target's libspng and zlib.
if(PELLUCOR_DEPENDENCIES)
  list(APPEND CMAKE_FIND_ROOT_PATH ${PELLUCOR_DEPENDENCIES})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
find_program(PELLUCOR_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLUCOR_WINE})
