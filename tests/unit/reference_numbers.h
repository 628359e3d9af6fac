// The C library's "%f" and strtod as glibc has them: the module's own number
// formatter and reader give glibc's texts and values on every platform, so
// the tests compare with glibc's behaviour wherever they run. mingw-w64's C
// library (the Windows build) parts from glibc in three places, set right or
// left out here:
//   "%f" prints a NaN with its sign bit as "nan" (glibc: "-nan");
//   strtod gives -0 for a sign with no number after it (glibc: +0, the "zero"
//   the C standard asks for);
//   strtod reads NaN payloads its own way (it takes "nan(1-2)" whole, keeps
//   0x12 of "nan(12" without its parenthesis, leaves long payloads signalling):
//   readings that are NaN compare by their sign alone.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace reference {

inline std::string Fixed6(double value) {
#if defined(_WIN32)
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
#endif
    char text[400];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

// strtod in the process's locale (the tests never change it from "C").
inline double Strtod(const char* text, char** stop) {
    const double value = std::strtod(text, stop);
#if defined(_WIN32)
    if (*stop == text) return 0.0;
#endif
    return value;
}

inline uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Two readings of one token, each a value and where the reading stopped: the
// same double bit for bit, stopped at the same place (on Windows any two NaNs
// of one sign).
inline bool SameReading(double a, size_t aStop, double b, size_t bStop) {
#if defined(_WIN32)
    if (std::isnan(a) && std::isnan(b)) return std::signbit(a) == std::signbit(b);
#endif
    return Bits(a) == Bits(b) && aStop == bStop;
}

// Two readings narrowed to float: the same bits (on Windows any two NaNs of one sign).
inline bool SameFloat(float a, float b) {
#if defined(_WIN32)
    if (std::isnan(a) && std::isnan(b)) return std::signbit(a) == std::signbit(b);
#endif
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace reference
