#include "synthesis/random.h"

#include <gtest/gtest.h>

#include <vector>

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

}  // namespace
