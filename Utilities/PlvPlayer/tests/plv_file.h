// SPDX-License-Identifier: MIT
// Test helpers: PLV files built from codes, with every count, index entry
// and CRC filled in, and the pictures they stand for, painted pixel by pixel.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "plv_player.h"

namespace plv_test {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void put32(Bytes& b, std::uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

inline void put64(Bytes& b, std::uint64_t v)
{
    put32(b, static_cast<std::uint32_t>(v));
    put32(b, static_cast<std::uint32_t>(v >> 32));
}

inline void set32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A pixel word as the two bytes it is stored as: 0xF800 is F8 00.
inline void put_pixel(Bytes& b, std::uint16_t word)
{
    b.push_back(static_cast<std::uint8_t>(word >> 8));
    b.push_back(static_cast<std::uint8_t>(word));
}

enum Op : std::uint32_t { SKIP = 0, LITERAL = 1, REPEAT = 2, COPY = 3 };

inline void code(Bytes& b, Op op, std::uint32_t count)
{
    put16(b, op << 14 | (count - 1));
}

inline Bytes skip(std::uint32_t n)
{
    Bytes b;
    code(b, SKIP, n);
    return b;
}

inline Bytes literal(const std::vector<std::uint16_t>& words)
{
    Bytes b;
    code(b, LITERAL, static_cast<std::uint32_t>(words.size()));
    for (auto w : words) put_pixel(b, w);
    return b;
}

inline Bytes repeat(std::uint32_t n, std::uint16_t word)
{
    Bytes b;
    code(b, REPEAT, n);
    put_pixel(b, word);
    return b;
}

inline Bytes copy(std::uint32_t n, std::uint32_t distance)
{
    Bytes b;
    code(b, COPY, n);
    put16(b, distance);
    return b;
}

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Record {
    std::uint8_t type;
    std::uint8_t format;
    Bytes payload;
};

struct Video {
    std::uint32_t width = 4, height = 1;
    std::uint32_t header_size = 64;  // bytes past 64 are written 0xA5
    std::uint8_t profile = 0;
    std::uint32_t window = 0;
    std::uint32_t rate_numerator = 30, rate_denominator = 1;
    std::vector<Record> records;
    bool finished = true;     // index and trailer
    bool fill_header = true;  // the fields left 0 while unknown
};

constexpr std::size_t HEADER = 64;

// The file, and the offset of each record.
inline Bytes build(const Video& v, std::vector<std::size_t>* offsets = nullptr)
{
    Bytes f = {0x89, 0x50, 0x4C, 0x56, 0x0D, 0x0A, 0x1A, 0x0A};
    put16(f, 1);
    put16(f, v.header_size);
    put16(f, v.width);
    put16(f, v.height);
    f.push_back(v.profile);
    f.push_back(0);  // formats
    put16(f, 0);
    put32(f, v.window);
    put32(f, 0);  // frame count
    put32(f, v.rate_numerator);
    put32(f, v.rate_denominator);
    put32(f, 0);  // largest payload
    put32(f, 0);  // key interval
    f.resize(HEADER);
    f.resize(v.header_size, 0xA5);
    Bytes index;
    std::uint32_t formats = 0, frames = 0, largest = 0, interval = 0, run = 0;
    for (const Record& r : v.records) {
        const std::size_t at = f.size();
        if (offsets != nullptr) offsets->push_back(at);
        f.push_back(r.type);
        f.push_back(r.format);
        put16(f, 0);
        put32(f, static_cast<std::uint32_t>(r.payload.size()));
        put32(f, plv_crc32(0, r.payload.data(), r.payload.size()));
        f.insert(f.end(), r.payload.begin(), r.payload.end());
        while (f.size() % 4 != 0) f.push_back(0);
        if (r.type < 0x80) {
            ++frames;
            formats |= 1u << (r.format & 7);
            largest = std::max<std::uint32_t>(largest, static_cast<std::uint32_t>(r.payload.size()));
            run = r.type == PLV_DELTA ? run + 1 : 1;
            interval = std::max(interval, run);
            put64(index, at);
            put32(index, static_cast<std::uint32_t>(r.payload.size()));
            index.push_back(r.type);
            index.push_back(r.format);
            put16(index, 0);
        }
    }
    if (v.finished) {
        const std::size_t at = f.size();
        f.push_back(PLV_INDEX);
        f.push_back(0);
        put16(f, 0);
        put32(f, static_cast<std::uint32_t>(index.size()));
        put32(f, plv_crc32(0, index.data(), index.size()));
        f.insert(f.end(), index.begin(), index.end());
        put64(f, at);
        put32(f, frames);
        f.insert(f.end(), {0x50, 0x4C, 0x56, 0x54});
        if (v.fill_header) {
            f[17] = static_cast<std::uint8_t>(formats);
            set32(f, 24, frames);
            set32(f, 36, largest);
            set32(f, 40, interval);
        }
    }
    set32(f, 60, plv_crc32(0, f.data(), 60));
    return f;
}

// The header's CRC, after a test changed the header.
inline void rehash_header(Bytes& f)
{
    set32(f, 60, plv_crc32(0, f.data(), 60));
}

// The index record's CRC, the record at index_offset.
inline void rehash_record(Bytes& f, std::size_t offset)
{
    const std::uint32_t size = f[offset + 4] | f[offset + 5] << 8 | f[offset + 6] << 16 | f[offset + 7] << 24;
    set32(f, offset + 8, plv_crc32(0, f.data() + offset + 12, size));
}

// The pictures of the frames, painted one pixel at a time as the format
// says (2 bytes a pixel); a skipped pixel keeps the frame before's word.
inline std::vector<Bytes> pictures(const Video& v)
{
    std::vector<Bytes> out;
    Bytes picture(2 * v.width * v.height, 0);
    for (const Record& r : v.records) {
        if (r.type >= 0x80) continue;
        if (r.type == PLV_RAW) {
            picture = r.payload;
        } else {
            std::size_t at = 0, pos = 0;
            auto word = [&] {
                const std::uint32_t w = r.payload[at] | r.payload[at + 1] << 8;
                at += 2;
                return w;
            };
            while (at < r.payload.size()) {
                const std::uint32_t c = word(), n = (c & 0x3FFF) + 1;
                const Op op = static_cast<Op>(c >> 14);
                const std::size_t operand = at;
                const std::uint32_t distance = op == COPY ? word() : 0;
                if (op == REPEAT) at += 2;
                for (std::uint32_t i = 0; i < n; ++i, ++pos) {
                    if (op == LITERAL) {
                        picture[2 * pos] = r.payload[at++];
                        picture[2 * pos + 1] = r.payload[at++];
                    } else if (op == REPEAT) {
                        picture[2 * pos] = r.payload[operand];
                        picture[2 * pos + 1] = r.payload[operand + 1];
                    } else if (op == COPY) {
                        picture[2 * pos] = picture[2 * (pos - distance)];
                        picture[2 * pos + 1] = picture[2 * (pos - distance) + 1];
                    }
                }
            }
        }
        out.push_back(picture);
    }
    return out;
}

}  // namespace plv_test
