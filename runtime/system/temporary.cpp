#include "runtime/system/temporary.h"

#include <cstring>

#include "runtime/system/platform.h"

char temporary_buffer[temporary_ring_size];
int32_t temporary_pos = 0;

namespace {

constexpr int64_t max_terminated_text = temporary_ring_size - 1;
constexpr int64_t wide_unit_bytes = 2;
// The platform converter takes a 32-bit count.
constexpr int64_t max_convertible_bytes = INT32_MAX;

// The one rule for every text that reaches the system terminated: bytes it can hold,
// and no NUL among them, which would end it early and make it name something else.
bool terminable(Slice text) {
    if (text.length < 0 || (!text.data && text.length > 0)) return false;
    return text.length == 0 || !std::memchr(text.data, '\0', static_cast<size_t>(text.length));
}

}  // namespace

int32_t temporary_take(int64_t k) {
    if (temporary_pos < 0 || temporary_pos + k > temporary_ring_size) temporary_pos = 0;
    int32_t start = temporary_pos;
    temporary_pos = static_cast<int32_t>(start + k);
    return start;
}

bool append_character(Slice& text) {
    int64_t length = text.length;
    if (length > max_terminated_text || !terminable(text)) return false;
    int32_t start = temporary_take(length + 1);
    // The text may itself lie in the ring, even where the copy lands.
    if (length > 0) std::memmove(temporary_buffer + start, text.data, static_cast<size_t>(length));
    temporary_buffer[start + length] = '\0';
    text = Slice{temporary_buffer + start, length + 1};
    return true;
}

const char16_t* to_wide_cstr(Slice text) {
    if (text.length < 0 || text.length > max_convertible_bytes || (!text.data && text.length > 0)) {
        return nullptr;
    }
    int32_t length = static_cast<int32_t>(text.length);
    int32_t units = platform_utf8_to_utf16(text.data, length, nullptr);
    if (units > platform_max_wide_units) return nullptr;
    // Convert off to the side first: the text may lie in the ring where the result lands.
    char converted[temporary_ring_size];
    platform_utf8_to_utf16(text.data, length, converted);
    int64_t bytes = wide_unit_bytes * units;
    std::memset(converted + bytes, 0, wide_unit_bytes);
    int32_t start = temporary_take(bytes + wide_unit_bytes);
    std::memcpy(temporary_buffer + start, converted, static_cast<size_t>(bytes + wide_unit_bytes));
    return reinterpret_cast<const char16_t*>(temporary_buffer + start);
}

namespace {

// Whether `latest`, taken right after `earlier`, restarted the ring and reached it.
bool overwrote(const void* earlier, const void* latest) {
    auto first = static_cast<const char*>(earlier);
    auto second = static_cast<const char*>(latest);
    return second <= first && temporary_buffer + temporary_pos > first;
}

// Two strings of one platform call, each taken by `take`. When the second lands on the
// first, the ring restarts and both are taken again from its start; when even then they
// cannot be held together, or either is refused, both results are null.
template <typename Form>
bool take_pair(const Form* (*take)(Slice), Slice first, Slice second, const Form** taken_first,
               const Form** taken_second) {
    *taken_first = take(first);
    *taken_second = take(second);
    if (*taken_first && *taken_second && overwrote(*taken_first, *taken_second)) {
        temporary_pos = 0;
        *taken_first = take(first);
        *taken_second = take(second);
        if (*taken_first && *taken_second && overwrote(*taken_first, *taken_second)) *taken_second = nullptr;
    }
    if (*taken_first && *taken_second) return true;
    *taken_first = *taken_second = nullptr;
    return false;
}

}  // namespace

bool to_wide_cstr_pair(Slice first, Slice second, const char16_t** wide_first, const char16_t** wide_second) {
    return take_pair(to_wide_cstr, first, second, wide_first, wide_second);
}

const PlatformPath* to_platform_path(Slice path) {
    // The size is known before the bytes are searched: no form of a path past the
    // converter's count fits the ring.
    if (path.length > max_convertible_bytes || (!path.data && path.length > 0)) return nullptr;
    int64_t size = platform_path_size(path.data, path.length);
    if (size < 0 || size > temporary_ring_size || !terminable(path)) return nullptr;
    // Made off to the side first: the path may lie in the ring where its form lands.
    char formed[temporary_ring_size];
    platform_path_form(path.data, path.length, formed);
    int32_t start = temporary_take(size);
    std::memcpy(temporary_buffer + start, formed, static_cast<size_t>(size));
    return reinterpret_cast<const PlatformPath*>(temporary_buffer + start);
}

bool to_platform_path_pair(Slice first, Slice second, const PlatformPath** path_first,
                           const PlatformPath** path_second) {
    return take_pair(to_platform_path, first, second, path_first, path_second);
}
