// Pixel packing: source pixels to 16-bit words, stored low byte first.
//
// Color, from blue B, green G, red R:   Gray, from value V:
//   bit  15     0                          bits 15-11  V >> 3
//   bits 14-10  R >> 3                     bits 10-5   V >> 2
//   bits  9-5   G >> 3                     bits  4-0   V >> 3
//   bits  4-0   B >> 3
//
// The source stores its bottom row first; output row r comes from source row
// height - 1 - r, so the packed frame starts with the top row.
//
// Each row goes through a row packer: a plain loop, which is the reference
// and the fallback, or a vector one for the instruction set at hand (SSSE3,
// AVX2 or AVX-512 with VBMI on x86-64, picked at run time; NEON on aarch64,
// which always has it). A vector packer does whole chunks of pixels and
// leaves the rest of the row to the plain loop.
#include <iterator>

#include "frame_store.h"
#include "pixel_pack.h"
#include "vector_path.h"

#ifdef PELLUCOR_X86
#include <immintrin.h>
#elif defined(PELLUCOR_NEON)
#include <arm_neon.h>
#endif

namespace {

// Each word is built as its two bytes, which keeps every step in 8 bits:
//   color low byte   GGGBBBBB  = (G & 0x38) << 2 | B >> 3
//   color high byte  0RRRRRGG  = (R & 0xF8) >> 1 | G >> 6
//   gray low byte    GGGBBBBB  = (V & 0x1C) << 3 | V >> 3
//   gray high byte   RRRRRGGG  = (V & 0xF8)      | V >> 5
constexpr unsigned COLOR_LOW_GREEN_MASK = 0x38;
constexpr unsigned COLOR_LOW_GREEN_SHIFT = 2;
constexpr unsigned COLOR_HIGH_GREEN_SHIFT = 6;
constexpr unsigned GRAY_LOW_GREEN_MASK = 0x1C;
constexpr unsigned GRAY_LOW_GREEN_SHIFT = 3;
constexpr unsigned GRAY_HIGH_GREEN_SHIFT = 5;
constexpr unsigned FIVE_BIT_SHIFT = 3;
constexpr unsigned FIVE_BIT_MASK = 0xF8;
constexpr unsigned HIGH_RED_SHIFT = 1;

// A row packer reads width pixels at source and writes width words at packed.
// readable is how many bytes from source on lie inside input_buffer: vector
// loads may reach past the row's last pixel, never past that.
using RowPacker = void (*)(const std::uint8_t* source, std::uint8_t* packed, std::size_t width,
                           std::size_t readable);

void pack_color_row_plain(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t)
{
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned blue = source[COLOR_PIXEL_SIZE * x];
        const unsigned green = source[COLOR_PIXEL_SIZE * x + 1];
        const unsigned red = source[COLOR_PIXEL_SIZE * x + 2];
        packed[PACKED_PIXEL_SIZE * x] =
            static_cast<std::uint8_t>((green & COLOR_LOW_GREEN_MASK) << COLOR_LOW_GREEN_SHIFT | blue >> FIVE_BIT_SHIFT);
        packed[PACKED_PIXEL_SIZE * x + 1] =
            static_cast<std::uint8_t>((red & FIVE_BIT_MASK) >> HIGH_RED_SHIFT | green >> COLOR_HIGH_GREEN_SHIFT);
    }
}

void pack_gray_row_plain(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t)
{
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned value = source[x];
        packed[PACKED_PIXEL_SIZE * x] =
            static_cast<std::uint8_t>((value & GRAY_LOW_GREEN_MASK) << GRAY_LOW_GREEN_SHIFT | value >> FIVE_BIT_SHIFT);
        packed[PACKED_PIXEL_SIZE * x + 1] =
            static_cast<std::uint8_t>((value & FIVE_BIT_MASK) | value >> GRAY_HIGH_GREEN_SHIFT);
    }
}

#if defined(PELLUCOR_X86) || defined(PELLUCOR_NEON)
// Hands the pixels after the first done to the plain loop.
void finish_row(RowPacker plain, const std::uint8_t* source, std::uint8_t* packed, std::size_t width,
                std::size_t done, std::size_t pixel_size)
{
    plain(source + pixel_size * done, packed + PACKED_PIXEL_SIZE * done, width - done, 0);
}
#endif

#ifdef PELLUCOR_X86
// x86 color packers work on pixels spread to 32-bit lanes, 0x00RRGGBB:
//   word = (p >> 3 & 0x001F) | (p >> 6 & 0x03E0) | (p >> 9 & 0x7C00)
// A 16-byte lane loaded at a pixel's first byte holds four pixels and four
// more bytes; SPREAD_PIXELS moves each pixel to its own 32-bit lane.
constexpr int BLUE_SHIFT = 3, GREEN_SHIFT = 6, RED_SHIFT = 9;
constexpr int BLUE_FIELD = 0x001F, GREEN_FIELD = 0x03E0, RED_FIELD = 0x7C00;
constexpr std::size_t LANE_PIXELS = 4;
constexpr std::size_t LANE_BYTES = 16;
#define PELLUCOR_SPREAD_PIXELS -1, 11, 10, 9, -1, 8, 7, 6, -1, 5, 4, 3, -1, 2, 1, 0

