// Numbers as the text writers print them: fixed notation with six decimals,
// byte for byte what glibc's "%f" gives (on every platform, NaN and the
// infinities included), and decimal integers right-aligned in a width.
#pragma once

#include <cstdint>

// Room for any double in fixed notation: sign, 309 integer digits, point, six decimals.
constexpr int32_t kFixedTextBytes = 320;
// Room for any i64 in decimal with its sign, right-aligned in up to kMaxIntWidth columns.
constexpr int32_t kMaxIntWidth = 24;
constexpr int32_t kIntTextBytes = kMaxIntWidth;

// Writes `value` as "%f" does into `out` (kFixedTextBytes, no NUL added); answers the length.
int32_t FormatFixed6(double value, char* out);
// Writes `value` as "%*d" does with `width` (at most kMaxIntWidth) into `out`; answers the length.
int32_t FormatInt(int64_t value, int32_t width, char* out);
