// Words as a library: the calls a program makes to draw, in its own process, exactly the
// words the wordgen program prints. State: none of its own; the calls work on the
// generator's random_state and the concatenation arena, both process-global.
//
// The order is the program's: arena_open() once, seed_random(seed), then make_word(min,
// max) per word, arena_release_word() once a word has been used (its bytes are then
// overwritten by the next one), and arena_close() at the end. The same seed and range
// give the same words as `wordgen -r seed -s min max`, on every machine. A word too long
// for memory (beyond some ten thousand syllables) sets concat_arena.exhausted and is not
// a whole word; the words after it are not the program's either.
#pragma once

#include "synthesis/arena.h"
#include "synthesis/random.h"
#include "synthesis/word.h"
