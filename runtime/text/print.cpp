#include "runtime/text/print.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

namespace {

constexpr uint64_t exponent_mask = 0x7FF0000000000000ull;
constexpr uint64_t positive_infinity_bits = 0x7FF0000000000000ull;
constexpr uint64_t negative_infinity_bits = 0xFFF0000000000000ull;
// Digits above 9 are lowercase letters: 10 is 'a' (10 + 87).
constexpr int letter_digit_offset = 87;
constexpr int64_t decimal_digits = 10;
// Padding goes out in blocks of this many bytes.
constexpr int64_t pad_block = 64;

int64_t clamp_base(int64_t base) { return std::clamp(base, print_min_base, print_max_base); }

char digit_char(int digit) {
    return static_cast<char>(digit < decimal_digits ? '0' + digit : digit + letter_digit_offset);
}

void write_bytes(const char* bytes, int64_t count) {
    if (count > 0) std::fwrite(bytes, 1, static_cast<size_t>(count), stdout);
}

void write_repeated(char byte, int64_t count) {
    char block[pad_block];
    std::fill_n(block, pad_block, byte);
    for (; count > 0; count -= pad_block) write_bytes(block, std::min(count, pad_block));
}

void print_magnitude(uint64_t value, int64_t base, int64_t width, bool zero_padding) {
    uint64_t b = static_cast<uint64_t>(clamp_base(base));
    char digits[print_digit_slots];
    int64_t n = 0;  // significant digits, filled from the end of the buffer
    do {
        digits[print_digit_slots - 1 - n] = digit_char(static_cast<int>(value % b));
        value /= b;
        ++n;
    } while (value != 0);
    if (width < n) {
        int64_t kept = std::max<int64_t>(width, 0);
        write_bytes(digits + print_digit_slots - kept, kept);
        return;
    }
    if (zero_padding) write_repeated('0', width - n);
    write_bytes(digits + print_digit_slots - n, n);
}

// Integer digits of `value` in base b, and b to the power (that count - 1).
int64_t count_integer_digits(double value, double b, double* power) {
    int64_t k = 1;
    *power = 1.0;
    while (value >= *power * b) {
        *power *= b;
        ++k;
    }
    return k;
}

// The digit of `value` at `power`, kept within the base even where rounding in the
// division would push it one past.
int next_digit(double value, double power, int b) {
    double quotient = std::trunc(value / power);
    if (!(quotient > 0)) return 0;
    return quotient >= b ? b - 1 : static_cast<int>(quotient);
}

// Adds one unit at slot `last` and carries leftward; false when the carry runs out.
bool carry_into(int* digits, int64_t last, int b) {
    for (int64_t i = last; i >= 0; --i) {
        if (digits[i] != b - 1) {
            ++digits[i];
            return true;
        }
        digits[i] = 0;
    }
    return false;
}

}  // namespace

int64_t print(Slice text) {
    if (text.length <= 0 || !text.data) return 0;
    return static_cast<int64_t>(std::fwrite(text.data, 1, static_cast<size_t>(text.length), stdout));
}

void print_int(int64_t value, int64_t base, int64_t width, bool zero_padding) {
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) {
        std::putchar('-');
        magnitude = 0 - magnitude;
    }
    print_magnitude(magnitude, base, width, zero_padding);
}

void print_uint(uint64_t value, int64_t base, int64_t width, bool zero_padding) {
    print_magnitude(value, base, width, zero_padding);
}

void print_float(double value, int64_t base, int64_t width, int64_t precision, bool fill,
                 uint8_t pad_selector) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    if (bits == positive_infinity_bits) return (void)print(slice_literal("infinity"));
    if (bits == negative_infinity_bits) return (void)print(slice_literal("-infinity"));
    if ((bits & exponent_mask) == exponent_mask) return (void)print(slice_literal("nan"));
    if (value < 0) {
        std::putchar('-');
        value = -value;
    }
    int b = static_cast<int>(clamp_base(base));
    int64_t w = std::clamp<int64_t>(width, 0, print_digit_slots - 1);
    int64_t p = std::clamp<int64_t>(precision, 0, print_digit_slots - 1 - w);
    int64_t budget = w + p + 1;

    double power;
    int64_t k = count_integer_digits(value, b, &power);
    int digits[print_digit_slots] = {};
    for (int64_t c = 0; c < budget;) {
        int digit = next_digit(value, power, b);
        digits[c] = digit;
        value -= digit * power;
        power /= b;
        // Integer digits beyond the width are dropped from the front: reuse the slot.
        if (k > w) --k;
        else ++c;
    }

    // Round on the one digit after the precision; a carry out of the number widens it
    // when the width leaves room, else the kept digits stay zero.
    int64_t round_slot = k + p;
    if (digits[round_slot] >= (b + 1) / 2) {
        digits[round_slot] = 0;
        if (!carry_into(digits, round_slot - 1, b) && k < w) {
            digits[0] = 1;
            ++k;
        }
    }

    int64_t shown = k + p;
    int64_t end = shown;
    while (end > k && digits[end - 1] == 0) --end;
    char pad = pad_selector == 0 ? '0' : ' ';
    if (fill && w > k) write_repeated(pad, w - k);
    char out[print_digit_slots + 1];
    int64_t n = 0;
    for (int64_t f = 0; f < shown; ++f) {
        if (f >= end && !fill) break;
        if (f == k) out[n++] = '.';
        out[n++] = f < end ? digit_char(digits[f]) : pad;
    }
    write_bytes(out, n);
}

bool print_flush() {
    bool flushed = std::fflush(stdout) == 0;
    return flushed && !std::ferror(stdout);
}
