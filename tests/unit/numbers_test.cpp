// The numbers the module reads, narrows and writes. The shared conversion
// against the C library's strtod in the "C" locale: every token must give the
// same double, bit for bit, and stop at the same place; then how the OBJ reader
// cuts its tokens for it (the DXF reader's value lines are compared with strtod
// in its own test). The narrowing conversions at the edges of their ranges. The
// writers' number formatter against glibc's "%f" and the C library's "%*d".
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "formats/obj/obj_reader.h"
#include "frame/narrowing.h"
#include "scene/number_format.h"
#include "scene/text_number.h"
#include "unit/reference_numbers.h"

namespace {

using reference::Bits;

// Digits stand right after the token's end, so that a conversion reading past
// `end` gives a different value or stop.
struct Reading {
    double value;
    size_t stop;
};

Reading Convert(const std::string& token) {
    const std::string buffer = token + "19e9";
    double value = -1.0;
    const char* stop = TextNumberRead(buffer.data(), buffer.data() + token.size(), &value);
    return {value, static_cast<size_t>(stop - buffer.data())};
}

// strtod in the "C" locale (the test process never changes it).
Reading Reference(const std::string& token) {
    char* stop = nullptr;
    const double value = reference::Strtod(token.c_str(), &stop);
    return {value, static_cast<size_t>(stop - token.c_str())};
}

::testing::AssertionResult SameAsStrtod(const std::string& token) {
    const Reading got = Convert(token);
    const Reading want = Reference(token);
    if (reference::SameReading(got.value, got.stop, want.value, want.stop)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "token \"" << token << "\": got bits " << Bits(got.value) << " stop "
                                         << got.stop << ", strtod gives " << Bits(want.value) << " stop "
                                         << want.stop;
}

// Random tokens built from the pieces that the conversion treats differently.
class TokenMaker {
public:
    explicit TokenMaker(uint32_t seed) : random_(seed) {}

    std::string Make() {
        std::string token = Pick({"", "", "", "+", "-", "-", "+-", "--", " ", "\t-"});
        switch (Below(10)) {
            case 0: token += Special(); break;
            case 1:
            case 2: token += Hex(); break;
            default: token += Decimal(); break;
        }
        if (Below(4) == 0) token += Pick({"abc", "e", "e+", "E-", ".", "x", "#INF", "+e2", "/", ")", "p3", "0x1"});
        return token;
    }

private:
    uint32_t Below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random_); }

    std::string Pick(std::initializer_list<const char*> choices) {
        return *(choices.begin() + Below(static_cast<uint32_t>(choices.size())));
    }

    std::string Digits(uint32_t most, const char* alphabet) {
        std::string digits;
        // Mostly short runs, now and then very long ones (correct rounding beyond 19 digits).
        const uint32_t length = Below(8) == 0 ? Below(most + 1) : Below(12);
        if (Below(5) == 0) digits.append(Below(30), '0');
        for (uint32_t i = 0; i < length; ++i) digits += alphabet[Below(static_cast<uint32_t>(std::strlen(alphabet)))];
        return digits;
    }

    std::string Exponent(const char* marks) {
        if (Below(2) == 0) return "";
        std::string exponent(1, marks[Below(2)]);
        exponent += Pick({"", "", "+", "-", "-"});
        switch (Below(4)) {
            case 0: exponent += std::to_string(Below(50)); break;
            case 1: exponent += std::to_string(280 + Below(60)); break;       // around the double limits
            case 2: exponent += std::to_string(1000 + Below(200)); break;    // hexadecimal limits, overflow
            default: exponent += Pick({"", "99999999999999999999", "0000000000000000000000045"}); break;
        }
        return exponent;
    }

    std::string Decimal() {
        std::string body = Digits(130, "0123456789");
        if (Below(3) != 0) body += "." + Digits(130, "0123456789");
        return body + Exponent("eE");
    }

    std::string Hex() {
        std::string body = Pick({"0x", "0X"}) + Digits(40, "0123456789abcdefABCDEF");
        if (Below(3) == 0) body += "." + Digits(40, "0123456789abcdef");
        return body + Exponent("pP");
    }

