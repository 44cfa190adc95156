// SPDX-License-Identifier: MIT
// What the driver needs from the operating system beyond standard C: which
// file a name or an open file is, folder listings, the calls beneath the
// output file, and interruptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Where a file lives, whatever path names it: device and inode on POSIX; on
// Windows the volume and the 128-bit file ID where the volume gives one (ReFS
// needs it), and the volume serial number and 64-bit file index always.
// The same look also tells whether it is a regular file, and its size.
struct FileIdentity {
    std::uint64_t volume;
    std::uint64_t index;
    bool has_wide_id;
    std::uint64_t wide_volume;
    std::uint8_t wide_id[16];
    bool regular;
    bool device;  // a terminal or another character device
    std::uint64_t size;
};

bool same_file(const FileIdentity& a, const FileIdentity& b);
// False when the name cannot be looked at: missing, a dangling link, a folder
// that cannot be searched.
bool identity_of_path(const char* path, FileIdentity& identity);
bool identity_of_stream(std::FILE* stream, FileIdentity& identity);

bool identity_of_descriptor(int descriptor, FileIdentity& identity);
constexpr int STANDARD_OUTPUT = 1, STANDARD_ERROR = 2;

// Lists the names in a folder, one after another; one listing at a time.
// False when the folder cannot be listed.
bool open_folder(const char* path);
enum class Listing { name, end, failed };
// The next name, the end of the listing, or a listing that failed partway.
Listing next_name_in_folder(const char*& name);
void close_folder();

// Opens standard input, output and error where any of them is closed, so
// that no file opened later takes their place: input on the null device;
// output and error, where the system has pipes, on a pipe that nobody reads,
// so that writes there fail as on the closed descriptor, else on the null
// device. was_closed_at_start says which were closed.
void keep_standard_streams_open();
bool was_closed_at_start(int descriptor);

// The calls beneath the output file (output_file.h), on a descriptor.
// Opens the file at path for writing, creating it where nothing is: a link
// to nothing is followed to its target, which is created, as the shell's >
// does. Bounded: a name that keeps changing under it, or a loop of links,
// fails (-1). created_path is set to the name of a file this call created.
int open_file_for_writing(const char* path, std::string& created_path);
// Takes an exclusive lock on the file, without waiting. True where the file
// system has no locks.
bool lock_file(int descriptor);
// Where writes to the descriptor go: where it stands, or its end where every
// write goes there (>>).
bool write_position(int descriptor, std::int64_t& position);
// Writes size bytes, in parts where needed; the count written, less on a
// failed write.
std::size_t write_file(int descriptor, const std::uint8_t* bytes, std::size_t size);
bool close_file(int descriptor);
// Moves where the next write goes to position from the file's start.
bool seek_file(int descriptor, std::int64_t position);
void set_binary_mode(int descriptor);
// These two may be called from the interruption handler. cut_file sets the
// file's size. remove_open_file removes the file that the descriptor holds
// open; true where it had to close the descriptor to do so (Windows).
bool cut_file(int descriptor, std::int64_t size);
bool remove_open_file(int descriptor, const char* path);

// From here on a signal that ends the process (SIGINT, SIGTERM, SIGHUP and
// the others whose default is to end it; Ctrl-C, Ctrl-Break or closing the
// console on Windows) calls clean_up, which makes only async-signal-safe
// calls, and then ends the process as it would have ended. A signal ignored
// from the start (nohup) stays ignored.
void on_interruption(void (*clean_up)());
// Between these two, on the thread that handles them, interruptions wait:
// a frame's write and the line that reports it are not cut apart. Holds
// nest. Threads started between them are born with the signals blocked, and
// keep them so: only the thread that writes handles them.
void hold_interruptions();
void release_interruptions();
// On a thread born with the signals blocked: a signal sent to this thread
// alone (tgkill) would wait there for ever; it is sent to the process
// instead, where the writing thread handles it. Not on macOS, which lacks
// sigtimedwait: there such a signal waits, and the run goes on.
void pass_on_interruptions();

// The number of processors this process may run on: its affinity mask on
// Linux, the active processors of every group on Windows, else what the
// standard library says; at least 1.
unsigned processor_count();
