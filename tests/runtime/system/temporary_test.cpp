#include "runtime/system/temporary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"

namespace {

std::u16string wide(const char16_t* text) {
    std::u16string out;
    for (int64_t i = 0;; ++i) {
        char16_t unit;
        std::memcpy(&unit, reinterpret_cast<const char*>(text) + 2 * i, sizeof unit);
        if (unit == 0) return out;
        out += unit;
    }
}

TEST(TemporaryTest, TerminatedCopyFitsUpToTheLastByte) {
    temporary_pos = 16380;
    Slice three = slice_literal("abc");
    ASSERT_TRUE(append_character(three));
    EXPECT_EQ(three.data, temporary_buffer + 16380);
    EXPECT_EQ(three.length, 4);
    EXPECT_EQ(temporary_buffer[16383], '\0');
    EXPECT_EQ(temporary_pos, 16384);

    temporary_pos = 16380;
    Slice four = slice_literal("abcd");
    ASSERT_TRUE(append_character(four));
    EXPECT_EQ(four.data, temporary_buffer);  // the ring restarts
    EXPECT_STREQ(four.data, "abcd");
    EXPECT_EQ(temporary_pos, 5);
}

TEST(TemporaryTest, EmptyTextBecomesALoneTerminator) {
    temporary_pos = 100;
    Slice empty = {nullptr, 0};
    ASSERT_TRUE(append_character(empty));
    EXPECT_EQ(empty.length, 1);
    EXPECT_EQ(empty.data, temporary_buffer + 100);
    EXPECT_EQ(empty.data[0], '\0');
    EXPECT_EQ(temporary_pos, 101);
}

TEST(TemporaryTest, TooLongOrMalformedTextIsRefusedUntouched) {
    std::string longest(16383, 'x'), too_long(16384, 'x');
    temporary_pos = 77;
    Slice refused = slice_of(too_long);
    EXPECT_FALSE(append_character(refused));
    EXPECT_EQ(refused.data, too_long.data());
    EXPECT_EQ(refused.length, 16384);
    Slice negative = {"abc", -2};
    EXPECT_FALSE(append_character(negative));
    EXPECT_EQ(negative.length, -2);
    Slice null_bytes = {nullptr, 3};
    EXPECT_FALSE(append_character(null_bytes));
    EXPECT_EQ(temporary_pos, 77);

    Slice fits = slice_of(longest);
    ASSERT_TRUE(append_character(fits));
    EXPECT_EQ(fits.data, temporary_buffer);
    EXPECT_EQ(temporary_pos, 16384);
}

TEST(TemporaryTest, ACopyOfTextAlreadyInTheRing) {
    temporary_pos = 0;
    Slice first = slice_literal("hello");
    ASSERT_TRUE(append_character(first));
    // Copy the ring's own bytes once more, forcing a restart onto them.
    temporary_pos = 16384 - 3;
    Slice again = {first.data, 5};
    ASSERT_TRUE(append_character(again));
    EXPECT_STREQ(again.data, "hello");
}

TEST(TemporaryTest, WideFormsTakeTwoBytesAUnitAndATerminator) {
    temporary_pos = 16380;
    const char16_t* one = to_wide_cstr(slice_literal("a"));  // 4 bytes
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(reinterpret_cast<const char*>(one), temporary_buffer + 16380);
    EXPECT_EQ(temporary_pos, 16384);

    temporary_pos = 16380;
    const char16_t* two = to_wide_cstr(slice_literal("ab"));  // 6 bytes: restart
    EXPECT_EQ(reinterpret_cast<const char*>(two), temporary_buffer);
    EXPECT_EQ(wide(two), u"ab");
    EXPECT_EQ(temporary_pos, 6);

    temporary_pos = 11;  // odd offsets are fine
    const char16_t* empty = to_wide_cstr(Slice{nullptr, 0});
    EXPECT_EQ(reinterpret_cast<const char*>(empty), temporary_buffer + 11);
    EXPECT_EQ(wide(empty), u"");
    EXPECT_EQ(temporary_pos, 13);
}

TEST(TemporaryTest, WideFormsConvertUtf8) {
    struct Case {
        const char* utf8;
        std::u16string expected;
    };
    const Case cases[] = {
        {"plain", u"plain"},
        {"caf\xC3\xA9", u"caf\u00E9"},
        {"\xE2\x82\xAC", u"\u20AC"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},  // a surrogate pair
        {"a\xFFz", u"a\uFFFDz"},              // invalid bytes become U+FFFD
        {"\xC3", u"\uFFFD"},                  // cut short
        {"\xE2\x82z", u"\uFFFDz"},            // one U+FFFD for the whole cut-short sequence
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate is not a sequence
        {"\xC0\xAF", u"\uFFFD\uFFFD"},        // overlong
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
    };
    for (const Case& c : cases) {
        const char16_t* converted = to_wide_cstr(slice_from_cstr(c.utf8));
        ASSERT_NE(converted, nullptr);
        EXPECT_EQ(wide(converted), c.expected) << c.utf8;
    }
}

TEST(TemporaryTest, WideFormsBeyondTheRingAreRefused) {
    std::string fits(8191, 'w'), too_long(8192, 'w');
    temporary_pos = 9;
    EXPECT_EQ(to_wide_cstr(Slice{too_long.data(), 8192}), nullptr);
    EXPECT_EQ(temporary_pos, 9);
    // Three bytes per unit: 8191 units of U+20AC are 24573 bytes of text.
    std::string euros;
    for (int i = 0; i < 8191; ++i) euros += "\xE2\x82\xAC";
    EXPECT_NE(to_wide_cstr(slice_of(euros)), nullptr);
    EXPECT_NE(to_wide_cstr(Slice{fits.data(), 8191}), nullptr);
    EXPECT_EQ(temporary_pos, 16384);
    EXPECT_EQ(to_wide_cstr(Slice{"abc", -1}), nullptr);
    EXPECT_EQ(to_wide_cstr(Slice{"abc", int64_t{1} << 32}), nullptr);
}

}  // namespace
