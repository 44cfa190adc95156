// SPDX-License-Identifier: MIT
// PLV records: coding a frame of words, choosing its record, and the header,
// index and trailer around them.
//
//   header  0 magic 89 50 4C 56 0D 0A 1A 0A | 8 version | 10 header size | 12 width | 14 height
//          16 profile | 17 word formats used | 20 window | 24 frames | 28 rate N | 32 rate D
//          36 largest frame payload | 40 key interval | 60 CRC-32 of bytes 0 to 59
//   index entry  0 record offset (8) | 8 payload size (4) | 12 type | 13 word format | 14 0, 0
//   trailer  0 index record offset (8) | 8 frames (4) | 12 50 4C 56 54
#include "plv_encode.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "vector_path.h"

namespace {

constexpr std::uint8_t MAGIC[] = {0x89, 0x50, 0x4C, 0x56, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint8_t TRAILER_TAG[] = {0x50, 0x4C, 0x56, 0x54};
constexpr unsigned VERSION = 1;

enum HeaderField : std::size_t {
    VERSION_AT = 8,
    HEADER_SIZE_AT = 10,
    WIDTH_AT = 12,
    HEIGHT_AT = 14,
    PROFILE_AT = 16,
    FORMATS_AT = 17,
    WINDOW_AT = 20,
    FRAMES_AT = 24,
    RATE_NUMERATOR_AT = 28,
    RATE_DENOMINATOR_AT = 32,
    LARGEST_PAYLOAD_AT = 36,
    KEY_INTERVAL_AT = 40,
    HEADER_CRC_AT = 60,
};
enum RecordField : std::size_t { TYPE_AT = 0, FORMAT_AT = 1, SIZE_AT = 4, CRC_AT = 8 };
enum IndexField : std::size_t { ENTRY_OFFSET_AT = 0, ENTRY_SIZE_AT = 8, ENTRY_TYPE_AT = 12, ENTRY_FORMAT_AT = 13 };
enum TrailerField : std::size_t { INDEX_OFFSET_AT = 0, TRAILER_FRAMES_AT = 8, TAG_AT = 12 };

constexpr unsigned BYTE_BITS = 8;
constexpr std::size_t WORD_SIZE = 2;

void put_16(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> BYTE_BITS);
}

void put_32(std::uint8_t* at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (BYTE_BITS * i));
    }
}

void put_64(std::uint8_t* at, std::uint64_t value)
{
    put_32(at, static_cast<std::uint32_t>(value));
    put_32(at + 4, static_cast<std::uint32_t>(value >> 32));
}

// Codes: the operation in the top two bits, the count less one below.
constexpr unsigned COUNT_BITS = 14;
enum Operation : std::uint32_t { SKIP = 0, LITERAL = 1, REPEAT = 2, COPY = 3 };
// The bytes of a SKIP, and of a REPEAT or COPY (code word and operand).
constexpr std::size_t SKIP_SIZE = WORD_SIZE, RUN_SIZE = 2 * WORD_SIZE;
// The shortest skip and run worth a code of their own amid literals.
constexpr std::size_t SHORTEST_SKIP = 2, SHORTEST_RUN = 3;
// After this many pixels in a row without a match the search looks at
// every second pixel only, then every third, and so on: content that does
// not code costs little time.
constexpr unsigned MISS_STEP_SHIFT = 6;
constexpr std::size_t SHORT_MATCH = 8;
constexpr std::size_t CHECKED_PIXELS = 4096;
constexpr std::size_t CHECKPOINT_PARTS = 32;
// The rest of a frame is looked at every SAMPLE_STEP pixels; few pixels are
// like a neighbour when fewer than 1 in SAMPLE_SHARE are.
constexpr std::size_t SAMPLE_STEP = 16, SAMPLE_SHARE = 4;

constexpr std::uint32_t HASH_MULTIPLIER = 2654435761u;

// The codes as they are written, and whether they still fit.
struct CodeOutput {
    std::uint8_t* at;
    std::uint8_t* end;
    bool fits;
};

void put_code(std::uint8_t* at, Operation operation, std::size_t count)
{
    put_16(at, operation << COUNT_BITS | static_cast<std::uint32_t>(count - 1));
}

void put_literals(CodeOutput& out, const std::uint8_t* words, std::size_t count)
{
    while (count > 0 && out.fits) {
        const std::size_t n = std::min(count, PLV_MOST_COUNT);
        const std::size_t bytes = WORD_SIZE + WORD_SIZE * n;
        if (static_cast<std::size_t>(out.end - out.at) < bytes) {
            out.fits = false;
            return;
        }
        put_code(out.at, LITERAL, n);
        std::memcpy(out.at + WORD_SIZE, words, WORD_SIZE * n);
        out.at += bytes;
        words += WORD_SIZE * n;
        count -= n;
    }
}

