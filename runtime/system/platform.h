// The one place that talks to the operating system (POSIX here; a Windows build puts
// its own source behind this same header), so every other module stays free of platform
// calls. Each stand-in gives exactly what the runtime's services expect of the Windows
// call it is named for; the helpers beyond them (the path form, an open that spares
// another stream's file, a whole-stream copy) say what they add. No state of its own.
//
// Wide text is UTF-16 in native byte order, NUL-terminated, and may start at an odd
// address (the temporary ring packs strings byte by byte): read and write its units
// only through memcpy, never by dereferencing a char16_t pointer.
#pragma once

#include <cstdint>
#include <cstdio>

// Most UTF-16 units a converted path may hold: a 16 KiB ring less the terminator.
inline constexpr int32_t platform_max_wide_units = 8191;

// Stands in for MultiByteToWideChar(CP_UTF8, 0, ...). Converts `length` bytes of UTF-8
// (no terminator is read or written) and returns the number of UTF-16 units they make.
// With a null `out` it only counts. Invalid sequences become U+FFFD, one for each
// maximal ill-formed subpart, as the Windows converter does; nothing fails. No byte at
// or past `length` is read, even to finish a sequence the end cuts short.
// `out` must have room for the counted units.
int32_t platform_utf8_to_utf16(const char* text, int32_t length, void* out);

// Stands in for WideCharToMultiByte(CP_UTF8, 0, ...). Converts the NUL-terminated wide
// string, its terminator included, and returns the byte count (NUL counted). With a
// null `out` it only measures. Lone surrogates become U+FFFD.
int64_t platform_utf16_to_utf8(const void* wide, char* out);

// A path in the form the system takes it, made by platform_path_form from the path's
// bytes as the program holds them (never holding a NUL: the caller refuses those first):
//  - POSIX: those bytes unchanged, then a NUL. Nothing is decoded: a name is any run of
//    bytes but '/' and NUL, UTF-8 or not, so every name the system lists can be named.
//  - Windows: the UTF-16 form of those bytes read as UTF-8 (platform_utf8_to_utf16's
//    contract: invalid sequences become U+FFFD), then a 16-bit NUL; it may start at an
//    odd address, as wide text above.
// Only the platform layer looks inside; everyone else holds a pointer to it.
struct PlatformPath;

// Bytes the path form of `length` bytes of path text takes, its terminator included;
// -1 when no such form can be made (a negative length; on Windows more than
// platform_max_wide_units units).
[[nodiscard]] int64_t platform_path_size(const char* text, int64_t length);

// Writes the path form of `length` bytes of text into `out`, which has room for
// platform_path_size bytes and does not overlap the text, and returns it there.
const PlatformPath* platform_path_form(const char* text, int64_t length, void* out);

// Stands in for _wfopen: opens the file at `path` in a stream mode ("r", "w", "a", each
// with optional "b" and "+"; the Windows source widens it itself). Null when the path
// cannot be opened as a file: a directory is refused in every mode, as on Windows.
// FIFOs as for platform_open_narrow.
std::FILE* platform_open(const PlatformPath* path, const char* mode);

// As platform_open, also refusing (null) a path that names the file `other` is open on,
// by whatever path: that file is then left untouched, not emptied. A null `other`
// refuses nothing more.
std::FILE* platform_open_apart(const PlatformPath* path, const char* mode, std::FILE* other);

// Stands in for fseeko/ftello with 64-bit offsets. Seek returns true on success;
// tell returns -1 when the position cannot be told.
bool platform_seek(std::FILE* file, int64_t offset, int origin);
int64_t platform_tell(std::FILE* file);

// Stands in for _fileno: the descriptor under `file`, for libraries that take one; it
// stays the stream's (closing the stream closes it). -1 for a null stream.
int platform_descriptor(std::FILE* file);

// Stands in for _time64(nullptr): whole seconds since 1970-01-01 00:00:00 UTC.
int64_t platform_time();

// Stands in for fopen, for the media libraries: opens a NUL-terminated path as the
// program holds it (the terminated copy of its bytes) in a stream mode as platform_open
// takes it. POSIX hands the bytes to the system unchanged, as a PlatformPath; Windows
// reads them as UTF-8, as a PlatformPath, so one path names the same file in every
// service. Null when it cannot be opened as a file: a directory is refused in every
// mode, as on Windows. Opening never waits on a FIFO: for reading it opens at once (with
// no writer it reads as empty), for writing only when a reader has it open (else null),
// and in a mode that both reads and writes ("+") it is refused, since the handle would
// be its own writer and a read would wait for ever.
std::FILE* platform_open_narrow(const char* path, const char* mode);

