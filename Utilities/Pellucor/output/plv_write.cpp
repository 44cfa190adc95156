// SPDX-License-Identifier: MIT
// The PLV output of a run, on the output file's calls: every record, the
// header and the index with the trailer, is one whole part of the output.
#include "plv_write.h"

#include <iterator>
#include <new>

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

// Where a thread codes its frames alone: a place for each of its output
// buffers (a worker packs into two in turn), and the search table.
struct KeyPlace {
    const std::uint8_t* words = nullptr;
    std::vector<std::uint8_t> codes;
};
constexpr std::size_t KEY_PLACES = 2;
thread_local KeyPlace key_places[KEY_PLACES];
thread_local std::size_t next_key_place = 0;
thread_local std::vector<std::uint32_t> key_positions;

}  // namespace

PlvKeyCodes code_plv_key(const std::uint8_t* words)
{
    KeyPlace* place = nullptr;
    for (KeyPlace& candidate : key_places) {
        if (candidate.words == words) place = &candidate;
    }
    if (place == nullptr) {
        place = &key_places[next_key_place];
        next_key_place = (next_key_place + 1) % KEY_PLACES;
        place->words = words;
    }
    // Reserved once a thread and buffer; without the memory the frame is
    // coded by the writer instead.
    try {
        place->codes.resize(encoder.codes.size());
        key_positions.resize(PLV_SEARCH_TABLE_SIZE);
    } catch (const std::bad_alloc&) {
        place->words = nullptr;
        return {{}, nullptr};
    }
    return plv_code_key(encoder.settings, words, key_positions.data(), place->codes.data());
}

bool start_plv_output(const PlvSettings& settings, std::size_t expected_frames)
{
    active = plv_start(encoder, settings, expected_frames);
    return active;
}

bool write_plv_frame(const std::uint8_t* words, const WordFormat& format, const PlvKeyCodes& key)
{
    if (!header_written && !write_header()) {
        return false;
    }
    const PlvRecord record = plv_frame_record(encoder, words, static_cast<std::uint8_t>(word_format_number(format)),
                                              key.bytes != nullptr ? &key : nullptr);
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
