# SPDX-License-Identifier: MIT
# Linux aarch64 (ARM64), run under qemu-user.
# Debian: g++-aarch64-linux-gnu qemu-user
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PELLUCOR_TRIPLET aarch64-linux-gnu)
set(PELLUCOR_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
