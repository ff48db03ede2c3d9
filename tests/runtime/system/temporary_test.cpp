#include "runtime/system/temporary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/system/platform.h"

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

// A letter whose first bytes end the Slice while the rest follow in memory: the Slice's
// end cuts it, and it becomes U+FFFD, never the whole letter.
TEST(TemporaryTest, WideFormsStopAtTheSlicesEndInsideALetter) {
    struct Case {
        const char* memory;
        int64_t length;
        std::u16string expected;
    } cases[] = {
        {"a\xC3\xA9", 2, u"a\uFFFD"},
        {"a\xE2\x82\xAC", 2, u"a\uFFFD"},
        {"a\xE2\x82\xAC", 3, u"a\uFFFD"},
        {"\xF0\x9F\x98\x80", 1, u"\uFFFD"},
        {"\xF0\x9F\x98\x80", 3, u"\uFFFD"},
        {"a\xC3\xA9", 3, u"a\u00E9"},  // and whole, it is the letter
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " bytes of " << c.memory);
        const char16_t* converted = to_wide_cstr(Slice{c.memory, c.length});
        ASSERT_NE(converted, nullptr);
        EXPECT_EQ(wide(converted), c.expected);
    }
}

TEST(TemporaryTest, TextHoldingANulHasNoTerminatedCopy) {
    const std::string texts[] = {std::string("data\0.tmp", 9), std::string(1, '\0'), std::string("end\0", 4),
                                 std::string("\0start", 6), std::string(16383, '\0')};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.size());
        temporary_pos = 77;
        Slice copy = slice_of(text);
        EXPECT_FALSE(append_character(copy));
        EXPECT_EQ(copy.data, text.data());
        EXPECT_EQ(copy.length, static_cast<int64_t>(text.size()));
        EXPECT_EQ(to_platform_path(slice_of(text)), nullptr);
        EXPECT_EQ(temporary_pos, 77);
        const PlatformPath* first = nullptr;
        const PlatformPath* second = nullptr;
        EXPECT_FALSE(to_platform_path_pair(slice_of(text), slice_literal("b"), &first, &second));
        EXPECT_FALSE(to_platform_path_pair(slice_literal("b"), slice_of(text), &first, &second));
        EXPECT_EQ(first, nullptr);
        EXPECT_EQ(second, nullptr);
    }
}

std::string bytes_of(const PlatformPath* path) { return reinterpret_cast<const char*>(path); }

// On this system a path form is the path's bytes and a NUL, taken by the terminated
// copy's rule; its bytes are never decoded.
TEST(TemporaryTest, PathFormsKeepTheBytes) {
    const std::string raw = "\xFF/\xC3/\xEF\xBF\xBD/\x01\x7F\x80";
    temporary_pos = 5;
    const PlatformPath* path = to_platform_path(slice_of(raw));
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(reinterpret_cast<const char*>(path), temporary_buffer + 5);
    EXPECT_EQ(bytes_of(path), raw);
    EXPECT_EQ(temporary_pos, 5 + static_cast<int32_t>(raw.size()) + 1);

    const std::string fits(16383, 'p');
    temporary_pos = 1;
    path = to_platform_path(slice_of(fits));
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(reinterpret_cast<const char*>(path), temporary_buffer);
    EXPECT_EQ(bytes_of(path), fits);
    EXPECT_EQ(temporary_pos, 16384);
    temporary_pos = 3;
    EXPECT_EQ(to_platform_path(slice_of(fits + "p")), nullptr);
    EXPECT_EQ(to_platform_path(Slice{"abc", -1}), nullptr);
    EXPECT_EQ(to_platform_path(Slice{nullptr, 4}), nullptr);
    EXPECT_EQ(temporary_pos, 3);

    // A path that already lies in the ring, where its own form lands.
    std::memcpy(temporary_buffer + 2, "in ring", 7);
    temporary_pos = 0;
    path = to_platform_path(Slice{temporary_buffer + 2, 7});
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(bytes_of(path), "in ring");
}

