// SPDX-License-Identifier: MIT
// The signatures of the images that are not frames, from their formats'
// own descriptions, and a test for text.
#include "frame_kind.h"

#include <cstring>

namespace {

struct Signature {
    FileKind kind;
    std::size_t offset;  // where the bytes are
    const char* bytes;
    std::size_t size;
};

// A WebP file is a RIFF file whose form type, at offset 8, is WEBP; a BMP
// file begins with BM, and its header's size at offset 14 is checked too.
const Signature SIGNATURES[] = {
    {FileKind::png, 0, "\x89PNG\r\n\x1A\n", 8},
    {FileKind::jpeg, 0, "\xFF\xD8\xFF", 3},
    {FileKind::gif, 0, "GIF87a", 6},
    {FileKind::gif, 0, "GIF89a", 6},
    {FileKind::webp, 8, "WEBP", 4},
    {FileKind::tiff, 0, "II*\0", 4},
    {FileKind::tiff, 0, "MM\0*", 4},
    {FileKind::qoi, 0, "qoif", 4},
};
constexpr const char RIFF[] = "RIFF";
constexpr std::size_t RIFF_SIZE = 4;

constexpr const char BMP[] = "BM";
constexpr std::size_t BMP_SIZE = 2, BMP_HEADER_SIZE_OFFSET = 14;
// The sizes of the BMP info headers: OS/2 1 and 2, Windows 3 to 5.
constexpr std::uint32_t BMP_HEADER_SIZES[] = {12, 16, 40, 52, 56, 64, 108, 124};

// Text: at least this many bytes, and the first TEXT_PROBE of them
// printable ASCII, tabs and line ends, or whole UTF-8 sequences (one cut
// short by the probe's end included).
constexpr std::size_t TEXT_LEAST = 2, TEXT_PROBE = 64;
constexpr std::uint8_t TAB = 0x09, LINE_FEED = 0x0A, CARRIAGE_RETURN = 0x0D, SPACE = 0x20, DELETE = 0x7F;
constexpr std::uint8_t UTF8_CONTINUATION_MASK = 0xC0, UTF8_CONTINUATION = 0x80;
constexpr std::uint8_t UTF8_LEAD_LEAST = 0xC2, UTF8_LEAD_THREE = 0xE0, UTF8_LEAD_FOUR = 0xF0, UTF8_LEAD_MOST = 0xF4;

bool matches(const std::uint8_t* bytes, std::size_t size, std::size_t offset, const char* signature, std::size_t length)
{
    return size >= offset + length && std::memcmp(bytes + offset, signature, length) == 0;
}

bool is_bmp(const std::uint8_t* bytes, std::size_t size)
{
    if (!matches(bytes, size, 0, BMP, BMP_SIZE) || size < BMP_HEADER_SIZE_OFFSET + 4) {
        return false;
    }
    const std::uint8_t* at = bytes + BMP_HEADER_SIZE_OFFSET;
    const std::uint32_t header_size = static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
                                      static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
    for (const std::uint32_t known : BMP_HEADER_SIZES) {
        if (header_size == known) {
            return true;
        }
    }
    return false;
}

bool is_text(const std::uint8_t* bytes, std::size_t size)
{
    if (size < TEXT_LEAST) {
        return false;
    }
    const std::size_t probe = size < TEXT_PROBE ? size : TEXT_PROBE;
    for (std::size_t i = 0; i < probe; ++i) {
        const std::uint8_t byte = bytes[i];
        if ((byte >= SPACE && byte < DELETE) || byte == TAB || byte == LINE_FEED || byte == CARRIAGE_RETURN) {
            continue;
        }
        if (byte < UTF8_LEAD_LEAST || byte > UTF8_LEAD_MOST) {
            return false;
        }
        const std::size_t following = byte >= UTF8_LEAD_FOUR ? 3 : byte >= UTF8_LEAD_THREE ? 2 : 1;
        for (std::size_t k = 0; k < following && i + 1 < probe; ++k) {
            if ((bytes[++i] & UTF8_CONTINUATION_MASK) != UTF8_CONTINUATION) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

FileKind kind_of_file(const std::uint8_t* bytes, std::size_t size)
{
    for (const Signature& signature : SIGNATURES) {
        if (matches(bytes, size, signature.offset, signature.bytes, signature.size) &&
            (signature.kind != FileKind::webp || matches(bytes, size, 0, RIFF, RIFF_SIZE))) {
            return signature.kind;
        }
    }
    if (is_bmp(bytes, size)) {
        return FileKind::bmp;
    }
    return is_text(bytes, size) ? FileKind::text : FileKind::tga;
}

const char* name_of_kind(FileKind kind)
{
    switch (kind) {
    case FileKind::jpeg:
        return "a JPEG image";
    case FileKind::bmp:
        return "a BMP image";
    case FileKind::gif:
        return "a GIF image";
    case FileKind::webp:
        return "a WebP image";
    case FileKind::tiff:
        return "a TIFF image";
    case FileKind::qoi:
        return "a QOI image";
    case FileKind::text:
        return "a text file";
    default:
        return nullptr;
    }
}
