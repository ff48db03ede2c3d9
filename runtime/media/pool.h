// The media memory pools: the image pool and the audio pool, each a caller-supplied block
// carved by a bump position (8-byte aligned offsets, no headers, nothing freed one by
// one). State: three process-global values per pool, below; setting a pool again empties it.
// In builds with AddressSanitizer only the blocks handed out are addressable, so a library
// that runs past its block into the rest of the pool is caught there.
#pragma once

#include <cstdint>

// The pools' state, read by programs under these names. All zero until a pool is set.
extern unsigned char* image_memory;  // the caller's block; the runtime never frees it
extern int64_t image_memory_size;    // usable bytes
extern int64_t image_memory_pos;     // offset of the first free byte
extern unsigned char* audio_memory;
extern int64_t audio_memory_size;
extern int64_t audio_memory_pos;

// Hand the image or audio pool a block of `size` bytes (owned by the caller) and empty
// it. A null block or a size of 0 or less leaves the pool unable to serve anything.
// Everything handed out before lies in reused memory from then on.
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
// consumed (and no longer addressable under AddressSanitizer); null, with the allocation
// message, when that fails. A null block allocates.
void* image_memory_allocate(int64_t size);
void* image_memory_reallocate(void* block, int64_t old_size, int64_t new_size);
void* audio_memory_allocate(int64_t size);
void* audio_memory_reallocate(void* block, int64_t old_size, int64_t new_size);
