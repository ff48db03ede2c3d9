// Console output: slices and numbers written to standard output, digits made by our own
// routines (lowercase letters above 9). Keeps no state; standard output's own error
// flag is the sticky error that print_flush reports.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

// Bases outside 2..36 are clamped to the nearest end.
inline constexpr int64_t print_min_base = 2;
inline constexpr int64_t print_max_base = 36;
// Digit slots of one conversion: a 64-bit value in base 2, or a float's digit budget.
inline constexpr int64_t print_digit_slots = 64;

// Writes the bytes of `text` in one block; returns the number written.
int64_t print(Slice text);

// Writes `value` in `base`. Only the last `width` digits are written when the number has
// more (none for a width of 0 or less); with `zero_padding`, a wider width is filled
// with leading zeros. A negative value is preceded by '-', which the width does not count.
void print_int(int64_t value, int64_t base, int64_t width, bool zero_padding);

// As print_int for an unsigned value, never with a sign.
void print_uint(uint64_t value, int64_t base, int64_t width, bool zero_padding);

// Writes `value` in `base` with at most `width` integer digits (leading ones beyond it
// are dropped) and `precision` fraction digits, rounded on the digit after the last.
// Without `fill` trailing zero fraction digits and a bare '.' are left out; with it the
// integer part is right-aligned in `width` columns and the fraction takes `precision`
// columns, padded with '0' (pad_selector 0) or ' ' (any other). Infinities print as
// "infinity" and "-infinity", NaNs as "nan". Width is clamped to 0..63 and precision to
// 0..63-width, so the digits always fit their 64 slots.
void print_float(double value, int64_t base, int64_t width, int64_t precision, bool fill,
                 uint8_t pad_selector);

// Flushes standard output; false when any write to it has failed so far.
[[nodiscard]] bool print_flush();
