#include "runtime/text/print.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "test_support.h"

namespace {

TEST(PrintTest, SlicesGoOutWhole) {
    EXPECT_EQ(capture_stdout([] { print(slice_literal("ab\ncd")); }), "ab\ncd");
    EXPECT_EQ(capture_stdout([] { print(Slice{"xyz", 0}); }), "");
    EXPECT_EQ(capture_stdout([] { print(Slice{nullptr, 5}); }), "");
    EXPECT_EQ(capture_stdout([] { print(Slice{"a\0b", 3}); }), std::string("a\0b", 3));
}

TEST(PrintTest, Integers) {
    struct Case {
        int64_t value, base, width;
        bool zero_padding;
        const char* expected;
    };
    const Case cases[] = {
        {0, 10, 64, false, "0"},
        {-42, 10, 64, false, "-42"},
        {42, 10, 5, true, "00042"},
        {255, 16, 4, true, "00ff"},
        {7, 10, 0, false, ""},
        {-7, 10, 0, false, "-"},
        {-7, 10, -3, true, "-"},
        {123456, 10, 3, false, "456"},      // only the last `width` digits
        {123456, 10, 3, true, "456"},
        {-42, 10, 5, true, "-00042"},       // the sign is not counted
        {42, 10, 5, false, "42"},           // no padding without zero padding
        {35, 36, 1, false, "z"},
        {5, 2, 64, false, "101"},
        {INT64_MIN, 10, 64, false, "-9223372036854775808"},
        {INT64_MIN, 2, 64, false, "-1000000000000000000000000000000000000000000000000000000000000000"},
        {-1, 16, 70, true, "-0000000000000000000000000000000000000000000000000000000000000000000001"},
        // Bases out of range are clamped: 0 and 1 to 2, 37 and above to 36.
        {5, 0, 64, false, "101"},
        {5, 1, 64, false, "101"},
        {71, 40, 64, false, "1z"},
        {71, -10, 64, false, "1000111"},
    };
    for (const Case& c : cases) {
        std::string out = capture_stdout([&] { print_int(c.value, c.base, c.width, c.zero_padding); });
        EXPECT_EQ(out, c.expected) << c.value << " base " << c.base << " width " << c.width;
    }
}

TEST(PrintTest, UnsignedIntegers) {
    EXPECT_EQ(capture_stdout([] { print_uint(static_cast<uint64_t>(-5), 10, 64, false); }), "18446744073709551611");
    EXPECT_EQ(capture_stdout([] { print_uint(UINT64_MAX, 16, 64, false); }), "ffffffffffffffff");
    EXPECT_EQ(capture_stdout([] { print_uint(UINT64_MAX, 2, 64, false); }), std::string(64, '1'));
    EXPECT_EQ(capture_stdout([] { print_uint(9, 10, 3, true); }), "009");
}

TEST(PrintTest, FloatingPoint) {
    struct Case {
        double value;
        int64_t base, width, precision;
        bool fill;
        uint8_t pad;
        const char* expected;
    };
    const Case cases[] = {
        {2.5, 10, 3, 0, false, 0, "3"},
        {0.5, 10, 3, 0, false, 0, "1"},
        {0.1, 10, 3, 3, false, 0, "0.1"},
        {1.005, 10, 3, 2, false, 0, "1"},  // stored just below 1.005
        {2.0, 10, 3, 2, true, 0, "002.00"},
        {2.0, 10, 3, 2, true, 1, "  2.  "},
        {2.0, 10, 3, 2, false, 0, "2"},
        {3.14159, 10, 3, 2, false, 0, "3.14"},
        {255.5, 16, 3, 3, false, 0, "ff.8"},
        {3.5, 10, 4, 3, true, 0, "0003.500"},
        {3.5, 10, 4, 3, true, 1, "   3.5  "},
        {-2.5, 10, 3, 1, true, 1, "-  2.5"},
        {123.456, 10, 2, 3, false, 0, "23.456"},
        {12.5, 10, 0, 1, false, 0, ".5"},
        {9.96, 10, 3, 1, false, 0, "10"},  // the carry widens the number
        {9.96, 10, 1, 1, false, 0, "0"},   // no room: the kept digits stay zero
        {-0.0, 10, 3, 2, false, 0, "0"},
        {0.0, 10, 3, 2, true, 0, "000.00"},
        {123456.0, 10, 2, 0, false, 0, "56"},  // leading digits dropped down to the width
        {0.75, 2, 2, 4, false, 0, "0.11"},
        {std::numeric_limits<double>::infinity(), 10, 9, 9, true, 0, "infinity"},
        {-std::numeric_limits<double>::infinity(), 10, 3, 2, false, 0, "-infinity"},
        {std::nan(""), 10, 3, 2, true, 0, "nan"},
        {-std::nan(""), 10, 3, 2, true, 0, "nan"},
        {std::numeric_limits<double>::denorm_min(), 10, 3, 2, false, 0, "0"},
    };
    for (const Case& c : cases) {
        std::string out = capture_stdout([&] { print_float(c.value, c.base, c.width, c.precision, c.fill, c.pad); });
        EXPECT_EQ(out, c.expected) << c.value << " base " << c.base << " width " << c.width << " precision "
                                   << c.precision << " fill " << c.fill;
    }
}

TEST(PrintTest, FloatingPointOutOfRangeStaysWithinItsDigits) {
    // Widths, precisions and bases beyond the limits are clamped: the digits never exceed
    // 64 slots, whatever is asked.
    struct Case {
        int64_t base, width, precision;
    };
    const Case cases[] = {{10, 64, 0}, {10, 0, 64}, {10, 40, 40}, {10, -5, -5}, {10, 32767, 32767},
                          {1, 3, 3},   {0, 3, 3},   {-7, 3, 3},   {99, 3, 3},   {36, 63, 63}};
    const double values[] = {0.0, 1.5, -123.456, 1e308, 5e-324, 9.999999};
    for (const Case& c : cases) {
        for (double v : values) {
            std::string out = capture_stdout([&] { print_float(v, c.base, c.width, c.precision, true, 0); });
            EXPECT_LE(out.size(), 66u) << v << " base " << c.base << " width " << c.width;
            for (char ch : out) EXPECT_TRUE(ch == '-' || ch == '.' || isdigit(ch) || islower(ch)) << out;
        }
    }
}

}  // namespace
