#include "runtime/text/slice.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Texts that look alike, or that sit in the same buffer, compare by their bytes only.
TEST(SliceTest, EqualityComparesWholeBytes) {
    const char buffer[] = "abcabc\0x";
    struct Case {
        const char* name;
        Slice a;
        Slice b;
        bool equal;
    } cases[] = {
        {"same bytes, other places", Slice{buffer, 3}, Slice{buffer + 3, 3}, true},
        {"one a prefix of the other", Slice{buffer, 3}, Slice{buffer, 4}, false},
        {"same length, other bytes", Slice{buffer, 2}, Slice{buffer + 1, 2}, false},
        {"a NUL counts like any byte", Slice{buffer + 6, 1}, Slice{"\0", 1}, true},
        {"a NUL against its absence", Slice{buffer + 6, 2}, Slice{buffer + 6, 1}, false},
        {"empty with null and not", Slice{nullptr, 0}, Slice{buffer, 0}, true},
        {"empty against a byte", Slice{nullptr, 0}, Slice{buffer, 1}, false},
        {"bytes behind no pointer", Slice{nullptr, 3}, Slice{nullptr, 3}, false},
        {"a negative length", Slice{buffer, -1}, Slice{buffer, -1}, false},
        {"differs in the last byte only", Slice{"abcd", 4}, Slice{"abce", 4}, false},
        {"bytes above 127", Slice{"\xC3\xA9", 2}, Slice{"\xC3\xA9", 2}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(slice_equal(c.a, c.b), c.equal) << c.name;
        EXPECT_EQ(slice_equal(c.b, c.a), c.equal) << c.name << ", the other way round";
    }
}

TEST(SliceTest, ExtensionIsTheTextAfterTheLastDot) {
    struct Case {
        const char* path;
        Slice extension;
        bool has;
    } cases[] = {
        {"song.wav", slice_literal("wav"), true},
        {"song.wav.flac", slice_literal("wav"), false},  // only the last '.' counts
        {"song.wav.flac", slice_literal("flac"), true},
        {"song.WAV", slice_literal("wav"), false},       // case-sensitive
        {"song.wave", slice_literal("wav"), false},      // compared whole
        {"song.", Slice{nullptr, 0}, true},              // the empty extension
        {"song.", slice_literal("wav"), false},
        {"song", Slice{nullptr, 0}, false},              // no '.' at all
        {"dir.d/song", slice_literal("d/song"), true},
        {"", Slice{nullptr, 0}, false},
        {".wav", slice_literal("wav"), true},
        {"song.wav", Slice{nullptr, 3}, false},          // no bytes behind the extension
    };
    for (const Case& c : cases) {
        std::string extension = c.extension.data ? std::string(c.extension.data, c.extension.length) : "<null>";
        EXPECT_EQ(slice_has_extension(slice_from_cstr(c.path), c.extension), c.has) << c.path << " / " << extension;
    }
}

}  // namespace
