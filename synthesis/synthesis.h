// The words library: the few calls a program makes to draw, in its own process, exactly
// the words the wordgen program prints. State: the memory in which words are put together,
// process-global, taken by words_open and given back by words_close. Each WordGenerator
// belongs to its caller, so sequences drawn from several generators, in any interleaving,
// give each the words it would give alone.
//
// The same seed and syllable range give the words of `wordgen -r seed -s min max` on
// every machine. This is the one header of the words library that programs include; the
// other headers of synthesis/ are its machinery and change without notice.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

// Where a sequence of words stands. Copy it to draw the same words again.
struct WordGenerator {
    uint64_t state[4];
};

enum class WordStatus : int32_t {
    ok,
    too_long,  // the next word needs more memory than one word may take (beyond some ten
               // thousand syllables) or than the heap gives; the generator stays before it
    no_room,   // words_fill: not even the next line fits the room; `needed` is what it takes
    not_open,  // words_open has not succeeded, or words_close came since
};

// One word: its text is valid until the next words_next or words_fill call.
struct [[nodiscard]] Word {
    WordStatus status;
    Slice text;  // the empty Slice unless status is ok (a word of no syllables is empty too)
};

// What one words_fill call wrote.
struct [[nodiscard]] WordFill {
    WordStatus status;
    int64_t words;   // lines written
    int64_t bytes;   // their bytes, line feeds included
    int64_t needed;  // with no_room: the bytes the next line takes
};

// Takes the memory words are made in. False when the heap refuses it; true at once when
// it is open already.
[[nodiscard]] bool words_open();

// Gives that memory back; words_open may follow again.
void words_close();

// The generator that `wordgen -r seed` starts from. A negative seed on wordgen's command
// line is the same as its two's complement here.
[[nodiscard]] WordGenerator words_seed(uint64_t seed);

// The next word of min_syllables..max_syllables syllables (exactly min_syllables when the
// range is empty or reversed; none when that is 0 or less), and the generator moves past it.
Word words_next(WordGenerator& generator, int64_t min_syllables, int64_t max_syllables);

// Up to `count` next words, each followed by a line feed, into `out`, which has room for
// `room` bytes; the generator moves past the words written and no further. Stops early
// when the next line might not fit, so a call with the rest of the count and fresh room
// goes on where this one stopped. Bytes of `out` past those written, within `room`, may
// be overwritten. With a status other than ok, the lines written before it stand.
WordFill words_fill(WordGenerator& generator, int64_t min_syllables, int64_t max_syllables, int64_t count, char* out,
                    int64_t room);