// Copies everything from `from`'s position to its end into `to`, in large blocks (in
// the kernel where it can). Both streams must hold no buffered input: freshly opened
// or just sought. False when a read or a write fails on the way.
[[nodiscard]] bool platform_copy_stream(std::FILE* from, std::FILE* to);

// The Windows attribute mask: all bits set when the attributes cannot be read.
inline constexpr uint32_t platform_attributes_invalid = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES
inline constexpr uint32_t platform_attribute_read_only = 0x01;       // FILE_ATTRIBUTE_READONLY
inline constexpr uint32_t platform_attribute_directory = 0x10;       // FILE_ATTRIBUTE_DIRECTORY
inline constexpr uint32_t platform_attribute_normal = 0x80;          // FILE_ATTRIBUTE_NORMAL

// Whether an attribute mask was read and marks a directory.
inline constexpr bool platform_is_directory(uint32_t attributes) {
    return attributes != platform_attributes_invalid && (attributes & platform_attribute_directory) != 0;
}

// Stands in for GetFileAttributesW: platform_attributes_invalid when nothing can be
// read at the path, else the directory bit for a directory (a symbolic link counts as
// what it points to) or the normal bit, with the read-only bit when its owner may not write it.
[[nodiscard]] uint32_t platform_attributes(const PlatformPath* path);

// Stands in for DeleteFileW: 1 when the file (or a symbolic link to a file) was
// deleted; 0 for a missing path, a directory or a link to one, and a read-only file.
[[nodiscard]] int32_t platform_delete_file(const PlatformPath* path);

// Stands in for MoveFileW: 1 when the file or directory at the old path now stands at
// the new one. Never replaces anything at the new path, also when it appears meanwhile.
// A file (or a symbolic link) moves to another file system by copy and delete; a
// directory only within its own. 0 on failure, with nothing changed.
[[nodiscard]] int32_t platform_move(const PlatformPath* old_path, const PlatformPath* new_path);

// Stands in for CreateDirectoryW(path, default security): 1 when created; 0 when
// anything exists at the path or its parent directory is missing.
[[nodiscard]] int32_t platform_create_directory(const PlatformPath* path);

// Stands in for RemoveDirectoryW: 1 when the empty directory was removed, else 0.
[[nodiscard]] int32_t platform_remove_directory(const PlatformPath* path);

// Room for one entry's name in a directory search, its NUL included: the Windows find
// record's 260 UTF-16 units (MAX_PATH) at up to 3 UTF-8 bytes each. A POSIX name has at
// most 255 bytes, so every name fits either way.
inline constexpr int32_t platform_max_name_bytes = 260 * 3;

// One entry of a directory search: what the Windows find record carries for us, with
// the name already in the program's form. POSIX gives the entry's bytes unchanged, so
// the name handed back as a path names that same entry; Windows gives the UTF-8 of its
// UTF-16 name (a lone surrogate becoming U+FFFD).
struct PlatformFindData {
    uint32_t attributes;                   // platform_attribute_directory or _normal
    int32_t name_length;                   // bytes before the NUL
    char name[platform_max_name_bytes];    // NUL-terminated
};

// A directory search in progress, from platform_find_first to platform_find_close.
struct PlatformSearch;

// Stands in for FindFirstFileW with a pattern of a directory path followed by "/*" (the
// only pattern taken; "/*" alone is the root). Fills `data` with the first entry and
// returns the search, or null (the invalid handle) when the directory cannot be listed.
// Every entry comes, "." and ".." included; a symbolic link counts as what it points to.
[[nodiscard]] PlatformSearch* platform_find_first(const PlatformPath* pattern, PlatformFindData* data);

// Stands in for FindNextFileW: fills `data` with the next entry; false when none is left.
[[nodiscard]] bool platform_find_next(PlatformSearch* search, PlatformFindData* data);

// Stands in for FindClose: releases the search (null is ignored).
void platform_find_close(PlatformSearch* search);

// Exit status the shell reports for a command ended by a signal: this base plus the
// signal's number, as POSIX shells give it.
inline constexpr int32_t platform_signal_status_base = 128;

// Stands in for the C runtime's system: runs the NUL-terminated command line through
// the shell, after flushing every output stream so that what the program wrote comes
// first, and returns the command's exit status (platform_signal_status_base + signal
// when a signal ended it); -1 when no shell can be started.
[[nodiscard]] int32_t platform_system(const char* command);
