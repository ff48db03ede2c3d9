#include "synthesis/synthesis.h"

#include <algorithm>

#include "synthesis/arena.h"
#include "synthesis/random.h"
#include "synthesis/word.h"

namespace {

bool words_are_open() { return concat_arena.run_block != nullptr; }

// The calls below run the machinery on the one process-global generator, with the
// caller's state in it for the length of the call.
void load(const WordGenerator& generator) { std::copy_n(generator.state, 4, random_state.s); }

void store(WordGenerator& generator, const RandomState& state) { std::copy_n(state.s, 4, generator.state); }

}  // namespace

bool words_open() {
    if (words_are_open()) return true;
    return arena_open();
}

void words_close() { arena_close(); }

WordGenerator words_seed(uint64_t seed) {
    seed_random(seed);
    WordGenerator generator;
    store(generator, random_state);
    return generator;
}

Word words_next(WordGenerator& generator, int64_t min_syllables, int64_t max_syllables) {
    if (!words_are_open()) return Word{WordStatus::not_open, Slice{nullptr, 0}};
    arena_release_word();
    load(generator);
    Slice text = make_word(min_syllables, max_syllables);
    if (concat_arena.exhausted) return Word{WordStatus::too_long, Slice{nullptr, 0}};
    store(generator, random_state);
    return Word{WordStatus::ok, text};
}

WordFill words_fill(WordGenerator& generator, int64_t min_syllables, int64_t max_syllables, int64_t count, char* out,
                    int64_t room) {
    WordFill fill = {WordStatus::ok, 0, 0, 0};
    if (!words_are_open()) {
        fill.status = WordStatus::not_open;
        return fill;
    }
    if (count <= 0 || room < 0) return fill;
    arena_release_word();
    load(generator);
    WordLines lines = make_word_lines(min_syllables, max_syllables, count, out, room);
    fill.words = lines.words;
    fill.bytes = lines.bytes;
    RandomState after = random_state;
    if (lines.holding) {
        // The held word did not fit: it stays unmade, for a call with more room.
        --fill.words;
        after = lines.before_last;
        if (fill.words == 0) {
            fill.status = WordStatus::no_room;
            fill.needed = lines.held.length + 1;
        }
        arena_release_word();
    } else if (lines.too_long) {
        fill.status = WordStatus::too_long;
        after = lines.before_last;
    }
    store(generator, after);
    return fill;
}
