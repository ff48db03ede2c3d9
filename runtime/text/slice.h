// Text values shared by every module: a Slice borrows bytes (it neither owns nor
// terminates them) and a SliceArray borrows a run of Slices; the few questions asked of
// them (equality, a path's extension) have their one answer here. No state.
#pragma once

#include <cstddef>
#include <cstdint>

struct Slice {
    const char* data;  // first byte; may be null when length is 0
    int64_t length;    // byte count
};

struct SliceArray {
    Slice* items;   // null when count is 0
    int64_t count;
};

// A Slice over a string literal, without its terminator.
template <size_t N>
constexpr Slice slice_literal(const char (&text)[N]) {
    return Slice{text, static_cast<int64_t>(N - 1)};
}

// A Slice over a NUL-terminated string (a null pointer gives the empty Slice).
inline Slice slice_from_cstr(const char* text) {
    if (!text) return Slice{nullptr, 0};
    int64_t length = 0;
    while (text[length]) ++length;
    return Slice{text, length};
}

// True when both hold the same bytes, compared whole. Two empty Slices are equal whatever
// their pointers; a Slice with a negative length, or with bytes and a null pointer, is
// equal to nothing.
[[nodiscard]] bool slice_equal(Slice a, Slice b);

// True when the text after the last '.' of `path` is `extension`, compared whole and
// case-sensitively ("song." has the empty extension). False for a path without a '.'.
[[nodiscard]] bool slice_has_extension(Slice path, Slice extension);
