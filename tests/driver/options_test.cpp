#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

TEST(OptionsTest, ParseIntReadsLeadingDecimalDigits) {
    struct Case {
        const char* text;
        int64_t expected;
    };
    const Case cases[] = {
        {"", 0},     {"-", 0},        {"-12", -12}, {"007", 7},   {"1-2", 1}, {"+5", 0},
        {" 5", 0},   {"12abc", 12},   {"abc", 0},   {"-x", 0},    {"0", 0},   {"--3", 0},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"18446744073709551615", -1},                      // wraps modulo 2^64
        {"99999999999999999999", 7766279631452241919},     // 10^20 - 1 modulo 2^64
    };
    for (const Case& c : cases) EXPECT_EQ(parse_int(slice_from_cstr(c.text)), c.expected) << '"' << c.text << '"';
    EXPECT_EQ(parse_int(Slice{"123", -1}), 0);  // a negative length reads nothing
    EXPECT_EQ(parse_int(Slice{"123", 2}), 12);  // only the Slice's bytes count
}

// The bytes on either side of the digits ('/' before '0', ':' after '9') end a number like
// any other byte, wherever they stand: an off-by-one in the digit test would read ':' as a
// digit ten, or '/' as one below zero.
TEST(OptionsTest, ParseIntStopsAtTheBytesBesideTheDigits) {
    struct Case {
        const char* text;
        int64_t expected;
    };
    const Case cases[] = {
        {"3:", 3},   {"3/", 3},   {":", 0},    {"/", 0},     {"-:", 0},   {"-/", 0},
        {"9:9", 9},  {"0/7", 0},  {"1:1", 1},  {"-9:", -9},  {"-0/", 0},  {"::", 0},
        {"12:34", 12}, {"99/", 99}, {"0", 0},  {"9", 9},     {"09", 9},   {"90", 90},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_int(slice_from_cstr(c.text)), c.expected) << '"' << c.text << '"';
    // Every byte value after a digit: only '0' to '9' continue the number.
    for (int byte = 0; byte < 256; ++byte) {
        char text[2] = {'4', static_cast<char>(byte)};
        bool digit = byte >= '0' && byte <= '9';
        EXPECT_EQ(parse_int(Slice{text, 2}), digit ? 40 + (byte - '0') : 4) << "byte " << byte;
    }
}

TEST(OptionsTest, OnlyTheExactArgumentsAskForHelpOrTheVersion) {
    struct Case {
        std::vector<std::string> arguments;
        InfoRequest expected;
    };
    const Case cases[] = {
        {{}, InfoRequest::none},
        {{"--help"}, InfoRequest::help},
        {{"--version"}, InfoRequest::version},
        {{"-w", "3", "--help", "-r", "1"}, InfoRequest::help},
        {{"-o", "--version"}, InfoRequest::version},  // even as another option's value
        {{"--version", "--help"}, InfoRequest::version},  // the first one decides
        {{"--help", "--version"}, InfoRequest::help},
        {{"-h"}, InfoRequest::none},
        {{"-v"}, InfoRequest::none},
        {{"-help"}, InfoRequest::none},
        {{"--Help"}, InfoRequest::none},
        {{"--helpx"}, InfoRequest::none},
        {{"--hel"}, InfoRequest::none},
        {{"--help="}, InfoRequest::none},
        {{"--versions"}, InfoRequest::none},
        {{"--"}, InfoRequest::none},
        {{"help"}, InfoRequest::none},
        {{" --help"}, InfoRequest::none},
    };
    for (const Case& c : cases) {
        std::vector<Slice> items;
        for (const std::string& a : c.arguments) items.push_back(slice_of(a));
        std::string shown;
        for (const std::string& a : c.arguments) shown += "[" + a + "]";
        EXPECT_EQ(find_info_request(SliceArray{items.data(), static_cast<int64_t>(items.size())}), c.expected) << shown;
    }
    // Only the Slice's bytes count: "--help" cut short, and "--help" inside a longer string.
    Slice cut{"--help", 5};
    EXPECT_EQ(find_info_request(SliceArray{&cut, 1}), InfoRequest::none);
    Slice inside{"--helpme", 6};
    EXPECT_EQ(find_info_request(SliceArray{&inside, 1}), InfoRequest::help);
}

