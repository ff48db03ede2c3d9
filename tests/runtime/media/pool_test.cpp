#include "runtime/media/pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define POOL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POOL_TEST_ASAN 1
#endif
#endif

#ifdef POOL_TEST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

#ifdef POOL_TEST_ASAN
constexpr bool asan_build = true;
bool addressable(const void* byte) { return __asan_address_is_poisoned(byte) == 0; }
#else
constexpr bool asan_build = false;
bool addressable(const void*) { return true; }
#endif

// Both pools follow the same rules; every case runs against each.
struct PoolFamily {
    const char* name;
    void (*set_buffer)(int64_t, void*);
    void* (*allocate)(int64_t);
    void* (*reallocate)(void*, int64_t, int64_t);
    unsigned char** memory;  // the pool's three globals, as programs read them
    int64_t* size;
    int64_t* pos;
    std::string allocation_message;
    std::string reallocation_message;
};

const PoolFamily families[] = {
    {"image", image_set_buffer, image_memory_allocate, image_memory_reallocate, &image_memory,
     &image_memory_size, &image_memory_pos,
     "image memory allocation failed\n", "image memory reallocation failed\n"},
    {"audio", audio_set_buffer, audio_memory_allocate, audio_memory_reallocate, &audio_memory,
     &audio_memory_size, &audio_memory_pos,
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
        return static_cast<const unsigned char*>(p) - *f.memory;
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
    EXPECT_EQ(*f.pos, 64);
    EXPECT_EQ(output_of([&] { p = f.allocate(1); }), f.allocation_message);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(*f.pos, 64);
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
            EXPECT_EQ(*f.pos, c.position_after);
        }
    }
}

TEST_P(PoolTest, RaisedPositionStaysWhenTheRequestFails) {
    f.set_buffer(12, block);
    ASSERT_NE(f.allocate(5), nullptr);
    EXPECT_EQ(output_of([&] { EXPECT_EQ(f.allocate(8), nullptr); }), f.allocation_message);
    EXPECT_EQ(*f.pos, 8);
    // Smaller requests are still served, up to the very end.
    EXPECT_EQ(f.allocate(4), block + 8);
    EXPECT_EQ(*f.pos, 12);
}

TEST_P(PoolTest, ZeroByteRequestConsumesNothing) {
    f.set_buffer(64, block);
    ASSERT_NE(f.allocate(16), nullptr);
    EXPECT_EQ(f.allocate(0), block + 16);
    EXPECT_EQ(*f.pos, 16);
}

TEST_P(PoolTest, TopBlockGrowsInPlace) {
    f.set_buffer(48, block);
    void* top = f.allocate(16);
    ASSERT_EQ(top, block);
    void* grown = nullptr;
    EXPECT_EQ(output_of([&] { grown = f.reallocate(top, 16, 32); }), "");
    EXPECT_EQ(grown, top);
    EXPECT_EQ(*f.pos, 32);
}

// The growth may end exactly at the end of the pool, like a fresh allocation.
TEST_P(PoolTest, TopBlockGrowthMayEndExactlyAtTheEnd) {
    f.set_buffer(48, block);
    void* top = f.allocate(16);
    void* grown = nullptr;
    EXPECT_EQ(output_of([&] { grown = f.reallocate(top, 16, 48); }), "");
    EXPECT_EQ(grown, top);
    EXPECT_EQ(*f.pos, 48);
    EXPECT_EQ(output_of([&] { EXPECT_EQ(f.allocate(1), nullptr); }), f.allocation_message);
}

// A refused growth leaves the position alone, so the pool keeps serving smaller requests.
TEST_P(PoolTest, RefusedGrowthKeepsThePoolUsable) {
    f.set_buffer(48, block);
    void* top = f.allocate(16);
    void* grown = top;
    EXPECT_EQ(output_of([&] { grown = f.reallocate(top, 16, 49); }), f.reallocation_message);
    EXPECT_EQ(grown, nullptr);
    EXPECT_EQ(*f.pos, 16);
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
    EXPECT_EQ(*f.pos, 36);
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
    EXPECT_EQ(*f.pos, 16);
}

