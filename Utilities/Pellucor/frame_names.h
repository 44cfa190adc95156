// Frame file names: the pattern, its expansion for one frame, and the frame
// number that a name found in a folder would have.
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

// A pattern whose conversion lies in the file name, after the last folder
// separator: the folder ("." for none) and the plain text around the
// conversion, with "%%" as "%".
struct NamePattern {
    char folder[FILENAME_SIZE];
    char before[FILENAME_SIZE];
    char after[FILENAME_SIZE];
    char conversion;
};

// False where the pattern has no conversion, or a percent sign before its
// last separator.
bool split_pattern(const char* pattern, char conversion, NamePattern& parts);

// The frame number whose expansion a name in the folder could be, with ASCII
// letters matched in either case, as on the file systems that ignore it.
// The caller confirms it by expanding that number.
bool frame_of_name(const NamePattern& parts, const char* name, std::int64_t& frame);
