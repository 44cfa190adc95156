# SPDX-License-Identifier: MIT
# Linux armhf, a 32-bit host (as on many Raspberry Pi systems), run under
# qemu-user. Debian: g++-arm-linux-gnueabihf qemu-user
set(CMAKE_SYSTEM_PROCESSOR arm)
set(PELLUCOR_TRIPLET arm-linux-gnueabihf)
set(PELLUCOR_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
