// Words as a library: the calls of synthesis/synthesis.h, used as a program built on the
// installed library uses them, give exactly the words the wordgen program prints; so do
// the machinery's own calls beneath them.
#include "synthesis/synthesis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "synthesis/arena.h"
#include "synthesis/random.h"
#include "synthesis/word.h"
#include "test_support.h"

namespace {

// Lines the program prints before its words: the count, the seed and a rule.
constexpr size_t header_lines = 3;

struct WordsCase {
    int64_t seed;
    int64_t count;
    int64_t min_syllables;
    int64_t max_syllables;
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::vector<std::string> program_words(const WordsCase& c) {
    ProcessResult result = run_wordgen({"-r", std::to_string(c.seed), "-w", std::to_string(c.count), "-s",
                                        std::to_string(c.min_syllables), std::to_string(c.max_syllables)});
    EXPECT_EQ(result.status, 0);
    std::vector<std::string> lines = lines_of(result.output);
    if (lines.size() < header_lines) return {};
    return std::vector<std::string>(lines.begin() + header_lines, lines.end());
}

// The calls in the documented order; `release` false leaves every word in the arena.
std::vector<std::string> library_words(const WordsCase& c, bool release = true) {
    std::vector<std::string> words;
    if (!arena_open()) return words;
    seed_random(static_cast<uint64_t>(c.seed));
    for (int64_t i = 0; i < c.count; ++i) {
        Slice word = make_word(c.min_syllables, c.max_syllables);
        words.emplace_back(word.data ? std::string(word.data, static_cast<size_t>(word.length)) : std::string());
        if (release) arena_release_word();
    }
    EXPECT_FALSE(concat_arena.exhausted);
    arena_close();
    return words;
}

const WordsCase words_cases[] = {
    {42, 5, 1, 5},         // the README's example
    {0, 3000, 1, 5},       // past the 64 KiB block many times
    {-1, 200, 1, 5},       // a negative seed
    {7, 100, 3, 7},
    {11, 50, 5, 2},        // a reversed range: exactly 5
    {12, 20, 0, 0},        // empty words
    {13, 20, 40, 60},      // long words
    {14, 5, 2000, 2000},   // a word that borrows blocks beyond the first
};

TEST(Synthesis, WordsAreThoseOfTheProgram) {
    for (const WordsCase& c : words_cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed) + ", " + std::to_string(c.count) + " words of " +
                     std::to_string(c.min_syllables) + " to " + std::to_string(c.max_syllables));
        std::vector<std::string> wanted = program_words(c);
        ASSERT_EQ(wanted.size(), static_cast<size_t>(c.count));
        EXPECT_EQ(library_words(c), wanted);
    }
}

// A program that keeps every word, never releasing one, still gets the same words.
TEST(Synthesis, WordsKeptWithoutReleaseStayTheSame) {
    WordsCase c = {5, 3000, 1, 5};
    EXPECT_EQ(library_words(c, false), program_words(c));
}

// Closing and opening again starts afresh: a second session with the same seed repeats
// the words, and one with another seed does not.
TEST(Synthesis, ASecondSessionStartsAfresh) {
    WordsCase c = {21, 400, 1, 5};
    std::vector<std::string> first = library_words(c);
    EXPECT_EQ(library_words(c), first);
    EXPECT_NE(library_words({22, 400, 1, 5}), first);
}

// A word too long for memory sets `exhausted`; the next session is whole again, its words
// those of the program.
TEST(Synthesis, ASessionAfterAnExhaustedOneIsWhole) {
    ASSERT_TRUE(arena_open());
    seed_random(3);
    (void)make_word(20000, 20000);
    EXPECT_TRUE(concat_arena.exhausted);
    arena_close();
    WordsCase c = {3, 50, 1, 5};
    EXPECT_EQ(library_words(c), program_words(c));
}

}  // namespace

// ---- The public calls ----------------------------------------------------------------