// A SKIP (operand nullptr), or a REPEAT or COPY with its two operand bytes,
// split into codes of at most PLV_MOST_COUNT pixels.
void put_run(CodeOutput& out, Operation operation, std::size_t count, const std::uint8_t* operand)
{
    const std::size_t bytes = operand == nullptr ? SKIP_SIZE : RUN_SIZE;
    while (count > 0 && out.fits) {
        const std::size_t n = std::min(count, PLV_MOST_COUNT);
        if (static_cast<std::size_t>(out.end - out.at) < bytes) {
            out.fits = false;
            return;
        }
        put_code(out.at, operation, n);
        if (operand != nullptr) {
            out.at[WORD_SIZE] = operand[0];
            out.at[WORD_SIZE + 1] = operand[1];
        }
        out.at += bytes;
        count -= n;
    }
}

// How many words from the first on, at most limit, are the same at a and b.
// a and b may overlap: the words are compared as they are.
std::size_t same_words(const std::uint8_t* a, const std::uint8_t* b, std::size_t limit)
{
    constexpr std::size_t CHUNK = sizeof(std::uint64_t);
    const std::size_t bytes = WORD_SIZE * limit;
    std::size_t at = 0;
    for (; bytes - at >= CHUNK; at += CHUNK) {
        std::uint64_t x = 0, y = 0;
        std::memcpy(&x, a + at, CHUNK);
        std::memcpy(&y, b + at, CHUNK);
        if (x != y) {
            const std::uint64_t difference = x ^ y;
            const int same_bits = std::endian::native == std::endian::little ? std::countr_zero(difference)
                                                                             : std::countl_zero(difference);
            return (at + static_cast<std::size_t>(same_bits) / BYTE_BITS) / WORD_SIZE;
        }
    }
    for (; at < bytes && a[at] == b[at] && a[at + 1] == b[at + 1]; at += WORD_SIZE) {
    }
    return at / WORD_SIZE;
}

// The two words at at as one value, the same on every host.
std::uint32_t load_pair(const std::uint8_t* at)
{
    return std::uint32_t {at[0]} | std::uint32_t {at[1]} << 8 | std::uint32_t {at[2]} << 16 |
           std::uint32_t {at[3]} << 24;
}

std::size_t hash_pair(std::uint32_t pair)
{
    return (pair * HASH_MULTIPLIER) >> (32 - PLV_HASH_BITS);
}

// How many pixels are the same in both frames, counted in aligned groups
// of four that are the same whole: pixels that SKIP can pass over.
std::size_t unchanged_pixels(const std::uint8_t* words, const std::uint8_t* previous, std::size_t pixels)
{
    constexpr std::size_t CHUNK = sizeof(std::uint64_t), CHUNK_PIXELS = CHUNK / WORD_SIZE;
    std::size_t same = 0;
    for (std::size_t at = 0; pixels - at >= CHUNK_PIXELS; at += CHUNK_PIXELS) {
        same += static_cast<std::size_t>(std::memcmp(words + WORD_SIZE * at, previous + WORD_SIZE * at, CHUNK) == 0);
    }
    return CHUNK_PIXELS * same;
}

// Whether few pixels of the frame from p on, looked at every SAMPLE_STEP,
// are the same as the pixel on their left or above them.
bool few_like_neighbours(const std::uint8_t* words, std::size_t p, std::size_t pixels, std::size_t width)
{
    std::size_t samples = 0, alike = 0;
    for (std::size_t q = std::max(p, width); q < pixels; q += SAMPLE_STEP) {
        ++samples;
        alike += static_cast<std::size_t>(same_words(words + WORD_SIZE * q, words + WORD_SIZE * (q - 1), 1) == 1 ||
                                          same_words(words + WORD_SIZE * q, words + WORD_SIZE * (q - width), 1) == 1);
    }
    return alike * SAMPLE_SHARE < samples;
}

}  // namespace

std::uint32_t plv_crc(const std::uint8_t* data, std::size_t size)
{
    const ChunkCrc crc = kernels().chunk_crc;
    return crc != nullptr ? crc(data, size) : ~run_crc_table(~0u, data, size);
}

std::uint32_t plv_window(PlvProfile profile, std::uint32_t rows, std::uint32_t width)
{
    if (profile == PlvProfile::frame_buffer) {
        return PLV_MOST_DISTANCE;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t {rows} * width, PLV_MOST_DISTANCE));
}