// The words of the four pixels that start at at, in 32-bit lanes.
PELLUCOR_TARGET("ssse3")
__m128i color_words_ssse3(const std::uint8_t* at)
{
    const __m128i pixels = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                                            _mm_set_epi8(PELLUCOR_SPREAD_PIXELS));
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(pixels, BLUE_SHIFT), _mm_set1_epi32(BLUE_FIELD)),
                                     _mm_and_si128(_mm_srli_epi32(pixels, GREEN_SHIFT), _mm_set1_epi32(GREEN_FIELD))),
                        _mm_and_si128(_mm_srli_epi32(pixels, RED_SHIFT), _mm_set1_epi32(RED_FIELD)));
}

PELLUCOR_TARGET("ssse3")
void pack_color_row_ssse3(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t readable)
{
    constexpr std::size_t CHUNK = 2 * LANE_PIXELS;
    std::size_t x = 0;
    for (; x + CHUNK <= width && COLOR_PIXEL_SIZE * (x + LANE_PIXELS) + LANE_BYTES <= readable; x += CHUNK) {
        const std::uint8_t* at = source + COLOR_PIXEL_SIZE * x;
        const __m128i first = color_words_ssse3(at);
        const __m128i second = color_words_ssse3(at + COLOR_PIXEL_SIZE * LANE_PIXELS);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(packed + PACKED_PIXEL_SIZE * x), _mm_packs_epi32(first, second));
    }
    finish_row(pack_color_row_plain, source, packed, width, x, COLOR_PIXEL_SIZE);
}

// The words of the eight pixels that start at at (32 bytes are read). AVX2
// first gathers the 16-byte lanes, each starting 12 bytes after the one
// before, with a 32-bit permute of the one load.
PELLUCOR_TARGET("avx2")
__m256i color_words_avx2(const std::uint8_t* at)
{
    const __m256i loaded = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i pixels =
        _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(loaded, _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6)),
                            _mm256_broadcastsi128_si256(_mm_set_epi8(PELLUCOR_SPREAD_PIXELS)));
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(pixels, BLUE_SHIFT), _mm256_set1_epi32(BLUE_FIELD)),
                        _mm256_and_si256(_mm256_srli_epi32(pixels, GREEN_SHIFT), _mm256_set1_epi32(GREEN_FIELD))),
        _mm256_and_si256(_mm256_srli_epi32(pixels, RED_SHIFT), _mm256_set1_epi32(RED_FIELD)));
}

