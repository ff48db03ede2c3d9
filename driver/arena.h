// The concatenation arena: the run's bump block in which word assembly joins pieces.
// State: concat_arena. One 64 KiB block serves the run; a word that outgrows it borrows
// further blocks, and all of a word's space is given back once the word is written.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/text/slice.h"

// The run's block: 64 KiB holds about 1,300 default words' joins, and far more since
// each word's space is given back after it is written.
inline constexpr int64_t arena_block_size = 65536;
// Joins start at offsets that are multiples of this.
inline constexpr int64_t arena_alignment = 8;
// Most bytes of extra blocks one word may borrow: about 8,700 syllables' worth of joins.
inline constexpr int64_t arena_word_limit = int64_t{256} << 20;
// Extra blocks double from the block size, so the word limit needs at most this many.
inline constexpr int arena_max_extra_blocks = 16;

struct ConcatArena {
    char* base;         // the block joins go to now
    int64_t capacity;   // its size
    int64_t position;   // offset of its first free byte
    char* run_block;    // the run's own block, where every word starts
    char* extra[arena_max_extra_blocks];  // blocks borrowed by the current word
    int extra_count;
    int64_t extra_bytes;  // their total size
    bool exhausted;     // a join was refused: the word cannot be held
};

extern ConcatArena concat_arena;

// Takes the run's block. False when the heap refuses it.
[[nodiscard]] bool arena_open();

// Gives back everything the arena holds and zeroes it.
void arena_close();

// Gives back the space of the word just written: the next join starts the block again.
void arena_release_word();

// Moves joins to a fresh block of at least `size` bytes. False (and `exhausted` set)
// when the word would borrow more than arena_word_limit or the heap refuses.
[[nodiscard]] bool arena_grow(int64_t size);

// Copies `text` to the next aligned offset; as concat with an empty second piece would,
// if it copied. The empty Slice once the arena is exhausted.
Slice arena_copy(Slice text);

// Joins `first` and `second`: either one itself when the other is empty, else a copy of
// both at the next aligned offset. The empty Slice once the arena is exhausted.
inline Slice concat(Slice first, Slice second) {
    if (second.length == 0) return first;
    if (first.length == 0) return second;
    ConcatArena& arena = concat_arena;
    int64_t size = first.length + second.length;
    int64_t offset = (arena.position + arena_alignment - 1) & ~(arena_alignment - 1);
    if (size > arena.capacity - offset) {
        if (!arena_grow(size)) return Slice{nullptr, 0};
        offset = 0;
    }
    char* out = arena.base + offset;
    std::memcpy(out, first.data, static_cast<size_t>(first.length));
    std::memcpy(out + first.length, second.data, static_cast<size_t>(second.length));
    arena.position = offset + size;
    return Slice{out, size};
}