// Scans `arguments`; the strings are kept alive in `keep`, as Slices only borrow them.
RunOptions scan(const std::vector<std::string>& arguments) {
    static std::vector<std::string> keep;
    static std::vector<Slice> items;
    keep = arguments;
    items.clear();
    for (const std::string& a : keep) items.push_back(slice_of(a));
    return scan_options(SliceArray{items.data(), static_cast<int64_t>(items.size())}, 1234);
}

std::string path_of(const RunOptions& options) {
    return options.output_path.length > 0 ? std::string(options.output_path.data, options.output_path.length) : "";
}

TEST(OptionsTest, Defaults) {
    RunOptions options = scan({});
    EXPECT_EQ(options.word_count, 64);
    EXPECT_EQ(options.min_syllables, 1);
    EXPECT_EQ(options.max_syllables, 5);
    EXPECT_EQ(options.seed, 1234);
    EXPECT_EQ(options.output_path.length, 0);
    EXPECT_FALSE(options.show_frequencies);
    EXPECT_FALSE(options.pause_at_end);
}

TEST(OptionsTest, OddCommandLines) {
    struct Case {
        std::vector<std::string> arguments;
        int64_t words, min_syllables, max_syllables, seed;
        std::string path;
        bool frequencies, pause;
    };
    const Case cases[] = {
        {{"-w", "0"}, 0, 1, 5, 1234, "", false, false},
        {{"-w", "-3"}, -3, 1, 5, 1234, "", false, false},
        {{"-w", "12abc"}, 12, 1, 5, 1234, "", false, false},
        {{"-w", "abc"}, 0, 1, 5, 1234, "", false, false},
        {{"-w"}, 64, 1, 5, 1234, "", false, false},  // a missing value: ignored
        {{"-s", "3"}, 64, 3, 3, 1234, "", false, false},
        {{"-s", "2", "4"}, 64, 2, 4, 1234, "", false, false},
        {{"-s", "2", "-p"}, 64, 2, 2, 1234, "", false, true},
        {{"-s", "2", ""}, 64, 2, 0, 1234, "", false, false},  // an empty second value counts
        {{"-r", "42"}, 64, 1, 5, 42, "", false, false},
        {{"-r", "-5"}, 64, 1, 5, -5, "", false, false},  // "-5" is then an option '5': nothing
        {{"-o", "-f"}, 64, 1, 5, 1234, "-f", true, false},
        {{"-o", ""}, 64, 1, 5, 1234, "", false, false},  // an empty path keeps standard output
        {{"-wx", "3"}, 3, 1, 5, 1234, "", false, false},
        {{"--w", "3"}, 64, 1, 5, 1234, "", false, false},  // its letter is '-'
        {{"-w", "5", "-w", "7"}, 7, 1, 5, 1234, "", false, false},
        {{"-words", "9", "-fast", "-pause"}, 9, 1, 5, 1234, "", true, true},
        {{"-", "w", "x", "-"}, 64, 1, 5, 1234, "", false, false},  // too short to be options
        {{"-o", "a.txt", "-o", "b.txt"}, 64, 1, 5, 1234, "b.txt", false, false},
        {{"-s", "1", "2", "-s", "7"}, 64, 7, 7, 1234, "", false, false},
        {{"-s"}, 64, 1, 5, 1234, "", false, false},
        {{"-r"}, 64, 1, 5, 1234, "", false, false},
        {{"-o"}, 64, 1, 5, 1234, "", false, false},
        {{"-w", "-s", "4"}, 0, 4, 4, 1234, "", false, false},  // -s is -w's value and an option
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.arguments) shown += "[" + a + "]";
        RunOptions options = scan(c.arguments);
        EXPECT_EQ(options.word_count, c.words) << shown;
        EXPECT_EQ(options.min_syllables, c.min_syllables) << shown;
        EXPECT_EQ(options.max_syllables, c.max_syllables) << shown;
        EXPECT_EQ(options.seed, c.seed) << shown;
        EXPECT_EQ(path_of(options), c.path) << shown;
        EXPECT_EQ(options.show_frequencies, c.frequencies) << shown;
        EXPECT_EQ(options.pause_at_end, c.pause) << shown;
    }
}

}  // namespace
