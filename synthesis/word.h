// Word assembly: make_word draws one pronounceable word from the seven constant sound
// tables and joins its pieces in the concatenation arena. No state of its own: it
// advances random_state and the arena.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"
#include "synthesis/random.h"

// The sound tables, in the order pick_weighted walks them.
extern const WeightedTable onset_table;         // 88 entries, total weight 521
extern const WeightedTable nucleus_kind_table;  // 4 weights only, total 18: the kind is the index
extern const WeightedTable vowel_table_a;       // a o u, total 8
extern const WeightedTable vowel_table_e;       // e i y, total 7
extern const WeightedTable tail_table_a;        // m n l r j, total 5
extern const WeightedTable tail_table_e;        // m n l r, total 10
extern const WeightedTable coda_table;          // 20 entries, total 137

// One word of min_syllables..max_syllables syllables (exactly min_syllables when the
// range is empty or reversed; none when that is 0 or less). The word lies in the
// concatenation arena, or is empty; it stays valid until the arena gives its space
// back. When the arena cannot hold the word it stops early, sets the arena's
// `exhausted` flag and returns whatever it has.
Slice make_word(int64_t min_syllables, int64_t max_syllables);

// Makes words as that many make_word calls would, into `words`, and returns how many:
// up to `capacity`, fewer when the arena's position passes `arena_budget` or the arena
// borrows blocks (the word that did so is kept), and without the word that exhausted the
// arena (its `exhausted` flag then tells). The generator stays in registers across
// words, which one call a word cannot do.
int64_t make_words(int64_t min_syllables, int64_t max_syllables, Slice* words, int64_t capacity,
                   int64_t arena_budget);