PELLUCOR_TARGET("avx2")
void pack_color_row_avx2(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t readable)
{
    constexpr std::size_t CHUNK = 4 * LANE_PIXELS;
    constexpr std::size_t LOAD_BYTES = 32;
    std::size_t x = 0;
    for (; x + CHUNK <= width && COLOR_PIXEL_SIZE * (x + CHUNK / 2) + LOAD_BYTES <= readable; x += CHUNK) {
        const std::uint8_t* at = source + COLOR_PIXEL_SIZE * x;
        // packs works within 128-bit halves: pixels 0-3, 8-11, 4-7, 12-15.
        const __m256i mixed = _mm256_packs_epi32(color_words_avx2(at), color_words_avx2(at + COLOR_PIXEL_SIZE * CHUNK / 2));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(packed + PACKED_PIXEL_SIZE * x),
                            _mm256_permute4x64_epi64(mixed, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    finish_row(pack_color_row_plain, source, packed, width, x, COLOR_PIXEL_SIZE);
}

// GCC 12's AVX-512 headers fill unmasked lanes from a deliberately undefined
// value and then warn that it is uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// AVX-512 with VBMI works on 32 pixels in 16-bit lanes, gathered from two
// 64-byte vectors by byte permutes: GB = G << 8 | B and RG = R << 8 | G, then
//   word = (GB >> 3 & 0x001F) | (GB >> 6 & 0x03E0) | (RG >> 1 & 0x7C00)
// merged with bitwise selects (ternary logic 0xD8: mask ? b : a). The main
// loop loads 64 pixels as three vectors and permutes twice: pixels 0-31 from
// the first two, 32-63 from the last two, whose indices are 32 bytes on.
constexpr int BLEND = 0xD8;
constexpr std::size_t VBMI_PIXELS = 32;
constexpr std::size_t VBMI_VECTOR = 64;
constexpr std::size_t VBMI_SECOND_HALF = 32;

struct ByteIndex {
    alignas(64) std::uint8_t green_blue[2][64];
    alignas(64) std::uint8_t red_green[2][64];
};

constexpr ByteIndex make_byte_index()
{
    ByteIndex index {};
    for (std::size_t half = 0; half < 2; ++half) {
        for (std::size_t pixel = 0; pixel < VBMI_PIXELS; ++pixel) {
            const auto at = static_cast<std::uint8_t>(COLOR_PIXEL_SIZE * pixel + half * VBMI_SECOND_HALF);
            index.green_blue[half][2 * pixel] = at;
            index.green_blue[half][2 * pixel + 1] = static_cast<std::uint8_t>(at + 1);
            index.red_green[half][2 * pixel] = static_cast<std::uint8_t>(at + 1);
            index.red_green[half][2 * pixel + 1] = static_cast<std::uint8_t>(at + 2);
        }
    }
    return index;
}

constexpr ByteIndex BYTE_INDEX = make_byte_index();

// The 32 words of the pixels that the indices of half pick from low and high.
PELLUCOR_TARGET("avx512f,avx512bw,avx512vbmi")
void store_words_avx512(std::uint8_t* packed, __m512i low, __m512i high, std::size_t half)
{
    const __m512i green_blue = _mm512_permutex2var_epi8(low, _mm512_load_si512(BYTE_INDEX.green_blue[half]), high);
    const __m512i red_green = _mm512_permutex2var_epi8(low, _mm512_load_si512(BYTE_INDEX.red_green[half]), high);
    const __m512i blue_green = _mm512_ternarylogic_epi32(_mm512_srli_epi16(green_blue, BLUE_SHIFT),
                                                         _mm512_srli_epi16(green_blue, GREEN_SHIFT),
                                                         _mm512_set1_epi16(GREEN_FIELD), BLEND);
    // Bit 15 comes from RG >> 1, where it is always 0.
    _mm512_storeu_si512(packed, _mm512_ternarylogic_epi32(blue_green, _mm512_srli_epi16(red_green, 1),
                                                          _mm512_set1_epi16(static_cast<short>(0xFC00)), BLEND));
}

PELLUCOR_TARGET("avx512f,avx512bw,avx512vbmi")
void pack_color_row_avx512(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t readable)
{
    constexpr std::size_t BLOCK = 2 * VBMI_PIXELS;
    std::size_t x = 0;
    for (; x + BLOCK <= width && COLOR_PIXEL_SIZE * (x + BLOCK) <= readable; x += BLOCK) {
        const std::uint8_t* at = source + COLOR_PIXEL_SIZE * x;
        const __m512i first = _mm512_loadu_si512(at), second = _mm512_loadu_si512(at + VBMI_VECTOR),
                      third = _mm512_loadu_si512(at + 2 * VBMI_VECTOR);
        store_words_avx512(packed + PACKED_PIXEL_SIZE * x, first, second, 0);
        store_words_avx512(packed + PACKED_PIXEL_SIZE * (x + VBMI_PIXELS), second, third, 1);
    }
    for (; x + VBMI_PIXELS <= width && COLOR_PIXEL_SIZE * x + 2 * VBMI_VECTOR <= readable; x += VBMI_PIXELS) {
        const std::uint8_t* at = source + COLOR_PIXEL_SIZE * x;
        store_words_avx512(packed + PACKED_PIXEL_SIZE * x, _mm512_loadu_si512(at), _mm512_loadu_si512(at + VBMI_VECTOR), 0);
    }
    finish_row(pack_color_row_plain, source, packed, width, x, COLOR_PIXEL_SIZE);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// Gray with AVX2: the two bytes of each word from 16-bit shifts, masked back
// to bytes, then interleaved low, high. Narrower vectors gain little over the
// plain loop, which the compiler vectorizes itself.
PELLUCOR_TARGET("avx2")
void pack_gray_row_avx2(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t)
{
    constexpr std::size_t CHUNK = 32;
    const __m256i low_green = _mm256_set1_epi8(GRAY_LOW_GREEN_MASK), low_blue = _mm256_set1_epi8(0x1F);
    const __m256i high_red = _mm256_set1_epi8(static_cast<char>(FIVE_BIT_MASK)), high_green = _mm256_set1_epi8(0x07);
    std::size_t x = 0;
    for (; x + CHUNK <= width; x += CHUNK) {
        const __m256i value = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + x));
        const __m256i low =
            _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(value, low_green), GRAY_LOW_GREEN_SHIFT),
                            _mm256_and_si256(_mm256_srli_epi16(value, FIVE_BIT_SHIFT), low_blue));
        const __m256i high = _mm256_or_si256(_mm256_and_si256(value, high_red),
                                             _mm256_and_si256(_mm256_srli_epi16(value, GRAY_HIGH_GREEN_SHIFT), high_green));
        // unpack works within 128-bit halves: pixels 0-7 and 16-23, then 8-15 and 24-31.
        const __m256i first = _mm256_unpacklo_epi8(low, high), second = _mm256_unpackhi_epi8(low, high);
        __m256i* out = reinterpret_cast<__m256i*>(packed + PACKED_PIXEL_SIZE * x);
        _mm256_storeu_si256(out, _mm256_permute2x128_si256(first, second, 0x20));
        _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(first, second, 0x31));
    }
    finish_row(pack_gray_row_plain, source, packed, width, x, GRAY_PIXEL_SIZE);
}
#endif

