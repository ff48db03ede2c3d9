#include "runtime/media/pool.h"

// AddressSanitizer's marking calls, where it runs; elsewhere they mark nothing, and not
// every toolchain has the header (mingw-w64 has none).
#if defined(__SANITIZE_ADDRESS__)
#define POOL_MARKS_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POOL_MARKS_MEMORY 1
#endif
#endif
#ifdef POOL_MARKS_MEMORY
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

#include <algorithm>
#include <cstring>

#include "runtime/text/print.h"

unsigned char* image_memory = nullptr;
int64_t image_memory_size = 0;
int64_t image_memory_pos = 0;
unsigned char* audio_memory = nullptr;
int64_t audio_memory_size = 0;
int64_t audio_memory_pos = 0;

namespace {

// Blocks start at multiples of 8 from the base, enough for any scalar the libraries store.
constexpr int64_t pool_alignment = 8;
// Largest usable size: raising a position up to the next multiple of the alignment must
// still fit in 64 bits. No real block comes near it.
constexpr int64_t max_pool_size = INT64_MAX - (pool_alignment - 1);
// The top of user address space on x86-64 (47 bits), below the top on every 64-bit layout
// AddressSanitizer supports. A block said to reach beyond it cannot be real memory, and
// marking its shadow would write where no shadow is mapped.
constexpr uintptr_t user_address_limit = uintptr_t{1} << 47;

struct PoolMessages {
    Slice allocation_failed;
    Slice reallocation_failed;
};

// One pool's three globals and its messages.
struct Pool {
    unsigned char*& memory;
    int64_t& size;
    int64_t& pos;
    PoolMessages messages;
};

const Pool image_pool = {image_memory, image_memory_size, image_memory_pos,
                         {slice_literal("image memory allocation failed\n"),
                          slice_literal("image memory reallocation failed\n")}};
const Pool audio_pool = {audio_memory, audio_memory_size, audio_memory_pos,
                         {slice_literal("audio memory allocation failed\n"),
                          slice_literal("audio memory reallocation failed\n")}};

// Whether the program's block can be marked at all (see user_address_limit).
bool is_markable(const Pool& pool) {
    auto base = reinterpret_cast<uintptr_t>(pool.memory);
    return pool.memory && base < user_address_limit &&
           static_cast<uintptr_t>(pool.size) <= user_address_limit - base;
}

// Under AddressSanitizer the free part of a pool, the gaps that alignment leaves and the
// blocks given up by a move are marked out of bounds, and each block handed out is in
// bounds for exactly its size: a library that overruns its block into the next is
// reported at the first byte. In other builds these do nothing.
void hide(const Pool& pool, const unsigned char* bytes, int64_t count) {
    if (is_markable(pool)) ASAN_POISON_MEMORY_REGION(bytes, static_cast<size_t>(count));
}

void expose(const Pool& pool, const unsigned char* bytes, int64_t count) {
    if (is_markable(pool)) ASAN_UNPOISON_MEMORY_REGION(bytes, static_cast<size_t>(count));
}

void set_buffer(const Pool& pool, int64_t size, void* memory) {
    auto* block = static_cast<unsigned char*>(memory);
    int64_t usable = block && size > 0 ? std::min(size, max_pool_size) : 0;
    if (block == pool.memory && usable == pool.size) {
        // The same block again: only what was handed out needs hiding, the rest still is.
        // (A failed request may have raised the position past the size.)
        hide(pool, block, std::min(pool.pos, pool.size));
    } else {
        // The block given before goes back to the program whole.
        expose(pool, pool.memory, pool.size);
        pool.memory = block;
        pool.size = usable;
        hide(pool, pool.memory, pool.size);
    }
    pool.pos = 0;
}

void* allocate(const Pool& pool, int64_t size) {
    // The raised position stays even when the request then fails.
    if (pool.pos % pool_alignment != 0) pool.pos += pool_alignment - pool.pos % pool_alignment;
    // Written as a subtraction so a huge request cannot overflow the test.
    if (size < 0 || size > pool.size - pool.pos) {
        print(pool.messages.allocation_failed);
        return nullptr;
    }
    unsigned char* block = pool.memory + pool.pos;
    pool.pos += size;
    expose(pool, block, size);
    return block;
}

// The offset of `block` from the pool's base when it lies in the handed-out part with
// `size` bytes, else -1. Compared as distances, so a foreign pointer cannot wrap a sum.
int64_t offset_in_pool(const Pool& pool, const void* block, int64_t size) {
    auto address = reinterpret_cast<uintptr_t>(block);
    auto base = reinterpret_cast<uintptr_t>(pool.memory);
    if (!pool.memory || address < base || size < 0) return -1;
    uintptr_t offset = address - base;
    uintptr_t end = static_cast<uintptr_t>(pool.pos);
    if (offset > end || end - offset < static_cast<uintptr_t>(size)) return -1;
    return static_cast<int64_t>(offset);
}

bool is_top_block(const Pool& pool, const void* block, int64_t old_size) {
    int64_t offset = offset_in_pool(pool, block, old_size);
    return offset >= 0 && pool.pos - offset == old_size;
}

void* resize_top_block(const Pool& pool, unsigned char* block, int64_t old_size,
                       int64_t new_size) {
    int64_t start = pool.pos - old_size;
    // A growth may end exactly at the end of the pool, like a fresh allocation; a
    // refused one leaves the position alone so smaller requests still get served.
    // Shrinking gives the tail back, which only the top block can do safely.
    if (new_size < 0 || new_size > pool.size - start) {
        print(pool.messages.reallocation_failed);
        return nullptr;
    }
    pool.pos = start + new_size;
    if (new_size < old_size) hide(pool, block + new_size, old_size - new_size);
    expose(pool, block, new_size);
    return block;
}

void* reallocate(const Pool& pool, void* block, int64_t old_size, int64_t new_size) {
    if (!block) return allocate(pool, new_size);
    auto* bytes = static_cast<unsigned char*>(block);
    if (is_top_block(pool, block, old_size)) return resize_top_block(pool, bytes, old_size, new_size);
    void* moved = allocate(pool, new_size);
    if (!moved) return nullptr;
    int64_t kept = std::max<int64_t>(0, std::min(old_size, new_size));
    std::memcpy(moved, block, static_cast<size_t>(kept));
    // A library that kept using the old place would read bytes nobody updates any more.
    if (offset_in_pool(pool, block, old_size) >= 0) hide(pool, bytes, old_size);
    return moved;
}

}  // namespace

void image_set_buffer(int64_t size, void* memory) { set_buffer(image_pool, size, memory); }
void audio_set_buffer(int64_t size, void* memory) { set_buffer(audio_pool, size, memory); }

void* image_memory_allocate(int64_t size) { return allocate(image_pool, size); }
void* audio_memory_allocate(int64_t size) { return allocate(audio_pool, size); }

void* image_memory_reallocate(void* block, int64_t old_size, int64_t new_size) {
    return reallocate(image_pool, block, old_size, new_size);
}

void* audio_memory_reallocate(void* block, int64_t old_size, int64_t new_size) {
    return reallocate(audio_pool, block, old_size, new_size);
}