namespace {

struct WordsScope {
    WordsScope() { EXPECT_TRUE(words_open()); }
    ~WordsScope() { words_close(); }
};

std::string text_of(Slice text) { return text.data ? std::string(text.data, static_cast<size_t>(text.length)) : ""; }

std::vector<std::string> next_words(WordGenerator& generator, const WordsCase& c) {
    std::vector<std::string> words;
    for (int64_t i = 0; i < c.count; ++i) {
        Word word = words_next(generator, c.min_syllables, c.max_syllables);
        EXPECT_EQ(word.status, WordStatus::ok);
        if (word.status != WordStatus::ok) break;
        words.push_back(text_of(word.text));
    }
    return words;
}

// Every word by words_fill, `room` bytes a call; a word longer than the room is made in a
// buffer of the size asked for.
std::vector<std::string> filled_words(WordGenerator& generator, const WordsCase& c, int64_t room) {
    std::string text;
    std::vector<char> buffer(static_cast<size_t>(room));
    for (int64_t left = c.count; left > 0;) {
        WordFill fill = words_fill(generator, c.min_syllables, c.max_syllables, left, buffer.data(), room);
        if (fill.status == WordStatus::no_room) {
            EXPECT_EQ(fill.words, 0);
            EXPECT_GT(fill.needed, room);
            std::vector<char> wide(static_cast<size_t>(fill.needed));
            fill = words_fill(generator, c.min_syllables, c.max_syllables, 1, wide.data(), fill.needed);
            EXPECT_EQ(fill.status, WordStatus::ok);
            EXPECT_EQ(fill.words, 1);
            text.append(wide.data(), static_cast<size_t>(fill.bytes));
        } else {
            EXPECT_EQ(fill.status, WordStatus::ok);
            EXPECT_GT(fill.words, 0);
            EXPECT_LE(fill.bytes, room);
            text.append(buffer.data(), static_cast<size_t>(fill.bytes));
        }
        if (fill.words == 0) break;
        left -= fill.words;
    }
    return lines_of(text);
}

TEST(SynthesisCalls, NextAndFillGiveTheProgramsWords) {
    const int64_t rooms[] = {65536, 100, 1};
    for (const WordsCase& c : words_cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed) + ", " + std::to_string(c.count) + " words of " +
                     std::to_string(c.min_syllables) + " to " + std::to_string(c.max_syllables));
        std::vector<std::string> wanted = program_words(c);
        WordsScope scope;
        WordGenerator generator = words_seed(static_cast<uint64_t>(c.seed));
        EXPECT_EQ(next_words(generator, c), wanted);
        WordGenerator after_next = generator;
        for (int64_t room : rooms) {
            generator = words_seed(static_cast<uint64_t>(c.seed));
            EXPECT_EQ(filled_words(generator, c, room), wanted) << "room " << room;
            // Both leave the generator after the last word and no further.
            EXPECT_TRUE(std::equal(generator.state, generator.state + 4, after_next.state)) << "room " << room;
        }
    }
}

// Two sequences drawn by turns give each the words it gives alone.
TEST(SynthesisCalls, InterleavedGeneratorsKeepTheirOwnWords) {
    WordsCase a = {100, 300, 1, 5};
    WordsCase b = {101, 300, 2, 9};
    std::vector<std::string> alone_a = program_words(a);
    std::vector<std::string> alone_b = program_words(b);
    WordsScope scope;
    WordGenerator ga = words_seed(100);
    WordGenerator gb = words_seed(101);
    std::vector<std::string> got_a, got_b;
    char buffer[64];
    for (int turn = 0; got_a.size() < 300 || got_b.size() < 300; ++turn) {
        if (got_a.size() < 300) {
            Word word = words_next(ga, 1, 5);
            ASSERT_EQ(word.status, WordStatus::ok);
            got_a.push_back(text_of(word.text));
        }
        if (got_b.size() < 300) {
            // A few lines a call, in a room that often holds none of the next one.
            int64_t want = std::min<int64_t>(1 + turn % 3, 300 - static_cast<int64_t>(got_b.size()));
            WordFill fill = words_fill(gb, 2, 9, want, buffer, sizeof buffer);
            if (fill.status == WordStatus::no_room) {
                std::vector<char> wide(static_cast<size_t>(fill.needed));
                fill = words_fill(gb, 2, 9, 1, wide.data(), fill.needed);
                ASSERT_EQ(fill.status, WordStatus::ok);
                for (const std::string& w : lines_of(std::string(wide.data(), static_cast<size_t>(fill.bytes)))) got_b.push_back(w);
                continue;
            }
            ASSERT_EQ(fill.status, WordStatus::ok);
            for (const std::string& w : lines_of(std::string(buffer, static_cast<size_t>(fill.bytes)))) got_b.push_back(w);
        }
    }
    EXPECT_EQ(got_a, alone_a);
    EXPECT_EQ(got_b, alone_b);
}

