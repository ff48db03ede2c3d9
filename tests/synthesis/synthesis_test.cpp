// Words as a library: the calls of synthesis/synthesis.h, used as a program built on the
// installed library uses them, give exactly the words the wordgen program prints.
#include "synthesis/synthesis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