PlvCodes plv_code_frame(const std::uint8_t* words, const std::uint8_t* previous, std::size_t pixels, std::size_t width,
                        std::uint32_t window, PlvProfile profile, std::uint32_t* positions, std::uint8_t* codes,
                        std::size_t capacity)
{
    PlvCodes result {true, 0, false, 0, 0};
    CodeOutput out {codes, codes + capacity, true};
    std::fill(positions, positions + PLV_SEARCH_TABLE_SIZE, 0u);
    const bool stream = profile == PlvProfile::stream;
    std::size_t p = 0, literal_start = 0, misses = 0;
    // In profile stream a COPY may read from here on only: every pixel
    // before it that a SKIP left is behind it.
    std::size_t skipped_end = 0;
    // Checkpoints at a 32nd, a 16th, an eighth, a quarter and a half of the
    // frame: a camera's frame is given up early, and one whose rest holds
    // pixels like their neighbours is searched to its end. Small
    // frames cost little; and codes given room for the raw words are not
    // being weighed against them.
    std::size_t checkpoint = pixels / CHECKPOINT_PARTS;
    bool checking = pixels >= CHECKED_PIXELS && capacity < WORD_SIZE * pixels;
    while (p < pixels && out.fits) {
        // A frame that has coded to nearly as many bytes as it has so far,
        // and whose rest holds few pixels like their neighbour on the left
        // or above, is left to be stored raw: on content that does not code
        // (a camera's noise) the rest is not searched.
        if (checking && p >= checkpoint) {
            checking = checkpoint < pixels / 2;
            checkpoint *= 2;
            const std::size_t so_far = static_cast<std::size_t>(out.at - codes) + WORD_SIZE * (p - literal_start + 1);
            if (so_far > WORD_SIZE * p - WORD_SIZE * p / PLV_CHECKPOINT_SHARE &&
                few_like_neighbours(words, p, pixels, width)) {
                out.fits = false;
                break;
            }
        }
        const std::size_t left = pixels - p;
        Operation operation = LITERAL;
        std::size_t length = 0, saving = 0, distance = 0;
        const auto consider = [&](Operation candidate, std::size_t n, std::size_t cost, std::size_t shortest,
                                  std::size_t from) {
            if (n >= shortest && WORD_SIZE * n - cost > saving) {
                operation = candidate;
                length = n;
                saving = WORD_SIZE * n - cost;
                distance = from;
            }
        };
        const std::uint8_t* const here = words + WORD_SIZE * p;
        // Two words are compared first, as one: every code worth its bytes
        // covers at least two pixels, and on content that does not code the
        // branches below are then rarely taken.
        const std::uint32_t pair = left >= 2 ? load_pair(here) : 0;
        const bool skip = previous != nullptr && left >= SHORTEST_SKIP && pair == load_pair(previous + WORD_SIZE * p);
        const bool run = left >= SHORTEST_RUN && pair == load_pair(here + WORD_SIZE);
        const bool above = p >= width && width <= window && left >= SHORTEST_RUN &&
                           (!stream || p - width >= skipped_end) && pair == load_pair(here - WORD_SIZE * width);
        std::size_t from = 0;
        bool hashed = false;
        if (left >= SHORTEST_RUN) {
            // An entry holds a pixel plus 1 (0: none) and the two words
            // there, so that most misses never read the frame.
            std::uint32_t* const entry = positions + 2 * hash_pair(pair);
            const std::size_t found = entry[0];
            const bool same = entry[1] == pair;
            entry[0] = static_cast<std::uint32_t>(p + 1);
            entry[1] = pair;
            from = found - 1;
            hashed = same && found != 0 && p - from <= window && p - from != width && (!stream || from >= skipped_end);
        }
        if (skip | run | above | hashed) {
            if (skip) {
                consider(SKIP, same_words(here, previous + WORD_SIZE * p, left), SKIP_SIZE, SHORTEST_SKIP, 0);
            }
            if (run) {
                consider(REPEAT, 1 + same_words(here + WORD_SIZE, here, left - 1), RUN_SIZE, SHORTEST_RUN, 0);
            }
            if (above) {
                consider(COPY, same_words(here, here - WORD_SIZE * width, left), RUN_SIZE, SHORTEST_RUN, width);
            }
            if (hashed) {
                consider(COPY, same_words(here, words + WORD_SIZE * from, left), RUN_SIZE, SHORTEST_RUN, p - from);
            }
        }
        if (length == 0) {
            ++misses;
            p += std::min<std::size_t>(1 + (misses >> MISS_STEP_SHIFT), left);
            continue;
        }
        put_literals(out, words + WORD_SIZE * literal_start, p - literal_start);
        if (operation == SKIP) {
            put_run(out, SKIP, length, nullptr);
            result.skips = true;
            result.skipped += length;
            skipped_end = p + length;
        } else if (operation == REPEAT) {
            put_run(out, REPEAT, length, here);
        } else {
            std::uint8_t operand[WORD_SIZE];
            put_16(operand, static_cast<std::uint32_t>(distance));
            put_run(out, COPY, length, operand);
            result.largest_distance = std::max(result.largest_distance, static_cast<std::uint32_t>(distance));
        }
        p += length;
        literal_start = p;
        // A short match amid literals earns the search less than a long one.
        misses = length < SHORT_MATCH ? misses / 2 : 0;
    }
    put_literals(out, words + WORD_SIZE * literal_start, pixels - literal_start);
    result.fits = out.fits;
    result.size = out.fits ? static_cast<std::size_t>(out.at - codes) : 0;
    return result;
}

