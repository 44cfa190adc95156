// SPDX-License-Identifier: MIT
// The output check. The output is emptied once the first frame is packed, so
// it must not be a frame file of the run: the open output is compared, by
// file identity, with every frame of the range that exists.
#include "output_check.h"

#include <cerrno>
#include <cstdint>

#include "console.h"
#include "frame_names.h"
#include "frame_store.h"
#include "output_file.h"

namespace {

// Compares the open output with every frame of the range that exists, going
// on past a missing or unreadable one. Where the conversion lies in the file
// name, only the names in the folder that can be frames of the range are
// looked at, so that a huge LAST costs nothing; where the folder cannot be
// listed, or its listing fails partway, the range is walked. A pattern without a conversion names one file, and a range
// that reads no frame is still checked at FIRST and LAST.
bool output_is_a_frame(const Run& run, const FileIdentity& output, std::int64_t& frame_found)
{
    frame_found = INT64_MAX;
    const auto look_at = [&](std::int64_t frame) {
        char filename[FILENAME_SIZE];
        FileIdentity input {};
        if (frame >= run.first_frame && frame <= run.last_frame && frame < frame_found &&
            expand_filename(filename, run.pattern, run.conversion, static_cast<std::int32_t>(frame)) &&
            identity_of_path(filename, input) && same_file(input, output)) {
            frame_found = frame;
        }
    };
    static char folder[FILENAME_SIZE];
    static NameText text;
    const bool conversion_in_name =
        frame_folder(run.pattern, run.conversion, folder) && name_text(run.pattern, run.conversion, text);
    FileIdentity folder_identity {};
    if (run.conversion == NO_CONVERSION || run.first_frame > run.last_frame) {
        for (const std::int32_t frame : {run.first_frame, run.last_frame}) {
            char filename[FILENAME_SIZE];
            FileIdentity input {};
            if (frame_found == INT64_MAX && expand_filename(filename, run.pattern, run.conversion, frame) &&
                identity_of_path(filename, input) && same_file(input, output)) {
                frame_found = frame;
            }
        }
        return frame_found != INT64_MAX;
    }
    if (conversion_in_name && open_folder(folder)) {
        const char* name = nullptr;
        Listing listing = Listing::name;
        while ((listing = next_name_in_folder(name)) == Listing::name) {
            frame_numbers_in_name(text, run.conversion, name, look_at);
        }
        close_folder();
        if (listing == Listing::end) {
            return frame_found != INT64_MAX;
        }
    } else if (conversion_in_name && !identity_of_path(folder, folder_identity)) {
        return false;  // a folder that is not there holds no frame the run can open
    }
    for (std::int64_t frame = run.first_frame; frame <= run.last_frame && frame < frame_found; ++frame) {
        look_at(frame);
    }
    return frame_found != INT64_MAX;
}

}  // namespace

FileIdentity open_and_check_output(const Run& run)
{
    FileIdentity output {};
    errno = 0;
    const OutputOpen opened = open_output(run.output_path, PACKED_PIXEL_SIZE * video_pixel_count(), output);
    const int error = errno;
    if (opened == OutputOpen::in_use) {
        fail(EXIT_OUTPUT_FAILED, "Output file %s is in use by another run\n", run.output_path);
    }
    if (opened != OutputOpen::ok) {
        if (error != 0) {
            explain("%s: %s", run.output_path, system_reason(error));
        }
        fail(EXIT_OUTPUT_FAILED, "Could not open output file %s\n", run.output_path);
    }
    std::int64_t frame_found = 0;
    if (output_is_a_frame(run, output, frame_found)) {
        fail(EXIT_BAD_ARGUMENTS, "Output file %s would overwrite input frame %d\n", run.output_path,
             static_cast<int>(frame_found));
    }
    return output;
}
