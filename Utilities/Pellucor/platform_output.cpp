// SPDX-License-Identifier: MIT
// The operating-system calls beneath the output file, POSIX and Windows side
// by side: creating, locking, writing, cutting back and removing it, and the
// handler of the signals and console events that end a run.
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>

#include "system_headers.h"

namespace {

#ifdef _WIN32
// The console control handler runs on a thread of its own: it waits for the
// frame being written, cleans up, and keeps the lock so that no frame
// follows before the process ends.
CRITICAL_SECTION writing;

#endif

// What the interruption handler calls before the process ends.
void (*interruption_clean_up)() = nullptr;

#ifdef _WIN32
BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    EnterCriticalSection(&writing);
    interruption_clean_up();
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
extern "C" void on_signal(int signal)
{
    interruption_clean_up();
    std::raise(signal);
}

sigset_t ending_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : ENDING_SIGNALS) {
        sigaddset(&set, signal);
    }
    return set;
}

// How deep the holds of the thread that handles the signals go: the signals
// are blocked from the first hold to the last release.
int hold_depth = 0;
#endif

}  // namespace

int open_file_for_writing(const char* path, std::string& created_path)
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

bool lock_file(int descriptor)
{
#ifdef _WIN32
    OVERLAPPED whole {};
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole) != 0 ||
           GetLastError() != ERROR_LOCK_VIOLATION;
#else
    return flock(descriptor, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
#endif
}

bool write_position(int descriptor, std::int64_t& position)
{
#ifdef _WIN32
    position = _lseeki64(descriptor, 0, SEEK_CUR);
    return position >= 0;
#else
    const int status = fcntl(descriptor, F_GETFL);
    position = static_cast<std::int64_t>(lseek(descriptor, 0, (status & O_APPEND) != 0 ? SEEK_END : SEEK_CUR));
    return status != -1 && position >= 0;
#endif
}

bool seek_file(int descriptor, std::int64_t position)
{
#ifdef _WIN32
    return _lseeki64(descriptor, position, SEEK_SET) == position;
#else
    return lseek(descriptor, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
#endif
}

bool cut_file(int descriptor, std::int64_t size)
{
#ifdef _WIN32
    return _chsize_s(descriptor, size) == 0;
#else
    return ftruncate(descriptor, static_cast<off_t>(size)) == 0;
#endif
}

bool remove_open_file(int descriptor, const char* path)
{
#ifdef _WIN32
    // Windows cannot remove a file that is open: it is closed first.
    _close(descriptor);
    DeleteFileA(path);
    return true;
#else
    static_cast<void>(descriptor);
    unlink(path);
    return false;
#endif
}

std::size_t write_file(int descriptor, const std::uint8_t* bytes, std::size_t size)
{
    std::size_t written = 0;
    while (written < size) {
        // At most 1 GiB a call: what every system writes in one go.
        constexpr std::size_t MOST_BYTES = std::size_t {1} << 30;
        const std::size_t part = std::min(size - written, MOST_BYTES);
#ifdef _WIN32
        const int done = _write(descriptor, bytes + written, static_cast<unsigned>(part));
#else
        const ssize_t done = write(descriptor, bytes + written, part);
        if (done < 0 && errno == EINTR) {
            continue;
        }
#endif
        if (done <= 0) {
            break;
        }
        written += static_cast<std::size_t>(done);
    }
    return written;
}

bool close_file(int descriptor)
{
#ifdef _WIN32
    return _close(descriptor) == 0;
#else
    return close(descriptor) == 0;
#endif
}

void set_binary_mode(int descriptor)
{
#ifdef _WIN32
    _setmode(descriptor, _O_BINARY);
#else
    static_cast<void>(descriptor);
#endif
}

void on_interruption(void (*clean_up)())
{
    interruption_clean_up = clean_up;
#ifdef _WIN32
    InitializeCriticalSection(&writing);
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESETHAND;
    action.sa_mask = ending_signals();
    for (const int signal : ENDING_SIGNALS) {
        // A signal ignored from the start (nohup, a background job) stays so.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
#endif
}

void hold_interruptions()
{
#ifdef _WIN32
    EnterCriticalSection(&writing);
#else
    if (hold_depth++ == 0) {
        const sigset_t ending = ending_signals();
        pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    }
#endif
}

void release_interruptions()
{
#ifdef _WIN32
    LeaveCriticalSection(&writing);
#else
    if (hold_depth > 0 && --hold_depth == 0) {
        const sigset_t ending = ending_signals();
        pthread_sigmask(SIG_UNBLOCK, &ending, nullptr);
    }
#endif
}

void pass_on_interruptions()
{
#if !defined(_WIN32) && !defined(__APPLE__)
    // sigpending also shows the signals sent to the process while the
    // writing thread holds them: passed on, they wait for it all the same.
    sigset_t pending;
    if (sigpending(&pending) != 0) {
        return;
    }
    for (const int signal : ENDING_SIGNALS) {
        if (sigismember(&pending, signal) == 1) {
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, signal);
            const timespec now {};
            if (sigtimedwait(&one, nullptr, &now) == signal) {
                kill(getpid(), signal);
            }
        }
    }
#endif
}
