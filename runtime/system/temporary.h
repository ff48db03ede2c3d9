// The temporary ring: 16 KiB of process-wide scratch from which every service takes the
// short-lived strings it hands to the platform: terminated copies, path forms and UTF-16
// forms (alone, or as the pair one platform call needs together) and raw takings such as
// a search pattern. It also holds the one rule every path and command obeys on its way
// to the system: a text holding a NUL byte is refused, since its terminated form would
// name a shorter string, another file or command. State: temporary_buffer and its fill
// position temporary_pos. A string taken here is used at once and not held across a
// further call into any path-taking service.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

// A path as the system takes it: see runtime/system/platform.h.
struct PlatformPath;

inline constexpr int32_t temporary_ring_size = 16384;

extern char temporary_buffer[temporary_ring_size];
// Byte offset of the next free byte; the ring restarts at 0 when a string does not fit.
extern int32_t temporary_pos;

// Takes k bytes (at most temporary_ring_size) by the ring's rule, here when they fit,
// else from the start, and returns their offset in temporary_buffer.
[[nodiscard]] int32_t temporary_take(int64_t k);

// Copies `text` and a NUL into the ring and points `text` at the copy, its length now
// counting the NUL. Fails (false, `text` untouched, nothing taken) for a negative length,
// a null pointer with bytes, more than 16383 bytes of text, or text holding a NUL.
[[nodiscard]] bool append_character(Slice& text);

// The path in the form the system takes (PlatformPath: its bytes and a NUL here, UTF-16
// on Windows), in the ring. Null (nothing taken) for the texts append_character refuses,
// and for a path whose form does not fit the ring.
[[nodiscard]] const PlatformPath* to_platform_path(Slice path);

// Path forms of two paths that one platform call needs together, as to_platform_path
// takes them. When the second would land on the first, the ring restarts and both are
// taken again from its start. False (both results null) when either is refused or the
// two cannot be held at once.
[[nodiscard]] bool to_platform_path_pair(Slice first, Slice second, const PlatformPath** path_first,
                                         const PlatformPath** path_second);

// Converts UTF-8 `text` to NUL-terminated UTF-16 in the ring (invalid sequences become
// U+FFFD; a NUL byte becomes a NUL unit) and returns it. The result may be unaligned:
// see runtime/system/platform.h. Null (nothing taken) when the text needs more than 8191
// units or is longer than 2^31 - 1 bytes. The path services do not use it: they take
// path forms, which on this system keep the bytes.
[[nodiscard]] const char16_t* to_wide_cstr(Slice text);

// UTF-16 forms of two texts that one platform call needs together, as to_wide_cstr
// takes them. When the second would land on the first, the ring restarts and both are
// taken again from its start. False (both results null) when either is too long or the
// two cannot be held at once.
[[nodiscard]] bool to_wide_cstr_pair(Slice first, Slice second, const char16_t** wide_first,
                                     const char16_t** wide_second);
