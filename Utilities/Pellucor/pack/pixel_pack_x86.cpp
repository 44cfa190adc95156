// SPDX-License-Identifier: MIT
// x86-64 row packers of the kernel table: color rows with SSSE3, AVX2 or
// AVX-512 with VBMI, gray rows with AVX2. Each loop does whole chunks of
// pixels and hands the rest of the row to the plain loop.
//
// No AVX-512 gray loop: one of byte-permute lookups packed gray frames 1.7
// times as fast as the AVX2 loop in cache, yet whole runs of gray frames only
// 0-2% faster, as a gray frame's packing is small beside reading and writing
// it.
#include "frame_store.h"
#include "pixel_pack_kernels.h"

#ifdef PELLUCOR_X86
#include <immintrin.h>

namespace {

// SSSE3 and AVX2 color: a byte shuffle spreads four pixels of a 16-byte
// lane to 32-bit lanes p = 0xHHGGLL00 (H and L the channels of the high and
// low fields), and then
//   word = (p >> 11 & 0x1F) | (p >> GREEN_SHIFT & GREEN_FIELD) | (p >> HIGH_SHIFT & HIGH_FIELD)
// with an arithmetic shift for the high field: in 5-6-5 it copies bit 15 up
// the lane, so that the signed pack to 16 bits keeps the word as it is.
constexpr int LANE_LOW_SHIFT = CHANNEL_BITS + FIELD_SHIFT;  // L's top 5 bits to bit 0

template <unsigned GREEN_BITS>
struct LaneFields {
    static constexpr int LANE_HIGH = 3 * CHANNEL_BITS, LANE_GREEN = 2 * CHANNEL_BITS;  // where H and G start
    static constexpr int GREEN_SHIFT = LANE_GREEN + CHANNEL_BITS - GREEN_BITS - FIELD_BITS;
    static constexpr int GREEN_FIELD = ((1 << GREEN_BITS) - 1) << FIELD_BITS;
    static constexpr int HIGH_SHIFT = LANE_HIGH + FIELD_SHIFT - FIELD_BITS - GREEN_BITS;
    // Where the word takes bit 15, the bits above it too, so that the signed
    // pack to 16 bits keeps the word.
    static constexpr int HIGH_FIELD = 2 * FIELD_BITS + GREEN_BITS == 16 ? ~((1 << (FIELD_BITS + GREEN_BITS)) - 1)
                                                                        : LOW_FIELD << (FIELD_BITS + GREEN_BITS);

