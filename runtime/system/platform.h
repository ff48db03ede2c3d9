// The one place that talks to the operating system (POSIX here). Each function gives
// exactly what the runtime's services expect of the Windows call it stands in for, so
// every other module stays free of platform calls. No state of its own.
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
// maximal ill-formed subpart, as the Windows converter does; nothing fails.
// `out` must have room for the counted units.
int32_t platform_utf8_to_utf16(const char* text, int32_t length, void* out);

// Stands in for WideCharToMultiByte(CP_UTF8, 0, ...). Converts the NUL-terminated wide
// string, its terminator included, and returns the byte count (NUL counted). With a
// null `out` it only measures. Lone surrogates become U+FFFD.
int64_t platform_utf16_to_utf8(const void* wide, char* out);

// Stands in for _wfopen: opens the file named by a wide path in a wide stream mode
// ("wb", "rb", "r+b", "a", "a+"). Null when the path cannot be opened as a file:
// a directory is refused in every mode, as on Windows.
std::FILE* platform_open_wide(const void* wide_path, const void* wide_mode);

// Stands in for fseeko/ftello with 64-bit offsets. Seek returns true on success;
// tell returns -1 when the position cannot be told.
bool platform_seek(std::FILE* file, int64_t offset, int origin);
int64_t platform_tell(std::FILE* file);

// Stands in for _time64(nullptr): whole seconds since 1970-01-01 00:00:00 UTC.
int64_t platform_time();
