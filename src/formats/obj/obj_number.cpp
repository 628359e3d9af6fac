// Number conversion of the OBJ reader. Coordinates are converted exactly as the
// standard decimal conversion (strtod in the "C" locale) would convert them,
// without depending on the process locale: std::from_chars does the decimal and
// hexadecimal work, and the forms it does not take the same way (a leading '+',
// the "0x" prefix, "inf" and "nan" with their payload, overflow and underflow)
// are handled here.
#include <charconv>
#include <cstring>
#include <limits>

#include "formats/obj/obj_reader.h"

namespace {

constexpr uint64_t kQuietNanBits = 0x7FF8000000000000ull;
constexpr uint64_t kNanPayloadMask = (1ull << 51) - 1;  // mantissa bits below the quiet bit
constexpr int64_t kExponentLimit = int64_t{1} << 40;   // far past any representable power

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsSpaceC(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool StartsWithNoCase(const char* p, const char* end, const char* word) {
    for (; *word; ++word, ++p)
        if (p == end || Lower(*p) != *word) return false;
    return true;
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

// "nan" was matched at p - 3; an "(n-char-sequence)" that follows sets the payload.
double NanValue(const char* p, const char* end) {
    uint64_t bits = kQuietNanBits;
    if (p != end && *p == '(') {
        const char* close = p + 1;
        while (close != end && (IsDigit(*close) || (Lower(*close) >= 'a' && Lower(*close) <= 'z') || *close == '_'))
            ++close;
        uint64_t payload = 0;
        if (close != end && *close == ')' && NanPayload(p + 1, close, &payload))
            bits = (bits & ~kNanPayloadMask) | (payload & kNanPayloadMask);
    }
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
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

// An unsigned number in [p, end) read by from_chars; 0 when there is none.
double UnsignedValue(const char* p, const char* end, bool hex) {
    double value = 0.0;
    const auto [stop, error] = std::from_chars(p, end, value, hex ? std::chars_format::hex : std::chars_format::general);
    (void)stop;
    if (error == std::errc::invalid_argument) return 0.0;
    if (error == std::errc::result_out_of_range)
        return LeadingPower(p, end, hex) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return value;
}

}  // namespace

float ObjTextToFloat(const char* begin, const char* end) {
    const char* p = begin;
    while (p != end && IsSpaceC(*p)) ++p;
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    if (p == end) return 0.0f;
    double value;
    if (StartsWithNoCase(p, end, "inf")) {
        value = std::numeric_limits<double>::infinity();
    } else if (StartsWithNoCase(p, end, "nan")) {
        value = NanValue(p + 3, end);
    } else if (*p == '0' && end - p >= 2 && Lower(p[1]) == 'x') {
        // "0x" without hexadecimal digits after it still reads as the "0".
        const bool digits = end - p >= 3 && (IsHexDigit(p[2]) || p[2] == '.');
        value = digits ? UnsignedValue(p + 2, end, true) : 0.0;
    } else if (IsDigit(*p) || (*p == '.' && end - p >= 2 && IsDigit(p[1]))) {
        value = UnsignedValue(p, end, false);
    } else {
        return 0.0f;  // no number: the sign is not applied either
    }
    return static_cast<float>(negative ? -value : value);
}

void ObjParseTriple(const char* text, float* values) {
    for (int32_t k = 0; k < 3; ++k) {
        while (*text == ' ') ++text;
        const char* token = text;
        while (text - token < kObjNumberTokenChars && *text != ' ' && *text != '\r' && *text != '\n' && *text != 0)
            ++text;
        values[k] = ObjTextToFloat(token, text);
    }
}

int32_t ObjCountIndices(const char* begin, const char* end) {
    int32_t count = 0;
    for (const char* p = begin; p + 1 < end; ++p)
        if (*p == ' ' && IsDigit(p[1])) ++count;
    return count;
}