    // The lane's word, as the loops compute it, for the checks against pack_word.
    static constexpr unsigned word(unsigned high, unsigned green, unsigned low)
    {
        const std::int32_t lane =
            static_cast<std::int32_t>(high << LANE_HIGH | green << LANE_GREEN | low << CHANNEL_BITS);
        const std::int32_t word = (lane >> LANE_LOW_SHIFT & static_cast<std::int32_t>(LOW_FIELD)) |
                                  (lane >> GREEN_SHIFT & GREEN_FIELD) | (lane >> HIGH_SHIFT & HIGH_FIELD);
        return static_cast<std::uint16_t>(word);
    }
};
static_assert(matches_pack_word<LaneFields>(), "the lanes must give pack_word's words");

constexpr std::size_t LANE_PIXELS = 4;
constexpr std::size_t LANE_BYTES = 16;
constexpr std::int8_t ZERO_BYTE = -1;  // a shuffle index that writes 0

struct LaneSpreadIndex {
    alignas(16) std::int8_t lane[2][LANE_BYTES];  // by WordFormat::blue_high
};

constexpr LaneSpreadIndex make_spread_index()
{
    LaneSpreadIndex index {};
    for (int blue_high = 0; blue_high < 2; ++blue_high) {
        const int low = blue_high ? TGA_RED : TGA_BLUE, high = blue_high ? TGA_BLUE : TGA_RED;
        for (int pixel = 0; pixel < static_cast<int>(LANE_PIXELS); ++pixel) {
            std::int8_t* lane = index.lane[blue_high] + 4 * pixel;
            const int at = static_cast<int>(COLOR_PIXEL_SIZE) * pixel;
            lane[0] = ZERO_BYTE;
            lane[1] = static_cast<std::int8_t>(at + low);
            lane[2] = static_cast<std::int8_t>(at + TGA_GREEN);
            lane[3] = static_cast<std::int8_t>(at + high);
        }
    }
    return index;
}

constexpr LaneSpreadIndex SPREAD_INDEX = make_spread_index();
// Swaps the two bytes of each 16-bit word, for big-endian formats.
alignas(16) constexpr std::int8_t SWAP_BYTES[LANE_BYTES] = {1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14};

template <unsigned GREEN_BITS>
PELLUCOR_TARGET("ssse3")
__m128i lane_words(__m128i p)
{
    using Fields = LaneFields<GREEN_BITS>;
    return _mm_or_si128(
        _mm_or_si128(_mm_and_si128(_mm_srli_epi32(p, LANE_LOW_SHIFT), _mm_set1_epi32(LOW_FIELD)),
                     _mm_and_si128(_mm_srli_epi32(p, Fields::GREEN_SHIFT), _mm_set1_epi32(Fields::GREEN_FIELD))),
        _mm_and_si128(_mm_srai_epi32(p, Fields::HIGH_SHIFT), _mm_set1_epi32(Fields::HIGH_FIELD)));
}

template <unsigned GREEN_BITS>
PELLUCOR_TARGET("avx2")
__m256i lane_words(__m256i p)
{
    using Fields = LaneFields<GREEN_BITS>;
    return _mm256_or_si256(
        _mm256_or_si256(
            _mm256_and_si256(_mm256_srli_epi32(p, LANE_LOW_SHIFT), _mm256_set1_epi32(LOW_FIELD)),
            _mm256_and_si256(_mm256_srli_epi32(p, Fields::GREEN_SHIFT), _mm256_set1_epi32(Fields::GREEN_FIELD))),
        _mm256_and_si256(_mm256_srai_epi32(p, Fields::HIGH_SHIFT), _mm256_set1_epi32(Fields::HIGH_FIELD)));
}

__m128i load_lane(const std::uint8_t* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// 8 pixels from two lanes that start 12 bytes apart (28 bytes are read).
struct ColorSsse3 {
    static constexpr std::size_t CHUNK = 2 * LANE_PIXELS;
    static constexpr std::size_t READ = COLOR_PIXEL_SIZE * LANE_PIXELS + LANE_BYTES;

    template <unsigned GREEN_BITS, bool HIGH_FIRST>
    PELLUCOR_TARGET("ssse3")
    static void row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t readable,
                    const WordFormat& format)
    {
        const __m128i spread = _mm_load_si128(reinterpret_cast<const __m128i*>(SPREAD_INDEX.lane[format.blue_high]));
        const __m128i swap = _mm_load_si128(reinterpret_cast<const __m128i*>(SWAP_BYTES));
        std::size_t x = 0;
        for (; x + CHUNK <= width && COLOR_PIXEL_SIZE * x + READ <= readable; x += CHUNK) {
            const std::uint8_t* at = source + COLOR_PIXEL_SIZE * x;
            __m128i words = _mm_packs_epi32(
                lane_words<GREEN_BITS>(_mm_shuffle_epi8(load_lane(at), spread)),
                lane_words<GREEN_BITS>(_mm_shuffle_epi8(load_lane(at + COLOR_PIXEL_SIZE * LANE_PIXELS), spread)));
            if constexpr (HIGH_FIRST) words = _mm_shuffle_epi8(words, swap);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(packed + PACKED_PIXEL_SIZE * x), words);
        }
        finish_color_row(source, packed, width, x, format);
    }
};

// 16 pixels: each 256-bit register takes two lanes loaded 24 bytes apart, so
// that the pack, which works within 128-bit halves, leaves them in order
// (52 bytes are read).
struct ColorAvx2 {
    static constexpr std::size_t CHUNK = 4 * LANE_PIXELS;
    static constexpr std::size_t READ = 3 * COLOR_PIXEL_SIZE * LANE_PIXELS + LANE_BYTES;

