// SPDX-License-Identifier: MIT
// The PLV output of a run, on the output file's calls: every record, the
// header and the index with the trailer, is one whole part of the output.
#include "plv_write.h"

#include "output_file.h"

namespace {

PlvEncoder encoder;
bool active = false;
bool header_written = false;
constexpr std::uint8_t PADDING[PLV_RECORD_ALIGNMENT] = {};

bool write_header()
{
    std::uint8_t header[PLV_HEADER_SIZE];
    plv_write_header(encoder, false, header);
    const OutputPiece piece {header, sizeof header};
    header_written = write_whole(&piece, 1);
    return header_written;
}

}  // namespace

bool start_plv_output(const PlvSettings& settings, std::size_t expected_frames)
{
    active = plv_start(encoder, settings, expected_frames);
    return active;
}

bool write_plv_frame(const std::uint8_t* words, const WordFormat& format)
{
    if (!header_written && !write_header()) {
        return false;
    }
    const PlvRecord record = plv_frame_record(encoder, words, static_cast<std::uint8_t>(word_format_number(format)));
    if (record.header == nullptr) {
        return false;
    }
    const OutputPiece pieces[] = {
        {record.header, PLV_RECORD_HEADER_SIZE}, {record.payload, record.payload_size}, {PADDING, record.padding}};
    return write_whole(pieces, std::size(pieces));
}

bool finish_plv_output()
{
    if (!header_written && !write_header()) {
        return false;
    }
    const std::vector<std::uint8_t>& end = plv_finish(encoder);
    const OutputPiece piece {end.data(), end.size()};
    if (!write_whole(&piece, 1)) {
        return false;
    }
    if (!output_rewritable()) {
        return true;
    }
    std::uint8_t header[PLV_HEADER_SIZE];
    plv_write_header(encoder, true, header);
    return rewrite_output(0, header, sizeof header);
}

bool finish_plv_output_after_failure()
{
    if (!active || !header_written) {
        return false;
    }
    active = false;
    finish_plv_output();
    return true;
}
