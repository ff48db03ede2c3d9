#include "synthesis/random.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "synthesis/planted_draws.h"

namespace {

// The next raw draw, without moving the generator.
uint64_t peek_random() {
    RandomState copy = random_state;
    return random_step(copy);
}

TEST(RandomTest, SeedZeroGivesKnownStateAndDraws) {
    seed_random(0);
    EXPECT_EQ(random_state.s[0], 0xE220A8397B1DCDAFull);
    EXPECT_EQ(random_state.s[1], 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(random_state.s[2], 0x06C45D188009454Full);
    EXPECT_EQ(random_state.s[3], 0xF88BB8A8724C81ECull);
    EXPECT_EQ(next_random(), 0x99EC5F36CB75F2B4ull);
    EXPECT_EQ(next_random(), 0xBF6E1F784956452Aull);
    EXPECT_EQ(next_random(), 0x1A5F849D4933E6E0ull);
}

TEST(RandomTest, SeedOneAndAllOnes) {
    seed_random(1);
    EXPECT_EQ(next_random(), 0xB3F2AF6D0FC710C5ull);
    // A seed of -1 is the seed whose 64 bits are all ones.
    seed_random(static_cast<uint64_t>(int64_t{-1}));
    RandomState minus_one = random_state;
    seed_random(~uint64_t{0});
    for (int i = 0; i < 4; ++i) EXPECT_EQ(random_state.s[i], minus_one.s[i]);
}

TEST(RandomTest, PowerOfTwoBoundsUseOneDrawsLowBits) {
    seed_random(42);
    for (int i = 0; i < 1000; ++i) {
        uint64_t raw = peek_random();
        ASSERT_EQ(random_below(64), raw & 63);
    }
}

TEST(RandomTest, BoundOfOneStillCostsADraw) {
    seed_random(5);
    RandomState before = random_state;
    EXPECT_EQ(random_below(1), 0u);
    random_step(before);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(random_state.s[i], before.s[i]);
}

TEST(RandomTest, BoundOfZeroIsTheFullRange) {
    seed_random(9);
    uint64_t raw = peek_random();
    EXPECT_EQ(random_below(0), raw);
}

TEST(RandomTest, ResultsAreResiduesAndStayBelowTheBound) {
    seed_random(7);
    const uint64_t bounds[] = {3, 5, 7, 18, 137, 521, 1000003, (uint64_t{1} << 63) + 1};
    for (uint64_t n : bounds) {
        for (int i = 0; i < 200; ++i) {
            uint64_t raw = peek_random();
            uint64_t r = random_below(n);
            ASSERT_LT(r, n) << "bound " << n;
            // Unless the draw was rejected, the result is the first draw's residue.
            if (raw - raw % n <= 0 - n) {
                ASSERT_EQ(r, raw % n) << "bound " << n;
            }
        }
    }
}

TEST(RandomTest, RejectsExactlyTheTopDraws) {
    // With a bound just above 2^63 nearly half the draws are rejected: a draw at or above
    // n is discarded and the result comes from the draws after it.
    seed_random(3);
    uint64_t n = (uint64_t{1} << 63) + 1;
    int rejected = 0;
    for (int i = 0; i < 200; ++i) {
        uint64_t raw = peek_random();
        RandomState start = random_state;
        uint64_t r = random_below(n);
        if (raw >= n) {
            ++rejected;
            RandomState after_first = start;
            random_step(after_first);
            RandomState actual_after = random_state;
            random_state = after_first;
            ASSERT_EQ(r, random_below(n));
            for (int w = 0; w < 4; ++w) ASSERT_EQ(random_state.s[w], actual_after.s[w]);
        } else {
            ASSERT_EQ(r, raw);
        }
    }
    EXPECT_GT(rejected, 50);
}

// The index the walk chooses for a residue r: the first entry whose running sum passes r.
int64_t walk_choice(const std::vector<int64_t>& weights, int64_t r) {
    int64_t sum = 0;
    for (size_t i = 0; i < weights.size(); ++i) {
        sum += weights[i];
        if (r < sum) return static_cast<int64_t>(i);
    }
    return 0;
}

TEST(RandomTest, PickWeightedFollowsTheRunningSums) {
    struct Case {
        std::vector<int64_t> weights;
        std::vector<int64_t> by_residue;  // expected index for r = 0, 1, ...
    };
    const Case cases[] = {
        {{3, 3, 2}, {0, 0, 0, 1, 1, 1, 2, 2}},
        {{2, 0, 1}, {0, 0, 2}},  // a zero weight is never chosen
        {{5}, {0, 0, 0, 0, 0}},
    };
    seed_random(11);
    for (const Case& c : cases) {
        uint64_t total = static_cast<uint64_t>(c.by_residue.size());
        std::vector<bool> seen(total, false);
        for (int i = 0; i < 2000; ++i) {
            uint64_t r = peek_random() % total;
            int64_t index = pick_weighted(c.weights.data(), static_cast<int64_t>(c.weights.size()));
            ASSERT_EQ(index, c.by_residue[r]) << "r = " << r;
            ASSERT_EQ(index, walk_choice(c.weights, static_cast<int64_t>(r)));
            seen[r] = true;
        }
        for (uint64_t r = 0; r < total; ++r) EXPECT_TRUE(seen[r]) << "residue " << r << " never drawn";
    }
}

TEST(RandomTest, PickWeightedWithoutChoicesDrawsNothing) {
    seed_random(13);
    RandomState before = random_state;
    const int64_t zeros[] = {0, 0, 0};
    const int64_t one[] = {4};
    EXPECT_EQ(pick_weighted(one, 0), 0);
    EXPECT_EQ(pick_weighted(one, -3), 0);
    EXPECT_EQ(pick_weighted(zeros, 3), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(random_state.s[i], before.s[i]);
    // A single entry still costs its draw.
    EXPECT_EQ(pick_weighted(one, 1), 0);
    EXPECT_NE(random_state.s[1], before.s[1]);
}

TEST(RandomTest, NegativeWeightsFallBackToTheFirstEntry) {
    seed_random(17);
    const int64_t weights[] = {-1, -1, 10};  // total 8; the walk can run off the end
    for (int i = 0; i < 200; ++i) {
        int64_t index = pick_weighted(weights, 3);
        ASSERT_TRUE(index == 0 || index == 2);
    }
}

// ---- Stepping back ------------------------------------------------------------------

TEST(RandomTest, StepBackUndoesSteps) {
    for (uint64_t seed : {uint64_t{0}, uint64_t{3}, ~uint64_t{0}}) {
        seed_random(seed);
        RandomState before = random_state;
        for (int i = 0; i < 1000; ++i) random_step(random_state);
        for (int i = 0; i < 1000; ++i) random_step_back(random_state);
        EXPECT_TRUE(same_state(before, random_state)) << "seed " << seed;
    }
    RandomState planted = state_drawing_at(4, 12345, 9);
    for (int i = 0; i < 4; ++i) random_step(planted);
    EXPECT_EQ(random_step(planted), 12345u);
    planted = state_drawing_two_at(2, ~uint64_t{0}, 77, 5);
    for (int i = 0; i < 2; ++i) random_step(planted);
    EXPECT_EQ(random_step(planted), ~uint64_t{0});
    EXPECT_EQ(random_step(planted), 77u);
}

// ---- Residues by a prepared divisor ------------------------------------------------------

TEST(RandomTest, PreparedDivisorsGiveExactResidues) {
    std::vector<uint64_t> bounds;
    for (uint64_t n = 2; n <= 1100; ++n) bounds.push_back(n);
    for (uint64_t n : {(uint64_t{1} << 32) - 1, uint64_t{1} << 32, (uint64_t{1} << 32) + 1, uint64_t{1000000007},
                       uint64_t{1} << 63, (uint64_t{1} << 63) + 1, ~uint64_t{0} - 1, ~uint64_t{0}}) {
        bounds.push_back(n);
    }
    seed_random(19);
    for (uint64_t n : bounds) {
        RandomDivisor d = random_divisor(n);
        uint64_t top_multiple = ~uint64_t{0} - ~uint64_t{0} % n;
        std::vector<uint64_t> draws = {0, 1, n - 1, n, n + 1, 2 * n - 1, top_multiple, top_multiple - 1,
                                       ~uint64_t{0}, ~uint64_t{0} - 1, uint64_t{1} << 63, (uint64_t{1} << 63) - 1};
        for (int i = 0; i < 64; ++i) draws.push_back(next_random());
        for (uint64_t x : draws) ASSERT_EQ(random_residue(x, d), x % n) << x << " mod " << n;
    }
}

// The product's high half from 32-bit halves, as WebAssembly builds take it, against the
// native 128-bit product: every carry between the halves, at both ends and at random.
TEST(RandomTest, HighHalfFromHalvesIsTheWholeProducts) {
    const uint64_t edges[] = {0, 1, 2, 0xFFFFFFFFull, 0x100000000ull, 0x100000001ull, 0xFFFFFFFF00000000ull,
                              0x8000000000000000ull, 0x7FFFFFFFFFFFFFFFull, ~uint64_t{0} - 1, ~uint64_t{0}};
    std::vector<uint64_t> values(std::begin(edges), std::end(edges));
    seed_random(23);
    for (int i = 0; i < 200; ++i) values.push_back(next_random());
    for (uint64_t a : values) {
        for (uint64_t b : values) {
            uint64_t whole = static_cast<uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
            ASSERT_EQ(multiply_high_by_halves(a, b), whole) << a << " * " << b;
            ASSERT_EQ(multiply_high(a, b), whole) << a << " * " << b;
        }
    }
}

// ---- The block made ahead ----------------------------------------------------------------

TEST(RandomTest, ABlockHandsOutTheGeneratorsValuesInOrder) {
    // Stretches of every size a reader asks for, across the refills that move the unread
    // values to the front, then the generator set to where the reading stopped.
    auto block = std::make_unique<RandomBlock>();
    for (int64_t stretch : {int64_t{1}, int64_t{7}, int64_t{390}, random_block_capacity - 3}) {
        seed_random(21);
        RandomState expected = random_state;
        random_block_start(*block);
        for (int round = 0; round < 40; ++round) {
            random_block_fill(*block, stretch);
            ASSERT_GE(block->end - block->read, stretch);
            ASSERT_LE(block->end, random_block_capacity);
            int64_t take = (round * 37) % stretch + 1;
            for (int64_t k = 0; k < take; ++k) ASSERT_EQ(block->values[block->read++], random_step(expected));
        }
        random_block_finish(*block);
        EXPECT_TRUE(same_state(random_state, expected)) << "stretch " << stretch;
    }
}

TEST(RandomTest, BlockDrawsAreRandomBelowsDraws) {
    auto block = std::make_unique<RandomBlock>();
    for (uint64_t n : {uint64_t{0}, uint64_t{1}, uint64_t{3}, uint64_t{64}, uint64_t{521}, (uint64_t{1} << 63) + 1}) {
        seed_random(23);
        random_block_start(*block);
        std::vector<uint64_t> from_block;
        for (int i = 0; i < 5000; ++i) from_block.push_back(random_block_below(*block, n));
        seed_random(23);
        for (int i = 0; i < 5000; ++i) ASSERT_EQ(from_block[static_cast<size_t>(i)], random_below(n)) << "bound " << n;
        RandomState expected = random_state;
        random_block_finish(*block);
        EXPECT_TRUE(same_state(random_state, expected)) << "bound " << n;
    }
}

TEST(RandomTest, MarksComeNoLaterThanTheValuesTheyMark) {
    // Planted values at, above and just below the floor, at every position of a group of
    // four and in the second block; then two marks side by side, the one found after the
    // reader passes the other.
    const uint64_t planted_draws[] = {~uint64_t{0}, random_mark_floor, random_mark_floor - 1, 0};
    auto block = std::make_unique<RandomBlock>();
    for (int k : {0, 1, 2, 3, 4, 5, 100, 2043, 2044, 2050, 3000}) {
        for (uint64_t draw : planted_draws) {
            random_state = state_drawing_at(k, draw, 31);
            random_block_start(*block);
            int64_t position = k;  // where the planted value lies in the block
            random_block_fill(*block, random_block_capacity - 3);
            while (position >= block->end) {
                position -= block->end;
                block->read = block->end;
                random_block_fill(*block, random_block_capacity - 3);
            }
            ASSERT_EQ(block->values[position], draw);
            if (draw >= random_mark_floor) {
                ASSERT_LE(block->marked, position) << "k " << k;
            } else {
                ASSERT_EQ(block->marked, random_no_mark) << "k " << k;
            }
        }
    }
    random_state = state_drawing_two_at(10, ~uint64_t{0}, random_mark_floor, 33);
    random_block_start(*block);
    random_block_fill(*block, random_block_capacity - 3);
    for (int i = 0; i <= 10; ++i) random_block_below(*block, 1);
    EXPECT_EQ(block->marked, 11);
    random_block_below(*block, 1);
    EXPECT_EQ(block->marked, random_no_mark);
}

}  // namespace
