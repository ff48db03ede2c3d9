// States built backwards from a chosen draw, for the synthesis tests. A rejection takes
// odds of about 2^-60 and a mark 2^-54, so no run of seeds meets one; the generator's
// steps are invertible, so a state can be made to draw any value at any position.
#pragma once

#include <cstdint>

#include "synthesis/random.h"

inline uint64_t inverse_odd(uint64_t a) {
    uint64_t x = a;  // correct to 3 bits; each step doubles that
    for (int i = 0; i < 5; ++i) x *= 2 - a * x;
    return x;
}

// The generator word s1 from which a step outputs `draw`: the output is rotl(s1 * 5, 7) * 9.
inline uint64_t s1_drawing(uint64_t draw) {
    uint64_t rotated = draw * inverse_odd(9);
    return ((rotated >> 7) | (rotated << 57)) * inverse_odd(5);
}

// A state whose draw number `k` (from 0) returns `draw`; the other bits come from `seed`.
inline RandomState state_drawing_at(int k, uint64_t draw, uint64_t seed) {
    seed_random(seed);
    RandomState state = random_state;
    state.s[1] = s1_drawing(draw);
    for (int i = 0; i < k; ++i) random_step_back(state);
    return state;
}

// The same with draw number k + 1 returning `next`: a step leaves s1 ^ s2 ^ s0 in s1.
inline RandomState state_drawing_two_at(int k, uint64_t draw, uint64_t next, uint64_t seed) {
    seed_random(seed);
    RandomState state = random_state;
    state.s[1] = s1_drawing(draw);
    state.s[2] = s1_drawing(next) ^ state.s[1] ^ state.s[0];
    for (int i = 0; i < k; ++i) random_step_back(state);
    return state;
}

inline bool same_state(const RandomState& a, const RandomState& b) {
    for (int i = 0; i < 4; ++i) {
        if (a.s[i] != b.s[i]) return false;
    }
    return true;
}
