#include "runtime/media/image_guard.h"

#include <algorithm>
#include <cstring>

namespace {

// JPEG marker bytes, each after 0xFF.
constexpr uint8_t marker_prefix = 0xFF;
constexpr uint8_t stuffed_zero = 0x00;  // 0xFF as data inside coded data, not a marker
constexpr uint8_t temporary = 0x01;     // a marker without a segment
constexpr uint8_t first_restart = 0xD0;  // restarts run to 0xD7; start of image follows
constexpr uint8_t start_of_image = 0xD8;
constexpr uint8_t end_of_image = 0xD9;
constexpr uint8_t huffman_tables = 0xC4;
constexpr uint8_t start_of_scan = 0xDA;

// Binary PNM: "P5" grey, "P6" colour, then width, height and the largest sample value in
// decimal, the decoder adding up each in a signed 32-bit int.
constexpr uint8_t pnm_mark = 'P';
constexpr uint8_t pnm_grey = '5';
constexpr uint8_t pnm_colour = '6';
constexpr uint8_t pnm_comment_mark = '#';
constexpr int32_t pnm_header_numbers = 3;
constexpr int64_t max_pnm_number = INT32_MAX;

// A segment's length counts its own two bytes.
constexpr int32_t length_bytes = 2;
// A Huffman table opens with its class and id, then the number of codes of each of the
// 16 code lengths; its symbols follow, one byte each.
constexpr int32_t table_header_bytes = 1 + 16;
// The decoder keeps 256 symbols per table and writes one entry per code it is promised.
constexpr int32_t max_table_symbols = 256;

void refuse(ImageGuard& guard) { guard.refused = true; }

// A table header must fit in what is left of its segment; an empty rest ends the segment.
void start_table(ImageGuard& guard) {
    if (guard.segment_left == 0) {
        guard.phase = GuardPhase::between;
        return;
    }
    if (guard.segment_left < table_header_bytes) return refuse(guard);
    guard.segment_left -= table_header_bytes;
    guard.table_byte = 0;
    guard.table_symbols = 0;
    guard.phase = GuardPhase::table_header;
}

void enter(ImageGuard& guard, GuardPhase phase) {
    if (phase == GuardPhase::table_header) return start_table(guard);
    guard.phase = phase;
}

void skip(ImageGuard& guard, int32_t count, GuardPhase after) {
    if (count == 0) return enter(guard, after);
    guard.skip_left = count;
    guard.after_skip = after;
    guard.phase = GuardPhase::skipping;
}

void start_segment(ImageGuard& guard, int32_t payload) {
    if (guard.marker == huffman_tables) {
        // The decoder reads on past a length this short and then fails; refused alike.
        if (payload < 0) return refuse(guard);
        guard.segment_left = payload;
        return start_table(guard);
    }
    GuardPhase after = guard.marker == start_of_scan ? GuardPhase::entropy : GuardPhase::between;
    skip(guard, std::max(payload, 0), after);
}

void take_table_byte(ImageGuard& guard, uint8_t byte) {
    if (guard.table_byte > 0) guard.table_symbols += byte;  // the first byte is class and id
    if (guard.table_symbols > max_table_symbols) return refuse(guard);
    if (++guard.table_byte < table_header_bytes) return;
    if (guard.table_symbols > guard.segment_left) return refuse(guard);
    guard.segment_left -= guard.table_symbols;
    skip(guard, guard.table_symbols, GuardPhase::table_header);
}

// After 0xFF. Markers the decoder would refuse here are passed over rather than trusted to
// end the picture, so every segment it could reach is still checked.
void take_marker(ImageGuard& guard, uint8_t byte) {
    bool coded = guard.phase == GuardPhase::entropy_marker;
    if (byte == marker_prefix) return;  // fill before a marker
    if (byte == end_of_image) {
        guard.phase = GuardPhase::done;
        return;
    }
    bool stands_alone = byte == stuffed_zero || byte == temporary ||
                        (byte >= first_restart && byte <= start_of_image);
    if (stands_alone) {
        guard.phase = coded ? GuardPhase::entropy : GuardPhase::between;
        return;
    }
    guard.marker = byte;
    guard.phase = GuardPhase::length_high;
}

// The decoder's own white space test.
bool is_pnm_space(uint8_t byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
           byte == '\r';
}

bool is_digit(uint8_t byte) { return byte >= '0' && byte <= '9'; }

// Anything but space, a comment or a digit makes the decoder read every number left as 0.
void take_pnm_space(ImageGuard& guard, uint8_t byte) {
    if (is_pnm_space(byte)) return;
    if (byte == pnm_comment_mark) {
        guard.phase = GuardPhase::pnm_comment;
    } else if (is_digit(byte)) {
        guard.pnm_number = byte - '0';
        guard.phase = GuardPhase::pnm_digits;
    } else {
        guard.phase = GuardPhase::done;
    }
}

// The byte that ends a number is the decoder's first look for the next one.
void take_pnm_digit(ImageGuard& guard, uint8_t byte) {
    if (is_digit(byte)) {
        guard.pnm_number = guard.pnm_number * 10 + (byte - '0');
        if (guard.pnm_number > max_pnm_number) refuse(guard);
        return;
    }
    if (++guard.pnm_numbers == pnm_header_numbers) {
        guard.phase = GuardPhase::done;
        return;
    }
    guard.phase = GuardPhase::pnm_space;
    take_pnm_space(guard, byte);
}

void take_byte(ImageGuard& guard, uint8_t byte) {
    switch (guard.phase) {
        case GuardPhase::signature:
            guard.phase = byte == marker_prefix ? GuardPhase::signature_fill
                          : byte == pnm_mark    ? GuardPhase::pnm_kind
                                                : GuardPhase::done;
            return;
        case GuardPhase::pnm_kind:
            guard.phase = byte == pnm_grey || byte == pnm_colour ? GuardPhase::pnm_space
                                                                 : GuardPhase::done;
            return;
        case GuardPhase::pnm_space:
            return take_pnm_space(guard, byte);
        case GuardPhase::pnm_comment:
            if (byte == '\n' || byte == '\r') guard.phase = GuardPhase::pnm_space;
            return;
        case GuardPhase::pnm_digits:
            return take_pnm_digit(guard, byte);
        case GuardPhase::signature_fill:
            if (byte != marker_prefix) {
                guard.phase = byte == start_of_image ? GuardPhase::between : GuardPhase::done;
            }
            return;
        case GuardPhase::marker:
        case GuardPhase::entropy_marker:
            return take_marker(guard, byte);
        case GuardPhase::length_high:
            guard.length_high = byte;
            guard.phase = GuardPhase::length_low;
            return;
        case GuardPhase::length_low:
            return start_segment(guard, (int32_t{guard.length_high} << 8 | byte) - length_bytes);
        case GuardPhase::table_header:
            return take_table_byte(guard, byte);
        default:
            return;
    }
}

// Bytes up to the next 0xFF mean nothing here: found with memchr, as coded data is most
// of a JPEG.
const uint8_t* pass_to_marker(ImageGuard& guard, const uint8_t* at, const uint8_t* end) {
    auto* prefix = static_cast<const uint8_t*>(std::memchr(at, marker_prefix, size_t(end - at)));
    if (!prefix) return end;
    guard.phase = guard.phase == GuardPhase::entropy ? GuardPhase::entropy_marker
                                                     : GuardPhase::marker;
    return prefix + 1;
}

const uint8_t* pass_skipped(ImageGuard& guard, const uint8_t* at, const uint8_t* end) {
    int32_t count = static_cast<int32_t>(std::min<int64_t>(guard.skip_left, end - at));
    guard.skip_left -= count;
    if (guard.skip_left == 0) enter(guard, guard.after_skip);
    return at + count;
}

bool inside_table_segment(const ImageGuard& guard) {
    switch (guard.phase) {
        case GuardPhase::table_header:
            return true;
        case GuardPhase::skipping:
            return guard.after_skip == GuardPhase::table_header;
        case GuardPhase::length_high:
        case GuardPhase::length_low:
            return guard.marker == huffman_tables;
        default:
            return false;
    }
}

}  // namespace

bool image_guard_feed(ImageGuard& guard, const uint8_t* bytes, int64_t count) {
    const uint8_t* at = bytes;
    const uint8_t* end = bytes + std::max<int64_t>(count, 0);
    while (at < end && !guard.refused && guard.phase != GuardPhase::done) {
        switch (guard.phase) {
            case GuardPhase::between:
            case GuardPhase::entropy:
                at = pass_to_marker(guard, at, end);
                break;
            case GuardPhase::skipping:
                at = pass_skipped(guard, at, end);
                break;
            default:
                take_byte(guard, *at++);
                break;
        }
    }
    return !guard.refused;
}

bool image_guard_finish(const ImageGuard& guard) {
    return !guard.refused && !inside_table_segment(guard);
}

bool image_guard_accepts(const uint8_t* bytes, int64_t count) {
    ImageGuard guard{};
    return image_guard_feed(guard, bytes, count) && image_guard_finish(guard);
}
