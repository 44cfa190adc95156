# SPDX-License-Identifier: MIT
# Linux s390x, a big-endian host, run under qemu-user.
# Debian: g++-s390x-linux-gnu qemu-user
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(PELLUCOR_TRIPLET s390x-linux-gnu)
set(PELLUCOR_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
