// Number conversion of the text readers. std::from_chars does the decimal and
// hexadecimal work without looking at the process locale; the forms it does
// not take as strtod does (a leading '+', the "0x" prefix, "inf" and "nan"
// with their payload, overflow and underflow) are handled here.
#include "scene/text_number.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

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
    const auto [stop, error] = std::from_chars(p, end, *value, hex ? std::chars_format::hex : std::chars_format::general);
    if (error == std::errc::invalid_argument) return nullptr;
    if (error == std::errc::result_out_of_range)
        *value = LeadingPower(p, end, hex) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return stop;
}

// The unsigned number at p, which is not empty; null when there is none.
const char* ReadMagnitude(const char* p, const char* end, double* value) {
    if (const char* stop = SkipWordNoCase(p, end, "inf")) {
        *value = std::numeric_limits<double>::infinity();
        const char* longer = SkipWordNoCase(stop, end, "inity");
        return longer ? longer : stop;
    }
    if (const char* stop = SkipWordNoCase(p, end, "nan")) return ReadNan(stop, end, value);
    if (*p == '0' && end - p >= 2 && Lower(p[1]) == 'x') {
        // "0x" without hexadecimal digits after it reads as the "0". from_chars
        // would also take a sign or "inf" there, so it sees only digits or '.'.
        const bool digits = end - p >= 3 && (IsHexDigit(p[2]) || p[2] == '.');
        const char* stop = digits ? ReadUnsigned(p + 2, end, true, value) : nullptr;
        if (stop) return stop;
        *value = 0.0;
        return p + 1;
    }
    if (IsDigit(*p) || *p == '.') return ReadUnsigned(p, end, false, value);
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
