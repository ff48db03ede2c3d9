#include "runtime/system/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string to_utf8(const std::u16string& wide) {
    std::u16string terminated = wide + u'\0';
    int64_t size = platform_utf16_to_utf8(terminated.data(), nullptr);
    std::string out(static_cast<size_t>(size), '?');
    EXPECT_EQ(platform_utf16_to_utf8(terminated.data(), out.data()), size);
    EXPECT_EQ(out.back(), '\0');  // the terminator is counted and written
    out.pop_back();
    return out;
}

TEST(PlatformTest, WideToUtf8) {
    struct Case {
        std::u16string wide;
        std::string utf8;
    };
    const Case cases[] = {
        {u"", ""},
        {u"abc", "abc"},
        {u"\u00E9\u20AC", "\xC3\xA9\xE2\x82\xAC"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {std::u16string(1, char16_t(0xD800)) + u"x", "\xEF\xBF\xBDx"},  // a lone high surrogate
        {std::u16string(1, char16_t(0xDC00)), "\xEF\xBF\xBD"},          // a lone low surrogate
    };
    for (const Case& c : cases) EXPECT_EQ(to_utf8(c.wide), c.utf8);
}

TEST(PlatformTest, Utf8CountsBeforeConverting) {
    const char text[] = "a\xC3\xA9\xF0\x9F\x98\x80\xFF";
    int32_t units = platform_utf8_to_utf16(text, 8, nullptr);
    EXPECT_EQ(units, 5);  // a, e-acute, a surrogate pair, U+FFFD
    char16_t out[5];
    EXPECT_EQ(platform_utf8_to_utf16(text, 8, out), 5);
    EXPECT_EQ(out[4], 0xFFFD);
    // The length bounds the input: an embedded NUL is just another character.
    EXPECT_EQ(platform_utf8_to_utf16("a\0b", 3, nullptr), 3);
}

// The count bounds the input even inside a letter: bytes that would finish it, present
// in memory right after, are not read.
TEST(PlatformTest, Utf8StopsAtItsLengthInsideALetter) {
    const char text[] = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    struct Case {
        int32_t length;
        std::u16string expected;
    } cases[] = {
        {2, u"a\uFFFD"},
        {3, u"a\u00E9"},
        {4, u"a\u00E9\uFFFD"},
        {5, u"a\u00E9\uFFFD"},
        {6, u"a\u00E9\u20AC"},
        {8, u"a\u00E9\u20AC\uFFFD"},
        {9, u"a\u00E9\u20AC\uFFFD"},
        {10, u"a\u00E9\u20AC\U0001F600"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        int32_t units = platform_utf8_to_utf16(text, c.length, nullptr);
        ASSERT_EQ(units, static_cast<int32_t>(c.expected.size()));
        std::u16string out(static_cast<size_t>(units), u'?');
        EXPECT_EQ(platform_utf8_to_utf16(text, c.length, out.data()), units);
        EXPECT_EQ(out, c.expected);
    }
}

// A path form here is the bytes and a NUL, whatever they are.
TEST(PlatformTest, PathFormsAreTheBytesAndANul) {
    const char text[] = "\xFF\xC3/x";
    EXPECT_EQ(platform_path_size(text, 4), 5);
    EXPECT_EQ(platform_path_size(text, 0), 1);
    EXPECT_EQ(platform_path_size(text, -1), -1);
    char out[5] = {'?', '?', '?', '?', '?'};
    const PlatformPath* path = platform_path_form(text, 4, out);
    EXPECT_EQ(reinterpret_cast<const char*>(path), out);
    EXPECT_EQ(std::string(out, 5), std::string(text, 4) + '\0');
}

TEST(PlatformTest, TheClockCountsSecondsSinceTheEpoch) {
    int64_t now = platform_time();
    EXPECT_GT(now, 1700000000);  // after November 2023
    EXPECT_LT(now, 4102444800);  // before 2100
}

}  // namespace
