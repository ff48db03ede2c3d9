#include "runtime/media/pool.h"

#include <algorithm>
#include <cstring>

#include "runtime/text/print.h"

MediaPool image_pool = {};
MediaPool audio_pool = {};

namespace {

// Blocks start at multiples of 8 from the base, enough for any scalar the libraries store.
constexpr int64_t pool_alignment = 8;
// Largest usable size: raising a position up to the next multiple of the alignment must
// still fit in 64 bits. No real block comes near it.
constexpr int64_t max_pool_size = INT64_MAX - (pool_alignment - 1);

struct PoolMessages {
    Slice allocation_failed;
    Slice reallocation_failed;
};

constexpr PoolMessages image_messages = {slice_literal("image memory allocation failed\n"),
                                         slice_literal("image memory reallocation failed\n")};
constexpr PoolMessages audio_messages = {slice_literal("audio memory allocation failed\n"),
                                         slice_literal("audio memory reallocation failed\n")};

void set_buffer(MediaPool& pool, int64_t size, void* memory) {
    bool usable = memory != nullptr && size > 0;
    pool.memory = static_cast<unsigned char*>(memory);
    pool.size = usable ? std::min(size, max_pool_size) : 0;
    pool.pos = 0;
}

void* allocate(MediaPool& pool, const PoolMessages& messages, int64_t size) {
    // The raised position stays even when the request then fails.
    if (pool.pos % pool_alignment != 0) pool.pos += pool_alignment - pool.pos % pool_alignment;
    // Written as a subtraction so a huge request cannot overflow the test.
    if (size < 0 || size > pool.size - pool.pos) {
        print(messages.allocation_failed);
        return nullptr;
    }
    void* block = pool.memory + pool.pos;
    pool.pos += size;
    return block;
}

bool is_top_block(const MediaPool& pool, const void* block, int64_t old_size) {
    auto address = reinterpret_cast<uintptr_t>(block);
    auto base = reinterpret_cast<uintptr_t>(pool.memory);
    if (!pool.memory || address < base || old_size < 0) return false;
    // Compared as a distance below the position, so a foreign pointer cannot wrap a sum.
    uintptr_t offset = address - base;
    uintptr_t end = static_cast<uintptr_t>(pool.pos);
    return offset <= end && end - offset == static_cast<uintptr_t>(old_size);
}

void* reallocate(MediaPool& pool, const PoolMessages& messages, void* block, int64_t old_size,
                 int64_t new_size) {
    if (!block) return allocate(pool, messages, new_size);
    if (is_top_block(pool, block, old_size)) {
        int64_t start = pool.pos - old_size;
        // A growth may end exactly at the end of the pool, like a fresh allocation; a
        // refused one leaves the position alone so smaller requests still get served.
        // Shrinking gives the tail back, which only the top block can do safely.
        if (new_size < 0 || new_size > pool.size - start) {
            print(messages.reallocation_failed);
            return nullptr;
        }
        pool.pos = start + new_size;
        return block;
    }
    void* moved = allocate(pool, messages, new_size);
    if (!moved) return nullptr;
    int64_t kept = std::max<int64_t>(0, std::min(old_size, new_size));
    std::memcpy(moved, block, static_cast<size_t>(kept));
    return moved;
}

}  // namespace

void image_set_buffer(int64_t size, void* memory) { set_buffer(image_pool, size, memory); }
void audio_set_buffer(int64_t size, void* memory) { set_buffer(audio_pool, size, memory); }

void* image_memory_allocate(int64_t size) { return allocate(image_pool, image_messages, size); }
void* audio_memory_allocate(int64_t size) { return allocate(audio_pool, audio_messages, size); }

void* image_memory_reallocate(void* block, int64_t old_size, int64_t new_size) {
    return reallocate(image_pool, image_messages, block, old_size, new_size);
}

void* audio_memory_reallocate(void* block, int64_t old_size, int64_t new_size) {
    return reallocate(audio_pool, audio_messages, block, old_size, new_size);
}