    std::string Special() {
        return Pick({"inf", "INF", "Infinity", "infinit", "in", "i", "nan", "NaN", "nAn(123)", "nan(0x7ffffffffffff)",
                     "nan(0xFFFFFFFFFFFFFFFF)", "nan(0x1p3)", "nan(abc_1)", "nan(", "nan()", "nan(0777)", "nan(08)",
                     "nan(0x)", "nan(99999999999999999999999)", "nan(1-2)", "n", "1.#INF", "1.#IND", ".", ".e5",
                     "e5", "0x", "0x.", "0x.p1", "0xp3", "0x-1", "0xg", "00x1", "-0", "+.5", "5.", "3.1+e2",
                     "1e", "1e+", "1.7976931348623157e308", "1.7976931348623159e308", "3.4028235677973366e38",
                     "3.4028235677973367e38", "1.401298464324817e-45", "7.006492321624085e-46",
                     "7.006492321624086e-46", "2.4703282292062327e-324", "2.4703282292062328e-324", "4.9e-324",
                     "0x1p-1074", "0x1p-1075", "0x1.0000000000001p-1075", "0x1.fffffffffffff8p1023",
                     "0x1.fffffffffffffp1023", "0e99999999999", "0.000e-99999999"});
    }

    std::mt19937 random_;
};

