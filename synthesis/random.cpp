#include "synthesis/random.h"

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
