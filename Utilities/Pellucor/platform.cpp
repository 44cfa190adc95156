// The operating-system calls of the driver, POSIX and Windows side by side.
#include "platform.h"

#include "frame_names.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

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
#include <unistd.h>
#endif

#ifndef _WIN32
// Long sequences make outputs far over 2 GiB: a 32-bit host needs 64-bit
// file offsets (_FILE_OFFSET_BITS=64) to write them.
static_assert(sizeof(off_t) >= 8, "pellucor needs 64-bit file offsets");
#endif

namespace {

// The output, once guard_output has it: its descriptor, whether it can be
// cut back, and where its last whole frame ends. The interruption handler
// reads these, so the end is a lock-free atomic.
int output_descriptor = -1;
bool output_is_regular = false;
std::size_t output_frame_bytes = 0;
std::FILE* output_stream = nullptr;
std::atomic<std::int64_t> whole_frames_end {0};
static_assert(std::atomic<std::int64_t>::is_always_lock_free, "the interruption handler needs a lock-free end");

#ifdef _WIN32
// The console control handler runs on a thread of its own: it waits for the
// frame being written, cuts the file, and keeps the lock so that no frame
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
    identity.regular = GetFileType(file) == FILE_TYPE_DISK &&
                       (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
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

BOOL WINAPI on_interruption(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    EnterCriticalSection(&writing);
    if (output_is_regular) {
        cut_file(whole_frames_end.load());
    }
    // The status the default handler would give, without the exit handlers,
    // which could wait on a lock of the stopped main thread.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}
#else
bool cut_file(std::int64_t size)
{
    return ftruncate(output_descriptor, static_cast<off_t>(size)) == 0;
}

// Only async-signal-safe calls: ftruncate, and raise, whose signal is
// blocked until the handler returns and then ends the process with the
// default action that SA_RESETHAND has put back.
extern "C" void on_interruption(int signal)
{
    if (output_is_regular) {
        cut_file(whole_frames_end.load());
    }
    std::raise(signal);
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

bool identity_of_stream(std::FILE* stream, FileIdentity& identity)
{
#ifdef _WIN32
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return file != INVALID_HANDLE_VALUE && identity_of_handle(file, identity);
#else
    struct stat status {};
    if (fstat(fileno(stream), &status) != 0) {
        return false;
    }
    identity = identity_of_status(status);
    return true;
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

const char* next_name_in_folder()
{
    if (!found_unread && (listing == INVALID_HANDLE_VALUE || FindNextFileA(listing, &found) == 0)) {
        return nullptr;
    }
    found_unread = false;
    return found.cFileName;
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

const char* next_name_in_folder()
{
    const dirent* entry = listing == nullptr ? nullptr : readdir(listing);
    return entry == nullptr ? nullptr : entry->d_name;
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

std::FILE* open_output(const char* path, bool& created)
{
#ifdef _WIN32
    const int flags = _O_WRONLY | _O_BINARY, create = _O_CREAT | _O_EXCL;
    const auto open_file = [](const char* name, int mode) { return _open(name, mode, _S_IREAD | _S_IWRITE); };
#else
    const int flags = O_WRONLY | O_CLOEXEC, create = O_CREAT | O_EXCL;
    const auto open_file = [](const char* name, int mode) { return open(name, mode, 0666); };
#endif
    created = false;
    int descriptor = -1;
    // Open what is there; where nothing is, create it, and should something
    // appear meanwhile, open that.
    do {
        descriptor = open_file(path, flags);
        if (descriptor < 0 && errno == ENOENT) {
            descriptor = open_file(path, flags | create);
            created = descriptor >= 0;
        }
    } while (descriptor < 0 && errno == EEXIST);
    if (descriptor < 0) {
        return nullptr;
    }
#ifdef _WIN32
    std::FILE* output = _fdopen(descriptor, "wb");
    if (output == nullptr) {
        _close(descriptor);
    }
#else
    std::FILE* output = fdopen(descriptor, "wb");
    if (output == nullptr) {
        close(descriptor);
    }
#endif
    return output;
}

bool empty_output(std::FILE* output, const FileIdentity& identity)
{
    // A pipe, a device or an empty file: nothing to empty. An empty file is
    // left alone, since ext4 takes a cut to zero as a rewrite and flushes the
    // whole file when it is closed.
    if (!identity.regular || identity.size == 0) {
        return true;
    }
#ifdef _WIN32
    return _chsize_s(_fileno(output), 0) == 0;
#else
    return ftruncate(fileno(output), 0) == 0;
#endif
}

void guard_output(std::FILE* output, const FileIdentity& identity, std::size_t frame_bytes)
{
    output_stream = output;
    output_frame_bytes = frame_bytes;
    whole_frames_end = 0;
    output_is_regular = identity.regular;
#ifdef _WIN32
    output_descriptor = _fileno(output);
    InitializeCriticalSection(&writing);
    SetConsoleCtrlHandler(on_interruption, TRUE);
#else
    output_descriptor = fileno(output);
    struct sigaction action {};
    action.sa_handler = on_interruption;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored from the start (nohup, a background job) stays so.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
#endif
}

bool write_frame(const std::uint8_t* frame)
{
#ifdef _WIN32
    EnterCriticalSection(&writing);
#endif
    const bool written = std::fwrite(frame, 1, output_frame_bytes, output_stream) == output_frame_bytes;
    if (written) {
        whole_frames_end += static_cast<std::int64_t>(output_frame_bytes);
    }
#ifdef _WIN32
    LeaveCriticalSection(&writing);
#endif
    return written;
}

void cut_to_whole_frames()
{
    if (output_is_regular) {
        cut_file(whole_frames_end.load());
    }
}