    template <unsigned GREEN_BITS, bool HIGH_FIRST>
    PELLUCOR_TARGET("avx2")
    static void row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t readable,
                    const WordFormat& format)
    {
        constexpr std::size_t LANE = COLOR_PIXEL_SIZE * LANE_PIXELS;
        const __m256i spread = _mm256_broadcastsi128_si256(
            _mm_load_si128(reinterpret_cast<const __m128i*>(SPREAD_INDEX.lane[format.blue_high])));
        const __m256i swap = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(SWAP_BYTES)));
        std::size_t x = 0;
        for (; x + CHUNK <= width && COLOR_PIXEL_SIZE * x + READ <= readable; x += CHUNK) {
            const std::uint8_t* at = source + COLOR_PIXEL_SIZE * x;
            const __m256i first =
                _mm256_inserti128_si256(_mm256_castsi128_si256(load_lane(at)), load_lane(at + 2 * LANE), 1);
            const __m256i second =
                _mm256_inserti128_si256(_mm256_castsi128_si256(load_lane(at + LANE)), load_lane(at + 3 * LANE), 1);
            __m256i words = _mm256_packs_epi32(lane_words<GREEN_BITS>(_mm256_shuffle_epi8(first, spread)),
                                               lane_words<GREEN_BITS>(_mm256_shuffle_epi8(second, spread)));
            if constexpr (HIGH_FIRST) words = _mm256_shuffle_epi8(words, swap);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(packed + PACKED_PIXEL_SIZE * x), words);
        }
        finish_color_row(source, packed, width, x, format);
    }
};

// GCC 12's AVX-512 headers fill unmasked lanes from a deliberately undefined
// value and then warn that it is uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// AVX-512 with VBMI: 32 pixels in 16-bit lanes, gathered from two 64-byte
// vectors by byte permutes: GL = G << 8 | L and HG = H << 8 | G, then
//   word = (GL >> 3 & 0x001F) | (GL >> GREEN_SHIFT & GREEN_FIELD) | (HG >> HIGH_SHIFT & HIGH_FIELD)
// merged with bitwise selects (ternary logic 0xD8: mask ? b : a). The main
// loop loads 64 pixels as three vectors and permutes twice: pixels 0-31 from
// the first two, 32-63 from the last two, whose indices are 32 bytes on.
template <unsigned GREEN_BITS>
struct WordFields {
    static constexpr int GREEN_SHIFT = 2 * CHANNEL_BITS - GREEN_BITS - FIELD_BITS;
    static constexpr int GREEN_FIELD = ((1 << GREEN_BITS) - 1) << FIELD_BITS;
    static constexpr int HIGH_SHIFT = 2 * CHANNEL_BITS - 2 * FIELD_BITS - GREEN_BITS;
    static constexpr int HIGH_FIELD = LOW_FIELD << (FIELD_BITS + GREEN_BITS);

    // The 16-bit lanes' word, for the checks against pack_word.
    static constexpr unsigned word(unsigned high, unsigned green, unsigned low)
    {
        const unsigned green_low = green << CHANNEL_BITS | low, high_green = high << CHANNEL_BITS | green;
        return (green_low >> FIELD_SHIFT & LOW_FIELD) | (green_low >> GREEN_SHIFT & GREEN_FIELD) |
               (high_green >> HIGH_SHIFT & HIGH_FIELD);
    }
};
static_assert(matches_pack_word<WordFields>(), "the 16-bit lanes must give pack_word's words");
constexpr int SELECT = 0xD8;
constexpr std::size_t VBMI_PIXELS = 32;
constexpr std::size_t VBMI_VECTOR = 64;
constexpr std::size_t VBMI_SECOND_HALF = 32;

struct ByteIndex {
    alignas(64) std::uint8_t green_low[2][2][VBMI_VECTOR];  // by blue_high, then half
    alignas(64) std::uint8_t high_green[2][2][VBMI_VECTOR];
};

