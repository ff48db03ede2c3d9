#include "runtime/text/slice.h"

#include <cstring>

namespace {

constexpr char extension_mark = '.';

bool well_formed(Slice text) { return text.length >= 0 && (text.data || text.length == 0); }

}  // namespace

bool slice_equal(Slice a, Slice b) {
    if (!well_formed(a) || !well_formed(b) || a.length != b.length) return false;
    // An empty Slice may have null data, which memcmp must not be handed.
    return a.length == 0 || std::memcmp(a.data, b.data, static_cast<size_t>(a.length)) == 0;
}

bool slice_has_extension(Slice path, Slice extension) {
    if (!path.data || path.length <= 0) return false;
    int64_t mark = path.length - 1;
    while (mark >= 0 && path.data[mark] != extension_mark) --mark;
    if (mark < 0) return false;
    return slice_equal(Slice{path.data + mark + 1, path.length - mark - 1}, extension);
}
