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

// Joins and copies take their room by one rule: the next aligned offset, a fresh block
// when the current one cannot hold them, nothing once the word would pass the limit.
// Each case runs through both, and then a join reads the result as the latest copy.
TEST_F(ArenaTest, JoinsAndCopiesTakeRoomAlike) {
    std::string pieces(300, 'k');
    for (size_t i = 0; i < pieces.size(); ++i) pieces[i] = static_cast<char>('a' + i % 23);
    using Take = Slice (*)(Slice);
    struct Way {
        const char* name;
        Take take;
    };
    const Way ways[] = {
        {"concat", [](Slice s) { return concat(Slice{s.data, 1}, Slice{s.data + 1, s.length - 1}); }},
        {"arena_copy", arena_copy},
    };
    struct Case {
        int64_t position;        // where the block stands before
        int64_t length;          // bytes taken
        int64_t expected_offset; // in the block the result lands in
        bool fresh_block;
    };
    const Case cases[] = {
        {0, 5, 0, false},
        {1, 5, 8, false},
        {arena_block_size - 16, 16, arena_block_size - 16, false},
        {arena_block_size - 15, 15, 0, true},  // aligned up, only 8 bytes are left
        {arena_block_size - 7, 3, 0, true},
        {arena_block_size - 200, 250, 0, true},
    };
    for (const Way& way : ways) {
        for (const Case& c : cases) {
            arena_release_word();
            concat_arena.position = c.position;
            Slice source{pieces.data() + 7, c.length};
            Slice taken = way.take(source);
            std::string where = std::string(way.name) + " at " + std::to_string(c.position);
            ASSERT_EQ(text(taken), text(source)) << where;
            EXPECT_EQ(concat_arena.extra_count, c.fresh_block ? 1 : 0) << where;
            EXPECT_EQ(taken.data, concat_arena.base + c.expected_offset) << where;
            EXPECT_EQ(concat_arena.position, c.expected_offset + c.length) << where;
            EXPECT_FALSE(concat_arena.exhausted) << where;
            Slice next = concat(taken, slice_literal("xy"));
            EXPECT_EQ(text(next), text(source) + "xy") << where;
        }
        // Past the limit: refused, the arena exhausted, its position unchanged.
        arena_release_word();
        concat_arena.extra_bytes = arena_word_limit - 100;
        concat_arena.position = arena_block_size - 50;
        Slice refused = way.take(Slice{pieces.data(), 200});
        EXPECT_EQ(refused.data, nullptr) << way.name;
        EXPECT_EQ(refused.length, 0) << way.name;
        EXPECT_TRUE(concat_arena.exhausted) << way.name;
        EXPECT_EQ(concat_arena.position, arena_block_size - 50) << way.name;
        arena_close();
        ASSERT_TRUE(arena_open());
    }
}

TEST_F(ArenaTest, CopyTakesTheNextAlignedOffset) {
    concat_arena.position = 9;
    Slice copy = arena_copy(slice_literal("y"));
    EXPECT_EQ(copy.data, concat_arena.base + 16);
    EXPECT_EQ(text(copy), "y");
    EXPECT_EQ(concat_arena.position, 17);
}

}  // namespace
