// Number conversion shared by the text readers: a number in text read exactly
// as the standard decimal conversion (strtod in the "C" locale) reads it,
// whatever the process locale. What a token is stays with each reader.
#pragma once

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
