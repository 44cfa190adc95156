// SPDX-License-Identifier: MIT
// What the driver needs from the operating system beyond standard C: which
// file a name or an open file is, the output file, and interruptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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

// Opens standard input, output and error on the null device where any of
// them is closed, so that no file opened later takes their place.
void keep_standard_streams_open();

enum class OutputOpen { ok, failed, in_use };

// Opens the output of a run for frames of frame_bytes, without emptying it:
// standard output itself where the path names it, by any name, so that the
// frames go where the shell's > or >> put them; otherwise the file, created
// where nothing is (through a link to nothing, its target). A regular file
// is locked for the run, without waiting: in_use when another run holds it.
// identity is the open output's. From here on a failed run or a signal
// (SIGINT, SIGTERM, SIGHUP and the others that end a process; Ctrl-C or
// Ctrl-Break on Windows) leaves the output as abandon_output says. A closed
// pipe fails the write instead of ending the process.
OutputOpen open_output(const char* path, std::size_t frame_bytes, FileIdentity& identity);
// Empties what the run writes over: a regular file, unless it is standard
// output, where the run writes from where the shell left it. False on failure.
bool begin_output();
// Writes one packed frame and counts it as whole. False on a failed write.
bool write_frame(const std::uint8_t* frame);
bool close_output();
// After a failure: an output that this run created and never began is
// removed, and one it did not create is left as it was; a begun regular file
// is cut back to the last whole frame that this run wrote.
void abandon_output();

// The number of processors this process may run on: its affinity mask on
// Linux, the active processors of every group on Windows, else what the
// standard library says; at least 1.
unsigned processor_count();
