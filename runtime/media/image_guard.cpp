#include "runtime/media/image_guard.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
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

// BMP: "BM", then little-endian fields at these offsets of the file and bitmap headers.
constexpr uint8_t bmp_mark = 'B';
constexpr uint8_t bmp_mark_second = 'M';
constexpr int32_t bmp_pixels_offset_at = 10;  // 32 bits: where the rows start
constexpr int32_t bmp_info_size_at = 14;      // 32 bits: the bitmap header's size
constexpr int32_t bmp_file_header_bytes = 14;
// The oldest bitmap header (12 bytes) holds 16-bit sizes and 3-byte palette entries;
// every later one 32-bit sizes, a compression code and 4-byte entries.
constexpr int32_t bmp_core_info_size = 12;
constexpr int32_t bmp_core_width_at = 18, bmp_core_height_at = 20, bmp_core_bits_at = 24;
constexpr int32_t bmp_width_at = 18, bmp_height_at = 22, bmp_bits_at = 28, bmp_compression_at = 30;
// The bitmap header sizes the decoder knows; it refuses the rest on its own.
constexpr int32_t bmp_info_sizes[] = {bmp_core_info_size, 40, 56, 108, 124};
constexpr int32_t bmp_core_entry_bytes = 3;
constexpr int32_t bmp_entry_bytes = 4;
// The decoder takes the palette to fill all the room before the rows, but reckons the
// oldest header 24 bytes long when it does.
constexpr int32_t bmp_core_palette_start = bmp_file_header_bytes + 24;
constexpr int32_t bmp_uncompressed = 0;
constexpr int32_t bmp_row_alignment = 4;

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
    bool scan = guard.marker == start_of_scan;
    if (scan) guard.jpeg_scan_seen = true;
    skip(guard, std::max(payload, 0), scan ? GuardPhase::entropy : GuardPhase::between);
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
        // Without a scan the decoder would deliver its buffers as they were.
        if (!guard.jpeg_scan_seen) return refuse(guard);
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
        // The largest sample value then reads as 0, which scales nothing.
        refuse(guard);
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
        guard.pnm_max_value = guard.pnm_number;
        guard.phase = GuardPhase::done;
        if (guard.pnm_max_value == 0) refuse(guard);
        return;
    }
    guard.phase = GuardPhase::pnm_space;
    take_pnm_space(guard, byte);
}

