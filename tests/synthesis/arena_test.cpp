#include "synthesis/arena.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ArenaTest : testing::Test {
    void SetUp() override { ASSERT_TRUE(arena_open()); }
    void TearDown() override { arena_close(); }
};

std::string text(Slice s) { return s.data ? std::string(s.data, static_cast<size_t>(s.length)) : ""; }

TEST_F(ArenaTest, AnEmptySideHandsBackTheOtherUnchanged) {
    Slice word = slice_literal("abc");
    Slice empty = {nullptr, 0};
    concat_arena.position = 5;
    Slice left = concat(word, empty);
    Slice right = concat(empty, word);
    EXPECT_EQ(left.data, word.data);
    EXPECT_EQ(right.data, word.data);
    EXPECT_EQ(left.length, 3);
    EXPECT_EQ(concat(empty, empty).length, 0);
    EXPECT_EQ(concat_arena.position, 5);
}

TEST_F(ArenaTest, JoinsLandAtTheNextAlignedOffset) {
    concat_arena.position = 3;
    Slice joined = concat(slice_literal("ab"), slice_literal("c"));
    EXPECT_EQ(joined.data, concat_arena.base + 8);
    EXPECT_EQ(text(joined), "abc");
    EXPECT_EQ(concat_arena.position, 11);  // not rounded
    Slice next = concat(joined, slice_literal("de"));
    EXPECT_EQ(next.data, concat_arena.base + 16);
    EXPECT_EQ(text(next), "abcde");
    EXPECT_EQ(text(joined), "abc");  // the earlier copy stays
}

TEST_F(ArenaTest, PiecesOfEveryLengthJoinIntact) {
    // The word so far (the latest copy) joined with outside pieces of every length, short
    // ones, ones up to the lane width and past it.
    std::string outside(100, 'x');
    for (size_t i = 0; i < outside.size(); ++i) outside[i] = static_cast<char>('a' + i % 26);
    for (int64_t a = 2; a <= 40; ++a) {
        for (int64_t b = 1; b <= 40; ++b) {
            arena_release_word();
            Slice first = concat(Slice{outside.data(), a - 1}, Slice{outside.data() + 60, 1});
            Slice joined = concat(first, Slice{outside.data() + 20, b});
            std::string expected = outside.substr(0, static_cast<size_t>(a - 1)) + outside[60] +
                                   outside.substr(20, static_cast<size_t>(b));
            ASSERT_EQ(text(joined), expected) << a << "+" << b;
            // And the other way round: an outside piece first, the arena copy second.
            Slice flipped = concat(Slice{outside.data() + 30, b}, joined);
            ASSERT_EQ(text(flipped), outside.substr(30, static_cast<size_t>(b)) + expected) << b << "+" << a;
        }
    }
}

TEST_F(ArenaTest, ALongWordBorrowsBlocksAndGivesThemBack) {
    std::string big(40000, 'q');
    Slice word = concat(Slice{big.data(), 30000}, Slice{big.data(), 30000});
    Slice bigger = concat(word, word);  // 120,000 bytes: beyond the run's block
    ASSERT_FALSE(concat_arena.exhausted);
    EXPECT_EQ(bigger.length, 120000);
    EXPECT_GE(concat_arena.extra_count, 1);
    EXPECT_EQ(text(bigger), std::string(120000, 'q'));
    arena_release_word();
    EXPECT_EQ(concat_arena.extra_count, 0);
    EXPECT_EQ(concat_arena.base, concat_arena.run_block);
    EXPECT_EQ(concat_arena.position, 0);
}

TEST_F(ArenaTest, AWordBeyondTheLimitExhaustsTheArena) {
    concat_arena.extra_bytes = arena_word_limit - 1000;  // as if the word had borrowed that much
    std::string big(70000, 'z');
    Slice joined = concat(Slice{big.data(), 35000}, Slice{big.data(), 35000});
    EXPECT_EQ(joined.length, 0);
    EXPECT_EQ(joined.data, nullptr);
    EXPECT_TRUE(concat_arena.exhausted);
    // Joins that still fit the current block go on; no further block is borrowed.
    EXPECT_EQ(concat(slice_literal("a"), slice_literal("b")).length, 2);  // still fits the block
    EXPECT_EQ(arena_copy(Slice{big.data(), 70000}).length, 0);
}

TEST_F(ArenaTest, CopyTakesTheNextAlignedOffset) {
    concat_arena.position = 9;
    Slice copy = arena_copy(slice_literal("y"));
    EXPECT_EQ(copy.data, concat_arena.base + 16);
    EXPECT_EQ(text(copy), "y");
    EXPECT_EQ(concat_arena.position, 17);
}

}  // namespace
