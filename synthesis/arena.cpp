#include "synthesis/arena.h"

#include <algorithm>
#include <cstdlib>

ConcatArena concat_arena = {};

bool arena_open() {
    concat_arena = {};
    char* block = static_cast<char*>(std::malloc(arena_block_size));
    if (!block) return false;
    concat_arena.base = block;
    concat_arena.run_block = block;
    concat_arena.capacity = arena_block_size;
    return true;
}

void arena_release_extra() {
    ConcatArena& arena = concat_arena;
    for (int i = 0; i < arena.extra_count; ++i) std::free(arena.extra[i]);
    arena.extra_count = 0;
    arena.extra_bytes = 0;
    arena.word_start_bytes = 0;
    arena.base = arena.run_block;
    arena.capacity = arena.run_block ? arena_block_size : 0;
    arena.position = 0;
}

void arena_abandon_word(const ArenaMark& mark) {
    ConcatArena& arena = concat_arena;
    for (int i = mark.extra_count; i < arena.extra_count; ++i) std::free(arena.extra[i]);
    arena.extra_count = mark.extra_count;
    arena.extra_bytes = mark.extra_bytes;
    arena.base = mark.base;
    arena.capacity = mark.capacity;
    arena.position = mark.position;
}

void arena_close() {
    arena_release_extra();
    std::free(concat_arena.run_block);
    concat_arena = {};
}

bool arena_grow(int64_t size) {
    ConcatArena& arena = concat_arena;
    // Earlier blocks stay: the pieces being joined may lie in them.
    int64_t room = arena_word_limit - (arena.extra_bytes - arena.word_start_bytes);
    int64_t wanted = std::min(std::max(size, 2 * std::max(arena.capacity, arena_block_size)), room);
    char* block = nullptr;
    if (!arena.exhausted && size <= room && arena.extra_count < arena_max_extra_blocks) {
        block = static_cast<char*>(std::malloc(static_cast<size_t>(wanted)));
    }
    if (!block) {
        arena.exhausted = true;
        return false;
    }
    arena.extra[arena.extra_count++] = block;
    arena.extra_bytes += wanted;
    arena.base = block;
    arena.capacity = wanted;
    arena.position = 0;
    return true;
}

Slice arena_copy(Slice text) {
    char* out = arena_take(text.length);
    if (!out) return Slice{nullptr, 0};
    std::memcpy(out, text.data, static_cast<size_t>(text.length));
    return Slice{out, text.length};
}
