// Number conversion of the text readers. Short decimal numbers take an exact
// fast path; std::from_chars does the other decimal and hexadecimal work
// without looking at the process locale; the forms it does not take as strtod
// does (a leading '+', the "0x" prefix, "inf" and "nan" with their payload,
// overflow and underflow) are handled here.
#include "scene/text_number.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr int32_t kShortDigits = 19;                       // decimal digits a uint64 always holds
constexpr uint64_t kExactIntegerLimit = uint64_t{1} << 53;  // integers up to here are exact doubles
constexpr int32_t kExactPowerLimit = 22;                    // 10^22 is the last exact power of ten
constexpr int32_t kShortExponentLimit = 10000;              // larger written exponents are not short
constexpr double kExactPowersOfTen[kExactPowerLimit + 1] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr uint64_t kQuietNanBits = 0x7FF8000000000000ull;
constexpr uint64_t kNanPayloadMask = (1ull << 51) - 1;  // mantissa bits below the quiet bit
constexpr int64_t kExponentLimit = int64_t{1} << 40;   // far past any representable power

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsSpaceC(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
bool IsNanChar(char c) { return IsDigit(c) || (Lower(c) >= 'a' && Lower(c) <= 'z') || c == '_'; }

// The end of `word` (lower case) when [p, end) starts with it in any case, else null.
const char* SkipWordNoCase(const char* p, const char* end, const char* word) {
    for (; *word; ++word, ++p)
        if (p == end || Lower(*p) != *word) return nullptr;
    return p;
}

int32_t DigitValue(char c) {
    if (IsDigit(c)) return c - '0';
    return Lower(c) - 'a' + 10;
}

// strtoull with base 0 over a NaN's n-char sequence [p, end): the payload when
// the digits use up the whole sequence (an overflow saturates), else false.
bool NanPayload(const char* p, const char* end, uint64_t* payload) {
    int32_t base = 10;
    if (p != end && *p == '0') {
        base = 8;
        if (end - p >= 3 && Lower(p[1]) == 'x' && IsHexDigit(p[2])) {
            base = 16;
            p += 2;
        }
    }
    uint64_t value = 0;
    bool saturated = false;
    for (; p != end; ++p) {
        const bool valid = base == 16 ? IsHexDigit(*p) : IsDigit(*p) && *p - '0' < base;
        if (!valid) return false;
        const uint64_t digit = static_cast<uint64_t>(DigitValue(*p));
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / static_cast<uint64_t>(base)) saturated = true;
        value = value * static_cast<uint64_t>(base) + digit;
    }
    *payload = saturated ? std::numeric_limits<uint64_t>::max() : value;
    return true;
}

// "nan" ends at p; an "(n-char-sequence)" that follows is taken and sets the payload.
const char* ReadNan(const char* p, const char* end, double* value) {
    uint64_t bits = kQuietNanBits;
    if (p != end && *p == '(') {
        const char* close = p + 1;
        while (close != end && IsNanChar(*close)) ++close;
        if (close != end && *close == ')') {
            uint64_t payload = 0;
            if (NanPayload(p + 1, close, &payload)) bits = (bits & ~kNanPayloadMask) | (payload & kNanPayloadMask);
            p = close + 1;
        }
    }
    std::memcpy(value, &bits, sizeof *value);
    return p;
}

// The power of the radix at which the leading significant digit stands
// (exponent included): positive for magnitudes of one and up. It tells an
// overflow from an underflow when from_chars reports the value out of range.
int64_t LeadingPower(const char* p, const char* end, bool hex) {
    const int64_t digitPower = hex ? 4 : 1;
    auto isDigit = hex ? IsHexDigit : IsDigit;
    int64_t power = 0;
    bool significant = false;
    for (; p != end && isDigit(*p); ++p) {
        significant = significant || *p != '0';
        if (significant) power += digitPower;
    }
    if (p != end && *p == '.') {
        for (++p; p != end && isDigit(*p); ++p) {
            significant = significant || *p != '0';
            if (!significant) power -= digitPower;
        }
    }
    if (p == end || Lower(*p) != (hex ? 'p' : 'e')) return power;
    ++p;
    const int64_t sign = p != end && *p == '-' ? -1 : 1;
    if (p != end && (*p == '-' || *p == '+')) ++p;
    int64_t exponent = 0;
    for (; p != end && IsDigit(*p); ++p)
        if (exponent < kExponentLimit) exponent = exponent * 10 + (*p - '0');
    return power + sign * exponent;
}

