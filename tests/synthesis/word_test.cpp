#include "synthesis/word.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "synthesis/arena.h"
#include "synthesis/planted_draws.h"

namespace {

// ---- A literal rendering of the assembly rules, for comparison --------------------
// Built from the public tables and pick_weighted alone, with std::string joins, so it
// shares nothing with the fast path but the generator.

std::string entry_of(const WeightedTable& table) {
    Slice piece = table.entries[pick_weighted(table.weights, table.count)];
    return std::string(piece.data, static_cast<size_t>(piece.length));
}

std::string reference_word(int64_t min_syllables, int64_t max_syllables) {
    int64_t count = min_syllables;
    if (min_syllables < max_syllables) {
        uint64_t size = static_cast<uint64_t>(max_syllables) - static_cast<uint64_t>(min_syllables) + 1;
        count = static_cast<int64_t>(static_cast<uint64_t>(min_syllables) + random_below(size));
    }
    bool first_without_onset = random_below(3) == 0;
    bool with_coda = random_below(3) == 0;
    std::string coda = with_coda ? entry_of(coda_table) : "";
    std::string word;
    for (int64_t j = 0; j < count; ++j) {
        std::string onset = j == 0 && first_without_onset ? "" : entry_of(onset_table);
        int64_t kind = pick_weighted(nucleus_kind_table.weights, nucleus_kind_table.count);
        std::string nucleus = entry_of(kind % 2 == 0 ? vowel_table_a : vowel_table_e);
        if (kind >= 2) nucleus += entry_of(kind == 2 ? tail_table_a : tail_table_e);
        word += onset + nucleus;
    }
    word += coda;
    std::string cleaned;
    char previous = 0;
    for (char letter : word) {
        if (letter == previous) continue;
        previous = letter;
        char written = letter;
        if ((letter == 's' || letter == 'k') && random_below(64) == 0) written = letter == 's' ? 'c' : 'q';
        cleaned += written;
    }
    return cleaned;
}

struct ArenaScope {
    ArenaScope() { EXPECT_TRUE(arena_open()); }
    ~ArenaScope() { arena_close(); }
};

std::vector<std::string> words(uint64_t seed, int64_t min_syllables, int64_t max_syllables, int n) {
    ArenaScope arena;
    seed_random(seed);
    std::vector<std::string> result;
    for (int i = 0; i < n; ++i) {
        Slice word = make_word(min_syllables, max_syllables);
        result.emplace_back(word.data ? std::string(word.data, static_cast<size_t>(word.length)) : "");
        arena_release_word();
    }
    return result;
}

// ---- Known words --------------------------------------------------------------------

TEST(WordTest, KnownWordsForKnownSeeds) {
    struct Case {
        uint64_t seed;
        int64_t min_syllables, max_syllables;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {1, 1, 5, {"wywaxu", "pavnex", "mefego", "dimekokferek", "mimfligimuf", "wywodegak", "psu",
                   "ivykojdu", "vyst", "efubawy"}},
        {0, 1, 1, {"war", "dle", "ir", "fle", "di"}},
        {12, 1, 5, {"zla", "belcwi", "o", "xjazlonywonot", "dwigedunhersik"}},
        {56, 1, 5, {"joboprapalas"}},  // assembled with "ll", which the clean-up collapses
    };
    for (const Case& c : cases) {
        EXPECT_EQ(words(c.seed, c.min_syllables, c.max_syllables, static_cast<int>(c.expected.size())), c.expected)
            << "seed " << c.seed;
    }
}

// ---- The fast path against the literal rules -------------------------------------------

TEST(WordTest, MatchesTheLiteralRulesForManySeedsAndRanges) {
    struct Range {
        int64_t min_syllables, max_syllables;
    };
    const Range ranges[] = {{1, 5}, {1, 1}, {0, 0}, {-4, -1}, {5, 2}, {0, 3}, {-2, 6}, {2, 17}, {1, 16},
                            {7, 7}, {12, 30}, {3, 3}, {INT64_MIN, INT64_MIN + 3}};
    ArenaScope arena;
    for (const Range& range : ranges) {
        for (uint64_t seed = 0; seed < 40; ++seed) {
            seed_random(seed * 7919 + 1);
            RandomState start = random_state;
            std::vector<std::string> fast;
            for (int i = 0; i < 50; ++i) {
                Slice word = make_word(range.min_syllables, range.max_syllables);
                fast.emplace_back(word.data ? std::string(word.data, static_cast<size_t>(word.length)) : "");
                arena_release_word();
            }
            RandomState fast_end = random_state;
            random_state = start;
            for (int i = 0; i < 50; ++i) {
                ASSERT_EQ(fast[i], reference_word(range.min_syllables, range.max_syllables))
                    << "seed " << seed * 7919 + 1 << " range " << range.min_syllables << ".."
                    << range.max_syllables << " word " << i;
            }
            // The same number of draws, in the same order.
            ASSERT_TRUE(same_state(fast_end, random_state));
        }
    }
}

// ---- Shapes -------------------------------------------------------------------------

TEST(WordTest, LettersAndLengthsStayWithinTheirBounds) {
    ArenaScope arena;
    for (int64_t n = 1; n <= 12; ++n) {
        seed_random(static_cast<uint64_t>(n) * 104729);
        for (int i = 0; i < 2000; ++i) {
            Slice word = make_word(n, n);
            ASSERT_GE(word.length, n);
            ASSERT_LE(word.length, 4 * n + 2);
            for (int64_t k = 0; k < word.length; ++k) ASSERT_TRUE(word.data[k] >= 'a' && word.data[k] <= 'z');
            arena_release_word();
        }
    }
}

TEST(WordTest, NoSyllablesGivesEmptyOrALoneCoda) {
    ArenaScope arena;
    seed_random(2024);
    int empty = 0, total = 3000;
    for (int i = 0; i < total; ++i) {
        Slice word = make_word(0, 0);
        if (word.length == 0) {
            ++empty;
        } else {
            ASSERT_LE(word.length, 2);
            // A lone coda is copied into the arena, never handed back as a table entry.
            ASSERT_GE(word.data, concat_arena.base);
            ASSERT_LT(word.data, concat_arena.base + concat_arena.capacity);
        }
        arena_release_word();
    }
    EXPECT_NEAR(static_cast<double>(empty) / total, 2.0 / 3.0, 0.05);
}

TEST(WordTest, CleanUpNeverWritesIntoTheTables) {
    // Thousands of words with their replacements must leave every table entry as it was.
    std::vector<std::string> before;
    for (int64_t i = 0; i < onset_table.count; ++i) {
        before.emplace_back(onset_table.entries[i].data, static_cast<size_t>(onset_table.entries[i].length));
    }
    words(77, 0, 3, 20000);
    for (int64_t i = 0; i < onset_table.count; ++i) {
        ASSERT_EQ(std::string(onset_table.entries[i].data, static_cast<size_t>(onset_table.entries[i].length)),
                  before[static_cast<size_t>(i)]);
    }
}

TEST(WordTest, ReplacementLettersAppearOnlyInPlaceOfSAndK) {
    // c and q never come from a table; over many words both must appear, at about
    // one s or k in 64.
    int64_t c = 0, q = 0, s = 0, k = 0;
    for (const std::string& word : words(99, 1, 5, 100000)) {
        for (char letter : word) {
            c += letter == 'c', q += letter == 'q', s += letter == 's', k += letter == 'k';
        }
    }
    EXPECT_GT(c, 0);
    EXPECT_GT(q, 0);
    EXPECT_NEAR(static_cast<double>(c) / (c + s), 1.0 / 64, 0.005);
    EXPECT_NEAR(static_cast<double>(q) / (q + k), 1.0 / 64, 0.006);
}

// ---- Batches ------------------------------------------------------------------------

TEST(WordTest, BatchesMakeTheSameWordsAndStopAtTheirBudget) {
    struct Case {
        int64_t min_syllables, max_syllables, capacity, budget;
    };
    const Case cases[] = {{1, 5, 300, arena_block_size}, {1, 5, 300, 200}, {0, 0, 50, arena_block_size},
                          {30, 30, 40, 1000}, {2, 40, 100, arena_block_size / 2}};
    for (const Case& c : cases) {
        std::vector<std::string> expected = words(31, c.min_syllables, c.max_syllables, 300);
        ArenaScope arena;
        seed_random(31);
        std::vector<std::string> batched;
        while (batched.size() < 300) {
            Slice made[300];
            int64_t count = make_words(c.min_syllables, c.max_syllables, made, c.capacity, c.budget);
            ASSERT_GT(count, 0);
            ASSERT_LE(count, c.capacity);
            // Short of capacity only when the budget was passed or blocks were borrowed.
            if (count < c.capacity) {
                ASSERT_TRUE(concat_arena.position > c.budget || concat_arena.extra_count > 0);
            }
            for (int64_t i = 0; i < count; ++i) {
                batched.emplace_back(made[i].data ? std::string(made[i].data, static_cast<size_t>(made[i].length)) : "");
            }
            arena_release_word();
        }
        for (size_t i = 0; i < 300; ++i) {
            ASSERT_EQ(batched[i], expected[i]) << "word " << i << " range " << c.min_syllables << ".." << c.max_syllables;
        }
    }
}

TEST(WordTest, ABatchLeavesOutTheWordThatExhaustsTheArena) {
    ArenaScope arena;
    seed_random(2);
    Slice made[4];
    EXPECT_EQ(make_words(20000, 20000, made, 4, arena_block_size), 0);
    EXPECT_TRUE(concat_arena.exhausted);
}

// ---- Limits -------------------------------------------------------------------------

TEST(WordTest, VeryLongWordsBorrowBlocksAndComeOutTheSame) {
    // 400 syllables need far more than the run's 64 KiB block.
    ArenaScope arena;
    seed_random(5);
    RandomState start = random_state;
    Slice word = make_word(400, 400);
    ASSERT_FALSE(concat_arena.exhausted);
    EXPECT_GT(concat_arena.extra_count, 0);
    std::string fast(word.data, static_cast<size_t>(word.length));
    arena_release_word();
    EXPECT_EQ(concat_arena.extra_count, 0);
    random_state = start;
    EXPECT_EQ(fast, reference_word(400, 400));
}

TEST(WordTest, TheFullRangeDrawsOneRawNumberForTheCount) {
    // The range size wraps to 0: the count is the minimum plus one raw draw. Its sign
    // decides between an empty word and one the arena cannot hold; neither may crash.
    ArenaScope arena;
    for (uint64_t seed = 0; seed < 6; ++seed) {
        seed_random(seed);
        RandomState copy = random_state;
        int64_t count = static_cast<int64_t>(static_cast<uint64_t>(INT64_MIN) + random_step(copy));
        Slice word = make_word(INT64_MIN, INT64_MAX);
        if (count <= 0) {
            EXPECT_FALSE(concat_arena.exhausted);
            EXPECT_LE(word.length, 2);
        } else {
            EXPECT_TRUE(concat_arena.exhausted);
            EXPECT_EQ(word.length, 0);
        }
        arena_close();
        ASSERT_TRUE(arena_open());
    }
}

// ---- Lines straight into a buffer --------------------------------------------------------

// What a caller of make_word_lines prints, with `room` bytes each call: the lines, each held
// word after them, and "<too long>" where a word could not be held. Bytes past the room
// must stay as they were.
std::string lines_of(int64_t min_syllables, int64_t max_syllables, int64_t count, int64_t room) {
    constexpr char canary = '#';
    constexpr int64_t canary_bytes = 16;
    std::vector<char> buffer(static_cast<size_t>(room + canary_bytes), canary);
    std::string text;
    for (int64_t left = count; left > 0;) {
        WordLines lines = make_word_lines(min_syllables, max_syllables, left, buffer.data(), room);
        for (int64_t k = room; k < room + canary_bytes; ++k) EXPECT_EQ(buffer[static_cast<size_t>(k)], canary);
        EXPECT_LE(lines.bytes, room);
        text.append(buffer.data(), static_cast<size_t>(lines.bytes));
        left -= lines.words;
        if (lines.too_long) {
            EXPECT_FALSE(lines.holding);
            text += "<too long>";
            break;
        }
        if (lines.holding) {
            text.append(lines.held.data ? lines.held.data : "", static_cast<size_t>(lines.held.length));
            text += '\n';
            arena_release_word();
        }
        // Every call makes progress.
        EXPECT_TRUE(lines.words > 0) << "room " << room;
        if (lines.words == 0) break;
    }
    return text;
}

// The same words by the literal reference, one per line.
std::string reference_lines(int64_t min_syllables, int64_t max_syllables, int64_t count) {
    std::string text;
    for (int64_t i = 0; i < count; ++i) text += reference_word(min_syllables, max_syllables) + "\n";
    return text;
}

TEST(WordTest, LinesAreTheLiteralWordsForEveryRangeAndRoom) {
    // Fast ranges, ranges with words too long for the fast path, ranges too wide for its
    // count draw, and rooms from a whole block down to one byte, where every word must be
    // made in the arena and held.
    struct Range {
        int64_t min_syllables, max_syllables;
    };
    const Range ranges[] = {{1, 5}, {1, 1}, {3, 3}, {1, 16}, {0, 0}, {-4, -1}, {5, 2}, {2, 17}, {1, 40},
                            {60, 70}, {65, 65}, {64, 64}, {1, 1024}, {1, 1025}, {-1000, 1000}};
    const int64_t rooms[] = {65536, 300, 24, 7, 1};
    ArenaScope arena;
    for (const Range& range : ranges) {
        for (int64_t room : rooms) {
            for (uint64_t seed = 0; seed < 4; ++seed) {
                int64_t count = range.max_syllables > 100 ? 20 : 300;
                seed_random(seed * 104729 + 7);
                RandomState start = random_state;
                std::string lines = lines_of(range.min_syllables, range.max_syllables, count, room);
                RandomState lines_end = random_state;
                random_state = start;
                ASSERT_EQ(lines, reference_lines(range.min_syllables, range.max_syllables, count))
                    << "range " << range.min_syllables << ".." << range.max_syllables << " room " << room;
                ASSERT_TRUE(same_state(lines_end, random_state));
                ASSERT_EQ(concat_arena.position, 0);  // every word's space given back
            }
        }
    }
}

// ---- Rejected and marked draws -----------------------------------------------------------

TEST(WordTest, RejectedAndMarkedDrawsAreTakenAsTheRulesSay) {
    // Planted at each position of the first words, one word by make_word and four as
    // lines: a value every bound that is not a power of two rejects, one that all such
    // bounds but 3 and 5 reject, the lowest marked value (which no bound here rejects),
    // the value just below it, and 0. Together they reach every table's rejection and
    // send the fast path's words back to the literal path.
    const uint64_t planted_draws[] = {~uint64_t{0}, ~uint64_t{0} - 1, random_mark_floor, random_mark_floor - 1, 0};
    struct Range {
        int64_t min_syllables, max_syllables;
    };
    const Range ranges[] = {{1, 1}, {2, 2}, {1, 5}, {0, 0}, {2, 17}, {1, 16}, {1, 40}};
    ArenaScope arena;
    for (const Range& range : ranges) {
        for (int k = 0; k < 40; ++k) {
            for (uint64_t draw : planted_draws) {
                for (uint64_t seed = 0; seed < 6; ++seed) {
                    RandomState start = state_drawing_at(k, draw, seed);
                    random_state = start;
                    Slice word = make_word(range.min_syllables, range.max_syllables);
                    std::string made = word.data ? std::string(word.data, static_cast<size_t>(word.length)) : "";
                    arena_release_word();
                    RandomState made_end = random_state;
                    random_state = start;
                    ASSERT_EQ(made, reference_word(range.min_syllables, range.max_syllables))
                        << "draw " << k << " seed " << seed << " range " << range.min_syllables;
                    ASSERT_TRUE(same_state(made_end, random_state)) << "draw " << k << " seed " << seed;

                    random_state = start;
                    std::string lines = lines_of(range.min_syllables, range.max_syllables, 4, 65536);
                    RandomState lines_end = random_state;
                    random_state = start;
                    ASSERT_EQ(lines, reference_lines(range.min_syllables, range.max_syllables, 4))
                        << "draw " << k << " seed " << seed << " range " << range.min_syllables;
                    ASSERT_TRUE(same_state(lines_end, random_state)) << "draw " << k << " seed " << seed;
                }
            }
        }
    }
}

// A mark met near the block's end is carried to the front by the refill that makes the
// next values, and must still stand before the same value there. Planted at draws 1,900 to
// 2,047 of the first block, and followed for enough words to pass them.
TEST(WordTest, AMarkCarriedAcrossARefillStillStops) {
    const uint64_t planted_draws[] = {~uint64_t{0}, random_mark_floor};
    struct Range {
        int64_t min_syllables, max_syllables;
    };
    const Range ranges[] = {{1, 5}, {1, 1}, {2, 17}, {3, 3}};
    constexpr int first_planted = 1900;
    constexpr int last_planted = random_block_capacity - 1;
    constexpr int words_past_the_block = 400;  // at least 4 draws a word: beyond 2 blocks
    ArenaScope arena;
    int runs = 0;
    for (const Range& range : ranges) {
        for (int k = first_planted; k <= last_planted; k += 7) {
            for (uint64_t draw : planted_draws) {
                uint64_t seed = static_cast<uint64_t>(k) * 31 + 5;
                RandomState start = state_drawing_at(k, draw, seed);
                random_state = start;
                std::string lines = lines_of(range.min_syllables, range.max_syllables, words_past_the_block, 65536);
                RandomState lines_end = random_state;
                random_state = start;
                ASSERT_EQ(lines, reference_lines(range.min_syllables, range.max_syllables, words_past_the_block))
                    << "draw " << k << " range " << range.min_syllables << ".." << range.max_syllables;
                ASSERT_TRUE(same_state(lines_end, random_state)) << "draw " << k;
                ++runs;
            }
        }
    }
    EXPECT_GT(runs, 100);
}

// ---- Words too long for memory ------------------------------------------------------------

TEST(WordTest, AWordTooLongForMemoryStopsCleanly) {
    // Seed 19 at 12,000 syllables: the arena refuses a nucleus's own join, which once
    // passed an empty piece on as if it were a table's. The word is refused as a whole,
    // in make_word and in lines, and the lines made before it stay.
    {
        ArenaScope arena;
        seed_random(19);
        Slice word = make_word(12000, 12000);
        EXPECT_TRUE(concat_arena.exhausted);
        EXPECT_EQ(word.length, 0);
        EXPECT_EQ(word.data, nullptr);
    }
    {
        ArenaScope arena;
        seed_random(19);
        std::vector<char> buffer(65536);
        WordLines lines = make_word_lines(12000, 12000, 3, buffer.data(), 65536);
        EXPECT_TRUE(lines.too_long);
        EXPECT_EQ(lines.words, 0);
        EXPECT_EQ(lines.bytes, 0);
    }
    {
        // The full range: seed 2's first count is negative, its second one huge.
        ArenaScope arena;
        seed_random(2);
        std::string lines = lines_of(INT64_MIN, INT64_MAX, 3, 65536);
        seed_random(2);
        std::string first = reference_word(INT64_MIN, INT64_MAX);
        EXPECT_EQ(lines, first + "\n<too long>");
    }
}

}  // namespace

