// The narrowing conversions of values read from a file or a host record. C++
// leaves a floating conversion undefined when the value does not fit its
// destination (a double past the float range, a NaN or a huge value to an
// integer), whatever the hardware would give; every such conversion in the
// module goes through one of these, which give a stated result.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "floats are IEEE 754: infinities and NaN are values of both types");

// A double as the nearest float, as IEEE 754 rounds it: a magnitude that
// rounds past the largest float becomes the infinity of its sign (1e39 gives
// infinity), NaN and the infinities stay what they are.
inline float NarrowToFloat(double value) {
    // Half a unit past the largest float: from here on rounding overflows.
    constexpr double kOverflow = static_cast<double>(std::numeric_limits<float>::max()) + 0x1p103;
    if (value >= kOverflow) return std::numeric_limits<float>::infinity();
    if (value <= -kOverflow) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);  // within the range, or not a finite number: defined
}

// A floating value truncated toward zero into the integer type Int (of at most
// 64 bits): NaN gives 0, a value beyond Int's range the limit on its side.
template <typename Int>
Int TruncateSaturating(double value) {
    using Limits = std::numeric_limits<Int>;
    constexpr double kLow = static_cast<double>(Limits::min());
    constexpr double kPastHigh = 2.0 * static_cast<double>(Limits::max() / 2 + 1);  // 2^bits, exactly
    if (std::isnan(value)) return 0;
    if (value <= kLow) return Limits::min();
    if (value >= kPastHigh) return Limits::max();
    return static_cast<Int>(value);
}