// Values a prefix gives, signs without a number, NaN payloads, overflow and underflow, one by one; then
// generated tokens.
TEST(TextNumberTest, MatchesStrtodOnChosenAndGeneratedTokens) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    for (const char* token : {"3.1+e2", "1.#INF", "+1", ".5", "1e+", "0x1.8p3", "infinit", "nan(12", "-0", "-0xg",
                              "-abc", " -abc", "-Infinity", "nan(0x7ffffffffffff)", "1e400", "-1e400", "1e-400",
                              "-1e-400", "0x1p2000", "0x1p-2000", "1e-40", "0x-1", "0xinf"})
        EXPECT_TRUE(SameAsStrtod(token));
    EXPECT_NE(Bits(Convert("nan(0x7ffffffffffff)").value), Bits(Convert("nan").value));  // the payload is kept
    TokenMaker maker(20240611);
    int32_t mismatches = 0;
    for (int32_t i = 0; i < 400000 && mismatches < 20; ++i) {
        const ::testing::AssertionResult same = SameAsStrtod(maker.Make());
        if (!same) {
            ++mismatches;
            ADD_FAILURE() << same.message();
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// ---- How the readers use it ---------------------------------------------------------

// Up to three values, stopped by the line's end; a token is cut after 111 characters and its rest read as the next.
TEST(ObjTokenTest, ParseTripleReadsUpToThreeValuesOfTheLine) {
    const std::string longToken = std::string(111, '1') + "25";
    const float cut = static_cast<float>(Reference(std::string(111, '1')).value);
    const std::pair<std::string, std::array<float, 3>> cases[] = {
        {"  1.5   -2e1 3 4\n", {1.5f, -20, 3}}, {" 7 8\nv 1 2 3\n", {7, 8, 0}}, {" " + longToken + " 6\n", {cut, 25, 6}}};
    for (const auto& [line, want] : cases) {
        float values[3] = {9, 9, 9};
        ObjParseTriple(line.c_str(), values);
        EXPECT_EQ(std::to_array(values), want) << line;
    }
}

// What the plain reader took of a token is what strtod takes of it.
bool SameAsPlain(const std::string& token, double value, const char* stop) {
    const Reading want = Reference(token);
    return reference::SameReading(value, static_cast<size_t>(stop - token.c_str()), want.value, want.stop);
}

// Three generated tokens to a line, as strtod reads each and narrowed to float: the short plain
// numbers most files hold take their own path, everything else the full conversion.
TEST(ObjTokenTest, ParseTripleMatchesStrtodOnGeneratedLines) {
    TokenMaker maker(20261207);
    std::vector<std::string> tokens = {"999999999999999", "-9999999999999999", "1234567.12345678", "-0.000000",
                                       "5.", "-.5", ".", "-", "0.1e", "12/3"};
    while (tokens.size() < 300000) {
        std::string token = maker.Make();
        if (!token.empty() && token.find_first_of(" \t") == std::string::npos && token.size() < 100) tokens.push_back(token);
    }
    int32_t mismatches = 0;
    for (size_t i = 0; i + 3 <= tokens.size() && mismatches < 20; i += 3) {
        const std::string line = " " + tokens[i] + " " + tokens[i + 1] + "  " + tokens[i + 2] + "\n";
        float values[3];
        ObjParseTriple(line.c_str(), values);
        for (int k = 0; k < 3; ++k) {
            double plain = 0.0;
            const char* stop = TextNumberReadPlain(tokens[i + k].c_str(), &plain);
            if (stop) {
                EXPECT_TRUE(SameAsPlain(tokens[i + k], plain, stop)) << tokens[i + k];
            }
            const float want = NarrowToFloat(Reference(tokens[i + k]).value);
            if (reference::SameFloat(values[k], want)) continue;
            ++mismatches;
            ADD_FAILURE() << "line \"" << line << "\" value " << k << ": got " << values[k] << ", want " << want;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(ObjTokenTest, ReferencesSaturateInsteadOfOverflowing) {
    const std::pair<std::string, int64_t> cases[] = {
        {"42/7", 42}, {"-3", -3}, {"+3", 3}, {"/5", 0}, {"99999999999999999999999999", kObjReferenceLimit},
        {"-99999999999999999999999999", -kObjReferenceLimit}, {"2147483648", kObjReferenceLimit}};
    for (const auto& [text, reference] : cases) {
        const char* p = text.data();
        EXPECT_EQ(ObjParseReference(p, text.data() + text.size()), reference) << text;
    }
}

// The word reader takes what the digit loop takes: runs of 1 to 12 digits (leading zeros
// too) followed by any bytes, those just below '0' and above '9' among them.
TEST(ObjTokenTest, DigitWordReadsWhatTheDigitLoopReads) {
    std::mt19937 random(20261207);
    const std::string nearDigits = std::string("/.-+ \n\0:;", 10) + "\x7F\x80\xAF\xB0\xB9\xFF";
    int32_t mismatches = 0;
    for (int i = 0; i < 200000 && mismatches < 20; ++i) {
        std::string text(1 + random() % 12, '0');
        for (char& c : text) c = static_cast<char>('0' + random() % 10);
        while (text.size() < 16) {
            const uint32_t pick = random();
            text += pick % 2 ? nearDigits[pick / 2 % nearDigits.size()] : static_cast<char>(pick >> 8);
        }
        const char* word = text.data();
        const char* loop = text.data();
        const char* end = text.data() + text.size();
        const int64_t got = ObjParseDigitWord(word, end);
        if (got == ObjParseReference(loop, end) && word == loop) continue;
        ++mismatches;
        ADD_FAILURE() << "\"" << text << "\": got " << got << " after " << (word - text.data()) << " bytes";
    }
    EXPECT_EQ(mismatches, 0);
}

// ---- Narrowing ------------------------------------------------------------------------

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

// ---- Formatting -----------------------------------------------------------------------

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
    Comparison comparison;
    for (const float value : {0.0f, -0.0f, FLT_MAX, -FLT_MAX, FLT_MIN, -FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN, nan, -nan,
                              kFloatInf, -kFloatInf, 1.0f, -1.5f, 0.5e-6f, -0.5e-6f, 1.0f / 128, 3.0f / 128,
                              0.0000005f, 16777216.0f, 16777215.5f, 8796093022208.0f, 9e12f, -1e20f, 1e-7f})
        comparison.Check(value);
    for (const double value : {0.1, -2.0000005, 1e300, 5e-324, 1234567.8901234567}) comparison.Check(value);
    EXPECT_EQ(comparison.differing, 0);
    EXPECT_EQ(Ours(-nan) + Ours(-kFloatInf) + Ours(-0.0), "-nan-inf-0.000000");
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
