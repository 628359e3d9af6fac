// The writers' number formatter against glibc's "%f" and the C library's "%*d".
#include "scene/number_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "unit/reference_numbers.h"

namespace {

std::string Ours(double value) {
    char text[kFixedTextBytes];
    return std::string(text, static_cast<size_t>(FormatFixed6(value, text)));
}

// Counts the values whose text differs from glibc's, reporting the first few.
struct Comparison {
    int64_t differing = 0;
    void Check(double value) {
        const std::string ours = Ours(value), glibc = reference::Fixed6(value);
        if (ours != glibc && ++differing <= 5) {
            ADD_FAILURE() << std::hexfloat << value << ": " << ours << " vs " << glibc;
        }
    }
};

// Then the texts written whatever the C runtime prints, and doubles that are no floats (the general path).
TEST(NumberFormat, SpecialValuesAreGlibcBytes) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Comparison comparison;
    for (const float value : {0.0f, -0.0f, FLT_MAX, -FLT_MAX, FLT_MIN, -FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN, nan, -nan,
                              inf, -inf, 1.0f, -1.5f, 0.5e-6f, -0.5e-6f, 1.0f / 128, 3.0f / 128, 0.0000005f,
                              16777216.0f, 16777215.5f, 8796093022208.0f, 9e12f, -1e20f, 1e-7f})
        comparison.Check(value);
    for (const double value : {0.1, -2.0000005, 1e300, 5e-324, 1234567.8901234567}) comparison.Check(value);
    EXPECT_EQ(comparison.differing, 0);
    EXPECT_EQ(Ours(-nan) + Ours(-inf) + Ours(-0.0), "-nan-inf-0.000000");
}

// Three million random float bit patterns (uniform over the exponents), and
// every odd multiple of 1/128 below 2^14, which stands exactly halfway at the
// sixth decimal.
TEST(NumberFormat, MillionsOfFloatsAreGlibcBytes) {
    Comparison comparison;
    std::mt19937 random(20240601);
    for (int i = 0; i < 3000000; ++i) comparison.Check(std::bit_cast<float>(static_cast<uint32_t>(random())));
    for (int64_t n = 1; n < (int64_t{1} << 21); n += 2) {
        comparison.Check(static_cast<float>(n) / 128.0f);
        comparison.Check(-static_cast<float>(n) / 128.0f);
    }
    EXPECT_EQ(comparison.differing, 0);
}

TEST(NumberFormat, IntegersAreRightAligned) {
    const std::pair<int64_t, int32_t> rows[] = {{0, 0}, {7, 6}, {-7, 6}, {123456, 6}, {1234567, 6}, {INT64_MIN, 0},
                                                {INT64_MAX, 24}, {-42, 3}};
    for (const auto& [value, width] : rows) {
        char ours[kIntTextBytes];
        char glibc[64];
        std::snprintf(glibc, sizeof glibc, "%*lld", width, static_cast<long long>(value));
        EXPECT_EQ(std::string(ours, static_cast<size_t>(FormatInt(value, width, ours))), glibc);
    }
}

}  // namespace
