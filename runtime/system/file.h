// The file service: byte-level access to files named by paths, and whole-file copy,
// create, probe, delete and rename. A handle is the platform's buffered stream, owned by
// the caller. Keeps no state of its own: paths take their system form in the temporary
// ring, every path of one call fitting there together.
//
// A path is a Slice of bytes, the same in every service here, in directory.h and in the
// media services:
//  - On POSIX systems its bytes reach the system unchanged, whether UTF-8 or not: "\xFF"
//    and "\xEF\xBF\xBD" (U+FFFD) name two different files, and a name a listing gave
//    names that same entry again. Paths of at most 16383 bytes are taken.
//  - On Windows the bytes are read as UTF-8 and converted to the system's UTF-16 names,
//    invalid sequences becoming U+FFFD (as to_wide_cstr does); at most 8191 units.
// On every system a path holding a NUL byte is refused with the service's failure result
// before anything is touched: cut at the NUL, it would name another file.
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

// Opens `path` in `mode`. Null for a mode without a stream mode, a path that the
// temporary ring cannot hold or that holds a NUL, or whatever the platform refuses
// (missing file for reading, no permission, a directory).
// A FIFO never makes the open wait. Mode 2 opens it at once: with no writer the first
// read meets the end; with one, reads wait for its bytes and meet the end once it closes. Modes 1 and 4 open it
// only while a reader has it open, else null; writes then wait while the FIFO is full.
// Modes 3 and 6 refuse it (null): the handle would be its own writer, and a read would
// wait for ever for bytes only it could write.
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

// Whole-file operations. Each takes its paths' system forms in the temporary ring and
// gives its failure result when they are too long for it (alone, or together for two
// paths) or hold a NUL.

// Copies the source file's bytes into the destination, which is created or emptied.
// 1 when the whole copy was made; 0 when either file cannot be opened (no destination
// is created for a missing source), when a read, write or close fails on the way, and
// when both paths name the same file (it is then left intact).
[[nodiscard]] int32_t file_copy(Slice source, Slice destination);

// Creates the file, or empties an existing one: 1 when it could be opened for writing,
// else 0.
[[nodiscard]] int32_t file_create(Slice path);

// 1 when the path can be opened for reading as a file, else 0 (also for a directory).
[[nodiscard]] int32_t file_exists(Slice path);

// Non-zero when the file was deleted; 0 for a missing path, a directory and a
// read-only file.
[[nodiscard]] int32_t file_delete(Slice path);

// Moves the file (or whatever is not a directory) at the old path to the new path,
// across file systems too. Non-zero on success; 0 when the old path is a directory
// (nothing is moved), when anything exists at the new path (nothing is replaced), or
// when the move fails.
[[nodiscard]] int32_t file_rename(Slice old_path, Slice new_path);
