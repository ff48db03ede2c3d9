#include "runtime/system/platform.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>

namespace {

constexpr char16_t replacement_character = 0xFFFD;
constexpr uint32_t first_supplementary = 0x10000;
constexpr char16_t high_surrogate_base = 0xD800;
constexpr char16_t low_surrogate_base = 0xDC00;
constexpr char16_t surrogate_end = 0xE000;
// A BMP unit takes at most 3 UTF-8 bytes; a surrogate pair (2 units) takes 4.
constexpr int64_t max_utf8_bytes_per_unit = 3;
// Stream modes are a handful of ASCII letters.
constexpr int max_mode_bytes = 8;

void put_unit(void* out, int32_t index, char16_t unit) {
    std::memcpy(static_cast<char*>(out) + 2 * static_cast<int64_t>(index), &unit, sizeof unit);
}

char16_t get_unit(const void* wide, int64_t index) {
    char16_t unit;
    std::memcpy(&unit, static_cast<const char*>(wide) + 2 * index, sizeof unit);
    return unit;
}

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one code point at text[i..length). Returns the bytes consumed and sets
// `code` to the code point, or to U+FFFD for a maximal ill-formed subpart. The
// second byte's allowed range excludes overlongs, surrogates and values past U+10FFFF.
int32_t decode_utf8(const unsigned char* text, int32_t i, int32_t length, uint32_t* code) {
    unsigned char lead = text[i];
    if (lead < 0x80) {
        *code = lead;
        return 1;
    }
    int32_t needed;
    unsigned char low = 0x80, high = 0xBF;
    uint32_t value;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2, value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3, value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        *code = replacement_character;
        return 1;
    }
    int32_t used = 1;
    for (int32_t k = 0; k < needed; ++k) {
        if (i + used >= length) break;
        unsigned char byte = text[i + used];
        bool fits = k == 0 ? (byte >= low && byte <= high) : is_continuation(byte);
        if (!fits) break;
        value = (value << 6) | (byte & 0x3F);
        ++used;
    }
    *code = used == needed + 1 ? value : replacement_character;
    return used;
}

int32_t encode_utf8(uint32_t code, char* out) {
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code >> 6));
        out[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < first_supplementary) {
        out[0] = static_cast<char>(0xE0 | (code >> 12));
        out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (code >> 18));
    out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

int64_t wide_length(const void* wide) {
    int64_t n = 0;
    while (get_unit(wide, n) != 0) ++n;
    return n;
}

}  // namespace

int32_t platform_utf8_to_utf16(const char* text, int32_t length, void* out) {
    auto bytes = reinterpret_cast<const unsigned char*>(text);
    int32_t units = 0;
    for (int32_t i = 0; i < length;) {
        uint32_t code;
        i += decode_utf8(bytes, i, length, &code);
        if (code >= first_supplementary) {
            code -= first_supplementary;
            if (out) {
                put_unit(out, units, static_cast<char16_t>(high_surrogate_base + (code >> 10)));
                put_unit(out, units + 1, static_cast<char16_t>(low_surrogate_base + (code & 0x3FF)));
            }
            units += 2;
        } else {
            if (out) put_unit(out, units, static_cast<char16_t>(code));
            units += 1;
        }
    }
    return units;
}

int64_t platform_utf16_to_utf8(const void* wide, char* out) {
    char scratch[4];
    int64_t size = 0;
    for (int64_t i = 0;; ++i) {
        uint32_t code = get_unit(wide, i);
        if (code >= high_surrogate_base && code < low_surrogate_base) {
            char16_t next = get_unit(wide, i + 1);
            if (next >= low_surrogate_base && next < surrogate_end) {
                code = first_supplementary + ((code - high_surrogate_base) << 10) + (next - low_surrogate_base);
                ++i;
            } else {
                code = replacement_character;
            }
        } else if (code >= low_surrogate_base && code < surrogate_end) {
            code = replacement_character;
        }
        int32_t n = encode_utf8(code, out ? out + size : scratch);
        size += n;
        if (code == 0) return size;
    }
}

std::FILE* platform_open_wide(const void* wide_path, const void* wide_mode) {
    if (!wide_path || !wide_mode) return nullptr;
    if (wide_length(wide_path) > platform_max_wide_units || wide_length(wide_mode) >= max_mode_bytes) {
        return nullptr;
    }
    char path[platform_max_wide_units * max_utf8_bytes_per_unit + 1];
    char mode[max_mode_bytes * max_utf8_bytes_per_unit + 2];
    platform_utf16_to_utf8(wide_path, path);
    int64_t mode_size = platform_utf16_to_utf8(wide_mode, mode);
    // Children started by system() must not inherit the runtime's open files.
    mode[mode_size - 1] = 'e';
    mode[mode_size] = '\0';
    std::FILE* file = std::fopen(path, mode);
    if (!file) return nullptr;
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || S_ISDIR(status.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

bool platform_seek(std::FILE* file, int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

int64_t platform_tell(std::FILE* file) { return static_cast<int64_t>(ftello(file)); }

int64_t platform_time() { return static_cast<int64_t>(std::time(nullptr)); }
