// SPDX-License-Identifier: MIT
// Small PNG files for the tests, written with libspng's own encoder, where
// the build reads PNG frames.
#pragma once

#ifdef PELLUCOR_PNG
#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tga.h"

// A PNG of width x height pixels: samples holds every pixel's channels in
// order, top row first, each sample of bit_depth bits.
struct PngParts {
    std::uint8_t color_type;
    std::uint8_t bit_depth;
    std::vector<unsigned> samples;
    bool interlaced = false;
    std::vector<Rgb> palette = {};
    Bytes transparency = {};  // tRNS alpha of the palette's entries
    int width = PICTURE_WIDTH, height = PICTURE_HEIGHT;
    int compression = -1;  // zlib's level; 0 stores the rows as they are
};

inline Bytes png_file(const PngParts& parts)
{
    const std::size_t channels = parts.samples.size() / static_cast<std::size_t>(parts.width * parts.height);
    const std::size_t row_samples = channels * static_cast<std::size_t>(parts.width);
    const std::size_t stride = (row_samples * parts.bit_depth + 7) / 8;
    // The rows as stored; 16-bit samples in the host's order, as the
    // encoder takes them.
    Bytes rows(stride * static_cast<std::size_t>(parts.height), 0);
    for (std::size_t y = 0; y < static_cast<std::size_t>(parts.height); ++y) {
        for (std::size_t i = 0; i < row_samples; ++i) {
            const unsigned value = parts.samples[y * row_samples + i];
            std::uint8_t* row = rows.data() + y * stride;
            if (parts.bit_depth == 16) {
                const auto sample = static_cast<std::uint16_t>(value);
                std::memcpy(row + 2 * i, &sample, sizeof sample);
            } else if (parts.bit_depth == 8) {
                row[i] = static_cast<std::uint8_t>(value);
            } else {
                const std::size_t bit = i * parts.bit_depth;
                row[bit / 8] |= static_cast<std::uint8_t>(value << (8 - parts.bit_depth - bit % 8));
            }
        }
    }
    spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1);
    spng_set_option(context, SPNG_IMG_COMPRESSION_LEVEL, parts.compression);
    spng_ihdr ihdr = {static_cast<std::uint32_t>(parts.width),
                      static_cast<std::uint32_t>(parts.height),
                      parts.bit_depth,
                      parts.color_type,
                      0,
                      0,
                      static_cast<std::uint8_t>(parts.interlaced)};
    spng_set_ihdr(context, &ihdr);
    if (!parts.palette.empty()) {
        spng_plte palette {};
        palette.n_entries = static_cast<std::uint32_t>(parts.palette.size());
        for (std::size_t i = 0; i < parts.palette.size(); ++i) {
            palette.entries[i] = {parts.palette[i].r, parts.palette[i].g, parts.palette[i].b, 255};
        }
        spng_set_plte(context, &palette);
    }
    if (!parts.transparency.empty()) {
        spng_trns transparency {};
        transparency.n_type3_entries = static_cast<std::uint32_t>(parts.transparency.size());
        std::memcpy(transparency.type3_alpha, parts.transparency.data(), parts.transparency.size());
        spng_set_trns(context, &transparency);
    }
    Bytes file;
    if (spng_encode_image(context, rows.data(), rows.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0) {
        std::size_t size = 0;
        int error = 0;
        auto* buffer = static_cast<std::uint8_t*>(spng_get_png_buffer(context, &size, &error));
        if (buffer != nullptr) {
            file.assign(buffer, buffer + size);
            std::free(buffer);
        }
    }
    spng_ctx_free(context);
    return file;
}

// A chunk's CRC-32, over its type and data, as the file stores it.
inline std::uint32_t chunk_crc(const std::uint8_t* type, std::size_t size)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= type[i];
        for (int bit = 0; bit < 8; ++bit) crc = crc >> 1 ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

// The PNG with one byte of its first IDAT chunk's data XORed with flip, at
// from_end bytes before the data's end (1: the last byte of the Adler-32),
// and the chunk's CRC made right again: damage that only the zlib stream's
// own checks can see.
inline Bytes with_idat_byte_flipped(Bytes png, std::size_t from_end, std::uint8_t flip)
{
    const char name[] = "IDAT";
    const auto type = std::search(png.begin(), png.end(), name, name + 4);
    const std::size_t at = static_cast<std::size_t>(type - png.begin());
    const std::size_t length = std::size_t {png[at - 4]} << 24 | std::size_t {png[at - 3]} << 16 |
                               std::size_t {png[at - 2]} << 8 | png[at - 1];
    png[at + 4 + length - from_end] ^= flip;
    const std::uint32_t crc = chunk_crc(png.data() + at, 4 + length);
    for (std::size_t i = 0; i < 4; ++i) png[at + 4 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    return png;
}

// The picture's channels, each sample widened to bits with a low byte
// other than the high one where there are 16.
inline std::vector<unsigned> picture_samples(unsigned bits, bool alpha, bool gray)
{
    std::vector<unsigned> samples;
    const auto widen = [&](unsigned v) { return bits == 16 ? v << 8 | 0xA5 : v; };
    for (std::size_t i = 0; i < PICTURE.size(); ++i) {
        if (gray) {
            samples.push_back(widen(GRAY_PICTURE[i]));
        } else {
            for (const unsigned v : {PICTURE[i].r, PICTURE[i].g, PICTURE[i].b}) samples.push_back(widen(v));
        }
        if (alpha) samples.push_back(widen(static_cast<unsigned>(i * 40)));
    }
    return samples;
}
// The PNG with its image data replaced by stream, in one IDAT chunk of a
// right CRC: damage of the zlib stream's own making.
inline Bytes with_image_data(const Bytes& png, const Bytes& stream)
{
    const char name[] = "IDAT";
    const auto first = std::search(png.begin(), png.end(), name, name + 4) - 4;
    const char end_name[] = "IEND";
    const auto end = std::search(png.begin(), png.end(), end_name, end_name + 4) - 4;
    Bytes chunk = {static_cast<std::uint8_t>(stream.size() >> 24),
                   static_cast<std::uint8_t>(stream.size() >> 16),
                   static_cast<std::uint8_t>(stream.size() >> 8),
                   static_cast<std::uint8_t>(stream.size()),
                   'I',
                   'D',
                   'A',
                   'T'};
    chunk.insert(chunk.end(), stream.begin(), stream.end());
    const std::uint32_t crc = chunk_crc(chunk.data() + 4, chunk.size() - 4);
    for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<std::uint8_t>(crc >> (24 - 8 * i)));
    Bytes file(png.begin(), first);
    file.insert(file.end(), chunk.begin(), chunk.end());
    file.insert(file.end(), end, png.end());
    return file;
}

