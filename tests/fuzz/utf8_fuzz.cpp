// Any bytes as UTF-8 path text: the UTF-16 form must be well formed (every surrogate in
// a pair), and valid UTF-8 must come back byte for byte from the UTF-16 form.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/system/platform.h"

namespace {

constexpr size_t invalid_lead = SIZE_MAX;

// Checked apart from the converter: the Unicode definition of well-formed UTF-8.
bool is_valid_utf8(const uint8_t* s, size_t n) {
    size_t i = 0;
    while (i < n) {
        uint8_t b = s[i];
        size_t need = b < 0x80 ? 0 : b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2
                    : b >= 0xF0 && b <= 0xF4 ? 3 : invalid_lead;
        if (need == invalid_lead) return false;
        uint32_t code = need == 0 ? b : b & (0x3F >> need);
        for (size_t k = 1; k <= need; ++k) {
            if (i + k >= n || (s[i + k] & 0xC0) != 0x80) return false;
            code = code << 6 | (s[i + k] & 0x3F);
        }
        static constexpr uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[need] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
        i += need + 1;
    }
    return true;
}

bool is_well_formed_utf16(const std::vector<char16_t>& units) {
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t u = units[i];
        if (u >= 0xDC00 && u < 0xE000) return false;
        if (u >= 0xD800 && u < 0xDC00) {
            if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] >= 0xE000) return false;
            ++i;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT32_MAX / 4) return 0;
    auto text = reinterpret_cast<const char*>(data);
    int32_t length = static_cast<int32_t>(size);
    int32_t units = platform_utf8_to_utf16(text, length, nullptr);
    if (units < 0 || units > length) std::abort();
    std::vector<char16_t> wide(static_cast<size_t>(units) + 1, 0);
    if (platform_utf8_to_utf16(text, length, wide.data()) != units) std::abort();
    std::vector<char16_t> body(wide.begin(), wide.end() - 1);
    if (!is_well_formed_utf16(body)) std::abort();
    if (!is_valid_utf8(data, size) || std::memchr(data, 0, size)) return 0;
    int64_t bytes = platform_utf16_to_utf8(wide.data(), nullptr);
    std::vector<char> back(static_cast<size_t>(bytes));
    if (platform_utf16_to_utf8(wide.data(), back.data()) != bytes) std::abort();
    if (bytes != length + 1 || std::memcmp(back.data(), data, size) != 0 || back[size] != 0) std::abort();
    return 0;
}
