// SPDX-License-Identifier: MIT
// The operating-system calls of the driver, POSIX and Windows side by side:
// which file a name is, folder listings, the standard streams, processors.
// The output file's own calls are in platform_output.cpp.
#include "platform.h"

#include "frame_names.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

#include "system_headers.h"

namespace {

#ifdef _WIN32
bool identity_of_handle(HANDLE file, FileIdentity& identity)
{
    BY_HANDLE_FILE_INFORMATION information {};
    if (GetFileInformationByHandle(file, &information) == 0) {
        return false;
    }
    identity = {};
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = std::uint64_t {information.nFileIndexHigh} << 32 | information.nFileIndexLow;
    identity.regular =
        GetFileType(file) == FILE_TYPE_DISK && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    identity.device = GetFileType(file) == FILE_TYPE_CHAR;
    identity.size = identity.regular ? std::uint64_t {information.nFileSizeHigh} << 32 | information.nFileSizeLow : 0;
    FILE_ID_INFO wide {};
    if (GetFileInformationByHandleEx(file, FileIdInfo, &wide, sizeof wide) != 0) {
        identity.has_wide_id = true;
        identity.wide_volume = wide.VolumeSerialNumber;
        static_assert(sizeof wide.FileId.Identifier == sizeof identity.wide_id);
        std::memcpy(identity.wide_id, wide.FileId.Identifier, sizeof identity.wide_id);
    }
    return true;
}
#endif

bool is_open(int descriptor)
{
#ifdef _WIN32
    const intptr_t handle = _get_osfhandle(descriptor);
    return handle != -1 && handle != -2;  // -2: a stream without a handle
#else
    return fcntl(descriptor, F_GETFD) != -1 || errno != EBADF;
#endif
}

}  // namespace

#ifndef _WIN32
namespace {
FileIdentity identity_of_status(const struct stat& status)
{
    FileIdentity identity {};
    identity.volume = static_cast<std::uint64_t>(status.st_dev);
    identity.index = static_cast<std::uint64_t>(status.st_ino);
    identity.regular = S_ISREG(status.st_mode);
    identity.device = S_ISCHR(status.st_mode);
    identity.size = identity.regular && status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
    return identity;
}
}  // namespace
#endif

bool same_file(const FileIdentity& a, const FileIdentity& b)
{
    if (a.has_wide_id && b.has_wide_id) {
        return a.wide_volume == b.wide_volume && std::memcmp(a.wide_id, b.wide_id, sizeof a.wide_id) == 0;
    }
    return a.volume == b.volume && a.index == b.index;
}

bool identity_of_path(const char* path, FileIdentity& identity)
{
#ifdef _WIN32
    const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = identity_of_handle(file, identity);
    CloseHandle(file);
    return known;
#else
    struct stat status {};
    if (stat(path, &status) != 0) {
        return false;
    }
    identity = identity_of_status(status);
    return true;
#endif
}

bool identity_of_descriptor(int descriptor, FileIdentity& identity)
{
#ifdef _WIN32
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    return file != INVALID_HANDLE_VALUE && identity_of_handle(file, identity);
#else
    struct stat status {};
    if (fstat(descriptor, &status) != 0) {
        return false;
    }
    identity = identity_of_status(status);
    return true;
#endif
}

bool identity_of_stream(std::FILE* stream, FileIdentity& identity)
{
#ifdef _WIN32
    return identity_of_descriptor(_fileno(stream), identity);
#else
    return identity_of_descriptor(fileno(stream), identity);
#endif
}

#ifdef _WIN32
namespace {
HANDLE listing = INVALID_HANDLE_VALUE;
WIN32_FIND_DATAA found;
bool found_unread = false;
}  // namespace

bool open_folder(const char* path)
{
    // "C:" and "C:\" name folders of their own: add only "*" after them.
    char search[FILENAME_SIZE + 2];
    const std::size_t length = std::strlen(path);
    if (length + 3 > sizeof search) {
        return false;
    }
    std::memcpy(search, path, length);
    const char last = length > 0 ? path[length - 1] : ':';
    const bool separated = last == '\\' || last == '/' || last == ':';
    std::memcpy(search + length, separated ? "*" : "\\*", separated ? 2 : 3);
    listing = FindFirstFileExA(search, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    found_unread = listing != INVALID_HANDLE_VALUE;
    return found_unread;
}

Listing next_name_in_folder(const char*& name)
{
    if (!found_unread) {
        if (listing == INVALID_HANDLE_VALUE) {
            return Listing::failed;
        }
        if (FindNextFileA(listing, &found) == 0) {
            return GetLastError() == ERROR_NO_MORE_FILES ? Listing::end : Listing::failed;
        }
    }
    found_unread = false;
    name = found.cFileName;
    return Listing::name;
}

void close_folder()
{
    if (listing != INVALID_HANDLE_VALUE) {
        FindClose(listing);
        listing = INVALID_HANDLE_VALUE;
    }
}
#else
namespace {
DIR* listing = nullptr;
}  // namespace

bool open_folder(const char* path)
{
    listing = opendir(path);
    return listing != nullptr;
}

Listing next_name_in_folder(const char*& name)
{
    if (listing == nullptr) {
        return Listing::failed;
    }
    // readdir says the end and a failure alike with null: errno tells them apart.
    errno = 0;
    const dirent* entry = readdir(listing);
    if (entry == nullptr) {
        return errno == 0 ? Listing::end : Listing::failed;
    }
    name = entry->d_name;
    return Listing::name;
}

void close_folder()
{
    if (listing != nullptr) {
        closedir(listing);
        listing = nullptr;
    }
}
#endif

namespace {

bool closed_at_start[3] = {false, false, false};

#ifndef _WIN32
// A stand-in for a closed output descriptor: the writing end of a pipe that
// nobody reads, so that what is written there fails, as on the closed
// descriptor, and so that it is no file that a path can name but its own.
bool stand_in_for_output(int descriptor)
{
    int ends[2];
    if (pipe(ends) != 0) {
        return false;
    }
    // The lowest free descriptors: the reading end may be the descriptor
    // itself, which dup2 then replaces.
    const bool placed = dup2(ends[1], descriptor) == descriptor;
    for (const int end : ends) {
        if (end != descriptor) {
            close(end);
        }
    }
    return placed;
}
#endif

}  // namespace

void keep_standard_streams_open()
{
#ifdef _WIN32
    constexpr const char* NULL_DEVICE = "NUL";
#else
    constexpr const char* NULL_DEVICE = "/dev/null";
    // A closed pipe is then a failed write, and so is a write past the file
    // size limit, instead of the end of the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // In order, so that each reopened stream takes the lowest free descriptor,
    // which is its own.
    std::FILE* const streams[] = {stdin, stdout, stderr};
    for (int descriptor = 0; descriptor < 3; ++descriptor) {
        if (is_open(descriptor)) {
            continue;
        }
        closed_at_start[descriptor] = true;
#ifndef _WIN32
        if (descriptor != 0 && stand_in_for_output(descriptor)) {
            continue;
        }
#endif
        static_cast<void>(std::freopen(NULL_DEVICE, descriptor == 0 ? "rb" : "wb", streams[descriptor]));
    }
}

bool was_closed_at_start(int descriptor)
{
    return descriptor >= 0 && descriptor < 3 && closed_at_start[descriptor];
}

unsigned processor_count()
{
#ifdef _WIN32
    const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
#elif defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    const int count = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
#else
    const unsigned count = std::thread::hardware_concurrency();
#endif
    return count > 0 ? static_cast<unsigned>(count) : 1;
}
