// SPDX-License-Identifier: MIT
// The operating-system calls of the driver, POSIX and Windows side by side.
#include "platform.h"

#include "frame_names.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

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

namespace {

// The output of the run: its descriptor, whether it is a regular file that
// can be cut back, whether this run created it and by what name, whether the
// run has begun writing it, and where this run's last whole frame ends. The
// interruption handler reads these, so the changing ones are lock-free atomics.
int output_descriptor = -1;
bool output_is_regular = false;
bool output_is_standard = false;
bool output_created = false;
std::string created_path;
std::size_t output_frame_bytes = 0;
std::atomic<bool> output_begun {false};
std::atomic<std::int64_t> whole_frames_end {0};
static_assert(std::atomic<std::int64_t>::is_always_lock_free, "the interruption handler needs a lock-free end");
static_assert(std::atomic<bool>::is_always_lock_free, "the interruption handler needs a lock-free flag");

#ifdef _WIN32
// The console control handler runs on a thread of its own: it waits for the
// frame being written, cleans up, and keeps the lock so that no frame
// follows before the process ends.
CRITICAL_SECTION writing;

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

bool cut_file(std::int64_t size)
{
    return _chsize_s(output_descriptor, size) == 0;
}

// Windows cannot remove a file that is open: it is closed first.
void remove_created_output()
{
    _close(output_descriptor);
    output_descriptor = -1;
    DeleteFileA(created_path.c_str());
}
#else
bool cut_file(std::int64_t size)
{
    return ftruncate(output_descriptor, static_cast<off_t>(size)) == 0;
}

void remove_created_output()
{
    unlink(created_path.c_str());
}
#endif

// What a failed or interrupted run leaves: only async-signal-safe calls.
void clean_up_output()
{
    if (output_descriptor < 0) {
        return;
    }
    if (!output_begun.load()) {
        if (output_created) {
            remove_created_output();
        }
    } else if (output_is_regular) {
        cut_file(whole_frames_end.load());
    }
}

#ifdef _WIN32
BOOL WINAPI on_interruption(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    EnterCriticalSection(&writing);
    clean_up_output();
    // The status the default handler would give, without the exit handlers,
    // which could wait on a lock of the stopped main thread.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}
#else
// The signals whose default action ends the process, and which can be caught.
constexpr int ENDING_SIGNALS[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};

// raise's signal is blocked until the handler returns and then ends the
// process with the default action that SA_RESETHAND has put back.
extern "C" void on_interruption(int signal)
{
    clean_up_output();
    std::raise(signal);
}
#endif

void guard_output()
{
#ifdef _WIN32
    InitializeCriticalSection(&writing);
    SetConsoleCtrlHandler(on_interruption, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = on_interruption;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : ENDING_SIGNALS) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : ENDING_SIGNALS) {
        // A signal ignored from the start (nohup, a background job) stays so.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
#endif
}

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
        if (!is_open(descriptor)) {
            static_cast<void>(std::freopen(NULL_DEVICE, descriptor == 0 ? "rb" : "wb", streams[descriptor]));
        }
    }
}

namespace {

// Opens the file at path for writing, creating it where nothing is. A link
// to nothing is followed to its target, which is created, as the shell's >
// does. Bounded: a name that keeps changing under it, or a loop of links,
// fails.
int open_output_file(const char* path)
{
#ifdef _WIN32
    const int flags = _O_WRONLY | _O_BINARY | _O_NOINHERIT, create = _O_CREAT | _O_EXCL;
    const auto open_file = [](const char* name, int mode) { return _open(name, mode, _S_IREAD | _S_IWRITE); };
#else
    const int flags = O_WRONLY | O_CLOEXEC, create = O_CREAT | O_EXCL;
    const auto open_file = [](const char* name, int mode) { return open(name, mode, 0666); };
#endif
    constexpr int MOST_TRIES = 40;  // as many links as POSIX systems follow in one path
    std::string target = path;
    for (int tries = 0; tries < MOST_TRIES; ++tries) {
        int descriptor = open_file(target.c_str(), flags);
        if (descriptor >= 0 || errno != ENOENT) {
            return descriptor;
        }
        descriptor = open_file(target.c_str(), flags | create);
        if (descriptor >= 0) {
            output_created = true;
            created_path = target;
            return descriptor;
        }
        if (errno != EEXIST) {
            return -1;
        }
#ifndef _WIN32
        // Something is there: a file made meanwhile, to be opened next time
        // round, or a link to nothing, which create-exclusive refuses.
        char link[4096];
        const ssize_t length = readlink(target.c_str(), link, sizeof link - 1);
        if (length > 0) {
            link[length] = '\0';
            const std::size_t folder_end = target.rfind('/');
            target = link[0] == '/' || folder_end == std::string::npos ? std::string(link)
                                                                       : target.substr(0, folder_end + 1) + link;
        }
#endif
    }
    return -1;
}

// Takes the run's lock on a regular output, without waiting. A file system
// that has no locks is written without one.
bool lock_output()
{
#ifdef _WIN32
    OVERLAPPED whole {};
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(output_descriptor));
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole) != 0 ||
           GetLastError() != ERROR_LOCK_VIOLATION;
