#include "runtime/media/pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

namespace {

// Both pools follow the same rules; every case runs against each.
struct PoolFamily {
    const char* name;
    void (*set_buffer)(int64_t, void*);
    void* (*allocate)(int64_t);
    void* (*reallocate)(void*, int64_t, int64_t);
    MediaPool* pool;
    std::string allocation_message;
    std::string reallocation_message;
};

const PoolFamily families[] = {
    {"image", image_set_buffer, image_memory_allocate, image_memory_reallocate, &image_pool,
     "image memory allocation failed\n", "image memory reallocation failed\n"},
    {"audio", audio_set_buffer, audio_memory_allocate, audio_memory_reallocate, &audio_pool,
     "audio memory allocation failed\n", "audio memory reallocation failed\n"},
};

// Test names and failures show the family, not the record's bytes.
void PrintTo(const PoolFamily& family, std::ostream* out) { *out << family.name; }

constexpr int64_t block_bytes = 256;

class PoolTest : public testing::TestWithParam<PoolFamily> {
protected:
    alignas(8) unsigned char block[block_bytes] = {};
    const PoolFamily& f = GetParam();

    void TearDown() override { f.set_buffer(0, nullptr); }

    // Runs `step` and returns what it wrote to standard output.
    template <class Step>
    std::string output_of(Step step) {
        testing::internal::CaptureStdout();
        step();
        return testing::internal::GetCapturedStdout();
    }

    int64_t offset_of(const void* p) const {
        return static_cast<const unsigned char*>(p) - f.pool->memory;
    }
};

TEST_P(PoolTest, UnsetPoolRefusesOneByteWithTheMessage) {
    f.set_buffer(0, nullptr);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(output_of([&] { p = f.allocate(1); }), f.allocation_message);
    EXPECT_EQ(p, nullptr);
}

TEST_P(PoolTest, NullBlockWithASizeServesNothing) {
    f.set_buffer(block_bytes, nullptr);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(output_of([&] { p = f.allocate(1); }), f.allocation_message);
    EXPECT_EQ(p, nullptr);
}

TEST_P(PoolTest, RequestMayEndExactlyAtTheEnd) {
    f.set_buffer(64, block);
    void* p = nullptr;
    EXPECT_EQ(output_of([&] { p = f.allocate(64); }), "");
    EXPECT_EQ(p, block);
    EXPECT_EQ(f.pool->pos, 64);
    EXPECT_EQ(output_of([&] { p = f.allocate(1); }), f.allocation_message);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(f.pool->pos, 64);
}

// Offsets of a second request after a first one, raised to a multiple of 8.
struct AlignmentCase {
    int64_t first;
    int64_t second;
    int64_t second_offset;
    int64_t position_after;
};

TEST_P(PoolTest, BlocksStartAtMultiplesOfEightFromTheBase) {
    const AlignmentCase cases[] = {
        {5, 3, 8, 11}, {8, 1, 8, 9}, {1, 0, 8, 8}, {0, 4, 0, 4}, {9, 16, 16, 32}, {16, 7, 16, 23},
    };
    // The program's base need not be aligned: offsets are, addresses follow the base.
    for (int64_t misalignment : {0, 1, 3}) {
        for (const AlignmentCase& c : cases) {
            SCOPED_TRACE(testing::Message() << "first " << c.first << ", second " << c.second
                                            << ", base + " << misalignment);
            f.set_buffer(64, block + misalignment);
            ASSERT_EQ(f.allocate(c.first), block + misalignment);
            void* second = f.allocate(c.second);
            EXPECT_EQ(offset_of(second), c.second_offset);
            EXPECT_EQ(f.pool->pos, c.position_after);
        }
    }
}

TEST_P(PoolTest, RaisedPositionStaysWhenTheRequestFails) {
    f.set_buffer(12, block);
    ASSERT_NE(f.allocate(5), nullptr);
    EXPECT_EQ(output_of([&] { EXPECT_EQ(f.allocate(8), nullptr); }), f.allocation_message);
    EXPECT_EQ(f.pool->pos, 8);
    // Smaller requests are still served, up to the very end.
    EXPECT_EQ(f.allocate(4), block + 8);
    EXPECT_EQ(f.pool->pos, 12);
}

TEST_P(PoolTest, ZeroByteRequestConsumesNothing) {
    f.set_buffer(64, block);
    ASSERT_NE(f.allocate(16), nullptr);
    EXPECT_EQ(f.allocate(0), block + 16);
    EXPECT_EQ(f.pool->pos, 16);
}

TEST_P(PoolTest, TopBlockGrowsInPlace) {
    f.set_buffer(48, block);
    void* top = f.allocate(16);
    ASSERT_EQ(top, block);
    void* grown = nullptr;
    EXPECT_EQ(output_of([&] { grown = f.reallocate(top, 16, 32); }), "");
    EXPECT_EQ(grown, top);
    EXPECT_EQ(f.pool->pos, 32);
}

// The growth may end exactly at the end of the pool, like a fresh allocation.
TEST_P(PoolTest, TopBlockGrowthMayEndExactlyAtTheEnd) {
    f.set_buffer(48, block);
    void* top = f.allocate(16);
    void* grown = nullptr;
    EXPECT_EQ(output_of([&] { grown = f.reallocate(top, 16, 48); }), "");
    EXPECT_EQ(grown, top);
    EXPECT_EQ(f.pool->pos, 48);
    EXPECT_EQ(output_of([&] { EXPECT_EQ(f.allocate(1), nullptr); }), f.allocation_message);
}

// A refused growth leaves the position alone, so the pool keeps serving smaller requests.
TEST_P(PoolTest, RefusedGrowthKeepsThePoolUsable) {
    f.set_buffer(48, block);
    void* top = f.allocate(16);
    void* grown = top;
    EXPECT_EQ(output_of([&] { grown = f.reallocate(top, 16, 49); }), f.reallocation_message);
    EXPECT_EQ(grown, nullptr);
    EXPECT_EQ(f.pool->pos, 16);
    void* next = nullptr;
    EXPECT_EQ(output_of([&] { next = f.allocate(32); }), "");
    EXPECT_EQ(next, block + 16);
}

TEST_P(PoolTest, GrowingAnotherBlockCopiesItAfterTheTop) {
    f.set_buffer(64, block);
    auto* old_block = static_cast<unsigned char*>(f.allocate(5));
    std::memcpy(old_block, "abcde", 5);
    ASSERT_NE(f.allocate(8), nullptr);  // the top now ends at 16
    void* moved = nullptr;
    EXPECT_EQ(output_of([&] { moved = f.reallocate(old_block, 5, 20); }), "");
    EXPECT_EQ(offset_of(moved), 16);
    EXPECT_EQ(std::memcmp(moved, "abcde", 5), 0);
    // The old block's space is not reclaimed.
    EXPECT_EQ(f.pool->pos, 36);
    EXPECT_EQ(f.allocate(1), block + 40);
}

// Only the allocation message: the block was not the top, so no growth was refused.
TEST_P(PoolTest, GrowingAnotherBlockThatDoesNotFitPrintsTheAllocationMessage) {
    f.set_buffer(32, block);
    void* old_block = f.allocate(8);
    ASSERT_NE(f.allocate(8), nullptr);
    void* moved = old_block;
    EXPECT_EQ(output_of([&] { moved = f.reallocate(old_block, 8, 24); }), f.allocation_message);
    EXPECT_EQ(moved, nullptr);
    EXPECT_EQ(f.pool->pos, 16);
}

TEST_P(PoolTest, ReallocatingNothingAllocates) {
    f.set_buffer(64, block);
    ASSERT_NE(f.allocate(3), nullptr);
    EXPECT_EQ(f.reallocate(nullptr, 0, 10), block + 8);
    EXPECT_EQ(f.pool->pos, 18);
}

TEST_P(PoolTest, SettingAgainEmptiesThePool) {
    f.set_buffer(64, block);
    ASSERT_NE(f.allocate(40), nullptr);
    f.set_buffer(64, block);
    EXPECT_EQ(f.pool->pos, 0);
    EXPECT_EQ(f.allocate(64), block);
}

// Requests so large that position + size would overflow are refused like any other.
TEST_P(PoolTest, HugeRequestsAreRefusedWithoutOverflow) {
    const int64_t huge[] = {INT64_MAX, INT64_MAX - 1, INT64_MAX - 7, INT64_MAX - 8};
    for (int64_t size : huge) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        f.set_buffer(64, block);
        ASSERT_NE(f.allocate(5), nullptr);
        EXPECT_EQ(output_of([&] { EXPECT_EQ(f.allocate(size), nullptr); }),
                  f.allocation_message);
        EXPECT_EQ(f.pool->pos, 8);
        void* top = f.allocate(8);
        EXPECT_EQ(output_of([&] { EXPECT_EQ(f.reallocate(top, 8, size), nullptr); }),
                  f.reallocation_message);
        EXPECT_EQ(f.pool->pos, 16);
    }
}

