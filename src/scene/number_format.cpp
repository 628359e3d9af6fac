#include "scene/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "frame/narrowing.h"

namespace {

constexpr int32_t kDecimals = 6;
constexpr double kDecimalScale = 1e6;
// Below this magnitude a float times 10^6 fits an i64 (2^43 x 10^6 < 2^63).
constexpr double kFastPathLimit = 8796093022208.0;  // 2^43

// Writes the decimal digits of `value` ending just before `end`; answers where they start.
char* DigitsBackwards(uint64_t value, char* end) {
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

// A float widened to double has at most 24 significant bits, so times 10^6
// (5^6 needs 14 more) it is exact in a double, and rounding that to an integer
// in the current rounding mode gives what "%f" prints (ties to even by default).
int32_t FormatFloatValue(double magnitude, bool negative, char* out) {
    const auto scaled = TruncateSaturating<uint64_t>(std::nearbyint(magnitude * kDecimalScale));
    const uint64_t whole = scaled / 1000000u;
    uint64_t fraction = scaled % 1000000u;
    char digits[32];
    char* const end = digits + sizeof digits;
    char* p = end;
    for (int32_t k = 0; k < kDecimals; ++k) {
        *--p = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    *--p = '.';
    p = DigitsBackwards(whole, p);
    if (negative) *--p = '-';
    const auto length = static_cast<int32_t>(end - p);
    std::memcpy(out, p, static_cast<size_t>(length));
    return length;
}

int32_t CopyText(const char* text, char* out) {
    const auto length = static_cast<int32_t>(std::strlen(text));
    std::memcpy(out, text, static_cast<size_t>(length));
    return length;
}

}  // namespace

int32_t FormatFixed6(double value, char* out) {
    const bool negative = std::signbit(value);
    // NaN keeps its sign as glibc prints it ("-nan"), whatever the C runtime would say.
    if (std::isnan(value)) return CopyText(negative ? "-nan" : "nan", out);
    if (std::isinf(value)) return CopyText(negative ? "-inf" : "inf", out);
    const double magnitude = std::fabs(value);
    if (magnitude < kFastPathLimit && double{NarrowToFloat(magnitude)} == magnitude) {
        return FormatFloatValue(magnitude, negative, out);
    }
    // Every other value: the exact decimal expansion, rounded as "%f" rounds.
    const auto result = std::to_chars(out, out + kFixedTextBytes, value, std::chars_format::fixed, kDecimals);
    return static_cast<int32_t>(result.ptr - out);
}

int32_t FormatInt(int64_t value, int32_t width, char* out) {
    char digits[kIntTextBytes + 8];
    char* const end = digits + sizeof digits;
    // The magnitude of the most negative i64 is taken in unsigned arithmetic.
    const uint64_t magnitude = value < 0 ? 0u - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char* p = DigitsBackwards(magnitude, end);
    if (value < 0) *--p = '-';
    const auto length = static_cast<int32_t>(end - p);
    const int32_t padding = std::max(0, std::min(width, kMaxIntWidth) - length);
    std::memset(out, ' ', static_cast<size_t>(padding));
    std::memcpy(out + padding, p, static_cast<size_t>(length));
    return padding + length;
}