// Two paths of one call, around the ring's size together and wherever it stands: both
// read back whole and apart, or the pair is refused.
TEST(TemporaryTest, PathPairsFitTogetherOrAreRefused) {
    const int64_t sizes[] = {0, 1, 100, 8000, 8190, 8191, 8192, 8193, 16382, 16383};
    const int32_t positions[] = {0, 1, 5000, 16000, 16383, 16384};
    for (int64_t first_size : sizes) {
        for (int64_t second_size : sizes) {
            const std::string first(static_cast<size_t>(first_size), '1');
            const std::string second(static_cast<size_t>(second_size), '2');
            bool fits = first_size + 1 + second_size + 1 <= temporary_ring_size;
            for (int32_t position : positions) {
                SCOPED_TRACE(testing::Message() << first_size << " and " << second_size << ", ring at " << position);
                temporary_pos = position;
                const PlatformPath* path_first = nullptr;
                const PlatformPath* path_second = nullptr;
                ASSERT_EQ(to_platform_path_pair(slice_of(first), slice_of(second), &path_first, &path_second), fits);
                if (!fits) {
                    EXPECT_EQ(path_first, nullptr);
                    EXPECT_EQ(path_second, nullptr);
                    continue;
                }
                EXPECT_EQ(bytes_of(path_first), first);
                EXPECT_EQ(bytes_of(path_second), second);
            }
        }
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

// A text of exactly `units` UTF-16 units made of `unit_text` (one or two units each),
// topped up with ASCII where a pair would overshoot.
std::string text_of_units(int64_t units, const std::string& unit_text, int64_t units_each) {
    std::string text;
    int64_t made = 0;
    for (; made + units_each <= units; made += units_each) text += unit_text;
    for (; made < units; ++made) text += 'a';
    return text;
}

std::u16string wide_of(const std::string& utf8) {
    const char16_t* converted = to_wide_cstr(slice_of(utf8));
    return converted ? wide(converted) : u"<refused>";
}

// Both strings of one call, wherever the ring stands and however close to its size they
// come together: each reads back whole and apart from the other, or the pair is refused.
TEST(TemporaryTest, PairsFitTogetherOrAreRefused) {
    struct Alphabet {
        const char* name;
        std::string unit_text;
        int64_t units_each;
    } alphabets[] = {{"ascii", "a", 1}, {"two-byte", "\xC3\xA9", 1}, {"three-byte", "\xE2\x82\xAC", 1},
                     {"four-byte", "\xF0\x9F\x98\x80", 2}};
    std::vector<int64_t> first_units = {0, 1, 100, 4000, 6000};
    for (int64_t u = 8180; u <= 8195; ++u) first_units.push_back(u);
    const std::string seconds[] = {"wb", "r+b", "a", std::string(100, 'm'), std::string(4000, 'n'),
                                   std::string(8191, 'o')};
    const int32_t positions[] = {0, 1, 5000, 16000, 16383, 16384};
    for (const Alphabet& alphabet : alphabets) {
        for (int64_t units : first_units) {
            std::string first = text_of_units(units, alphabet.unit_text, alphabet.units_each);
            std::u16string first_wanted = wide_of(first);
            for (const std::string& second : seconds) {
                std::u16string second_wanted = wide_of(second);
                int64_t bytes = 2 * (units + 1) + 2 * (static_cast<int64_t>(second.size()) + 1);
                bool fits = units <= 8191 && bytes <= temporary_ring_size;
                for (int32_t position : positions) {
                    SCOPED_TRACE(testing::Message() << alphabet.name << " " << units << " units, second of "
                                                    << second.size() << ", ring at " << position);
                    temporary_pos = position;
                    const char16_t* wide_first = u"x";
                    const char16_t* wide_second = u"x";
                    bool taken = to_wide_cstr_pair(slice_of(first), slice_of(second), &wide_first, &wide_second);
                    ASSERT_EQ(taken, fits);
                    if (!taken) {
                        EXPECT_EQ(wide_first, nullptr);
                        EXPECT_EQ(wide_second, nullptr);
                        continue;
                    }
                    EXPECT_EQ(wide(wide_first), first_wanted);
                    EXPECT_EQ(wide(wide_second), second_wanted);
                    EXPECT_LE(temporary_pos, temporary_ring_size);
                }
            }
        }
    }
}

}  // namespace
