// The run's console texts: the header, the letter-frequency report, the closing pause
// and the failure messages. No state.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

inline constexpr int letter_count = 26;

// "generating N words\nseed S\n----------\n", both numbers shown unsigned.
void report_header(int64_t word_count, int64_t seed);

// "frequencies\n-----------\n" and one line "x: count" per letter from a to z.
void report_frequencies(const int64_t (&tallies)[letter_count]);

// Prompts and waits for a line feed, the end of input or a read error.
void report_pause();

// `message` (such as "could not open file: "), the path and a line feed.
void report_path_failure(Slice message, Slice path);

// "word too long for memory" and a line feed: a word, or the arena's first block, could
// not be held.
void report_word_too_long();
