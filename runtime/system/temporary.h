// The temporary ring: 16 KiB of process-wide scratch from which every service takes the
// short-lived strings it hands to the platform: terminated copies, UTF-16 forms (alone,
// or as the pair one platform call needs together) and raw takings such as a search
// pattern. State: temporary_buffer and its fill position temporary_pos. A string taken
// here is used at once and not held across a further call into any path-taking service.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

inline constexpr int32_t temporary_ring_size = 16384;

extern char temporary_buffer[temporary_ring_size];
// Byte offset of the next free byte; the ring restarts at 0 when a string does not fit.
extern int32_t temporary_pos;

// Takes k bytes (at most temporary_ring_size) by the ring's rule, here when they fit,
// else from the start, and returns their offset in temporary_buffer.
[[nodiscard]] int32_t temporary_take(int64_t k);

// Copies `text` and a NUL into the ring and points `text` at the copy, its length now
// counting the NUL. Fails (false, `text` untouched, nothing taken) for a negative length,
// a null pointer with bytes, or more than 16383 bytes of text.
[[nodiscard]] bool append_character(Slice& text);

// Converts UTF-8 `text` to NUL-terminated UTF-16 in the ring (invalid sequences become
// U+FFFD) and returns it. The result may be unaligned: see runtime/system/platform.h.
// Null (nothing taken) when the text needs more than 8191 units or is longer than
// 2^31 - 1 bytes.
[[nodiscard]] const char16_t* to_wide_cstr(Slice text);

// UTF-16 forms of two texts that one platform call needs together, as to_wide_cstr
// takes them. When the second would land on the first, the ring restarts and both are
// taken again from its start. False (both results null) when either is too long or the
// two cannot be held at once.
[[nodiscard]] bool to_wide_cstr_pair(Slice first, Slice second, const char16_t** wide_first,
                                     const char16_t** wide_second);