// A zlib stream of data in stored blocks of at most block bytes, with its
// Adler-32 (plus adler_error); a block's length less short_by than its data,
// where the stream's one block says so.
inline Bytes stored_zlib(const Bytes& data, std::size_t block = 65535, std::uint32_t adler_error = 0)
{
    Bytes stream = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t size = std::min(block, data.size() - at);
        const bool last = at + size == data.size();
        stream.push_back(last ? 1 : 0);
        for (const unsigned v : {static_cast<unsigned>(size), static_cast<unsigned>(~size & 0xFFFF)}) {
            stream.push_back(static_cast<std::uint8_t>(v));
            stream.push_back(static_cast<std::uint8_t>(v >> 8));
        }
        stream.insert(stream.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + size));
        at += size;
    } while (at < data.size());
    std::uint32_t a = 1, b = 0;
    for (const std::uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    const std::uint32_t adler = (b << 16 | a) + adler_error;
    for (int i = 0; i < 4; ++i) stream.push_back(static_cast<std::uint8_t>(adler >> (24 - 8 * i)));
    return stream;
}

// The rows of an 8-bit image as its zlib stream holds them, each behind
// its filter type, None.
inline Bytes unfiltered_rows(const std::vector<unsigned>& samples, std::size_t row_samples)
{
    Bytes rows;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (i % row_samples == 0) rows.push_back(0);
        rows.push_back(static_cast<std::uint8_t>(samples[i]));
    }
    return rows;
}

// A zlib stream whose one block, of fixed codes, starts with a match of 3
// bytes at distance 1, before any byte is out: a distance too far back.
inline const Bytes TOO_FAR_BACK = {0x78, 0x01,
                                   // BFINAL 1, fixed codes; length 257 (0000001), distance 0 (00000);
                                   // end of block 256 (0000000), bits packed from the low end
                                   0x03, 0x02, 0x00, 0, 0, 0, 1};
// A zlib stream of one dynamic block that inflates to the row of a 1 x 1
// gray frame (its filter type, None, and a 0), each with a Huffman code
// incomplete: of the code lengths, of the literals and lengths, or of the
// distances. zlib refuses them; ISA-L inflates them. Every code length is
// given by a 4-bit code, whence the zeros of the 255 literals unused.
inline Bytes incomplete_code_stream(int which)
{
    const std::uint8_t sixth = which == 2 ? 0xE2 : 0xE0, twelfth = which == 0 ? 0x20 : 0x22;
    Bytes stream = {0x78, 0x01, 0x05, sixth, 0x01, 0x90, 0x24, 0x49, 0x92, 0x24, 0x49, twelfth};
    stream.resize(stream.size() + 127, 0);
    const Bytes tails[] = {{0x20, 0x12, 0x00, 0x02, 0x00, 0x01},
                           {0x10, 0x12, 0x00, 0x02, 0x00, 0x01},
                           {0x20, 0x11, 0x11, 0x00, 0x02, 0x00, 0x01}};
    stream.insert(stream.end(), tails[which].begin(), tails[which].end());
    return stream;
}
// The PNG with its image data in IDAT chunks of at most size bytes each.
inline Bytes with_idat_chunks_of(const Bytes& png, std::size_t size)
{
    const char name[] = "IDAT";
    Bytes data;
    for (auto at = std::search(png.begin(), png.end(), name, name + 4); at != png.end();
         at = std::search(at + 4, png.end(), name, name + 4)) {
        const std::size_t length =
            std::size_t {at[-4]} << 24 | std::size_t {at[-3]} << 16 | std::size_t {at[-2]} << 8 | at[-1];
        data.insert(data.end(), at + 4, at + 4 + static_cast<long>(length));
    }
    const Bytes one = with_image_data(png, {});  // one empty IDAT chunk
    const auto empty = std::search(one.begin(), one.end(), name, name + 4) - 4;
    Bytes file(one.begin(), empty);
    for (std::size_t at = 0; at < data.size(); at += size) {
        const Bytes part(data.begin() + static_cast<long>(at),
                         data.begin() + static_cast<long>(std::min(data.size(), at + size)));
        const Bytes chunk = with_image_data(one, part);
        const auto start = std::search(chunk.begin(), chunk.end(), name, name + 4) - 4;
        file.insert(file.end(), start, start + static_cast<long>(12 + part.size()));
    }
    file.insert(file.end(), empty + 12, one.end());
    return file;
}
#endif