namespace {

// Each word starts fresh: a refused word gives back the blocks it borrowed, and the words
// after it, long ones included, are made as if it had never been tried, by make_word
// and by lines alike.
TEST(WordTest, WordsAfterARefusedOneAreWhole) {
    ArenaScope arena;
    for (int attempt = 0; attempt < 2; ++attempt) {
        seed_random(19);
        EXPECT_EQ(make_word(12000, 12000).length, 0);
        EXPECT_TRUE(concat_arena.exhausted);
        EXPECT_EQ(concat_arena.extra_count, 0);
        EXPECT_EQ(concat_arena.extra_bytes, 0);

        // 2,000 syllables borrow blocks beyond the run's own.
        seed_random(14);
        RandomState start = random_state;
        Slice word = make_word(2000, 2000);
        ASSERT_FALSE(concat_arena.exhausted) << "attempt " << attempt;
        EXPECT_GT(concat_arena.extra_count, 0);
        std::string made(word.data, static_cast<size_t>(word.length));
        arena_release_word();
        random_state = start;
        EXPECT_EQ(made, reference_word(2000, 2000));

        seed_random(19);
        EXPECT_EQ(lines_of(12000, 12000, 1, 65536), "<too long>");
        random_state = start;
        std::string lines = lines_of(2000, 2000, 2, 65536);
        random_state = start;
        EXPECT_EQ(lines, reference_lines(2000, 2000, 2));
    }
}

// Words kept before a refused one stay as they were: the refusal gives back only what the
// refused word took.
TEST(WordTest, ARefusedWordLeavesTheKeptWordsAlone) {
    ArenaScope arena;
    seed_random(8);
    std::vector<Slice> kept;
    std::vector<std::string> copies;
    for (int i = 0; i < 3; ++i) {
        kept.push_back(make_word(600, 600));  // each borrows a block
        copies.emplace_back(kept.back().data, static_cast<size_t>(kept.back().length));
    }
    int blocks = concat_arena.extra_count;
    EXPECT_GE(blocks, 3);
    EXPECT_EQ(make_word(12000, 12000).length, 0);
    EXPECT_EQ(concat_arena.extra_count, blocks);
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(std::string(kept[i].data, static_cast<size_t>(kept[i].length)), copies[i]);
    }
    EXPECT_GT(make_word(900, 900).length, 0);
    EXPECT_FALSE(concat_arena.exhausted);
}

}  // namespace
