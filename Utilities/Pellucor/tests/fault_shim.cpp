// SPDX-License-Identifier: MIT
// Injects failures into the converter through LD_PRELOAD, for the
// end-to-end tests of what it does when the system fails it:
//   PELLUCOR_FAULT=readdir:N     readdir fails with EIO once N names are read
//   PELLUCOR_FAULT=fstat:SUFFIX  fstat fails with EIO on a file whose path
//                                ends with SUFFIX
// Built only where the platform has LD_PRELOAD (glibc).
#undef _FILE_OFFSET_BITS  // fstat and fstat64 are both defined here, each as itself
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* fault(const char* kind)
{
    const char* asked = std::getenv("PELLUCOR_FAULT");
    const std::size_t length = std::strlen(kind);
    return asked != nullptr && std::strncmp(asked, kind, length) == 0 && asked[length] == ':' ? asked + length + 1
                                                                                              : nullptr;
}

bool listing_fails()
{
    static long names = 0;
    const char* after = fault("readdir");
    return after != nullptr && names++ >= std::atol(after);
}

bool status_fails(int descriptor)
{
    const char* suffix = fault("fstat");
    if (suffix == nullptr) {
        return false;
    }
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length <= 0) {
        return false;
    }
    path[length] = '\0';
    const std::size_t end = std::strlen(suffix);
    return static_cast<std::size_t>(length) >= end && std::strcmp(path + length - end, suffix) == 0;
}

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

dirent* readdir(DIR* folder)
{
    static const auto real = next<dirent* (*)(DIR*)>("readdir");
    if (listing_fails()) {
        errno = EIO;
        return nullptr;
    }
    return real(folder);
}

dirent64* readdir64(DIR* folder)
{
    static const auto real = next<dirent64* (*)(DIR*)>("readdir64");
    if (listing_fails()) {
        errno = EIO;
        return nullptr;
    }
    return real(folder);
}

int fstat(int descriptor, struct stat* status)
{
    static const auto real = next<int (*)(int, struct stat*)>("fstat");
    if (status_fails(descriptor)) {
        errno = EIO;
        return -1;
    }
    return real(descriptor, status);
}

int fstat64(int descriptor, struct stat64* status)
{
    static const auto real = next<int (*)(int, struct stat64*)>("fstat64");
    if (status_fails(descriptor)) {
        errno = EIO;
        return -1;
    }
    return real(descriptor, status);
}
}
