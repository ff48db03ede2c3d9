// The math functions' corners: signs, zeros, NaNs, infinities, and the points where
// the set differs from the bare C names (base-10 log, ordinate-first atan2, 32-bit
// ldexp exponent, sign-bit abs).
#include "runtime/math/math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

uint64_t bits(double x) {
    uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

double from_bits(uint64_t b) {
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

// Same value and same sign, so -0 and +0 differ; any NaN matches any NaN (the sign of
// a NaN from a domain error is the library's affair).
void expect_same(double got, double wanted, const char* what) {
    if (std::isnan(wanted)) {
        EXPECT_TRUE(std::isnan(got)) << what << ": got " << got;
        return;
    }
    EXPECT_EQ(got, wanted) << what;
    EXPECT_EQ(std::signbit(got), std::signbit(wanted)) << what << ": sign of " << got;
}

TEST(Math, AbsClearsOnlyTheSignBit) {
    const uint64_t payload_nan = 0xFFF8000000012345;  // negative quiet NaN with a payload
    struct Case {
        double x;
        uint64_t wanted;
    } cases[] = {
        {-0.0, bits(0.0)},
        {0.0, bits(0.0)},
        {-2.5, bits(2.5)},
        {-inf, bits(inf)},
        {-5e-324, bits(5e-324)},  // the smallest subnormal
        {from_bits(payload_nan), payload_nan & ~(uint64_t{1} << 63)},
    };
    for (const Case& c : cases) EXPECT_EQ(bits(math_abs(c.x)), c.wanted) << c.x;
}

TEST(Math, ModTruncatesTowardZero) {
    struct Case {
        double x, y, wanted;
    } cases[] = {
        {-7, 3, -1}, {7, -3, 1}, {7, 3, 1}, {-7, -3, -1}, {5.5, 2, 1.5},
        {-6, 3, -0.0},  // exact: the zero keeps the sign of x
        {-0.0, 3, -0.0}, {1, 0, nan}, {inf, 2, nan}, {3, inf, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << " mod " << c.y);
        expect_same(math_mod(c.x, c.y), c.wanted, "mod");
    }
}

TEST(Math, FractKeepsTheSignOfX) {
    struct Case {
        double x, fraction, whole;
    } cases[] = {
        {-2.75, -0.75, -2}, {2.75, 0.75, 2}, {-0.5, -0.5, -0.0}, {-3, -0.0, -3}, {0.0, 0.0, 0.0},
        {-0.0, -0.0, -0.0}, {-1e300, -0.0, -1e300}, {-4503599627370497, -0.0, -4503599627370497},
        {-inf, -0.0, -inf}, {inf, 0.0, inf},
    };
    for (const Case& c : cases) {
        double whole = 123;
        expect_same(math_fract(c.x, &whole), c.fraction, "fraction");
        expect_same(whole, c.whole, "whole");
        expect_same(math_fract(c.x, nullptr), c.fraction, "fraction without whole");
    }
}

TEST(Math, FrexpSplitsIntoMantissaAndExponent) {
    struct Case {
        double x, mantissa;
        int32_t exponent;
    } cases[] = {
        {8, 0.5, 4}, {0, 0, 0}, {-0.0, -0.0, 0}, {-3, -0.75, 2}, {0.375, 0.75, -1},
        {5e-324, 0.5, -1073},                  // the smallest subnormal
        {1.7976931348623157e308, 0.99999999999999989, 1024},
    };
    for (const Case& c : cases) {
        int32_t exponent = 99;
        expect_same(math_frexp(c.x, &exponent), c.mantissa, "mantissa");
        EXPECT_EQ(exponent, c.exponent) << c.x;
    }
}

TEST(Math, LdexpTakesTheLow32BitsOfTheExponent) {
    struct Case {
        double x;
        int64_t n;
        double wanted;
    } cases[] = {
        {0.75, 3, 6},
        {0.75, (int64_t{1} << 32) + 3, 6},  // the high half is dropped
        {8, 0xFFFFFFFF, 4},                 // low 32 bits read as -1
        {8, -1, 4},
        {1, 0x80000000, 0},                 // the most negative exponent
        {1, 2000, inf},
        {-1, 2000, -inf},
        {-1, -2000, -0.0},
        {0.5, -1073, 5e-324},
    };
    for (const Case& c : cases) expect_same(math_ldexp(c.x, c.n), c.wanted, "ldexp");
}

TEST(Math, Atan2TakesTheOrdinateFirst) {
    struct Case {
        double y, x, wanted;
    } cases[] = {
        {1, -1, 3 * std::numbers::pi / 4},
        {-1, 1, -std::numbers::pi / 4},
        {1, 0, std::numbers::pi / 2},
        {0.0, -1, std::numbers::pi},
        {-0.0, -1, -std::numbers::pi},  // the sign of a zero ordinate picks the side
        {-0.0, 1, -0.0},
        {0.0, -0.0, std::numbers::pi},
    };
    for (const Case& c : cases) expect_same(math_atan2(c.y, c.x), c.wanted, "atan2");
    EXPECT_DOUBLE_EQ(math_atan2(1, -1), 2.356194490192345);
}

// One-argument functions at their corners; a case that names the wrong library
// function, or loses a sign, fails here.
TEST(Math, OneArgumentCorners) {
    constexpr double pi = std::numbers::pi;
    struct Case {
        const char* name;
        double (*function)(double);
        double x, wanted;
    } cases[] = {
        {"log is base 10", math_log, 1000, 3},  {"log", math_log, 0.001, -3},
        {"log", math_log, 0, -inf},             {"log", math_log, -1, nan},
        {"ln", math_ln, 1, 0},                  {"ln", math_ln, -0.0, -inf},
        {"ln", math_ln, -1, nan},               {"exp", math_exp, -inf, 0},
        {"exp", math_exp, 1000, inf},           {"sqrt", math_sqrt, -1, nan},
        {"sqrt", math_sqrt, -0.0, -0.0},        {"sqrt", math_sqrt, 6.25, 2.5},
        {"floor", math_floor, -0.5, -1},        {"floor", math_floor, -0.0, -0.0},
        {"ceil", math_ceil, -0.5, -0.0},        {"ceil", math_ceil, 2.000001, 3},
        {"acos", math_acos, -1, pi},            {"acos", math_acos, 1.5, nan},
        {"asin", math_asin, -0.0, -0.0},        {"asin", math_asin, -2, nan},
        {"atan", math_atan, -inf, -pi / 2},     {"acosh", math_acosh, 1, 0},
        {"acosh", math_acosh, 0.5, nan},        {"asinh", math_asinh, -0.0, -0.0},
        {"atanh", math_atanh, 1, inf},          {"atanh", math_atanh, -1, -inf},
        {"atanh", math_atanh, 1.5, nan},        {"sin", math_sin, -0.0, -0.0},
        {"sin", math_sin, inf, nan},            {"cos", math_cos, -0.0, 1},
        {"cos", math_cos, pi, -1},              {"tanh", math_tanh, -inf, -1},
        {"tanh", math_tanh, -0.0, -0.0},        {"sinh", math_sinh, -0.0, -0.0},
        {"sinh", math_sinh, -1000, -inf},       {"cosh", math_cosh, -inf, inf},
        {"cosh", math_cosh, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << "(" << c.x << ")");
        expect_same(c.function(c.x), c.wanted, c.name);
    }
}

TEST(Math, PowCorners) {
    struct Case {
        double x, y, wanted;
    } cases[] = {
        {0.0, -1, inf}, {-0.0, -1, -inf}, {-8, 1.0 / 3, nan}, {nan, 0, 1}, {-2, 3, -8}, {2, -1, 0.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "pow(" << c.x << ", " << c.y << ")");
        expect_same(math_pow(c.x, c.y), c.wanted, "pow");
    }
}

}  // namespace
