// The temporary ring under a run of takings driven by the input: terminated copies, UTF-16
// forms and path forms alone and in pairs, from any fill position, with texts up to past
// the ring's limits (short input repeated to length) and texts that lie in the ring
// itself. Every result must read back as its text, a pair's two strings must not overlap,
// and a refusal must come exactly where the ring's limits say, or for a terminated copy
// or path form of a text holding a NUL.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/system/platform.h"
#include "runtime/system/temporary.h"

namespace {

// Texts reach a little past the longest the ring takes (16383 bytes with a NUL).
constexpr int64_t longest_text = temporary_ring_size + 64;
constexpr int64_t wide_unit_bytes = 2;

enum Operation : uint8_t { op_copy, op_wide, op_pair, op_position, op_copy_of_ring, op_path, op_path_pair, op_count };

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;

    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint16_t word() { return static_cast<uint16_t>(byte() | byte() << 8); }
    bool done() const { return at >= size; }
};

// A text of the input's next `length` field's size, made of the following input bytes
// repeated (letters only when there are none).
std::string next_text(Reader& in) {
    int64_t length = in.word() % (longest_text + 1);
    size_t pattern_length = in.byte() % 8 + 1;
    std::string pattern;
    for (size_t i = 0; i < pattern_length && !in.done(); ++i) pattern += static_cast<char>(in.byte());
    if (pattern.empty()) pattern = "ab";
    std::string text;
    text.reserve(static_cast<size_t>(length));
    while (static_cast<int64_t>(text.size()) < length) text += pattern;
    text.resize(static_cast<size_t>(length));
    return text;
}

std::vector<char16_t> expected_wide(const std::string& text) {
    int32_t length = static_cast<int32_t>(text.size());
    std::vector<char16_t> units(static_cast<size_t>(platform_utf8_to_utf16(text.data(), length, nullptr)));
    platform_utf8_to_utf16(text.data(), length, units.data());
    return units;
}

// Whether the ring holds exactly `wanted` and a zero unit at `wide`.
bool reads_back(const char16_t* wide, const std::vector<char16_t>& wanted) {
    auto bytes = reinterpret_cast<const char*>(wide);
    int64_t size = static_cast<int64_t>(wanted.size()) * wide_unit_bytes;
    if (bytes < temporary_buffer || bytes + size + wide_unit_bytes > temporary_buffer + temporary_ring_size) {
        return false;
    }
    char16_t end;
    std::memcpy(&end, bytes + size, sizeof end);
    return end == 0 && (size == 0 || std::memcmp(bytes, wanted.data(), static_cast<size_t>(size)) == 0);
}

int64_t wide_bytes(const std::vector<char16_t>& units) {
    return wide_unit_bytes * (static_cast<int64_t>(units.size()) + 1);
}

void check(bool holds) {
    if (!holds) std::abort();
}

bool holds_nul(const std::string& text) { return text.find('\0') != std::string::npos; }

void copy(const std::string& text) {
    Slice slice{text.data(), static_cast<int64_t>(text.size())};
    bool fits = slice.length < temporary_ring_size && !holds_nul(text);
    check(append_character(slice) == fits);
    if (!fits) return;
    check(slice.length == static_cast<int64_t>(text.size()) + 1);
    check(std::memcmp(slice.data, text.data(), text.size()) == 0 && slice.data[text.size()] == '\0');
}

void wide(const std::string& text) {
    std::vector<char16_t> wanted = expected_wide(text);
    const char16_t* taken = to_wide_cstr(Slice{text.data(), static_cast<int64_t>(text.size())});
    check((taken != nullptr) == (wide_bytes(wanted) <= temporary_ring_size));
    if (taken) check(reads_back(taken, wanted));
}

void pair(const std::string& first, const std::string& second) {
    std::vector<char16_t> first_wanted = expected_wide(first), second_wanted = expected_wide(second);
    const char16_t* a = nullptr;
    const char16_t* b = nullptr;
    bool taken = to_wide_cstr_pair(Slice{first.data(), static_cast<int64_t>(first.size())},
                                   Slice{second.data(), static_cast<int64_t>(second.size())}, &a, &b);
    check(taken == (wide_bytes(first_wanted) + wide_bytes(second_wanted) <= temporary_ring_size));
    check(taken == (a != nullptr) && taken == (b != nullptr));
    if (taken) check(reads_back(a, first_wanted) && reads_back(b, second_wanted));
}

// Bytes of the path form of `text` (here the bytes and a NUL), taken `size` bytes in all.
int64_t path_bytes(const std::string& text) { return static_cast<int64_t>(text.size()) + 1; }

bool path_reads_back(const PlatformPath* path, const std::string& text) {
    auto bytes = reinterpret_cast<const char*>(path);
    if (bytes < temporary_buffer || bytes + path_bytes(text) > temporary_buffer + temporary_ring_size) return false;
    return std::memcmp(bytes, text.data(), text.size()) == 0 && bytes[text.size()] == '\0';
}

void path(const std::string& text) {
    const PlatformPath* taken = to_platform_path(Slice{text.data(), static_cast<int64_t>(text.size())});
    check((taken != nullptr) == (path_bytes(text) <= temporary_ring_size && !holds_nul(text)));
    if (taken) check(path_reads_back(taken, text));
}

void path_pair(const std::string& first, const std::string& second) {
    const PlatformPath* a = nullptr;
    const PlatformPath* b = nullptr;
    bool taken = to_platform_path_pair(Slice{first.data(), static_cast<int64_t>(first.size())},
                                       Slice{second.data(), static_cast<int64_t>(second.size())}, &a, &b);
    bool fits = path_bytes(first) + path_bytes(second) <= temporary_ring_size;
    check(taken == (fits && !holds_nul(first) && !holds_nul(second)));
    check(taken == (a != nullptr) && taken == (b != nullptr));
    if (taken) check(path_reads_back(a, first) && path_reads_back(b, second));
}

// A terminated copy of bytes that already lie in the ring, wherever the copy lands.
void copy_of_ring(Reader& in) {
    int64_t start = in.word() % temporary_ring_size;
    int64_t length = in.word() % (temporary_ring_size - start + 1);
    std::string before(temporary_buffer + start, static_cast<size_t>(length));
    Slice slice{temporary_buffer + start, length};
    bool fits = length < temporary_ring_size && !holds_nul(before);
    check(append_character(slice) == fits);
    if (fits) check(std::memcmp(slice.data, before.data(), before.size()) == 0 && slice.data[length] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size, 0};
    temporary_pos = 0;
    while (!in.done()) {
        switch (in.byte() % op_count) {
            case op_copy: copy(next_text(in)); break;
            case op_wide: wide(next_text(in)); break;
            case op_pair: {
                std::string first = next_text(in);
                pair(first, next_text(in));
                break;
            }
            case op_position: temporary_pos = in.word() % (temporary_ring_size + 1); break;
            case op_copy_of_ring: copy_of_ring(in); break;
            case op_path: path(next_text(in)); break;
            case op_path_pair: {
                std::string first = next_text(in);
                path_pair(first, next_text(in));
                break;
            }
        }
        check(temporary_pos >= 0 && temporary_pos <= temporary_ring_size);
    }
    return 0;
}