TEST_P(PoolTest, ReallocatingNothingAllocates) {
    f.set_buffer(64, block);
    ASSERT_NE(f.allocate(3), nullptr);
    EXPECT_EQ(f.reallocate(nullptr, 0, 10), block + 8);
    EXPECT_EQ(*f.pos, 18);
}

TEST_P(PoolTest, SettingAgainEmptiesThePool) {
    f.set_buffer(64, block);
    ASSERT_NE(f.allocate(40), nullptr);
    f.set_buffer(64, block);
    EXPECT_EQ(*f.pos, 0);
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
        EXPECT_EQ(*f.pos, 8);
        void* top = f.allocate(8);
        EXPECT_EQ(output_of([&] { EXPECT_EQ(f.reallocate(top, 8, size), nullptr); }),
                  f.reallocation_message);
        EXPECT_EQ(*f.pos, 16);
    }
}

// A program may claim more than it has; raising a position to the next multiple of 8
// still must not overflow. The requests start at the base, so no pointer leaves the block.
TEST_P(PoolTest, HugePoolSizeKeepsPositionsInRange) {
    for (int64_t first : {INT64_MAX, INT64_MAX - 3, INT64_MAX - 7}) {
        SCOPED_TRACE(testing::Message() << "first request " << first);
        f.set_buffer(INT64_MAX, block);
        output_of([&] { f.allocate(first); });
        EXPECT_LE(*f.pos, INT64_MAX - 7);
        output_of([&] { f.allocate(0); });
        EXPECT_EQ(*f.pos % 8, 0);
    }
}

TEST_P(PoolTest, NegativeSizesAreRefused) {
    f.set_buffer(64, block);
    void* top = f.allocate(16);
    EXPECT_EQ(output_of([&] { EXPECT_EQ(f.allocate(-1), nullptr); }), f.allocation_message);
    EXPECT_EQ(output_of([&] { EXPECT_EQ(f.reallocate(top, 16, -1), nullptr); }),
              f.reallocation_message);
    EXPECT_EQ(*f.pos, 16);
}

TEST_P(PoolTest, NegativeSizeLeavesThePoolEmpty) {
    f.set_buffer(-64, block);
    EXPECT_EQ(output_of([&] { EXPECT_EQ(f.allocate(1), nullptr); }), f.allocation_message);
}

// Programs read the pool by its three names; they follow every call.
TEST_P(PoolTest, TheThreeNamesHoldThePoolsState) {
    f.set_buffer(64, block);
    EXPECT_EQ(*f.memory, block);
    EXPECT_EQ(*f.size, 64);
    EXPECT_EQ(*f.pos, 0);
    ASSERT_NE(f.allocate(5), nullptr);
    EXPECT_EQ(*f.pos, 5);
    f.set_buffer(64, nullptr);
    EXPECT_EQ(*f.memory, nullptr);
    EXPECT_EQ(*f.size, 0);
    EXPECT_EQ(*f.pos, 0);
}

// --- under AddressSanitizer: only the blocks handed out are addressable ---

// The first byte at or after `from` (up to `to`) whose addressability differs from
// `wanted`, or -1: one line per failure instead of one per byte.
int64_t first_differing(const unsigned char* from, const unsigned char* to, bool wanted) {
    for (const unsigned char* p = from; p < to; ++p) {
        if (addressable(p) != wanted) return p - from;
    }
    return -1;
}

class PoolMarkingTest : public PoolTest {
protected:
    void SetUp() override {
        if (!asan_build) GTEST_SKIP() << "only the AddressSanitizer build marks blocks";
    }
    void expect_addressable(const void* from, int64_t count, bool wanted) {
        auto* bytes = static_cast<const unsigned char*>(from);
        EXPECT_EQ(first_differing(bytes, bytes + count, wanted), -1)
            << "at offset " << offset_of(from) << " + that, of " << count << " bytes";
    }
};

TEST_P(PoolMarkingTest, FreeSpaceAndAlignmentGapsAreOutOfBounds) {
    f.set_buffer(64, block);
    expect_addressable(block, 64, false);
    auto* first = static_cast<unsigned char*>(f.allocate(13));
    auto* second = static_cast<unsigned char*>(f.allocate(8));
    ASSERT_EQ(second, block + 16);
    expect_addressable(first, 13, true);
    expect_addressable(first + 13, 3, false);  // the gap up to the next multiple of 8
    expect_addressable(second, 8, true);
    expect_addressable(second + 8, 40, false);
    // Outside the pool, the program's own bytes are untouched.
    expect_addressable(block + 64, block_bytes - 64, true);
}

