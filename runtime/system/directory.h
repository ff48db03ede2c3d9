// Directories: create, delete, rename, probe and list them. Owns the 512 KiB dynamic ring
// (dynamic_buffer, dynamic_pos) that holds listing names and string lists, and the
// overflow block, kept for the process, that takes a listing the ring cannot hold
// without reaching its own first bytes.
//
// Paths are Slices of bytes as in file.h: on POSIX systems they reach the system
// unchanged, on Windows they are read as UTF-8 and converted to UTF-16; on every system
// a path holding a NUL byte is refused (the service's failure result, or empty lists)
// before anything is touched.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

inline constexpr int32_t dynamic_ring_size = 524288;

// Blocks start at multiples of 8 bytes, so list entries (pointer and length) are aligned.
inline constexpr int32_t dynamic_alignment = 8;

extern char dynamic_buffer[dynamic_ring_size];
// Byte offset where the next taking may start (rounded up to dynamic_alignment first);
// the ring restarts at 0 when a block does not fit. 0 at process start.
extern int32_t dynamic_pos;

// A listing's result: the entries with the directory attribute, then all others, each in
// the order the system yields them. Each name has a NUL right after its last byte (the
// length leaves it out) and is, on POSIX systems, the entry's bytes unchanged, UTF-8 or
// not, so the listed path handed back to any service reaches that same entry; on Windows
// it is the UTF-8 of the entry's UTF-16 name. They live in the dynamic ring until later listings wrap
// around onto them; a listing too large for the ring lives instead in the overflow block
// until the next such listing.
struct DirectoryContent {
    SliceArray directories;  // "." and ".." among them
    SliceArray files;
};

// Non-zero when the directory was created; 0 when anything exists at the path, its
// parent is missing, or the path is too long for the temporary ring or holds a NUL.
[[nodiscard]] int32_t directory_create(Slice path);

// Non-zero when the empty directory was removed; 0 otherwise (missing, not empty, a file).
[[nodiscard]] int32_t directory_delete(Slice path);

// Moves the directory at the old path to the new path, within its file system. Non-zero
// on success; 0 when the old path is missing or not a directory (nothing is moved), when
// anything exists at the new path (nothing is replaced), or when the move fails.
[[nodiscard]] int32_t directory_rename(Slice old_path, Slice new_path);

// 1 when the path's attributes can be read and mark a directory, else 0.
[[nodiscard]] int32_t directory_exists(Slice path);

// Lists every entry of the directory at `path` into `result`. A path that cannot be
// listed (missing, not a directory, no access, too long for the temporary ring, holding
// a NUL), or a listing that runs out of memory, gives two empty lists. A null `result` is ignored.
void directory_get_content(DirectoryContent* result, Slice path);

// Appends `text` (the Slice itself; its bytes are not copied) to the list of `count`
// entries and `capacity` at `items`, taking the list's blocks from the dynamic ring: 8
// entries first, doubling when full, in place when nothing was taken since the list's
// block. An empty list is null, 0, 0. False, with the list untouched, when the list is
// inconsistent (negative, count above capacity, no items) or its next block is larger
// than the ring.
bool add_string(Slice*& items, int64_t& count, int64_t& capacity, Slice text);
