// Checks on encoded pictures for faults of the image decoder that our code must keep it
// from: a JPEG Huffman table segment whose code counts add up past 256 makes it write past
// its tables; a binary PNM header number beyond 2^31 - 1 overflows its int; a JPEG without
// a scan, and a BMP pixel naming a colour its palette does not hold, would give pixels from
// memory the file never defined. The bytes are checked, in order, before the decoder gets
// them. State: the caller's ImageGuard record, one per picture.
#pragma once

#include <cstdint>

// What the next byte of a picture is to the check.
enum class GuardPhase : uint8_t {
    signature,       // the first byte: 0xFF for a JPEG, 'P' for a PNM, 'B' for a BMP
    signature_fill,  // more 0xFF, then 0xD8
    pnm_kind,        // '5' or '6' for the binary PNM kinds the decoder reads
    pnm_space,       // white space and comments before a header number
    pnm_comment,     // from '#' to the end of the line
    pnm_digits,      // a header number: width, height, then the largest sample value
    between,         // bytes between segments, skipped up to the next 0xFF
    marker,          // after 0xFF: fill, or the marker naming a segment
    length_high,     // the segment's 16-bit length, most significant byte first
    length_low,
    skipping,        // a segment's payload that holds nothing to check
    table_header,    // a Huffman table: class and id, then 16 code counts
    entropy,         // coded data after a scan header, up to the next marker
    entropy_marker,  // after 0xFF in coded data: fill, stuffing, restart or a marker
    bmp_header,      // a BMP's file and bitmap headers, up to its bits per pixel
    bmp_pixels,      // a BMP's rows of palette indices
    done,            // none of these, or past its end: nothing more to check
};

// What the BMP check keeps: the headers' first bytes, then where it stands in the rows.
constexpr int32_t bmp_header_bytes = 34;
struct BmpCheck {
    uint8_t header[bmp_header_bytes];
    int32_t header_read;
    int32_t colours;     // palette entries the decoder reads
    int32_t bits;        // bits per pixel: 1, 4 or 8
    int64_t width;       // pixels per row
    int64_t rows_left;
    int64_t row_byte;    // bytes of the current row read, its padding included
    int64_t row_bytes;   // bytes that hold the row's pixels
    int64_t padded_row;  // and with the padding to a multiple of 4
};

// Where the check stands in the bytes seen so far; start from ImageGuard{}.
struct ImageGuard {
    GuardPhase phase;
    GuardPhase after_skip;  // the phase once the bytes being skipped are through
    uint8_t marker;         // the segment being read
    uint8_t length_high;    // first byte of a segment length
    bool refused;           // sticky: a bad segment has been seen
    int32_t segment_left;   // bytes left in the current segment
    int32_t table_byte;     // bytes of the current Huffman table's header read
    int32_t table_symbols;  // the code counts of that header added up so far
    int32_t skip_left;      // bytes left to pass over unread
    int32_t pnm_numbers;    // PNM header numbers read whole
    int64_t pnm_number;     // the one being read
    int64_t pnm_max_value;  // a PNM's largest sample value, once read whole; else 0
    bool jpeg;              // the bytes start a JPEG
    bool jpeg_scan_seen;    // and a scan header has come
    BmpCheck bmp;
};

// Takes the next `count` bytes of the picture. False, from the first bad byte on, when
// they hold a JPEG Huffman table segment whose counts add up past 256 or whose tables do
// not fit its length, a JPEG's end before any scan, a binary PNM header number past
// 2^31 - 1 or a largest sample value of 0, or an uncompressed BMP pixel whose palette index
// lies past the entries the decoder reads (or a palette placed where it holds none); every
// prefix that was accepted is safe to decode. Bytes that start neither a JPEG (0xFF, any
// fill of 0xFF, 0xD8), a binary PNM ("P5", "P6") nor a BMP ("BM") are always accepted.
[[nodiscard]] bool image_guard_feed(ImageGuard& guard, const uint8_t* bytes, int64_t count);

// Whether the whole picture, now that its end has come, may be decoded: false when it was
// refused, ends inside a Huffman table segment, or is a JPEG that never reached a scan.
[[nodiscard]] bool image_guard_finish(const ImageGuard& guard);

// Both steps over a whole picture in memory.
[[nodiscard]] bool image_guard_accepts(const uint8_t* bytes, int64_t count);

// The decoder takes a PNG's palette colours from an array it never clears, so a pixel whose
// index lies past the palette gets whatever was there before. The file's bytes therefore
// reach it through this pass, which turns a paletted PNG into a grey one of the same depth
// (its IHDR colour type 3 becomes 0, and each tRNS chunk's type becomes one the decoder
// passes over) and keeps the palette and transparency aside: the caller gets the indices
// as grey levels and looks them up itself, refusing any past the palette. The pass changes
// bytes in place, never their number, so it works on any pieces. A PNG stores an index i of
// `depth` bits as the grey level i x 255 / (2^depth - 1).
enum class PngPhase : uint8_t { signature, length, type, data, checksum, done };

struct PngPalette {
    PngPhase phase;
    int64_t read;           // bytes of the current field (or chunk data) read
    uint32_t length;        // the current chunk's data length
    uint32_t type;          // the current chunk's type, big-endian
    uint32_t width;         // from the IHDR chunk
    uint32_t height;
    uint8_t depth;          // bits per index
    bool paletted;          // colour type 3 was turned into grey
    bool malformed;         // no palette before the data, or a tRNS the decoder would refuse
    bool data_seen;         // an IDAT chunk has come
    bool transparent;       // a tRNS chunk has come
    int32_t colours;        // entries of the last PLTE chunk
    uint8_t entries[256][4];  // red, green, blue and alpha (255 unless a tRNS says otherwise)
};

// Passes the next `count` bytes of a picture on through `palette`, changing them in place.
// Pictures that are not PNGs pass unchanged.
void png_palette_pass(PngPalette& palette, uint8_t* bytes, int64_t count);

// The palette index that a grey level of a paletted PNG stands for, or -1 when it names
// no entry (or the palette could not be used).
[[nodiscard]] int32_t png_palette_index(const PngPalette& palette, uint8_t grey);
