// The media memory pools: the image pool and the audio pool, each a caller-supplied block
// carved by a bump position (8-byte aligned offsets, no headers, nothing freed one by
// one). State: one MediaPool record per family; setting a pool again empties it.
#pragma once

#include <cstdint>

struct MediaPool {
    unsigned char* memory;  // the caller's block; the runtime never frees it
    int64_t size;           // usable bytes
    int64_t pos;            // offset of the first free byte
};

extern MediaPool image_pool;
extern MediaPool audio_pool;

// Hand the image or audio pool a block of `size` bytes (owned by the caller) and empty
// it. A null block or a size of 0 or less leaves the pool unable to serve anything.
void image_set_buffer(int64_t size, void* memory);
void audio_set_buffer(int64_t size, void* memory);

// Allocation hooks for the media libraries (programs do not call them).
// Allocate returns a block at the next 8-byte offset from the base (the raised position
// stays even when the request fails), or null after printing "image memory allocation
// failed" (or "audio ...") and a line feed when it does not fit; a negative size never
// fits, and a request may end exactly at the end of the pool.
// Reallocate resizes the top block (the one ending at the position) in place, also up to
// the very end of the pool; when that does not fit it prints "image memory reallocation
// failed" (or "audio ...") and returns null, the position left where it was. Any other
// block moves to a fresh allocation with its bytes copied, its old space staying
// consumed; null, with the allocation message, when that fails. A null block allocates.
void* image_memory_allocate(int64_t size);
void* image_memory_reallocate(void* block, int64_t old_size, int64_t new_size);
void* audio_memory_allocate(int64_t size);
void* audio_memory_reallocate(void* block, int64_t old_size, int64_t new_size);
