// The program's only source of randomness: one xoshiro256** generator seeded through
// SplitMix64, with unbiased bounded draws by rejection and choice by integer weights, and
// a block of its values made ahead for hot loops. State: random_state, the generator's four
// words; a RandomBlock belongs to its caller. The draw order is observable.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

struct RandomState {
    uint64_t s[4];
};

extern RandomState random_state;

// A table of entries chosen by weight; an entry set may be left out when the index
// itself is the choice.
struct WeightedTable {
    const Slice* entries;
    const int64_t* weights;
    int64_t count;
};

// Sets the state to the first four SplitMix64 outputs for `seed`.
void seed_random(uint64_t seed);

// One xoshiro256** step of `state`. Hot loops step a local copy, which the compiler can
// keep in registers, and store it back when done.
[[gnu::always_inline]] inline uint64_t random_step(RandomState& state) {
    uint64_t* s = state.s;
    auto rotl = [](uint64_t v, int k) { return (v << k) | (v >> (64 - k)); };
    uint64_t result = rotl(s[1] * 5, 7) * 9;
    uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
}

// Undoes one random_step: every step of the generator is invertible.
void random_step_back(RandomState& state);

// One step of the program's generator.
inline uint64_t next_random() { return random_step(random_state); }

// random_below(n) rejects exactly the draws from 2^64 - (2^64 mod n) up; (0 - n) % n is
// 2^64 mod n in 64-bit arithmetic. This is the largest draw it accepts.
constexpr uint64_t random_largest_accepted(uint64_t n) { return 0 - (0 - n) % n - 1; }

// A number uniform in 0..n-1 by rejecting the top (2^64 mod n) draws. A bound of 0 stands
// for the full 64-bit range: one draw, returned as it is.
uint64_t random_below(uint64_t n);

// An index in 0..count-1, entry i with probability weights[i] / total, from one
// random_below of the total. A count of 0 or less, or a total of 0, returns 0 and draws
// nothing; the walk falls back to 0 only with negative weights.
int64_t pick_weighted(const int64_t* weights, int64_t count);

// The high half of the 128-bit product of a and b, from four 32-bit products. WebAssembly
// has no 64-bit multiply with a 128-bit result, and a compiler's 128-bit multiply is a
// library call there; these stay in line. The sum of the middle terms fits exactly:
// (2^32 - 1)^2 + 2 (2^32 - 1) is 2^64 - 1.
[[gnu::always_inline]] inline uint64_t multiply_high_by_halves(uint64_t a, uint64_t b) {
    constexpr int half = 32;
    constexpr uint64_t low_mask = 0xFFFFFFFFull;
    uint64_t a_low = a & low_mask, a_high = a >> half;
    uint64_t b_low = b & low_mask, b_high = b >> half;
    uint64_t low_low = a_low * b_low;
    uint64_t high_low = a_high * b_low;
    uint64_t middle = (low_low >> half) + (high_low & low_mask) + a_low * b_high;
    return a_high * b_high + (high_low >> half) + (middle >> half);
}

[[gnu::always_inline]] inline uint64_t multiply_high(uint64_t a, uint64_t b) {
#if defined(__wasm__)
    return multiply_high_by_halves(a, b);
#else
    return static_cast<uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
#endif
}

// A bound known only at run time, prepared once so that a residue costs a multiplication
// instead of a division (the round-up method: q = (t + ((x - t) >> 1)) >> shift, with t the
// high half of x times the magic number, is x / n for every 64-bit x).
struct RandomDivisor {
    uint64_t n;
    uint64_t magic;
    int shift;
};

// Prepares a bound n of at least 2.
constexpr RandomDivisor random_divisor(uint64_t n) {
    int bits = 0;  // bits of n - 1: 2^bits is the least power of two at or above n
    while (bits < 64 && (uint64_t{1} << bits) < n) ++bits;
    // floor(2^64 * (2^bits - n) / n) + 1, which fits 64 bits as 2^bits < 2n.
    unsigned __int128 above = static_cast<unsigned __int128>((bits == 64 ? 0 : uint64_t{1} << bits) - n) << 64;
    return RandomDivisor{n, static_cast<uint64_t>(above / n) + 1, bits - 1};
}

// x mod d.n.
[[gnu::always_inline]] inline uint64_t random_residue(uint64_t x, const RandomDivisor& d) {
    uint64_t t = multiply_high(x, d.magic);
    uint64_t q = (t + ((x - t) >> 1)) >> d.shift;
    return x - q * d.n;
}

// ---- The generator run ahead ----------------------------------------------------------
// A hot loop reads draws from a block made in one tight pass, so the generator's serial
// chain is off its critical path and a conditional draw is a step of the read position.

// Values a block holds: enough for a few hundred words, few enough for the first-level cache.
inline constexpr int64_t random_block_capacity = 2048;
// Bounds up to this reject only draws at or above random_mark_floor.
inline constexpr uint64_t random_mark_bound = 1024;
// 2^64 - random_mark_bound: a bound n rejects only draws from 2^64 - (2^64 mod n) up, and
// 2^64 mod n is below n. A block marks such values as it makes them, so a reader with small
// bounds skips the rejection test wherever no mark lies in its way.
inline constexpr uint64_t random_mark_floor = 0 - random_mark_bound;

struct RandomBlock {
    uint64_t values[random_block_capacity];
    int64_t read;        // the next value to hand out
    int64_t end;         // values made
    int64_t marked;      // every value from `read` to just before this one is below
                         // random_mark_floor (random_no_mark: every value made); it may
                         // lie before the first marked value, never after it
    RandomState ahead;   // the generator after values[end - 1]
    int64_t taken;       // values random_block_below has read, rejected ones included
};

inline constexpr int64_t random_no_mark = INT64_MAX;

// Starts a block at the program generator's state: nothing made yet.
void random_block_start(RandomBlock& block);

// Makes values until at least `wanted` (at most random_block_capacity - 3) lie unread,
// moving the unread ones to the front; `read`, `end` and `marked` change with them.
void random_block_fill(RandomBlock& block, int64_t wanted);

// random_below of the program generator, drawn from the block: the same results and the
// same number of values, rejections included.
uint64_t random_block_below(RandomBlock& block, uint64_t n);

// Sets random_state to the generator after the last value read, as if every read value had
// come from next_random and no other.
void random_block_finish(const RandomBlock& block);

// The generator `back` values before the last one read: what random_state was before the
// reads that took them (`taken` counts those of random_block_below).
RandomState random_block_state_back(const RandomBlock& block, int64_t back);