PlvKeyCodes plv_code_key(const PlvSettings& settings, const std::uint8_t* words, std::uint32_t* positions,
                         std::uint8_t* codes)
{
    const std::size_t pixels = std::size_t {settings.width} * settings.height, raw = WORD_SIZE * pixels;
    return {plv_code_frame(words, nullptr, pixels, settings.width, settings.window, settings.profile, positions, codes,
                           raw - raw / PLV_RAW_SHARE),
            codes};
}

bool plv_start(PlvEncoder& encoder, const PlvSettings& settings, std::size_t expected_frames)
{
    constexpr std::size_t MOST_RESERVED_ENTRIES = std::size_t {1} << 16;
    encoder = PlvEncoder {};
    if (settings.width < 1 || settings.height < 1 || settings.width > PLV_MOST_SIDE ||
        settings.height > PLV_MOST_SIDE || settings.window > PLV_MOST_DISTANCE || settings.key_every < 1) {
        return false;
    }
    encoder.settings = settings;
    encoder.pixels = std::size_t {settings.width} * settings.height;
    const std::size_t raw = WORD_SIZE * encoder.pixels;
    try {
        encoder.previous.resize(raw);
        encoder.positions.resize(PLV_SEARCH_TABLE_SIZE);
        encoder.codes.resize(raw);
        encoder.key_codes.resize(raw);
        encoder.index.reserve(PLV_RECORD_HEADER_SIZE +
                              PLV_INDEX_ENTRY_SIZE * std::min(expected_frames, MOST_RESERVED_ENTRIES) +
                              PLV_TRAILER_SIZE);
        encoder.index.resize(PLV_RECORD_HEADER_SIZE);
    } catch (const std::bad_alloc&) {
        encoder = PlvEncoder {};
        return false;
    }
    encoder.offset = PLV_HEADER_SIZE;
    return true;
}

void plv_write_header(const PlvEncoder& encoder, bool finished, std::uint8_t* header)
{
    const PlvSettings& settings = encoder.settings;
    std::memset(header, 0, PLV_HEADER_SIZE);
    std::memcpy(header, MAGIC, sizeof MAGIC);
    put_16(header + VERSION_AT, VERSION);
    put_16(header + HEADER_SIZE_AT, PLV_HEADER_SIZE);
    put_16(header + WIDTH_AT, settings.width);
    put_16(header + HEIGHT_AT, settings.height);
    header[PROFILE_AT] = static_cast<std::uint8_t>(settings.profile);
    put_32(header + RATE_NUMERATOR_AT, settings.rate_numerator);
    put_32(header + RATE_DENOMINATOR_AT, settings.rate_denominator);
    put_32(header + WINDOW_AT, finished ? encoder.largest_distance : settings.window);
    if (finished) {
        header[FORMATS_AT] = encoder.formats;
        put_32(header + FRAMES_AT, encoder.frames);
        put_32(header + LARGEST_PAYLOAD_AT, encoder.largest_payload);
        put_32(header + KEY_INTERVAL_AT, encoder.key_interval);
    }
    put_32(header + HEADER_CRC_AT, plv_crc(header, HEADER_CRC_AT));
}

