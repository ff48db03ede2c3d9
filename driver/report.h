// The program's console texts: the usage text and the version line, and the run's
// header, letter-frequency report, closing pause and failure messages. No state.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

inline constexpr int letter_count = 26;

// The synopsis, the six options with their defaults, an example and a pointer to the
// manual page, for "--help".
void report_usage();

// "wordgen X.Y.Z" and a line feed, for "--version": the version the build was made as.
void report_version();

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
