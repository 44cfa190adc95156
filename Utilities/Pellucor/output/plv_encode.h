// SPDX-License-Identifier: MIT
// PLV: the video as records of coded 16-bit words, with a header, an index
// and a trailer (docs/plv.md). Every field is little-endian; pixel words are
// the two bytes the frame's word format wrote, never looked into.
//
//   header (64)  record ...  index record  trailer (16)
//   record: type, word format, 0, 0 | payload size (4) | CRC-32 (4) | payload | 0 to 3 zero bytes
//   code word: OO NNNNNNNNNNNNNN, N + 1 pixels, OO = 00 SKIP, 01 LITERAL (N + 1 words follow),
//              10 REPEAT (1 word follows), 11 COPY (a 16-bit distance D follows)
//
// The functions here build the bytes; the writer (plv_write.h) puts them in
// the output in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::size_t PLV_HEADER_SIZE = 64;
constexpr std::size_t PLV_RECORD_HEADER_SIZE = 12;
constexpr std::size_t PLV_INDEX_ENTRY_SIZE = 16;
constexpr std::size_t PLV_TRAILER_SIZE = 16;
constexpr std::size_t PLV_RECORD_ALIGNMENT = 4;
// The farthest a COPY reaches back, and the most pixels one code covers.
constexpr std::uint32_t PLV_MOST_DISTANCE = 65535;
constexpr std::size_t PLV_MOST_COUNT = 16384;
constexpr std::uint32_t PLV_MOST_SIDE = 65535;
// The most frames a file holds: the index's payload size is 32-bit.
constexpr std::uint32_t PLV_MOST_FRAMES = UINT32_MAX / PLV_INDEX_ENTRY_SIZE;

enum class PlvType : std::uint8_t { raw = 0, key = 1, delta = 2, index = 0x81 };
// stream: no COPY reads a pixel its own frame skipped (a player needs no
// frame buffer); frame_buffer: a COPY may.
enum class PlvProfile : std::uint8_t { stream = 0, frame_buffer = 1 };

// What a run asks of the PLV output.
struct PlvSettings {
    std::uint32_t width, height;  // 1 to 65535 each
    PlvProfile profile;
    std::uint32_t window;     // the bound on every COPY's distance, at most 65535
    std::uint32_t key_every;  // the most frames from one key or raw frame to the next, at least 1
    std::uint32_t rate_numerator, rate_denominator;
};

// The window of a run: rows of the video in profile stream, capped at
// PLV_MOST_DISTANCE words; PLV_MOST_DISTANCE in profile frame_buffer.
std::uint32_t plv_window(PlvProfile profile, std::uint32_t rows, std::uint32_t width);

// What coding one frame came to.
struct PlvCodes {
    bool fits;  // false: the codes would pass capacity, and were dropped
    std::size_t size;
    bool skips;           // a SKIP among them: a delta frame
    std::size_t skipped;  // pixels skipped, as far as the codes went
    std::uint32_t largest_distance;
};

constexpr unsigned PLV_HASH_BITS = 12;
constexpr std::size_t PLV_HASH_SIZE = std::size_t {1} << PLV_HASH_BITS;
// The search table: two 32-bit values an entry.
constexpr std::size_t PLV_SEARCH_TABLE_SIZE = 2 * PLV_HASH_SIZE;

// Codes pixels words at words into at most capacity bytes at codes: against
// previous (the last frame's words, same format) with SKIP, or alone where
// previous is nullptr. Every COPY distance is at most window; in profile
// stream no COPY reads a pixel this frame skipped. positions is a table of
// PLV_SEARCH_TABLE_SIZE values that the search uses. Greedy: at each pixel the
// longest of a skip, a run of one word, a copy of the row above and a copy
// found by hashing two words wins, by the bytes it saves over literals.
PlvCodes plv_code_frame(const std::uint8_t* words, const std::uint8_t* previous, std::size_t pixels, std::size_t width,
                        std::uint32_t window, PlvProfile profile, std::uint32_t* positions, std::uint8_t* codes,
                        std::size_t capacity);