uint32_t little_endian(const uint8_t* bytes, int32_t count) {
    uint32_t value = 0;
    for (int32_t i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

// Uncompressed 1, 4 and 8 bits per pixel index a palette; the decoder refuses other
// paletted kinds (run-length coded ones among them) on its own.
bool is_indexed(uint32_t bits) { return bits == 1 || bits == 4 || bits == 8; }

bool is_known_info_size(int32_t size) {
    return std::find(std::begin(bmp_info_sizes), std::end(bmp_info_sizes), size) !=
           std::end(bmp_info_sizes);
}

// Once the headers are in: how many palette entries the decoder reads, and so which
// indices it can look up; then on to the rows, or done when every index is covered.
void start_bmp_rows(ImageGuard& guard) {
    BmpCheck& bmp = guard.bmp;
    const uint8_t* h = bmp.header;
    auto rows_at = static_cast<int32_t>(little_endian(h + bmp_pixels_offset_at, 4));
    auto info_size = static_cast<int32_t>(little_endian(h + bmp_info_size_at, 4));
    bool core = info_size == bmp_core_info_size;
    uint32_t bits = little_endian(h + (core ? bmp_core_bits_at : bmp_bits_at), 2);
    // The decoder reads the code as a signed int and refuses 1 to 3 (run lengths, masks) and
    // 4 and up for paletted pixels: a negative code passes as uncompressed, like 0.
    auto compression = static_cast<int32_t>(little_endian(h + bmp_compression_at, 4));
    bool uncompressed = core || compression <= bmp_uncompressed;
    guard.phase = GuardPhase::done;
    if (!is_indexed(bits) || !uncompressed || rows_at < 0 || !is_known_info_size(info_size)) return;
    int64_t colours = core ? (int64_t{rows_at} - bmp_core_palette_start) / bmp_core_entry_bytes
                           : (int64_t{rows_at} - bmp_file_header_bytes - info_size) / bmp_entry_bytes;
    // Fewer than one entry leaves the whole palette undefined (the decoder only refuses 0).
    if (colours < 1) return refuse(guard);
    if (colours >= (int64_t{1} << bits)) return;
    bmp.colours = static_cast<int32_t>(colours);
    bmp.bits = static_cast<int32_t>(bits);
    bmp.width = core ? little_endian(h + bmp_core_width_at, 2) : little_endian(h + bmp_width_at, 4);
    uint32_t height = core ? little_endian(h + bmp_core_height_at, 2) : little_endian(h + bmp_height_at, 4);
    // A negative height means rows top down; the decoder takes its size either way.
    bmp.rows_left = core ? height : std::abs(int64_t{static_cast<int32_t>(height)});
    bmp.row_bytes = (bmp.width * bits + 7) / 8;
    bmp.padded_row = (bmp.row_bytes + bmp_row_alignment - 1) / bmp_row_alignment * bmp_row_alignment;
    bmp.row_byte = 0;
    if (bmp.width == 0 || bmp.rows_left == 0) return;
    // The decoder reads the palette, then passes over the rest, up to where the rows start.
    skip(guard, rows_at - bmp_header_bytes, GuardPhase::bmp_pixels);
}

void take_bmp_header_byte(ImageGuard& guard, uint8_t byte) {
    BmpCheck& bmp = guard.bmp;
    bmp.header[bmp.header_read++] = byte;
    if (bmp.header_read == 2 && byte != bmp_mark_second) guard.phase = GuardPhase::done;
    if (bmp.header_read == bmp_header_bytes) start_bmp_rows(guard);
}

// Each pixel of the row that this byte holds must name an entry of the palette; the
// bits past the row's last pixel and the padding name nothing.
void take_bmp_pixel_byte(ImageGuard& guard, uint8_t byte) {
    BmpCheck& bmp = guard.bmp;
    if (bmp.row_byte < bmp.row_bytes) {
        int32_t per_byte = 8 / bmp.bits;
        int64_t first = bmp.row_byte * per_byte;
        int32_t mask = (1 << bmp.bits) - 1;
        for (int32_t k = 0; k < per_byte && first + k < bmp.width; ++k) {
            int32_t index = byte >> (8 - bmp.bits * (k + 1)) & mask;
            if (index >= bmp.colours) return refuse(guard);
        }
    }
    if (++bmp.row_byte < bmp.padded_row) return;
    bmp.row_byte = 0;
    if (--bmp.rows_left == 0) guard.phase = GuardPhase::done;
}

void take_byte(ImageGuard& guard, uint8_t byte) {
    switch (guard.phase) {
        case GuardPhase::signature:
            guard.phase = byte == marker_prefix ? GuardPhase::signature_fill
                          : byte == pnm_mark    ? GuardPhase::pnm_kind
                          : byte == bmp_mark    ? GuardPhase::bmp_header
                                                : GuardPhase::done;
            if (guard.phase == GuardPhase::bmp_header) take_bmp_header_byte(guard, byte);
            return;
        case GuardPhase::bmp_header:
            return take_bmp_header_byte(guard, byte);
        case GuardPhase::bmp_pixels:
            return take_bmp_pixel_byte(guard, byte);
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
                guard.jpeg = byte == start_of_image;
                guard.phase = guard.jpeg ? GuardPhase::between : GuardPhase::done;
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

// Inside a PNM header at the end: the numbers left read as 0 and no pixel follows.
bool inside_pnm_header(const ImageGuard& guard) {
    return guard.phase == GuardPhase::pnm_space || guard.phase == GuardPhase::pnm_comment ||
           guard.phase == GuardPhase::pnm_digits;
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
    if (guard.jpeg && !guard.jpeg_scan_seen) return false;
    if (inside_pnm_header(guard)) return false;
    return !guard.refused && !inside_table_segment(guard);
}

bool image_guard_accepts(const uint8_t* bytes, int64_t count) {
    ImageGuard guard{};
    return image_guard_feed(guard, bytes, count) && image_guard_finish(guard);
}

namespace {

constexpr uint8_t png_signature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr int32_t png_field_bytes = 4;
constexpr uint32_t png_type(const char (&name)[5]) {
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
           uint32_t(uint8_t(name[2])) << 8 | uint8_t(name[3]);
}
constexpr uint32_t png_header = png_type("IHDR");
constexpr uint32_t png_palette_chunk = png_type("PLTE");
constexpr uint32_t png_transparency = png_type("tRNS");
constexpr uint32_t png_data = png_type("IDAT");
// The type's last byte for a tRNS hidden from the decoder: the first byte still marks
// it ancillary, so the decoder passes over it as a chunk it does not know.
constexpr uint8_t hidden_transparency_last = 'x';
constexpr int32_t ihdr_width_at = 0;   // 32 bits, then the height
constexpr int32_t ihdr_height_at = 4;
constexpr int32_t ihdr_depth_at = 8;
// The decoder refuses paletted pictures of more than this many bytes at 4 bytes a pixel
// (grey ones at 1): one it would refuse stays paletted, so that it still does.
constexpr uint64_t paletted_pixel_limit = uint64_t{1} << 30;
constexpr uint64_t paletted_pixel_bytes = 4;
constexpr int32_t ihdr_colour_at = 9;
constexpr uint8_t colour_paletted = 3;
constexpr uint8_t colour_grey = 0;
constexpr uint8_t depth_16 = 16;  // not allowed with a palette: the decoder refuses it
constexpr int32_t max_entries = 256;
constexpr int32_t rgb_bytes = 3;
constexpr uint8_t opaque = 255;
constexpr int32_t max_grey = 255;

void start_chunk_data(PngPalette& p) {
    p.read = 0;
    if (p.type == png_palette_chunk) {
        // The decoder takes the last palette whole and makes its entries opaque again.
        p.colours = static_cast<int32_t>(std::min<uint32_t>(p.length / rgb_bytes, max_entries));
        for (auto& entry : p.entries) entry[3] = opaque;
    } else if (p.type == png_data) {
        if (p.paletted && p.colours == 0) p.malformed = true;
        p.data_seen = true;
    } else if (p.type == png_transparency && p.paletted) {
        // What the decoder refuses in a paletted PNG: too late, too early, or too long.
        if (p.data_seen || p.colours == 0 || p.length > uint32_t(p.colours)) p.malformed = true;
        p.transparent = true;
    }
    p.phase = p.length == 0 ? PngPhase::checksum : PngPhase::data;
}

void take_type_byte(PngPalette& p, uint8_t& byte) {
    p.type = p.type << 8 | byte;
    if (++p.read < png_field_bytes) return;
    if (p.type == png_transparency && p.paletted) byte = hidden_transparency_last;
    start_chunk_data(p);
}

void take_data_byte(PngPalette& p, uint8_t& byte) {
    int64_t at = p.read;
    if (p.type == png_header) {
        if (at >= ihdr_width_at && at < ihdr_height_at) p.width = p.width << 8 | byte;
        if (at >= ihdr_height_at && at < ihdr_depth_at) p.height = p.height << 8 | byte;
        if (at == ihdr_depth_at) p.depth = byte;
        bool decodable = p.depth != depth_16 && p.width > 0 &&
                         paletted_pixel_limit / p.width / paletted_pixel_bytes >= p.height;
        if (at == ihdr_colour_at && byte == colour_paletted && decodable) {
            byte = colour_grey;
            p.paletted = true;
        }
    } else if (p.type == png_palette_chunk && at < max_entries * rgb_bytes) {
        p.entries[at / rgb_bytes][at % rgb_bytes] = byte;
    } else if (p.type == png_transparency && p.paletted && at < max_entries) {
        p.entries[at][3] = byte;
    }
}

// Passes the rest of a chunk's data, or what of it these bytes hold; returns the bytes used.
int64_t take_data(PngPalette& p, uint8_t* bytes, int64_t count) {
    int64_t left = int64_t{p.length} - p.read;
    int64_t used = std::min(left, count);
    bool looked_at = p.type == png_header || p.type == png_palette_chunk || p.type == png_transparency;
    if (looked_at) {
        for (int64_t i = 0; i < used; ++i, ++p.read) take_data_byte(p, bytes[i]);
    } else {
        // Other data, the compressed pixels above all, passes in one step.
        p.read += used;
    }
    if (used == left) {
        p.phase = PngPhase::checksum;
        p.read = 0;
    }
    return used;
}

void take_png_byte(PngPalette& p, uint8_t& byte) {
    switch (p.phase) {
        case PngPhase::signature:
            if (byte != png_signature[p.read]) {
                p.phase = PngPhase::done;
                return;
            }
            if (++p.read == int32_t(sizeof png_signature)) {
                p.phase = PngPhase::length;
                p.read = 0;
            }
            return;
        case PngPhase::length:
            p.length = p.length << 8 | byte;
            if (++p.read == png_field_bytes) {
                p.phase = PngPhase::type;
                p.read = 0;
                p.type = 0;
            }
            return;
        case PngPhase::type:
            return take_type_byte(p, byte);
        case PngPhase::checksum:
            if (++p.read == png_field_bytes) {
                p.phase = PngPhase::length;
                p.read = 0;
                p.length = 0;
            }
            return;
        default:
            return;
    }
}

}  // namespace

void png_palette_pass(PngPalette& palette, uint8_t* bytes, int64_t count) {
    int64_t at = 0;
    while (at < count && palette.phase != PngPhase::done) {
        if (palette.phase == PngPhase::data) {
            at += take_data(palette, bytes + at, count - at);
        } else {
            take_png_byte(palette, bytes[at++]);
        }
    }
}

int32_t png_palette_index(const PngPalette& palette, uint8_t grey) {
    if (!palette.paletted || palette.malformed) return -1;
    int32_t depth = palette.depth;
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return -1;
    int32_t step = max_grey / ((1 << depth) - 1);
    int32_t index = grey / step;
    return grey % step == 0 && index < palette.colours ? index : -1;
}
