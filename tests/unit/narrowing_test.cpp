// The narrowing conversions at the edges of their ranges (the text readers'
// numbers, read and narrowed, are compared with strtod in dxf_reader_test).
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>

#include "frame/narrowing.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr float kFloatInf = std::numeric_limits<float>::infinity();
// Half a unit past the largest float: the first double that rounds to infinity.
constexpr double kFloatOverflow = double{FLT_MAX} + 0x1p103;

TEST(Narrowing, DoublesBecomeTheFloatsIEEERoundingGives) {
    const std::pair<double, float> cases[] = {
        {1e39, kFloatInf}, {-1e39, -kFloatInf}, {DBL_MAX, kFloatInf}, {kFloatOverflow, kFloatInf},
        {std::nextafter(kFloatOverflow, 0.0), FLT_MAX}, {-std::nextafter(kFloatOverflow, 0.0), -FLT_MAX},
        {double{FLT_MAX}, FLT_MAX}, {kInf, kFloatInf}, {-kInf, -kFloatInf}, {1e-50, 0.0f}, {-1e-50, -0.0f},
        {0.1, 0.1f}, {16777217.0, 16777216.0f}};  // the last a tie, to even
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(std::bit_cast<uint32_t>(NarrowToFloat(value)), std::bit_cast<uint32_t>(expected)) << value;
    }
    EXPECT_TRUE(std::isnan(NarrowToFloat(kNaN)));
    EXPECT_TRUE(std::signbit(NarrowToFloat(-kNaN)));
}

TEST(Narrowing, FloatingValuesTruncateIntoEveryIntegerTypeAndSaturate) {
    const struct {
        double value;
        int32_t i32;
        uint8_t u8;
        uint16_t u16;
    } cases[] = {{kNaN, 0, 0, 0}, {-kNaN, 0, 0, 0}, {kInf, INT32_MAX, 255, 65535}, {-kInf, INT32_MIN, 0, 0},
                 {1e300, INT32_MAX, 255, 65535}, {-1e300, INT32_MIN, 0, 0}, {2147483647.9, INT32_MAX, 255, 65535},
                 {2147483648.0, INT32_MAX, 255, 65535}, {-2147483648.9, INT32_MIN, 0, 0},
                 {-2147483649.0, INT32_MIN, 0, 0}, {255.9, 255, 255, 255}, {256.0, 256, 255, 256},
                 {65535.99, 65535, 255, 65535}, {65536.0, 65536, 255, 65535}, {-0.99, 0, 0, 0}, {-1.5, -1, 0, 0},
                 {127.5, 127, 127, 127}};
    for (const auto& c : cases) {
        EXPECT_EQ(TruncateSaturating<int32_t>(c.value), c.i32) << c.value;
        EXPECT_EQ(TruncateSaturating<uint8_t>(c.value), c.u8) << c.value;
        EXPECT_EQ(TruncateSaturating<uint16_t>(c.value), c.u16) << c.value;
    }
    EXPECT_EQ(TruncateSaturating<uint64_t>(kNaN), 0u);
    EXPECT_EQ(TruncateSaturating<uint64_t>(0x1p64), UINT64_MAX);
    EXPECT_EQ(TruncateSaturating<uint64_t>(std::nextafter(0x1p64, 0.0)), 0xFFFFFFFFFFFFF800u);
    EXPECT_EQ(TruncateSaturating<int64_t>(-0x1p63), INT64_MIN);
}

}  // namespace
