// SPDX-License-Identifier: MIT
// Frame file names from the pattern, and frame numbers from names.
#include "frame_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* CONVERSION_FLAGS = "-+ #0";
constexpr const char* INTEGER_CONVERSIONS = "diouxX";
constexpr std::uint64_t NUMBER_LIMIT = std::uint64_t {UINT32_MAX} + 1;

bool is_one_of(char c, const char* set)
{
    return c != '\0' && std::strchr(set, c) != nullptr;
}

bool is_separator(char c)
{
#ifdef _WIN32
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_text(const char* a, const char* b, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Skips the digits at p; false when their number cannot fit a name.
bool skip_field(const char*& p)
{
    std::size_t value = 0;
    for (; is_digit(*p); ++p) {
        value = std::min<std::size_t>(value * 10 + static_cast<std::size_t>(*p - '0'), FILENAME_SIZE);
    }
    return value < FILENAME_SIZE;
}

// Copies the text from begin to end into to, with "%%" as "%".
void copy_plain_text(char (&to)[FILENAME_SIZE], const char* begin, const char* end)
{
    std::size_t length = 0;
    for (const char* p = begin; p < end; ++p) {
        to[length++] = *p;
        if (*p == '%') {
            ++p;
        }
    }
    to[length] = '\0';
}

// Where the file name begins: after the last folder separator.
std::size_t name_start(const char* pattern, std::size_t length)
{
    std::size_t start = length;
    while (start > 0 && !is_separator(pattern[start - 1])) {
        --start;
    }
    return start;
}

// True where the pattern's first length characters hold a percent sign that
// is not "%%".
bool has_conversion(const char* pattern, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (pattern[i] == '%') {
            if (i + 1 >= length || pattern[i + 1] != '%') {
                return true;
            }
            ++i;
        }
    }
    return false;
}

}  // namespace

int digit_value(char c)
{
    if (is_digit(c)) return c - '0';
    if (lower(c) >= 'a' && lower(c) <= 'f') return lower(c) - 'a' + 10;
    return 16;
}

char pattern_conversion(const char* pattern)
{
    char found = NO_CONVERSION;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (*p != '%') {
            continue;
        }
        ++p;
        if (*p == '%') {
            continue;
        }
        while (is_one_of(*p, CONVERSION_FLAGS)) {
            ++p;
        }
        bool fits = skip_field(p);
        if (*p == '.') {
            ++p;
            fits = skip_field(p) && fits;
        }
        if (!fits || !is_one_of(*p, INTEGER_CONVERSIONS) || found != NO_CONVERSION) {
            return BAD_PATTERN;
        }
        found = *p;
    }
    return found;
}

bool expand_filename(char (&filename)[FILENAME_SIZE], const char* pattern, char conversion, std::int32_t frame)
{
    int length = 0;
    if (conversion == 'd' || conversion == 'i') {
        length = std::snprintf(filename, FILENAME_SIZE, pattern, frame);
    } else {
        // o, u, x and X take an unsigned argument; no conversion ignores it.
        length = std::snprintf(filename, FILENAME_SIZE, pattern, static_cast<unsigned>(frame));
    }
    return length >= 0 && static_cast<std::size_t>(length) < FILENAME_SIZE;
}

bool frame_folder(const char* pattern, char conversion, char (&folder)[FILENAME_SIZE])
{
    const std::size_t length = std::strlen(pattern);
    if (conversion == NO_CONVERSION || conversion == BAD_PATTERN || length >= FILENAME_SIZE) {
        return false;
    }
    const std::size_t start = name_start(pattern, length);
    if (has_conversion(pattern, start)) {
        return false;
    }
    copy_plain_text(folder, pattern, pattern + start);
    if (start == 0) {
        std::strcpy(folder, ".");
    }
    return true;
}

bool name_text(const char* pattern, char conversion, NameText& text)
{
    const std::size_t length = std::strlen(pattern);
    if (conversion == NO_CONVERSION || conversion == BAD_PATTERN || length >= FILENAME_SIZE) {
        return false;
    }
    if (has_conversion(pattern, name_start(pattern, length))) {
        return false;  // in the folder part
    }
    // The conversion is the one '%' that "%%" does not account for.
    const char* p = pattern + name_start(pattern, length);
    while (!(p[0] == '%' && p[1] != '%')) {
        p += p[0] == '%' ? 2 : 1;
    }
    copy_plain_text(text.before, pattern + name_start(pattern, length), p);
    const char* after = std::strchr(p, conversion) + 1;
    copy_plain_text(text.after, after, pattern + length);
    return true;
}

bool number_between(const NameText& parts, char conversion, const char* name, std::int64_t& frame)
{
    const std::size_t length = std::strlen(name);
    const std::size_t before = std::strlen(parts.before);
    const std::size_t after = std::strlen(parts.after);
    if (length < before + after || !same_text(name, parts.before, before) ||
        !same_text(name + length - after, parts.after, after)) {
        return false;
    }
    // The number as printf writes it: padded with blanks on either side or
    // with zeros, a sign, and for %#x a 0x.
    const char* p = name + before;
    const char* const end = name + length - after;
    while (p < end && *p == ' ') ++p;
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    const bool hex = conversion == 'x' || conversion == 'X';
    const int base = hex ? 16 : conversion == 'o' ? 8 : 10;
    if (hex && end - p >= 2 && p[0] == '0' && lower(p[1]) == 'x') p += 2;
    std::uint64_t value = 0;
    for (; p < end && digit_value(*p) < base; ++p) {
        value = std::min(value * static_cast<unsigned>(base) + static_cast<unsigned>(digit_value(*p)), NUMBER_LIMIT);
    }
    while (p < end && *p == ' ') ++p;
    if (p != end) {
        return false;
    }
    if (conversion == 'd' || conversion == 'i') {
        const std::int64_t number = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
        frame = number;
        return number >= INT32_MIN && number <= INT32_MAX;
    }
    frame = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return !negative && value <= UINT32_MAX;
}