// A program may claim more than it has; raising a position to the next multiple of 8
// still must not overflow. The requests start at the base, so no pointer leaves the block.
TEST_P(PoolTest, HugePoolSizeKeepsPositionsInRange) {
    for (int64_t first : {INT64_MAX, INT64_MAX - 3, INT64_MAX - 7}) {
        SCOPED_TRACE(testing::Message() << "first request " << first);
        f.set_buffer(INT64_MAX, block);
        output_of([&] { f.allocate(first); });
        EXPECT_LE(f.pool->pos, INT64_MAX - 7);
        output_of([&] { f.allocate(0); });
        EXPECT_EQ(f.pool->pos % 8, 0);
    }
}

TEST_P(PoolTest, NegativeSizesAreRefused) {
    f.set_buffer(64, block);
    void* top = f.allocate(16);
    EXPECT_EQ(output_of([&] { EXPECT_EQ(f.allocate(-1), nullptr); }), f.allocation_message);
    EXPECT_EQ(output_of([&] { EXPECT_EQ(f.reallocate(top, 16, -1), nullptr); }),
              f.reallocation_message);
    EXPECT_EQ(f.pool->pos, 16);
}

TEST_P(PoolTest, NegativeSizeLeavesThePoolEmpty) {
    f.set_buffer(-64, block);
    EXPECT_EQ(output_of([&] { EXPECT_EQ(f.allocate(1), nullptr); }), f.allocation_message);
}

INSTANTIATE_TEST_SUITE_P(BothPools, PoolTest, testing::ValuesIn(families),
                         [](const testing::TestParamInfo<PoolFamily>& info) {
                             return std::string(info.param.name);
                         });

// The two pools are independent: setting or exhausting one leaves the other alone.
TEST(PoolIndependence, EachFamilyKeepsItsOwnPool) {
    alignas(8) unsigned char image_block[32];
    alignas(8) unsigned char audio_block[32];
    image_set_buffer(32, image_block);
    audio_set_buffer(0, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(audio_memory_allocate(1), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "audio memory allocation failed\n");
    audio_set_buffer(32, audio_block);
    EXPECT_EQ(image_memory_allocate(32), image_block);
    EXPECT_EQ(audio_memory_allocate(32), audio_block);
    image_set_buffer(0, nullptr);
    audio_set_buffer(0, nullptr);
}

}  // namespace