// An unsigned number at p read by from_chars; null when there is none.
const char* ReadUnsigned(const char* p, const char* end, bool hex, double* value) {
    const auto format = hex ? std::chars_format::hex : std::chars_format::general;
    const auto [stop, error] = std::from_chars(p, end, *value, format);
    if (error == std::errc::invalid_argument) return nullptr;
    if (error == std::errc::result_out_of_range)
        *value = LeadingPower(p, end, hex) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return stop;
}

// A written exponent ("e", sign, digits) at p, added to *power; where it ends
// (p itself when the 'e' is not followed by digits).
const char* ReadShortExponent(const char* p, const char* end, int32_t* power) {
    if (p == end || Lower(*p) != 'e') return p;
    const char* q = p + 1;
    const bool negative = q != end && *q == '-';
    if (q != end && (*q == '-' || *q == '+')) ++q;
    if (q == end || !IsDigit(*q)) return p;
    int32_t exponent = 0;
    for (; q != end && IsDigit(*q); ++q)
        if (exponent < kShortExponentLimit) exponent = exponent * 10 + (*q - '0');
    *power += negative ? -exponent : exponent;
    return q;
}

// Appends the digits at p to *mantissa (wrapping: the caller counts them);
// where they end.
const char* AppendDigits(const char* p, const char* end, uint64_t* mantissa) {
    uint64_t m = *mantissa;
    for (; p != end; ++p) {
        const uint64_t digit = static_cast<uint64_t>(static_cast<unsigned char>(*p)) - '0';
        if (digit > 9) break;
        m = m * 10 + digit;
    }
    *mantissa = m;
    return p;
}

// The numbers most files hold: a decimal number of at most kShortDigits
// digits whose value as an integer a double holds exactly, scaled by a power
// of ten that a double holds exactly. One multiplication or division,
// correctly rounded, gives the value strtod gives. Null for any other number
// (or none).
const char* ReadShortDecimal(const char* p, const char* end, double* value) {
    const char* start = p;
    uint64_t mantissa = 0;
    p = AppendDigits(p, end, &mantissa);
    std::ptrdiff_t digits = p - start;
    int32_t power = 0;
    if (p != end && *p == '.') {
        const char* fraction = p + 1;
        p = AppendDigits(fraction, end, &mantissa);
        digits += p - fraction;
        power = -static_cast<int32_t>(std::min<std::ptrdiff_t>(p - fraction, kShortDigits + 1));
    }
    if (digits == 0 || digits > kShortDigits) return nullptr;
    p = ReadShortExponent(p, end, &power);
    if (mantissa == 0) {
        *value = 0.0;
        return p;
    }
    if (mantissa > kExactIntegerLimit || power < -kExactPowerLimit || power > kExactPowerLimit) return nullptr;
    const auto exact = static_cast<double>(mantissa);
    *value = power < 0 ? exact / kExactPowersOfTen[-power] : exact * kExactPowersOfTen[power];
    return p;
}

// The unsigned number at p, which is not empty; null when there is none.
const char* ReadMagnitude(const char* p, const char* end, double* value) {
    if (*p == '0' && end - p >= 2 && Lower(p[1]) == 'x') {
        // "0x" without hexadecimal digits after it reads as the "0". from_chars
        // would also take a sign or "inf" there, so it sees only digits or '.'.
        const bool digits = end - p >= 3 && (IsHexDigit(p[2]) || p[2] == '.');
        const char* stop = digits ? ReadUnsigned(p + 2, end, true, value) : nullptr;
        if (stop) return stop;
        *value = 0.0;
        return p + 1;
    }
    if (IsDigit(*p) || *p == '.') {
        const char* stop = ReadShortDecimal(p, end, value);
        return stop ? stop : ReadUnsigned(p, end, false, value);
    }
    if (const char* stop = SkipWordNoCase(p, end, "inf")) {
        *value = std::numeric_limits<double>::infinity();
        const char* longer = SkipWordNoCase(stop, end, "inity");
        return longer ? longer : stop;
    }
    if (const char* stop = SkipWordNoCase(p, end, "nan")) return ReadNan(stop, end, value);
    return nullptr;
}

}  // namespace

const char* TextNumberRead(const char* begin, const char* end, double* value) {
    const char* p = begin;
    while (p != end && IsSpaceC(*p)) ++p;
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    const char* stop = p != end ? ReadMagnitude(p, end, value) : nullptr;
    if (!stop) {
        *value = 0.0;  // no number: the sign is not applied either
        return begin;
    }
    if (negative) *value = -*value;
    return stop;
}
