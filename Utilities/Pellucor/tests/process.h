// SPDX-License-Identifier: MIT
// Starting the converter as a process of its own, with its console and
// standard output where a test wants them, for the end-to-end tests. The
// command is started without a shell, so no path needs quoting for one.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace test_process {

namespace fs = std::filesystem;

struct Result {
    std::string console;  // with "\n" line ends; a Windows run is checked for CRLF first
    int status;
    std::string errors;  // standard error, where it is kept apart from the console
};

// Where a run's standard error goes when it is kept apart from the console.
inline fs::path errors_path(const fs::path& console)
{
    return fs::path(console.string() + ".errors");
}

#ifdef _WIN32
// Quotes one argument for the C runtime's command-line parser.
inline std::string quote(const std::string& argument)
{
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    return quoted.append(2 * backslashes, '\\') + "\"";
}

// Runs the command with its console going to the file; its exit status, or
// -1 where it could not be started. Wine now and then refuses to open the
// console file, or to start a process, just after the last one ended: each
// is tried a few times before the run counts as not started.
inline int spawn(const std::vector<std::string>& command, const fs::path& console, bool split_errors = false)
{
    constexpr int TRIES = 20;
    constexpr DWORD PAUSE_MS = 50;
    SECURITY_ATTRIBUTES inherit {sizeof inherit, nullptr, TRUE};
    const auto create = [&](const fs::path& path) {
        HANDLE file = INVALID_HANDLE_VALUE;
        for (int i = 0; i < TRIES && file == INVALID_HANDLE_VALUE; ++i) {
            if (i > 0) Sleep(PAUSE_MS);
            file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        return file;
    };
    HANDLE file = create(console);
    if (file == INVALID_HANDLE_VALUE) return -1;
    HANDLE errors = split_errors ? create(errors_path(console)) : file;
    if (errors == INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return -1;
    }
    std::string line;
    for (const std::string& argument : command) {
        if (!line.empty()) line += ' ';
        line += quote(argument);
    }
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = errors;
    PROCESS_INFORMATION process {};
    bool started = false;
    for (int i = 0; i < TRIES && !started; ++i) {
        if (i > 0) Sleep(PAUSE_MS);
        started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    }
    CloseHandle(file);
    if (errors != file) CloseHandle(errors);
    if (!started) return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(status);
}
#else
// Where the child's standard output goes; standard error is the console,
// except with SPLIT, where standard output is the console and standard error
// goes to errors_path.
enum class Stdout { CONSOLE, SPLIT, FILE, APPEND, CLOSED, BROKEN_PIPE };

inline pid_t start(const std::vector<std::string>& command, const fs::path& console, Stdout out = Stdout::CONSOLE,
                   const fs::path& out_file = {})
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const fs::path errors = out == Stdout::SPLIT ? errors_path(console) : console;
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int broken[2] = {-1, -1};
    if (out == Stdout::CONSOLE) posix_spawn_file_actions_adddup2(&actions, 2, 1);
    if (out == Stdout::SPLIT)
        posix_spawn_file_actions_addopen(&actions, 1, console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out == Stdout::FILE)
        posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out == Stdout::APPEND)
        posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_APPEND, 0644);
    if (out == Stdout::CLOSED) posix_spawn_file_actions_addclose(&actions, 1);
    if (out == Stdout::BROKEN_PIPE && pipe(broken) == 0) {
        close(broken[0]);  // nobody reads: every write fails
        posix_spawn_file_actions_adddup2(&actions, broken[1], 1);
    }
    std::vector<char*> argv;
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const int error = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (broken[1] >= 0) close(broken[1]);
    return error == 0 ? child : -1;
}

// The exit status, or 128 + the signal that ended the child, as shells say it.
inline int finish(pid_t child)
{
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

inline int spawn(const std::vector<std::string>& command, const fs::path& console, bool split_errors = false)
{
    return finish(start(command, console, split_errors ? Stdout::SPLIT : Stdout::CONSOLE));
}
#endif

}  // namespace test_process
