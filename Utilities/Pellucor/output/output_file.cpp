// SPDX-License-Identifier: MIT
// The output file. A signal may come at any point of the run, so the state
// that the interruption handler reads changes only through lock-free atomics,
// and the handler makes only async-signal-safe calls.
#include "output_file.h"

#include <atomic>
#include <cerrno>
#include <string>

namespace {

// The output of the run: its descriptor, whether it is a regular file that
// can be cut back, whether this run created it and by what name, whether the
// run has begun writing it, and where this run's last whole frame ends.
int output_descriptor = -1;
bool output_is_regular = false;
bool output_is_standard = false;
std::string created_path;  // empty unless this run created the output
std::size_t output_frame_bytes = 0;
std::atomic<bool> output_begun {false};
std::atomic<std::int64_t> whole_frames_end {0};
std::int64_t output_start = 0;  // where this run began to write
static_assert(std::atomic<std::int64_t>::is_always_lock_free, "the interruption handler needs a lock-free end");
static_assert(std::atomic<bool>::is_always_lock_free, "the interruption handler needs a lock-free flag");

// What a failed or interrupted run leaves.
void clean_up_output()
{
    if (output_descriptor < 0) {
        return;
    }
    if (!output_begun.load()) {
        if (!created_path.empty() && remove_open_file(output_descriptor, created_path.c_str())) {
            output_descriptor = -1;
        }
    } else if (output_is_regular) {
        cut_file(output_descriptor, whole_frames_end.load());
    }
}

bool names_closed_stream(const FileIdentity& output)
{
    for (const int descriptor : {STANDARD_OUTPUT, STANDARD_ERROR}) {
        FileIdentity stand_in {};
        if (was_closed_at_start(descriptor) && identity_of_descriptor(descriptor, stand_in) &&
            same_file(stand_in, output)) {
            return true;
        }
    }
    return false;
}

}  // namespace

OutputOpen open_output(const char* path, std::size_t frame_bytes, FileIdentity& identity)
{
    output_frame_bytes = frame_bytes;
    created_path.clear();
    FileIdentity named {}, standard {};
    output_is_standard = identity_of_path(path, named) && identity_of_descriptor(STANDARD_OUTPUT, standard) &&
                         same_file(named, standard);
    if (output_is_standard) {
        output_descriptor = STANDARD_OUTPUT;
        set_binary_mode(STANDARD_OUTPUT);
    } else {
        output_descriptor = open_file_for_writing(path, created_path);
        if (output_descriptor < 0) {
            return OutputOpen::failed;
        }
    }
    on_interruption(clean_up_output);
    // Standard output or error, by any name, where the run found it closed:
    // the video would go nowhere.
    if (!identity_of_descriptor(output_descriptor, identity) || names_closed_stream(identity)) {
        const int error = errno;
        abandon_output();
        errno = names_closed_stream(identity) ? EBADF : error;
        return OutputOpen::failed;
    }
    output_is_regular = identity.regular;
    if (output_is_regular && !lock_file(output_descriptor)) {
        created_path.clear();  // the other run's now, whoever made it
        return OutputOpen::in_use;
    }
    std::int64_t start = 0;
    if (output_is_standard && output_is_regular && !write_position(output_descriptor, start)) {
        abandon_output();
        return OutputOpen::failed;
    }
    whole_frames_end = start;
    output_start = start;
    return OutputOpen::ok;
}

bool begin_output()
{
    // Standard output is written from where it stands. An empty file is left
    // alone, since ext4 takes a cut to zero as a rewrite and flushes the
    // whole file when it is closed.
    FileIdentity identity {};
    if (output_is_regular && !output_is_standard &&
        (!identity_of_descriptor(output_descriptor, identity) ||
         (identity.size != 0 && !cut_file(output_descriptor, 0)))) {
        return false;
    }
    output_begun = true;
    return true;
}

bool write_frame(const std::uint8_t* frame)
{
    const OutputPiece piece {frame, output_frame_bytes};
    return write_whole(&piece, 1);
}

bool write_whole(const OutputPiece* pieces, std::size_t count)
{
    hold_interruptions();
    bool whole = true;
    std::int64_t bytes = 0;
    for (std::size_t i = 0; i < count && whole; ++i) {
        whole = write_file(output_descriptor, pieces[i].bytes, pieces[i].size) == pieces[i].size;
        bytes += static_cast<std::int64_t>(pieces[i].size);
    }
    if (whole) {
        whole_frames_end += bytes;
    }
    release_interruptions();
    return whole;
}

bool output_rewritable()
{
    return output_is_regular && !output_is_standard;
}

bool rewrite_output(std::int64_t offset, const std::uint8_t* bytes, std::size_t size)
{
    hold_interruptions();
    const bool written = seek_file(output_descriptor, output_start + offset) &&
                         write_file(output_descriptor, bytes, size) == size &&
                         seek_file(output_descriptor, whole_frames_end.load());
    release_interruptions();
    return written;
}

bool close_output()
{
    if (output_is_standard) {
        return true;  // the shell's, left open
    }
    const bool closed = close_file(output_descriptor);
    output_descriptor = -1;
    return closed;
}

std::uint64_t output_bytes_written()
{
    return static_cast<std::uint64_t>(whole_frames_end.load() - output_start);
}

void abandon_output()
{
    if (output_descriptor >= 0) {
        hold_interruptions();
    }
    clean_up_output();
}
