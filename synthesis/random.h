// The program's only source of randomness: one xoshiro256** generator seeded through
// SplitMix64, with unbiased bounded draws by rejection and choice by integer weights.
// State: random_state, the generator's four words. The draw order is observable.
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

// One step of the program's generator.
inline uint64_t next_random() { return random_step(random_state); }

// A number uniform in 0..n-1 by rejecting the top (2^64 mod n) draws. A bound of 0 stands
// for the full 64-bit range: one draw, returned as it is.
uint64_t random_below(uint64_t n);

// An index in 0..count-1, entry i with probability weights[i] / total, from one
// random_below of the total. A count of 0 or less, or a total of 0, returns 0 and draws
// nothing; the walk falls back to 0 only with negative weights.
int64_t pick_weighted(const int64_t* weights, int64_t count);