constexpr ByteIndex make_byte_index()
{
    ByteIndex index {};
    for (std::size_t blue_high = 0; blue_high < 2; ++blue_high) {
        const std::size_t low = blue_high ? TGA_RED : TGA_BLUE, high = blue_high ? TGA_BLUE : TGA_RED;
        for (std::size_t half = 0; half < 2; ++half) {
            for (std::size_t pixel = 0; pixel < VBMI_PIXELS; ++pixel) {
                const std::size_t at = COLOR_PIXEL_SIZE * pixel + half * VBMI_SECOND_HALF;
                index.green_low[blue_high][half][2 * pixel] = static_cast<std::uint8_t>(at + low);
                index.green_low[blue_high][half][2 * pixel + 1] = static_cast<std::uint8_t>(at + TGA_GREEN);
                index.high_green[blue_high][half][2 * pixel] = static_cast<std::uint8_t>(at + TGA_GREEN);
                index.high_green[blue_high][half][2 * pixel + 1] = static_cast<std::uint8_t>(at + high);
            }
        }
    }
    return index;
}

constexpr ByteIndex BYTE_INDEX = make_byte_index();

// The indices of both halves, for one channel order.
struct PermuteIndex {
    __m512i green_low[2], high_green[2];
};

// The 32 words of the pixels that the indices of half pick from low and high.
template <unsigned GREEN_BITS, bool HIGH_FIRST>
PELLUCOR_TARGET("avx512f,avx512bw,avx512vbmi")
void store_words_avx512(std::uint8_t* packed, __m512i low, __m512i high, const PermuteIndex& index, std::size_t half)
{
    using Fields = WordFields<GREEN_BITS>;
    const __m512i green_low = _mm512_permutex2var_epi8(low, index.green_low[half], high);
    const __m512i high_green = _mm512_permutex2var_epi8(low, index.high_green[half], high);
    const __m512i low_and_green = _mm512_ternarylogic_epi32(_mm512_srli_epi16(green_low, FIELD_SHIFT),
                                                            _mm512_srli_epi16(green_low, Fields::GREEN_SHIFT),
                                                            _mm512_set1_epi16(Fields::GREEN_FIELD), SELECT);
    __m512i words = _mm512_ternarylogic_epi32(low_and_green, _mm512_srli_epi16(high_green, Fields::HIGH_SHIFT),
                                              _mm512_set1_epi16(static_cast<short>(Fields::HIGH_FIELD)), SELECT);
    if constexpr (HIGH_FIRST) {
        words = _mm512_shuffle_epi8(
            words, _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(SWAP_BYTES))));
    }
    _mm512_storeu_si512(packed, words);
}

struct ColorAvx512 {
    template <unsigned GREEN_BITS, bool HIGH_FIRST>
    PELLUCOR_TARGET("avx512f,avx512bw,avx512vbmi")
    static void row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t readable,
                    const WordFormat& format)
    {
        constexpr std::size_t BLOCK = 2 * VBMI_PIXELS;
        const std::size_t order = format.blue_high;
        const PermuteIndex index = {
            {_mm512_load_si512(BYTE_INDEX.green_low[order][0]), _mm512_load_si512(BYTE_INDEX.green_low[order][1])},
            {_mm512_load_si512(BYTE_INDEX.high_green[order][0]), _mm512_load_si512(BYTE_INDEX.high_green[order][1])}};
        std::size_t x = 0;
        for (; x + BLOCK <= width && COLOR_PIXEL_SIZE * (x + BLOCK) <= readable; x += BLOCK) {
            const std::uint8_t* at = source + COLOR_PIXEL_SIZE * x;
            const __m512i first = _mm512_loadu_si512(at), second = _mm512_loadu_si512(at + VBMI_VECTOR),
                          third = _mm512_loadu_si512(at + 2 * VBMI_VECTOR);
            store_words_avx512<GREEN_BITS, HIGH_FIRST>(packed + PACKED_PIXEL_SIZE * x, first, second, index, 0);
            store_words_avx512<GREEN_BITS, HIGH_FIRST>(packed + PACKED_PIXEL_SIZE * (x + VBMI_PIXELS), second, third,
                                                       index, 1);
        }
        for (; x + VBMI_PIXELS <= width && COLOR_PIXEL_SIZE * x + 2 * VBMI_VECTOR <= readable; x += VBMI_PIXELS) {
            const std::uint8_t* at = source + COLOR_PIXEL_SIZE * x;
            store_words_avx512<GREEN_BITS, HIGH_FIRST>(packed + PACKED_PIXEL_SIZE * x, _mm512_loadu_si512(at),
                                                       _mm512_loadu_si512(at + VBMI_VECTOR), index, 0);
        }
        finish_color_row(source, packed, width, x, format);
    }
};