// A word too long for memory is refused with the generator left before it, and every
// call after it works: the words of another generator, long ones included, are whole.
TEST(SynthesisCalls, ARefusedWordLeavesTheNextCallsWhole) {
    WordsScope scope;
    WordGenerator generator = words_seed(19);
    WordGenerator before = generator;
    Word refused = words_next(generator, 12000, 12000);
    EXPECT_EQ(refused.status, WordStatus::too_long);
    EXPECT_EQ(refused.text.length, 0);
    EXPECT_TRUE(std::equal(generator.state, generator.state + 4, before.state));
    char buffer[256];
    WordFill fill = words_fill(generator, 12000, 12000, 2, buffer, sizeof buffer);
    EXPECT_EQ(fill.status, WordStatus::too_long);
    EXPECT_EQ(fill.words, 0);
    EXPECT_TRUE(std::equal(generator.state, generator.state + 4, before.state));

    WordsCase c = {14, 5, 2000, 2000};
    std::vector<std::string> wanted = program_words(c);
    WordGenerator next = words_seed(14);
    EXPECT_EQ(next_words(next, c), wanted);
    next = words_seed(14);
    EXPECT_EQ(filled_words(next, c, 65536), wanted);
}

// Lines made before a refused word stand, and the generator stays just past them.
TEST(SynthesisCalls, AFillKeepsTheLinesBeforeARefusedWord) {
    // The full range: seed 2's first count is negative (a short word), its second huge.
    WordsScope scope;
    WordGenerator generator = words_seed(2);
    char buffer[256];
    WordFill fill = words_fill(generator, INT64_MIN, INT64_MAX, 3, buffer, sizeof buffer);
    EXPECT_EQ(fill.status, WordStatus::too_long);
    EXPECT_EQ(fill.words, 1);
    WordGenerator one = words_seed(2);
    Word first = words_next(one, INT64_MIN, INT64_MAX);
    ASSERT_EQ(first.status, WordStatus::ok);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(fill.bytes)), text_of(first.text) + "\n");
    EXPECT_TRUE(std::equal(generator.state, generator.state + 4, one.state));
}

TEST(SynthesisCalls, CallsBeforeOpeningOrAfterClosingAreRefused) {
    WordGenerator generator = words_seed(1);
    WordGenerator before = generator;
    char buffer[64];
    EXPECT_EQ(words_next(generator, 1, 5).status, WordStatus::not_open);
    EXPECT_EQ(words_fill(generator, 1, 5, 3, buffer, sizeof buffer).status, WordStatus::not_open);
    ASSERT_TRUE(words_open());
    EXPECT_EQ(words_next(generator, 1, 5).status, WordStatus::ok);
    words_close();
    EXPECT_EQ(words_next(generator, 1, 5).status, WordStatus::not_open);
    // Opening twice holds one memory, which one close gives back.
    ASSERT_TRUE(words_open());
    ASSERT_TRUE(words_open());
    words_close();
    EXPECT_EQ(words_next(generator, 1, 5).status, WordStatus::not_open);
    // Nothing moved the generator but the one word made while open.
    Word one;
    ASSERT_TRUE(words_open());
    one = words_next(before, 1, 5);
    EXPECT_EQ(one.status, WordStatus::ok);
    EXPECT_TRUE(std::equal(generator.state, generator.state + 4, before.state));
    words_close();
}

// A seed is taken as wordgen takes it: -1 on the command line is all 64 bits set.
TEST(SynthesisCalls, NegativeSeedsAreTheirTwosComplement) {
    WordsCase c = {-7, 20, 1, 5};
    WordsScope scope;
    WordGenerator generator = words_seed(static_cast<uint64_t>(int64_t{-7}));
    EXPECT_EQ(next_words(generator, c), program_words(c));
}

}  // namespace
