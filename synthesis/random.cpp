#include "synthesis/random.h"

#include <algorithm>
#include <cstring>

RandomState random_state = {};

namespace {

constexpr uint64_t splitmix_increment = 0x9E3779B97F4A7C15ull;
constexpr uint64_t splitmix_multiplier_1 = 0xBF58476D1CE4E5B9ull;
constexpr uint64_t splitmix_multiplier_2 = 0x94D049BB133111EBull;

}  // namespace

void seed_random(uint64_t seed) {
    uint64_t x = seed;
    for (uint64_t& word : random_state.s) {
        x += splitmix_increment;
        uint64_t z = x;
        z = (z ^ (z >> 30)) * splitmix_multiplier_1;
        z = (z ^ (z >> 27)) * splitmix_multiplier_2;
        word = z ^ (z >> 31);
    }
}

uint64_t random_below(uint64_t n) {
    if (n == 0) return next_random();
    for (;;) {
        uint64_t x = next_random();
        uint64_t r = x % n;
        // Accept when the block of n values starting at x - r lies wholly below 2^64.
        if (x - r <= 0 - n) return r;
    }
}

int64_t pick_weighted(const int64_t* weights, int64_t count) {
    if (count <= 0) return 0;
    uint64_t total = 0;
    for (int64_t i = 0; i < count; ++i) total += static_cast<uint64_t>(weights[i]);
    if (total == 0) return 0;
    int64_t r = static_cast<int64_t>(random_below(total));
    int64_t c = weights[0];
    int64_t i = 0;
    while (c <= r) {
        if (++i == count) return 0;
        // Wrapping, like the total: weights are trusted to be small and non-negative.
        c = static_cast<int64_t>(static_cast<uint64_t>(c) + static_cast<uint64_t>(weights[i]));
    }
    return i;
}

namespace {

uint64_t rotate_right(uint64_t v, int k) { return (v >> k) | (v << (64 - k)); }

// Values made per turn of the loop below: enough to spread its overhead and the mark test.
constexpr int64_t make_stride = 4;

// Makes `groups` groups of make_stride values from values[from] on. Marks are rare (odds
// of 2^-54 a value), so a group shares one test, of its largest value, and a marked group
// is noted by its first index: early, which is safe, as `marked` only has to come no later
// than the first marked value.
void block_make(RandomBlock& block, int64_t from, int64_t groups) {
    RandomState rng = block.ahead;
    for (int64_t k = from; k < from + groups * make_stride; k += make_stride) {
        uint64_t largest = 0;
        for (int64_t n = 0; n < make_stride; ++n) {
            uint64_t x = random_step(rng);
            block.values[k + n] = x;
            largest = std::max(largest, x);
        }
        if (largest >= random_mark_floor) [[unlikely]] block.marked = std::min(block.marked, k);
    }
    block.ahead = rng;
}

// The first marked value at or after `read`, once `read` has passed the last one found.
void block_find_mark(RandomBlock& block) {
    block.marked = random_no_mark;
    for (int64_t k = block.read; k < block.end; ++k) {
        if (block.values[k] >= random_mark_floor) {
            block.marked = k;
            return;
        }
    }
}

}  // namespace

void random_step_back(RandomState& state) {
    uint64_t* a = state.s;
    // The step ends with s3 = rotl(s3 ^ s1, 45) and s0 = s0 ^ s3 ^ s1.
    uint64_t s3_xor_s1 = rotate_right(a[3], 45);
    uint64_t s0 = a[0] ^ s3_xor_s1;
    // a1 ^ a2 is s1 ^ (s1 << 17); shifting the result in again undoes it, since each term
    // cancels the one before it and s1 << 68 is 0.
    uint64_t y = a[1] ^ a[2];
    uint64_t s1 = y ^ (y << 17) ^ (y << 34) ^ (y << 51);
    uint64_t s2 = a[1] ^ s1 ^ s0;
    a[0] = s0;
    a[1] = s1;
    a[2] = s2;
    a[3] = s3_xor_s1 ^ s1;
}

void random_block_start(RandomBlock& block) {
    block.read = 0;
    block.end = 0;
    block.marked = random_no_mark;
    block.ahead = random_state;
    block.taken = 0;
}

void random_block_fill(RandomBlock& block, int64_t wanted) {
    if (block.end - block.read >= wanted) return;
    int64_t unread = block.end - block.read;
    std::memmove(block.values, block.values + block.read, static_cast<size_t>(unread) * sizeof(uint64_t));
    if (block.marked != random_no_mark) block.marked -= block.read;
    int64_t groups = (random_block_capacity - unread) / make_stride;
    block.read = 0;
    block.end = unread + groups * make_stride;
    block_make(block, unread, groups);
}

uint64_t random_block_below(RandomBlock& block, uint64_t n) {
    for (;;) {
        random_block_fill(block, 1);
        uint64_t x = block.values[block.read++];
        ++block.taken;
        if (block.read > block.marked) block_find_mark(block);
        if (n == 0) return x;
        uint64_t r = x % n;
        // The same acceptance as random_below's.
        if (x - r <= 0 - n) return r;
    }
}

void random_block_finish(const RandomBlock& block) { random_state = random_block_state_back(block, 0); }

RandomState random_block_state_back(const RandomBlock& block, int64_t back) {
    RandomState state = block.ahead;
    for (int64_t k = block.read - back; k < block.end; ++k) random_step_back(state);
    return state;
}
