// SPDX-License-Identifier: MIT
// Frame file names: the pattern, its expansion for one frame, and the frame
// numbers that a name found in a folder could have.
#pragma once

#include <cstddef>
#include <cstdint>

// The longest frame file name, terminator included.
constexpr std::size_t FILENAME_SIZE = 1000;

constexpr char NO_CONVERSION = '\0';
constexpr char BAD_PATTERN = '!';

// The pattern is used as a printf format with the frame number as its one
// argument, so it may hold at most one conversion, and only an integer one:
// %[flags][width][.precision](d|i|o|u|x|X), whose width and precision fit a
// name. "%%" is a plain percent sign. Returns the conversion letter,
// NO_CONVERSION or BAD_PATTERN.
char pattern_conversion(const char* pattern);

// Expands the pattern for one frame. False when the name does not fit.
bool expand_filename(char (&filename)[FILENAME_SIZE], const char* pattern, char conversion, std::int32_t frame);

inline bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Where the conversion lies in the file name, after the last folder
// separator: the folder ("." for none), with "%%" as "%". False where the
// pattern has no conversion, or its conversion lies in the folder part.
bool frame_folder(const char* pattern, char conversion, char (&folder)[FILENAME_SIZE]);

// The plain text of the pattern's file name before and after its conversion,
// with "%%" as "%", for frame_numbers_in_name.
struct NameText {
    char before[FILENAME_SIZE];
    char after[FILENAME_SIZE];
};
bool name_text(const char* pattern, char conversion, NameText& text);
bool number_between(const NameText& text, char conversion, const char* name, std::int64_t& frame);
// Every number in name written in the conversion's base, and its negative
// where a minus sign stands before it; each is a frame number where it fits.
template <typename Found>
void numbers_written_in(const char* name, char conversion, Found&& found);

// The frame numbers that a name in that folder could be the expansion of,
// each handed to found, which confirms it by expanding that number: the
// number between the pattern's own text before and after the conversion,
// with ASCII letters matched in either case, as on the file systems that
// ignore it. Where that text does not match, as where the file system
// changes the name's Unicode normalization, every number written in the name.
template <typename Found>
void frame_numbers_in_name(const NameText& text, char conversion, const char* name, Found&& found)
{
    std::int64_t frame = 0;
    if (number_between(text, conversion, name, frame)) {
        found(frame);
    } else {
        numbers_written_in(name, conversion, found);
    }
}

int digit_value(char c);  // 0 to 15, or 16 for no digit

template <typename Found>
void numbers_written_in(const char* name, char conversion, Found&& found)
{
    const unsigned base = conversion == 'x' || conversion == 'X' ? 16 : conversion == 'o' ? 8 : 10;
    const bool is_signed = conversion == 'd' || conversion == 'i';
    // Zero padding aside, no number of a frame is longer than 11 digits.
    constexpr std::size_t LONGEST = 16;
    for (const char* run = name; *run != '\0';) {
        if (static_cast<unsigned>(digit_value(*run)) >= base) {
            ++run;
            continue;
        }
        const char* end = run;
        while (static_cast<unsigned>(digit_value(*end)) < base) ++end;
        // Hex digits may run into the text around the number: every part.
        for (const char* from = run; from < end; from = base == 16 ? from + 1 : end) {
            std::uint64_t value = 0;
            for (const char* p = from; p < end && p < from + LONGEST; ++p) {
                value = value * base + static_cast<unsigned>(digit_value(*p));
                if (value > UINT32_MAX) break;
                if (base == 16 || p + 1 == end) {
                    if (is_signed) {
                        if (value <= INT32_MAX) found(static_cast<std::int64_t>(value));
                        if (from > name && from[-1] == '-') found(-static_cast<std::int64_t>(value));
                    } else {
                        found(static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value))));
                    }
                }
            }
        }
        run = end;
    }
}
