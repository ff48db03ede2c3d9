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
// it. A null block or a negative size leaves the pool unable to serve anything.
void image_set_buffer(int64_t size, void* memory);
void audio_set_buffer(int64_t size, void* memory);

// Allocation hooks for the media libraries (programs do not call them). Allocate returns
// a block at the next 8-byte offset, or null after printing "image memory allocation
// failed" (or "audio ...") when it does not fit; a negative size never fits.
// Reallocate grows the top block in place (null after "... memory reallocation failed"
// when the growth does not fit, the pool left as it was) or moves any other block to a
// fresh allocation with its bytes copied (null when that fails). A null block allocates.
void* image_memory_allocate(int64_t size);
void* image_memory_reallocate(void* block, int64_t old_size, int64_t new_size);
void* audio_memory_allocate(int64_t size);
void* audio_memory_reallocate(void* block, int64_t old_size, int64_t new_size);