#ifdef PELLUCOR_NEON
constexpr std::size_t NEON_CHUNK = 16;

void pack_color_row_neon(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t)
{
    std::size_t x = 0;
    for (; x + NEON_CHUNK <= width; x += NEON_CHUNK) {
        const uint8x16x3_t pixel = vld3q_u8(source + COLOR_PIXEL_SIZE * x);  // blue, green, red
        uint8x16x2_t word;
        word.val[0] = vorrq_u8(vshlq_n_u8(vandq_u8(pixel.val[1], vdupq_n_u8(COLOR_LOW_GREEN_MASK)), COLOR_LOW_GREEN_SHIFT),
                               vshrq_n_u8(pixel.val[0], FIVE_BIT_SHIFT));
        word.val[1] = vorrq_u8(vshrq_n_u8(vandq_u8(pixel.val[2], vdupq_n_u8(FIVE_BIT_MASK)), HIGH_RED_SHIFT),
                               vshrq_n_u8(pixel.val[1], COLOR_HIGH_GREEN_SHIFT));
        vst2q_u8(packed + PACKED_PIXEL_SIZE * x, word);
    }
    finish_row(pack_color_row_plain, source, packed, width, x, COLOR_PIXEL_SIZE);
}

void pack_gray_row_neon(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t)
{
    std::size_t x = 0;
    for (; x + NEON_CHUNK <= width; x += NEON_CHUNK) {
        const uint8x16_t value = vld1q_u8(source + x);
        uint8x16x2_t word;
        word.val[0] = vorrq_u8(vshlq_n_u8(vandq_u8(value, vdupq_n_u8(GRAY_LOW_GREEN_MASK)), GRAY_LOW_GREEN_SHIFT),
                               vshrq_n_u8(value, FIVE_BIT_SHIFT));
        word.val[1] = vorrq_u8(vandq_u8(value, vdupq_n_u8(FIVE_BIT_MASK)), vshrq_n_u8(value, GRAY_HIGH_GREEN_SHIFT));
        vst2q_u8(packed + PACKED_PIXEL_SIZE * x, word);
    }
    finish_row(pack_gray_row_plain, source, packed, width, x, GRAY_PIXEL_SIZE);
}
#endif

struct RowPackers {
    VectorPath path;
    RowPacker color;
    RowPacker gray;
};

constexpr RowPackers ROW_PACKERS[] = {
#ifdef PELLUCOR_X86
    {VectorPath::avx512, pack_color_row_avx512, pack_gray_row_avx2},  // gray is bound by memory already
    {VectorPath::avx2, pack_color_row_avx2, pack_gray_row_avx2},
    {VectorPath::ssse3, pack_color_row_ssse3, pack_gray_row_plain},
#endif
#ifdef PELLUCOR_NEON
    {VectorPath::neon, pack_color_row_neon, pack_gray_row_neon},
#endif
    {VectorPath::plain, pack_color_row_plain, pack_gray_row_plain},
};

// The row packers of the path in use. The table ends with the plain loops,
// which every build has.
const RowPackers& current_row_packers()
{
    const VectorPath path = vector_path();
    for (const RowPackers& packers : ROW_PACKERS) {
        if (packers.path == path) {
            return packers;
        }
    }
    return ROW_PACKERS[std::size(ROW_PACKERS) - 1];
}

void pack_frame(RowPacker pack_row, std::size_t pixel_size)
{
    if (video_pixel_count() == 0) {
        return;  // not even a walk over 2^31 empty rows
    }
    const auto width = static_cast<std::size_t>(video_width);
    const auto height = static_cast<std::size_t>(video_height);
    for (std::size_t row = 0; row < height; ++row) {
        const std::size_t offset = TGA_HEADER_SIZE + (height - 1 - row) * width * pixel_size;
        pack_row(input_buffer + offset, output_buffer + row * width * PACKED_PIXEL_SIZE, width,
                 INPUT_BUFFER_SIZE - offset);
    }
}

}  // namespace

void pack_color_frame()
{
    pack_frame(current_row_packers().color, COLOR_PIXEL_SIZE);
}

void pack_gray_frame()
{
    pack_frame(current_row_packers().gray, GRAY_PIXEL_SIZE);
}