// A coded frame is kept when it saves at least 1/PLV_RAW_SHARE of the raw
// payload (rounded down); else the frame is stored raw.
constexpr std::size_t PLV_RAW_SHARE = 16;
// Given less room than the raw words, the search gives up on a frame whose
// first 32nd, 16th, eighth, quarter or half saves less than 1/PLV_CHECKPOINT_SHARE of
// its bytes, where few pixels of the rest are like their neighbours.
constexpr std::size_t PLV_CHECKPOINT_SHARE = 64;
// A frame is coded against the one before it where at least
// 1/PLV_DELTA_TRIAL_SHARE of its pixels are unchanged, in aligned groups of
// four, and kept so where that is smaller than coded alone.
constexpr std::size_t PLV_DELTA_TRIAL_SHARE = 16;

// A frame coded alone, as a key frame: its codes and where they lie.
struct PlvKeyCodes {
    PlvCodes codes;
    const std::uint8_t* bytes;
};

// Codes a frame of the settings' size alone, into codes (room for its raw
// words) with positions (PLV_SEARCH_TABLE_SIZE values): what plv_frame_record
// takes, worked out on any thread beforehand.
PlvKeyCodes plv_code_key(const PlvSettings& settings, const std::uint8_t* words, std::uint32_t* positions,
                         std::uint8_t* codes);

// The state of one PLV output, its buffers reserved once a run.
struct PlvEncoder {
    PlvSettings settings {};
    std::size_t pixels = 0;
    std::vector<std::uint8_t> previous;  // the last frame's words
    bool has_previous = false;
    std::uint8_t previous_format = 0;
    std::uint32_t since_key = 0;  // frames from the last key or raw frame, counting it
    std::vector<std::uint32_t> positions;
    std::vector<std::uint8_t> codes, key_codes;
    std::uint8_t record_header[PLV_RECORD_HEADER_SIZE] = {};
    // The index record as it grows: its header, then an entry a frame.
    std::vector<std::uint8_t> index;
    std::uint64_t offset = 0;  // of the next record, from the header's first byte
    // What the finished header says.
    std::uint32_t frames = 0, largest_payload = 0, key_interval = 0, largest_distance = 0;
    std::uint8_t formats = 0;
};

// Reserves the encoder's buffers for frames of the settings' size, with
// room in the index for expected_frames. False where the memory cannot be
// had, or the settings are out of their ranges.
bool plv_start(PlvEncoder& encoder, const PlvSettings& settings, std::size_t expected_frames);

// The header: as at the start (the fields known only at the end are 0, the
// window the bound the run keeps), or finished, from what was written.
void plv_write_header(const PlvEncoder& encoder, bool finished, std::uint8_t* header);

// One record as its pieces: header, payload, zero padding.
struct PlvRecord {
    const std::uint8_t* header;
    const std::uint8_t* payload;
    std::size_t payload_size;
    std::size_t padding;
};

// Codes one frame of words in word format (0 to 7) and chooses its record:
// raw, key or delta, whichever is smallest, raw unless coding saves its
// share. key is the frame coded alone, worked out beforehand, or nullptr to
// code it here. Counts it in the index. The pieces stay valid until the next call;
// header is nullptr, and nothing counted, where the index has no room left.
PlvRecord plv_frame_record(PlvEncoder& encoder, const std::uint8_t* words, std::uint8_t format,
                           const PlvKeyCodes* key = nullptr);

// The index record and the trailer after it, as one block of bytes:
// written last, once. Valid until the encoder changes.
const std::vector<std::uint8_t>& plv_finish(PlvEncoder& encoder);

// The CRC-32 of PLV (and PNG, and zlib's crc32) of size bytes at data.
std::uint32_t plv_crc(const std::uint8_t* data, std::size_t size);
