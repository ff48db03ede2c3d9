// Words as lines straight into a buffer against the same words made one by one in the
// arena, for any seed, syllable range, room and word count, with one chosen draw planted
// anywhere in the first words (a rejected or marked value, or any other). The lines, the
// generator's state after them and the bytes past the room must all come out right; and
// the same lines through the library's public calls, in the same room.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "synthesis/arena.h"
#include "synthesis/synthesis.h"
#include "synthesis/word.h"
#include "tests/synthesis/planted_draws.h"

namespace {

// Syllable counts stay small enough for a quick run, yet reach past the fast path's
// longest words, and ranges grow wider than its count draw takes through their low end.
constexpr int64_t lowest_syllables = -1500;
constexpr int64_t highest_syllables = 400;
constexpr int64_t most_words = 16;
constexpr char canary = '#';
constexpr int64_t canary_bytes = 16;

// Reads the input front to back; past its end every byte is 0.
struct Input {
    const uint8_t* data;
    size_t size;
    size_t at;

    uint64_t take(int bytes) {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            uint64_t byte = at < size ? data[at] : 0;
            ++at;
            value |= byte << (8 * i);
        }
        return value;
    }
};

int64_t within(uint64_t raw, int64_t low, int64_t high) {
    return low + static_cast<int64_t>(raw % static_cast<uint64_t>(high - low + 1));
}

std::string lines_of(int64_t min_syllables, int64_t max_syllables, int64_t count, int64_t room) {
    std::vector<char> buffer(static_cast<size_t>(room + canary_bytes), canary);
    std::string text;
    for (int64_t left = count; left > 0;) {
        WordLines lines = make_word_lines(min_syllables, max_syllables, left, buffer.data(), room);
        for (int64_t k = room; k < room + canary_bytes; ++k) {
            if (buffer[static_cast<size_t>(k)] != canary) std::abort();
        }
        if (lines.bytes < 0 || lines.bytes > room || (lines.words <= 0 && !lines.too_long)) std::abort();
        text.append(buffer.data(), static_cast<size_t>(lines.bytes));
        left -= lines.words;
        if (lines.too_long) return text + "<too long>";
        if (lines.holding) {
            text.append(lines.held.data ? lines.held.data : "", static_cast<size_t>(lines.held.length));
            text += '\n';
            arena_release_word();
        }
    }
    return text;
}

std::string words_of(int64_t min_syllables, int64_t max_syllables, int64_t count) {
    std::string text;
    for (int64_t i = 0; i < count; ++i) {
        Slice word = make_word(min_syllables, max_syllables);
        if (concat_arena.exhausted) return text + "<too long>";
        text.append(word.data ? word.data : "", static_cast<size_t>(word.length));
        text += '\n';
        arena_release_word();
    }
    return text;
}

// The same lines through words_fill; a line longer than the room is made in a buffer of the
// size asked for. The generator is left before a refused word, whose text ends the lines.
std::string filled_of(const RandomState& start, int64_t min_syllables, int64_t max_syllables, int64_t count,
                      int64_t room, RandomState& after) {
    WordGenerator generator;
    std::memcpy(generator.state, start.s, sizeof generator.state);
    std::vector<char> buffer(static_cast<size_t>(room + canary_bytes), canary);
    std::string text;
    for (int64_t left = count; left > 0;) {
        WordFill fill = words_fill(generator, min_syllables, max_syllables, left, buffer.data(), room);
        for (int64_t k = room; k < room + canary_bytes; ++k) {
            if (buffer[static_cast<size_t>(k)] != canary) std::abort();
        }
        if (fill.bytes < 0 || fill.bytes > room) std::abort();
        text.append(buffer.data(), static_cast<size_t>(fill.bytes));
        left -= fill.words;
        if (fill.status == WordStatus::too_long) {
            text += "<too long>";
            break;
        }
        if (fill.status == WordStatus::no_room) {
            if (fill.words != 0 || fill.needed <= room) std::abort();
            std::vector<char> wide(static_cast<size_t>(fill.needed));
            WordFill one = words_fill(generator, min_syllables, max_syllables, 1, wide.data(), fill.needed);
            if (one.status != WordStatus::ok || one.words != 1 || one.bytes != fill.needed) std::abort();
            text.append(wide.data(), static_cast<size_t>(one.bytes));
            --left;
        } else if (fill.status != WordStatus::ok || fill.words <= 0) {
            std::abort();
        }
    }
    std::memcpy(after.s, generator.state, sizeof after.s);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input = {data, size, 0};
    uint64_t seed = input.take(8);
    int64_t min_syllables = within(input.take(2), lowest_syllables, highest_syllables);
    int64_t max_syllables = within(input.take(2), lowest_syllables, highest_syllables);
    int64_t count = within(input.take(1), 1, most_words);
    int64_t room = within(input.take(3), 1, 2 * arena_block_size);
    int planted_at = static_cast<int>(input.take(1) % 64);
    bool planted = input.take(1) % 2 == 1;
    uint64_t draw = input.take(8);

    seed_random(seed);
    RandomState start = planted ? state_drawing_at(planted_at, draw, seed) : random_state;
    if (!arena_open()) return 0;
    random_state = start;
    std::string lines = lines_of(min_syllables, max_syllables, count, room);
    RandomState after_lines = random_state;
    arena_close();

    if (!arena_open()) return 0;
    random_state = start;
    std::string words = words_of(min_syllables, max_syllables, count);
    RandomState after_words = random_state;
    arena_close();

    if (!words_open()) return 0;
    RandomState after_filled;
    std::string filled = filled_of(start, min_syllables, max_syllables, count, room, after_filled);
    words_close();

    if (lines != words || filled != words) std::abort();
    // After a word too long for memory the state is of no further use, in either.
    bool too_long = lines.size() >= 10 && lines.compare(lines.size() - 10, 10, "<too long>") == 0;
    if (!too_long && !same_state(after_lines, after_words)) std::abort();
    if (!too_long && !same_state(after_filled, after_words)) std::abort();
    return 0;
}
