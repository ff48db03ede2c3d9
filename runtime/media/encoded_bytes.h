// A read cursor over a caller's encoded media bytes, for the decoders that pull their
// input through callbacks. State: only the EncodedBytes records the callers keep; the
// bytes are read in place, never copied or changed.
#pragma once

#include <cstdint>

struct EncodedBytes {
    const unsigned char* data;
    int64_t size;
    int64_t position;  // may lie past the end: reads there give nothing
};

// Copies up to `count` bytes from the position into `destination` and moves past them.
// Returns the bytes copied: 0 at or past the end, or for a count of 0 or less.
int64_t encoded_bytes_read(EncodedBytes& bytes, int64_t count, void* destination);

// Moves the position to `offset` from the start, the position or the end (`whence` is
// SEEK_SET, SEEK_CUR or SEEK_END). Returns the new position; -1, the position unchanged,
// for a target before the start or beyond 64 bits, or another `whence`.
int64_t encoded_bytes_seek(EncodedBytes& bytes, int64_t offset, int whence);
