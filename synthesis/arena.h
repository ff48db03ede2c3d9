// The concatenation arena: the run's bump block in which word assembly joins pieces.
// State: concat_arena. One 64 KiB block serves the run; a word that outgrows it borrows
// further blocks, and the space of the words made so far is given back when their user
// releases it (the run's line maker does so after each word it copies out). Each word
// starts fresh: one refused for lack of memory gives back what it took and leaves no
// trace on the words after it.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/text/slice.h"

// The run's block: 64 KiB holds about 1,300 default words' joins, and far more since
// the space is given back once the words are written.
inline constexpr int64_t arena_block_size = 65536;
// Joins start at offsets that are multiples of this.
inline constexpr int64_t arena_alignment = 8;
// Most bytes of extra blocks one word may borrow, counted from where the word began: about 10,800 syllables' worth of joins
// (each join copies the word so far, so the cost grows with the square of the length).
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
    int64_t word_start_bytes;  // extra_bytes when the current word began
    bool exhausted;     // a join of the current word was refused: the word cannot be held
};

// Where the arena stood when a word began.
struct ArenaMark {
    char* base;
    int64_t capacity;
    int64_t position;
    int extra_count;
    int64_t extra_bytes;
};

extern ConcatArena concat_arena;

// Takes the run's block. False when the heap refuses it.
[[nodiscard]] bool arena_open();

// Gives back everything the arena holds and zeroes it.
void arena_close();

// Gives back the blocks a long word borrowed and returns to the run's block.
void arena_release_extra();

// Gives back the space of every word made since the last release, with any blocks they
// borrowed: the next join starts the run's block again. Words made before it must no
// longer be read.
inline void arena_release_word() {
    if (concat_arena.extra_count != 0) [[unlikely]] arena_release_extra();
    concat_arena.position = 0;
}

// Starts a word: it may borrow up to arena_word_limit whatever the words kept before it
// took, and no refusal of theirs holds for it. Returns where the arena stood.
inline ArenaMark arena_begin_word() {
    ConcatArena& arena = concat_arena;
    arena.exhausted = false;
    arena.word_start_bytes = arena.extra_bytes;
    return ArenaMark{arena.base, arena.capacity, arena.position, arena.extra_count, arena.extra_bytes};
}

// Gives back what a refused word took since `mark`: the blocks it borrowed and its place
// in the current one. `exhausted` stays set, so the caller can still tell.
void arena_abandon_word(const ArenaMark& mark);

// Moves joins to a fresh block of at least `size` bytes. False (and `exhausted` set)
// when the word would borrow more than arena_word_limit or the heap refuses.
[[nodiscard]] bool arena_grow(int64_t size);

// Room for `size` bytes at the next aligned offset, in a fresh block when the current
// one cannot hold them, with the position moved past it. Null (and `exhausted` set) when
// no block can hold them.
[[gnu::always_inline]] inline char* arena_take(int64_t size) {
    ConcatArena& arena = concat_arena;
    int64_t offset = (arena.position + arena_alignment - 1) & ~(arena_alignment - 1);
    if (size > arena.capacity - offset) [[unlikely]] {
        if (!arena_grow(size)) return nullptr;
        offset = 0;
    }
    arena.position = offset + size;
    return arena.base + offset;
}

// Copies `text` to the next aligned offset; as concat with an empty second piece would,
// if it copied. The empty Slice once the arena is exhausted.
Slice arena_copy(Slice text);

// Copies `piece` (at least one byte) to `out`. Table pieces are one or two letters,
// which two byte moves cover without a call.
[[gnu::always_inline]] inline void arena_put(char* out, Slice piece) {
    if (piece.length <= 2) {
        out[0] = piece.data[0];
        out[piece.length - 1] = piece.data[piece.length - 1];
    } else {
        std::memcpy(out, piece.data, static_cast<size_t>(piece.length));
    }
}

// Joins `first` and `second`: either one itself when the other is empty, else a copy of
// both at the next aligned offset. The empty Slice once the arena is exhausted.
[[gnu::always_inline]] inline Slice concat(Slice first, Slice second) {
    if (second.length == 0) return first;
    if (first.length == 0) return second;
    int64_t size = first.length + second.length;
    char* out = arena_take(size);
    if (!out) [[unlikely]] return Slice{nullptr, 0};
    arena_put(out, first);
    arena_put(out + first.length, second);
    return Slice{out, size};
}
