// The narrowing conversions at the edges of their ranges (the text readers'
// numbers, read and narrowed, are compared with strtod in dxf_reader_test).
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "frame/narrowing.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr float kFloatInf = std::numeric_limits<float>::infinity();
// Half a unit past the largest float: the first double that rounds to infinity.
constexpr double kFloatOverflow = double{FLT_MAX} + 0x1p103;

uint32_t Bits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

TEST(Narrowing, DoublesBecomeTheFloatsIEEERoundingGives) {
    const struct {
        double value;
        float expected;
    } cases[] = {
        {1e39, kFloatInf},
        {-1e39, -kFloatInf},
        {DBL_MAX, kFloatInf},
        {kFloatOverflow, kFloatInf},
        {std::nextafter(kFloatOverflow, 0.0), FLT_MAX},
        {-std::nextafter(kFloatOverflow, 0.0), -FLT_MAX},
        {double{FLT_MAX}, FLT_MAX},
        {kInf, kFloatInf},
        {-kInf, -kFloatInf},
        {1e-50, 0.0f},
        {-1e-50, -0.0f},
        {0.1, 0.1f},
        {16777217.0, 16777216.0f},  // a tie, to even
    };
    for (const auto& c : cases) EXPECT_EQ(Bits(NarrowToFloat(c.value)), Bits(c.expected)) << c.value;
    EXPECT_TRUE(std::isnan(NarrowToFloat(kNaN)));
    EXPECT_TRUE(std::signbit(NarrowToFloat(-kNaN)));
}

TEST(Narrowing, FloatingValuesTruncateIntoEveryIntegerTypeAndSaturate) {
    for (const double v : {kNaN, -kNaN}) {
        EXPECT_EQ(TruncateSaturating<int32_t>(v), 0);
        EXPECT_EQ(TruncateSaturating<uint8_t>(v), 0);
        EXPECT_EQ(TruncateSaturating<uint64_t>(v), 0u);
    }
    const struct {
        double value;
        int32_t i32;
        uint8_t u8;
        uint16_t u16;
    } cases[] = {
        {kInf, INT32_MAX, 255, 65535},
        {-kInf, INT32_MIN, 0, 0},
        {1e300, INT32_MAX, 255, 65535},
        {-1e300, INT32_MIN, 0, 0},
        {2147483647.9, INT32_MAX, 255, 65535},
        {2147483648.0, INT32_MAX, 255, 65535},
        {-2147483648.9, INT32_MIN, 0, 0},
        {-2147483649.0, INT32_MIN, 0, 0},
        {255.9, 255, 255, 255},
        {256.0, 256, 255, 256},
        {65535.99, 65535, 255, 65535},
        {65536.0, 65536, 255, 65535},
        {-0.99, 0, 0, 0},
        {-1.5, -1, 0, 0},
        {127.5, 127, 127, 127},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TruncateSaturating<int32_t>(c.value), c.i32) << c.value;
        EXPECT_EQ(TruncateSaturating<uint8_t>(c.value), c.u8) << c.value;
        EXPECT_EQ(TruncateSaturating<uint16_t>(c.value), c.u16) << c.value;
    }
    EXPECT_EQ(TruncateSaturating<uint64_t>(0x1p64), UINT64_MAX);
    EXPECT_EQ(TruncateSaturating<uint64_t>(std::nextafter(0x1p64, 0.0)), 0xFFFFFFFFFFFFF800u);
    EXPECT_EQ(TruncateSaturating<int64_t>(-0x1p63), INT64_MIN);
}

}  // namespace
