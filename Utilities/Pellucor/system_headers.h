// SPDX-License-Identifier: MIT
// The system headers of the platform files, POSIX and Windows, included
// the same way in each.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef NOGDI
#define NOGDI
#endif
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0602
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602  // FILE_ID_INFO; older systems fail the call and get the 64-bit index
#endif
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#ifdef __linux__
#include <sched.h>
#endif
#include <sys/file.h>
#include <unistd.h>
#endif

#ifndef _WIN32
// Long sequences make outputs far over 2 GiB: a 32-bit host needs 64-bit
// file offsets (_FILE_OFFSET_BITS=64) to write them.
static_assert(sizeof(off_t) >= 8, "pellucor needs 64-bit file offsets");
#endif
