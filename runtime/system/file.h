// The file service: byte-level access to files named by UTF-8 paths. A handle is the
// platform's buffered stream, owned by the caller from file_open to file_close; the
// service keeps no state besides the temporary ring it converts paths in.
#pragma once

#include <cstdint>
#include <cstdio>

#include "runtime/text/slice.h"

using File = std::FILE;

// Mode codes of file_open; only the low 8 bits of the argument count.
enum FileMode : uint8_t {
    file_mode_write = 1,        // "wb": create, or empty an existing file
    file_mode_read = 2,         // "rb": the file must exist
    file_mode_read_write = 3,   // "r+b": the file must exist and keeps its contents
    file_mode_append = 4,       // "a": every write goes to the end; created if missing
    file_mode_none = 5,         // opens nothing
    file_mode_read_append = 6,  // "a+": read anywhere, write at the end; created if missing
};

// Opens `path` in `mode`. Null for a mode without a stream mode, a path the temporary
// ring cannot hold, or whatever the platform refuses (missing file for reading, no
// permission, a directory).
[[nodiscard]] File* file_open(Slice path, int64_t mode);

// True exactly when `file` is null: the test for file_open's result.
[[nodiscard]] bool file_failed(const File* file);

// Flushes and closes; 0 on success, -1 when a write could not be completed or `file` is null.
int32_t file_close(File* file);

// Moves to `position` bytes from the start; false when the platform refuses.
[[nodiscard]] bool file_seek(File* file, int64_t position);

// Non-zero once a read has met the end of the file.
[[nodiscard]] int32_t file_end(File* file);

// The file's length in bytes, leaving the position where it was; -1 when it cannot be told.
[[nodiscard]] int64_t file_size(File* file);

// Writes `count` bytes; returns the number written, short only on error.
uint64_t file_write(File* file, uint64_t count, const void* data);

// Writes the low 8 bits of `value`; returns that byte, or -1 on error.
int32_t file_write_byte(File* file, int64_t value);

// Reads up to `count` bytes; returns the number read, short at the end or on error.
uint64_t file_read(File* file, uint64_t count, void* buffer);

// The next byte (0 to 255), or -1 at the end of the file or on error.
int32_t file_read_byte(File* file);
