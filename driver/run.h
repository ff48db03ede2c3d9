// The run: options, seeding, the generation loop, the output destination and the report.
// State: letter_tallies, the counts of the letters a to z produced by the current run
// (kept only when the run reports them), the batch of words waiting in the arena, and
// the block buffer through which they leave with its sticky write failure.
#pragma once

#include <cstdint>

#include "driver/report.h"
#include "runtime/text/slice.h"

extern int64_t letter_tallies[letter_count];

inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;

// Performs one whole run for the arguments after the program name and returns the exit
// status. An argument that is exactly "--help" or "--version" replaces the run with that
// text alone (0, or 1 when standard output cannot be written). Otherwise the status is
// 1 when the output file cannot be opened or written, standard output cannot be written,
// or a word is too long for memory; else 0.
[[nodiscard]] int run(SliceArray arguments);
