// Word assembly: draws pronounceable words from the sound tables, either one at a time
// into the concatenation arena or as lines straight into a caller's buffer. It advances
// random_state and the arena, and keeps nothing between calls (the block of draws that
// make_word_lines makes ahead lives only within the call).
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"
#include "synthesis/random.h"
#include "synthesis/sound_tables.h"

// One word of min_syllables..max_syllables syllables (exactly min_syllables when the
// range is empty or reversed; none when that is 0 or less). The word lies in the
// concatenation arena, or is empty; it stays valid until the arena gives its space back.
// When the arena cannot hold the word, the arena's `exhausted` flag is set and the result
// is the empty Slice; the word's remaining draws are not made, so the generator's state
// is then of no further use.
Slice make_word(int64_t min_syllables, int64_t max_syllables);

// Makes words as that many make_word calls would, into `words`, and returns how many:
// up to `capacity`, fewer when the arena's position passes `arena_budget` or the arena
// borrows blocks (the word that did so is kept), and without the word that exhausted the
// arena (its `exhausted` flag then tells).
int64_t make_words(int64_t min_syllables, int64_t max_syllables, Slice* words, int64_t capacity,
                   int64_t arena_budget);

// What make_word_lines did.
struct WordLines {
    int64_t words;     // words made, `held` included
    int64_t bytes;     // bytes written to the buffer: each word there followed by a line feed
    bool holding;      // the last word made did not fit the room left and is `held`
    Slice held;        // that word, in the arena until the caller writes it (and its line
                       // feed) and gives the arena's space back with arena_release_word
    bool too_long;     // a word could not be held in memory: it is not counted, and nothing
                       // after it was made
    RandomState before_last;  // when holding or too_long: the generator before that word, so
                              // a caller can leave it unmade
};

// Makes up to `count` words as that many make_word calls would, each followed by a line
// feed, into `out`, which has room for `room` bytes. Stops early when the next word might
// not fit (a call with more room goes on), when a word made in the arena does not fit (it
// is then `held`), or when a word is too long for memory. A call with `count` above 0
// always makes a word or reports one too long. Bytes of `out` past the written ones,
// within `room`, may be overwritten. The arena's space is given back after every word
// copied out of it.
WordLines make_word_lines(int64_t min_syllables, int64_t max_syllables, int64_t count, char* out, int64_t room);
