// Number conversion shared by the text readers: a number in text read exactly
// as the standard decimal conversion (strtod in the "C" locale) reads it,
// whatever the process locale. What a token is stays with each reader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/narrowing.h"

// Reads the number at the start of [begin, end) as strtod would: leading
// white space, a sign, the longest decimal or "0x" hexadecimal number, "inf",
// "infinity" or "nan" with an optional "(n-char-sequence)" payload;
// out-of-range values become infinity or zero. Sets *value and returns where
// the reading stopped: `begin` (and *value 0) when there is no number.
const char* TextNumberRead(const char* begin, const char* end, double* value);

// The number at the start of [begin, end) as TextNumberRead reads it, stored
// as a 32-bit float: rounded as IEEE 754 rounds, 1e39 becoming infinity.
inline float TextNumberFloat(const char* begin, const char* end) {
    double value = 0.0;
    TextNumberRead(begin, end, &value);
    return NarrowToFloat(value);
}

// The form nearly every number in a file takes, read in one scan: an optional
// '-', then 1 to kTextPlainDigits digits with at most one '.' among them, and
// no exponent or hexadecimal prefix after them, in NUL-terminated text. Sets
// *value as TextNumberRead would and returns where the digits end, or null for
// any other text (the caller then reads it in full).
constexpr int32_t kTextPlainDigits = 15;  // at most 10^15: the integer and 10^digits are exact doubles
inline constexpr double kTextPlainPowers[kTextPlainDigits + 1] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
inline const char* TextNumberReadPlain(const char* p, double* value) {
    const bool negative = *p == '-';
    p += negative;
    const char* digits = p;
    uint64_t mantissa = 0;
    for (; static_cast<uint8_t>(*p - '0') <= 9; ++p) mantissa = mantissa * 10 + static_cast<uint8_t>(*p - '0');
    const char* point = p;
    if (*p == '.') {
        for (++p; static_cast<uint8_t>(*p - '0') <= 9; ++p) mantissa = mantissa * 10 + static_cast<uint8_t>(*p - '0');
    }
    const std::ptrdiff_t fraction = p - point - (*point == '.');
    const std::ptrdiff_t count = p - digits - (*point == '.');
    const char next = static_cast<char>(*p | 0x20);  // lower case of a letter
    if (count < 1 || count > kTextPlainDigits || next == 'e' || next == 'x') return nullptr;
    const double magnitude = static_cast<double>(mantissa) / kTextPlainPowers[fraction];
    *value = negative ? -magnitude : magnitude;
    return p;
}