// Gray with AVX2: the word's two bytes in the byte form of
// pixel_pack_kernels.h, each step a 16-bit shift of bytes masked so that no
// bit crosses into the next byte; then interleaved in the format's byte
// order. The interleave works within 128-bit halves (pixels 0-7 and 16-23,
// then 8-15 and 24-31), so two lane permutes put the words in order.
struct GrayAvx2 {
    static constexpr std::size_t CHUNK = 32;
    static constexpr int LOW_HALVES = 0x20, HIGH_HALVES = 0x31;  // lane permutes: halves 0 of both, then 1

    template <unsigned GREEN_BITS, bool HIGH_FIRST>
    PELLUCOR_TARGET("avx2")
    static void row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t,
                    const WordFormat& format)
    {
        using Fields = ByteFields<GREEN_BITS>;
        constexpr unsigned HIGH_GREEN_MASK = (1u << (CHANNEL_BITS - Fields::HIGH_GREEN_SHIFT)) - 1;
        const __m256i low_green = _mm256_set1_epi8(static_cast<char>(Fields::LOW_GREEN_MASK));
        const __m256i low_field = _mm256_set1_epi8(static_cast<char>(LOW_FIELD));
        const __m256i high_field = _mm256_set1_epi8(static_cast<char>(FIELD_MASK));
        const __m256i high_green = _mm256_set1_epi8(static_cast<char>(HIGH_GREEN_MASK));
        std::size_t x = 0;
        for (; x + CHUNK <= width; x += CHUNK) {
            const __m256i value = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + x));
            const __m256i low =
                _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(value, low_green), Fields::LOW_GREEN_SHIFT),
                                _mm256_and_si256(_mm256_srli_epi16(value, FIELD_SHIFT), low_field));
            const __m256i high =
                _mm256_or_si256(_mm256_srli_epi16(_mm256_and_si256(value, high_field), Fields::HIGH_SHIFT),
                                _mm256_and_si256(_mm256_srli_epi16(value, Fields::HIGH_GREEN_SHIFT), high_green));
            const __m256i first = HIGH_FIRST ? high : low, second = HIGH_FIRST ? low : high;
            const __m256i front = _mm256_unpacklo_epi8(first, second), back = _mm256_unpackhi_epi8(first, second);
            auto* words = reinterpret_cast<__m256i*>(packed + PACKED_PIXEL_SIZE * x);
            _mm256_storeu_si256(words, _mm256_permute2x128_si256(front, back, LOW_HALVES));
            _mm256_storeu_si256(words + 1, _mm256_permute2x128_si256(front, back, HIGH_HALVES));
        }
        finish_gray_row(source, packed, width, x, format);
    }
};

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace

void pack_color_frame_ssse3(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                            std::size_t readable, bool top_first, const WordFormat& format)
{
    rows_in_format<ColorSsse3, COLOR_PIXEL_SIZE>(source, packed, width, height, readable, top_first, format);
}

void pack_color_frame_avx2(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                           std::size_t readable, bool top_first, const WordFormat& format)
{
    rows_in_format<ColorAvx2, COLOR_PIXEL_SIZE>(source, packed, width, height, readable, top_first, format);
}

void pack_color_frame_avx512(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                             std::size_t readable, bool top_first, const WordFormat& format)
{
    rows_in_format<ColorAvx512, COLOR_PIXEL_SIZE>(source, packed, width, height, readable, top_first, format);
}

void pack_gray_frame_avx2(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                          std::size_t readable, bool top_first, const WordFormat& format)
{
    rows_in_format<GrayAvx2, GRAY_PIXEL_SIZE>(source, packed, width, height, readable, top_first, format);
}

#endif
