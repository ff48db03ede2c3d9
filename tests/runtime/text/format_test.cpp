#include "runtime/text/format.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

std::string expand(const char* format, const FormatArgs& args) {
    return capture_stdout([&] { print_format(slice_from_cstr(format), args); });
}

TEST(FormatTest, EveryKind) {
    FormatArgs args = {};
    args.args['a' - 'a'] = format_signed(-42, 10, 5, true);
    args.args['b' - 'a'] = format_unsigned(42, 10, 64, false);
    args.args['c' - 'a'] = format_float(3.5, 10, 4, 3, true, 1);
    args.args['d' - 'a'] = format_character('!');
    args.args['e' - 'a'] = format_slice(slice_literal("slice"));
    args.args['f' - 'a'] = format_unsigned(static_cast<uint64_t>(-5), 10, 64, false);
    EXPECT_EQ(expand("%a|%b|%c|%d|%e|%f", args), "-00042|42|   3.5  |!|slice|18446744073709551611");
    EXPECT_EQ(expand("seed %b\n", args), "seed 42\n");
    EXPECT_EQ(expand("%d%d%d", args), "!!!");  // a letter may be used again
}

TEST(FormatTest, PercentSigns) {
    FormatArgs args = {};
    args.args[0] = format_character('x');
    struct Case {
        const char* format;
        const char* expected;
    };
    const Case cases[] = {
        {"100%%", "100"},         // no literal '%'
        {"%A%1%-%a", "x"},        // '%' and a non-letter write nothing
        {"end%", "end"},          // a trailing '%' is dropped
        {"%", ""},
        {"", ""},
        {"plain", "plain"},
        {"%z", ""},               // a zeroed record prints nothing
        {"%%a", "a"},             // "%%" is consumed as a pair
    };
    for (const Case& c : cases) EXPECT_EQ(expand(c.format, args), c.expected) << '"' << c.format << '"';
}

TEST(FormatTest, RecordsOutsideTheLimitsPrintSafely) {
    FormatArgs args = {};
    args.args[0] = format_signed(255, 0, 4, true);            // base 0
    args.args[1] = format_unsigned(255, 99, 64, false);       // base above 36
    args.args[2] = format_float(2.5, -1, -4, 32767, true, 0); // every field out of range
    args.args[3].kind = 5;                                    // kinds above 4 print nothing
    args.args[4].kind = 255;
    args.args[5] = format_slice(Slice{nullptr, 12});          // no bytes behind the Slice
    EXPECT_EQ(expand("%a|%b|%d%e|%f|", args), "1111|73|||");
    std::string floating = expand("%c", args);
    // Base clamped to 2, width to 0 (no integer digit) and precision to 63 columns.
    EXPECT_EQ(floating, std::string(".1") + std::string(62, '0'));
}

TEST(FormatTest, TheHeaderLayout) {
    FormatArgs args = {};
    args.args[0] = format_unsigned(static_cast<uint64_t>(int64_t{-5}), 10, 64, false);
    args.args[1] = format_unsigned(static_cast<uint64_t>(int64_t{-1}), 10, 64, false);
    EXPECT_EQ(expand("generating %a words\nseed %b\n----------\n", args),
              "generating 18446744073709551611 words\nseed 18446744073709551615\n----------\n");
}

}  // namespace