#else
    return flock(output_descriptor, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
#endif
}

// Where this run begins to write standard output: where it stands, or its
// end where every write goes there (>>).
bool standard_output_start(std::int64_t& start)
{
#ifdef _WIN32
    start = _lseeki64(output_descriptor, 0, SEEK_CUR);
    return start >= 0;
#else
    const int status = fcntl(output_descriptor, F_GETFL);
    start = static_cast<std::int64_t>(lseek(output_descriptor, 0, (status & O_APPEND) != 0 ? SEEK_END : SEEK_CUR));
    return status != -1 && start >= 0;
#endif
}

}  // namespace

OutputOpen open_output(const char* path, std::size_t frame_bytes, FileIdentity& identity)
{
    output_frame_bytes = frame_bytes;
    output_created = false;
    FileIdentity named {}, standard {};
    output_is_standard = identity_of_path(path, named) && identity_of_descriptor(STANDARD_OUTPUT, standard) &&
                         same_file(named, standard);
    if (output_is_standard) {
        output_descriptor = STANDARD_OUTPUT;
#ifdef _WIN32
        _setmode(STANDARD_OUTPUT, _O_BINARY);
#endif
    } else {
        output_descriptor = open_output_file(path);
        if (output_descriptor < 0) {
            return OutputOpen::failed;
        }
    }
    guard_output();
    if (!identity_of_descriptor(output_descriptor, identity)) {
        abandon_output();
        return OutputOpen::failed;
    }
    output_is_regular = identity.regular;
    if (output_is_regular && !lock_output()) {
        output_created = false;  // the other run's now, whoever made it
        return OutputOpen::in_use;
    }
    std::int64_t start = 0;
    if (output_is_standard && output_is_regular && !standard_output_start(start)) {
        abandon_output();
        return OutputOpen::failed;
    }
    whole_frames_end = start;
    return OutputOpen::ok;
}

bool begin_output()
{
    // Standard output is written from where it stands. An empty file is left
    // alone, since ext4 takes a cut to zero as a rewrite and flushes the
    // whole file when it is closed.
    FileIdentity identity {};
    if (output_is_regular && !output_is_standard &&
        (!identity_of_descriptor(output_descriptor, identity) || (identity.size != 0 && !cut_file(0)))) {
        return false;
    }
    output_begun = true;
    return true;
}

bool write_frame(const std::uint8_t* frame)
{
#ifdef _WIN32
    EnterCriticalSection(&writing);
#endif
    std::size_t written = 0;
    while (written < output_frame_bytes) {
        // At most 1 GiB a call: what every system writes in one go.
        constexpr std::size_t MOST_BYTES = std::size_t {1} << 30;
        const std::size_t bytes = std::min(output_frame_bytes - written, MOST_BYTES);
#ifdef _WIN32
        const int done = _write(output_descriptor, frame + written, static_cast<unsigned>(bytes));
#else
        const ssize_t done = write(output_descriptor, frame + written, bytes);
        if (done < 0 && errno == EINTR) {
            continue;
        }
#endif
        if (done <= 0) {
            break;
        }
        written += static_cast<std::size_t>(done);
    }
    const bool whole = written == output_frame_bytes;
    if (whole) {
        whole_frames_end += static_cast<std::int64_t>(output_frame_bytes);
    }
#ifdef _WIN32
    LeaveCriticalSection(&writing);
#endif
    return whole;
}

bool close_output()
{
    if (output_is_standard) {
        return true;  // the shell's, left open
    }
#ifdef _WIN32
    const bool closed = _close(output_descriptor) == 0;
#else
    const bool closed = close(output_descriptor) == 0;
#endif
    output_descriptor = -1;
    return closed;
}

void abandon_output()
{
#ifdef _WIN32
    if (output_descriptor >= 0) {
        EnterCriticalSection(&writing);
    }
#endif
    clean_up_output();
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