PlvRecord plv_frame_record(PlvEncoder& encoder, const std::uint8_t* words, std::uint8_t format, const PlvKeyCodes* key)
{
    const PlvSettings& settings = encoder.settings;
    const std::size_t raw = WORD_SIZE * encoder.pixels;
    // Room for the frame's index entry and the trailer, grown as a vector
    // grows: no allocation for most frames.
    std::vector<std::uint8_t>& index = encoder.index;
    const std::size_t needed = index.size() + PLV_INDEX_ENTRY_SIZE + PLV_TRAILER_SIZE;
    if (encoder.frames == PLV_MOST_FRAMES) {
        return {nullptr, nullptr, 0, 0};
    }
    if (index.capacity() < needed) {
        try {
            index.reserve(std::max(needed, 2 * index.capacity()));
        } catch (const std::bad_alloc&) {
            return {nullptr, nullptr, 0, 0};
        }
    }
    const std::size_t limit = raw - raw / PLV_RAW_SHARE;
    PlvKeyCodes own {};
    if (key == nullptr) {
        own = plv_code_key(encoder.settings, words, encoder.positions.data(), encoder.key_codes.data());
        key = &own;
    }
    PlvCodes codes = key->codes;
    const std::uint8_t* coded = key->bytes;
    // Against the frame before: only where enough of its pixels stay as
    // they were for SKIP to pay.
    if (encoder.has_previous && encoder.previous_format == format && encoder.since_key < settings.key_every &&
        unchanged_pixels(words, encoder.previous.data(), encoder.pixels) >= encoder.pixels / PLV_DELTA_TRIAL_SHARE) {
        const PlvCodes delta = plv_code_frame(words, encoder.previous.data(), encoder.pixels, settings.width,
                                              settings.window, settings.profile, encoder.positions.data(),
                                              encoder.codes.data(), codes.fits ? codes.size - 1 : limit);
        if (delta.fits) {
            codes = delta;
            coded = encoder.codes.data();
        }
    }
    const PlvType type = !codes.fits ? PlvType::raw : codes.skips ? PlvType::delta : PlvType::key;
    const std::uint8_t* const payload = codes.fits ? coded : words;
    const std::size_t size = codes.fits ? codes.size : raw;

    std::uint8_t* const header = encoder.record_header;
    std::memset(header, 0, PLV_RECORD_HEADER_SIZE);
    header[TYPE_AT] = static_cast<std::uint8_t>(type);
    header[FORMAT_AT] = format;
    put_32(header + SIZE_AT, static_cast<std::uint32_t>(size));
    put_32(header + CRC_AT, plv_crc(payload, size));

    std::uint8_t entry[PLV_INDEX_ENTRY_SIZE] = {};
    put_64(entry + ENTRY_OFFSET_AT, encoder.offset);
    put_32(entry + ENTRY_SIZE_AT, static_cast<std::uint32_t>(size));
    entry[ENTRY_TYPE_AT] = static_cast<std::uint8_t>(type);
    entry[ENTRY_FORMAT_AT] = format;
    index.insert(index.end(), entry, entry + PLV_INDEX_ENTRY_SIZE);

    const std::size_t padding = (PLV_RECORD_ALIGNMENT - size % PLV_RECORD_ALIGNMENT) % PLV_RECORD_ALIGNMENT;
    encoder.offset += PLV_RECORD_HEADER_SIZE + size + padding;
    encoder.since_key = type == PlvType::delta ? encoder.since_key + 1 : 1;
    encoder.key_interval = std::max(encoder.key_interval, encoder.since_key);
    encoder.largest_payload = std::max(encoder.largest_payload, static_cast<std::uint32_t>(size));
    if (codes.fits) {
        encoder.largest_distance = std::max(encoder.largest_distance, codes.largest_distance);
    }
    encoder.formats = static_cast<std::uint8_t>(encoder.formats | 1u << format);
    ++encoder.frames;
    std::memcpy(encoder.previous.data(), words, raw);
    encoder.has_previous = true;
    encoder.previous_format = format;
    return {header, payload, size, padding};
}

const std::vector<std::uint8_t>& plv_finish(PlvEncoder& encoder)
{
    std::vector<std::uint8_t>& index = encoder.index;
    const std::size_t entries_size = index.size() - PLV_RECORD_HEADER_SIZE;
    std::memset(index.data(), 0, PLV_RECORD_HEADER_SIZE);
    index[TYPE_AT] = static_cast<std::uint8_t>(PlvType::index);
    put_32(index.data() + SIZE_AT, static_cast<std::uint32_t>(entries_size));
    put_32(index.data() + CRC_AT, plv_crc(index.data() + PLV_RECORD_HEADER_SIZE, entries_size));
    std::uint8_t trailer[PLV_TRAILER_SIZE] = {};
    put_64(trailer + INDEX_OFFSET_AT, encoder.offset);
    put_32(trailer + TRAILER_FRAMES_AT, encoder.frames);
    std::memcpy(trailer + TAG_AT, TRAILER_TAG, sizeof TRAILER_TAG);
    index.insert(index.end(), trailer, trailer + PLV_TRAILER_SIZE);
    return index;
}
