// Option scanning: the command line read into a RunOptions record, with the decimal
// reading of option values. No state.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

struct RunOptions {
    int64_t word_count;      // -w
    int64_t min_syllables;   // -s MIN [MAX]
    int64_t max_syllables;
    int64_t seed;            // -r, else the clock
    Slice output_path;       // -o; empty means standard output
    bool show_frequencies;   // -f
    bool pause_at_end;       // -p
};

inline constexpr int64_t default_word_count = 64;
inline constexpr int64_t default_min_syllables = 1;
inline constexpr int64_t default_max_syllables = 5;

// Option values are read, and the run's numbers shown, in base 10.
inline constexpr int64_t decimal_base = 10;

// Decimal with an optional leading '-', read up to the first non-digit; wraps on
// overflow. Anything unreadable gives 0.
[[nodiscard]] int64_t parse_int(Slice text);

// What the command line asks for instead of words: an argument that is exactly "--help"
// or "--version". Any other argument beginning with "--" stays an ignored option.
enum class InfoRequest : uint8_t { none, help, version };

// The first argument that is exactly "--help" or "--version" decides; none gives none.
[[nodiscard]] InfoRequest find_info_request(SliceArray arguments);

// Reads every argument in order: one whose first byte is '-' is an option named by its
// second byte, and its value is the next argument, which is examined in turn as well.
// Never fails: unknown letters and missing or malformed values are passed over.
[[nodiscard]] RunOptions scan_options(SliceArray arguments, int64_t default_seed);