TEST_P(PoolMarkingTest, GrowingAndShrinkingTheTopMovesTheBound) {
    f.set_buffer(64, block);
    auto* top = static_cast<unsigned char*>(f.allocate(16));
    ASSERT_EQ(f.reallocate(top, 16, 40), top);
    expect_addressable(top, 40, true);
    expect_addressable(top + 40, 24, false);
    ASSERT_EQ(f.reallocate(top, 40, 9), top);
    expect_addressable(top, 9, true);
    expect_addressable(top + 9, 55, false);
    // A refused growth changes nothing.
    output_of([&] { EXPECT_EQ(f.reallocate(top, 9, 65), nullptr); });
    expect_addressable(top, 9, true);
    expect_addressable(top + 9, 55, false);
}

TEST_P(PoolMarkingTest, BlockGivenUpByAMoveIsOutOfBounds) {
    f.set_buffer(64, block);
    auto* old_block = static_cast<unsigned char*>(f.allocate(8));
    auto* top = static_cast<unsigned char*>(f.allocate(8));
    auto* moved = static_cast<unsigned char*>(f.reallocate(old_block, 8, 24));
    ASSERT_EQ(moved, block + 16);
    expect_addressable(old_block, 8, false);
    expect_addressable(top, 8, true);
    expect_addressable(moved, 24, true);
    expect_addressable(moved + 24, 24, false);
}

TEST_P(PoolMarkingTest, SettingAgainHidesWhatWasHandedOut) {
    f.set_buffer(64, block);
    void* earlier = f.allocate(32);
    f.set_buffer(64, block);
    expect_addressable(earlier, 32, false);
    expect_addressable(f.allocate(8), 8, true);
    // A failed request raised the position past the end: the bytes after the pool are
    // still the program's.
    f.set_buffer(10, block);
    ASSERT_NE(f.allocate(9), nullptr);
    output_of([&] { EXPECT_EQ(f.allocate(1), nullptr); });
    ASSERT_GT(*f.pos, 10);
    f.set_buffer(10, block);
    // Bytes 8 and 9 share their 8-byte granule with the program's bytes after the pool,
    // which AddressSanitizer can only mark together: they stay addressable.
    expect_addressable(block, 8, false);
    expect_addressable(block + 10, block_bytes - 10, true);
}

// The program gets its old block back whole, and what lies past a pool is never marked.
TEST_P(PoolMarkingTest, AnotherBlockOrNoneGivesTheOldBlockBack) {
    f.set_buffer(64, block);
    ASSERT_NE(f.allocate(8), nullptr);
    f.set_buffer(64, block + 128);
    expect_addressable(block, 128, true);
    expect_addressable(block + 128, 64, false);
    f.set_buffer(0, nullptr);
    expect_addressable(block, block_bytes, true);
    // A size no address space holds cannot be marked; the block stays as it was.
    f.set_buffer(INT64_MAX, block);
    expect_addressable(block, block_bytes, true);
}

// Blocks follow each other without room between them, so what can be caught is a write
// past the top block into free space, or into the gap that alignment leaves.
TEST_P(PoolMarkingTest, OverrunsAreReported) {
    f.set_buffer(64, block);
    auto* first = static_cast<volatile unsigned char*>(f.allocate(13));
    auto* top = static_cast<volatile unsigned char*>(f.allocate(16));
    first[12] = 1;
    top[15] = 1;
    // Into the gap the report cannot name the kind: the granule after it is in bounds.
    EXPECT_DEATH(first[13] = 1, "AddressSanitizer: (use-after-poison|unknown-crash)");
    EXPECT_DEATH(top[16] = 1, "AddressSanitizer: use-after-poison");
}

INSTANTIATE_TEST_SUITE_P(BothPools, PoolMarkingTest, testing::ValuesIn(families),
                         [](const testing::TestParamInfo<PoolFamily>& info) {
                             return std::string(info.param.name);
                         });

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
