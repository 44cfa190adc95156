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
    std::uint64_t size;
};

bool same_file(const FileIdentity& a, const FileIdentity& b);
// False when the name cannot be looked at: missing, a dangling link, a folder
// that cannot be searched.
bool identity_of_path(const char* path, FileIdentity& identity);
bool identity_of_stream(std::FILE* stream, FileIdentity& identity);

// Lists the names in a folder, one after another; one listing at a time.
// False when the folder cannot be listed.
bool open_folder(const char* path);
const char* next_name_in_folder();  // null at the end
void close_folder();

// Opens standard input, output and error on the null device where any of
// them is closed, so that no file opened later takes their place.
void keep_standard_streams_open();

// Opens the output for writing without emptying it, creating it where it
// does not exist. Null on failure.
std::FILE* open_output(const char* path, bool& created);
// Empties a regular file; other outputs (a pipe, a device) are left as they
// are. identity is the open output's. False on failure.
bool empty_output(std::FILE* output, const FileIdentity& identity);

// From here on, a failed write, SIGINT, SIGTERM or SIGHUP (Ctrl-C or
// Ctrl-Break on Windows) leaves a regular output file cut back to its last
// whole frame. A closed pipe fails the write instead of ending the process.
void guard_output(std::FILE* output, const FileIdentity& identity, std::size_t frame_bytes);
// Writes one packed frame and counts it as whole. False on a failed write.
bool write_frame(const std::uint8_t* frame);
// Cuts a regular output file back to its last whole frame.
void cut_to_whole_frames();
