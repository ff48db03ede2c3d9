#include "runtime/text/slice.h"

#include <cstring>

namespace {

constexpr char extension_mark = '.';

}  // namespace

bool slice_has_extension(Slice path, Slice extension) {
    if (!path.data || path.length <= 0) return false;
    int64_t mark = path.length - 1;
    while (mark >= 0 && path.data[mark] != extension_mark) --mark;
    if (mark < 0) return false;
    int64_t length = path.length - mark - 1;
    if (length != extension.length) return false;
    // An empty extension may have null data, which memcmp must not be handed.
    return length == 0 ||
           std::memcmp(path.data + mark + 1, extension.data, static_cast<size_t>(length)) == 0;
}
