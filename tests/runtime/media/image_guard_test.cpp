#include "runtime/media/image_guard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes repeat(uint8_t byte, size_t count) { return Bytes(count, byte); }

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

const Bytes start_of_image = {0xFF, 0xD8};
const Bytes end_of_image = {0xFF, 0xD9};

// A segment with `marker` whose length field counts `payload` and itself.
Bytes segment(uint8_t marker, const Bytes& payload) {
    size_t length = payload.size() + 2;
    return Bytes{0xFF, marker, uint8_t(length >> 8), uint8_t(length & 0xFF)} + payload;
}

// One Huffman table: class and id, 16 code counts, then as many symbols as they add up to
// (or `symbols` of them when given, to make the table lie).
Bytes table(const std::vector<int>& counts, int symbols = -1) {
    Bytes out = {0x00};
    int sum = 0;
    for (int i = 0; i < 16; ++i) {
        int count = i < int(counts.size()) ? counts[i] : 0;
        out.push_back(uint8_t(count));
        sum += count;
    }
    return out + repeat(0x01, size_t(symbols < 0 ? sum : symbols));
}

Bytes huffman(const Bytes& tables) { return segment(0xC4, tables); }

// A scan header for one component, then coded bytes.
Bytes scan(const Bytes& coded) { return segment(0xDA, {0x01, 0x01, 0x00, 0x00, 0x3F, 0x00}) + coded; }

std::string fixture(const char* name) { return std::string(TEST_DATA_DIR) + "/image/" + name; }

Bytes from_hex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

void put_le(Bytes& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// An uncompressed BMP with `colours` palette entries of `bits` per pixel, `width` pixels a
// row and `rows` rows (a negative count: top down) of `pixels`, each row padded to 4 bytes.
// The oldest 12-byte bitmap header when `core`.
Bytes indexed_bmp(int colours, int bits, int width, int rows, const Bytes& pixels, bool core = false) {
    int info = core ? 12 : 40, entry = core ? 3 : 4;
    // The decoder reckons the oldest header's palette from 24 bytes past the file header.
    int offset = core ? 14 + 24 + colours * entry : 14 + info + colours * entry;
    Bytes out = bytes_of("BM");
    put_le(out, 0, 4);                       // file size, unread
    put_le(out, 0, 4);                       // reserved
    put_le(out, uint32_t(offset), 4);
    put_le(out, uint32_t(info), 4);
    put_le(out, uint32_t(width), core ? 2 : 4);
    put_le(out, uint32_t(rows), core ? 2 : 4);
    put_le(out, 1, 2);                       // planes
    put_le(out, uint32_t(bits), 2);
    for (int field = 0; field < (core ? 0 : 6); ++field) put_le(out, 0, 4);  // uncompressed, all unread
    while (int(out.size()) < offset) out.push_back(0x40);  // palette, then any gap
    return out + pixels;
}

struct GuardCase {
    const char* what;
    Bytes bytes;
    bool accepted;
};

std::vector<GuardCase> cases() {
    Bytes full = table({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255}) ;
    return {
        // --- not JPEG at all: never the guard's business ---
        {"nothing", {}, true},
        {"PNG signature", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, true},
        {"lone 0xFF", {0xFF}, true},
        {"0xFF then not 0xD8", {0xFF, 0xC4, 0x21, 0x31, 0x03, 0xFC, 0xC4}, true},
        // --- binary PNM header numbers, each added up in a signed 32-bit int ---
        {"PPM header", bytes_of("P6\n640 480\n255\n"), true},
        {"numbers of 2^31 - 1", bytes_of("P5 2147483647 2147483647 2147483647 "), true},
        {"width of 2^31", bytes_of("P6 2147483648 1 255\n"), false},
        {"height past 2^31, found by fuzzing", bytes_of("P6\n0  0000000000\n2500000000\n255\n"), false},
        {"largest value past 2^31", bytes_of("P5\n1 1\n99999999999\n"), false},
        {"numbers after comments", bytes_of("P5#c\n#d 9\r1 1 #99999999999\n3\n"), true},
        {"a number hidden in a comment", bytes_of("P5\n#99999999999\n1 1 255\n"), true},
        {"a number straight after the kind", bytes_of("P699999999999 1 255"), false},
        {"pixels after the header are not numbers", bytes_of("P5 1 1 255\n99999999999"), true},
        // Anything else ends the header: the numbers left, the largest sample value among them,
        // read as 0, which scales nothing.
        {"anything else ends the header", bytes_of("P5 1x99999999999 255"), false},
        {"largest value 0", bytes_of("P5 1 1 0\n\x01"), false},
        {"largest value 1", bytes_of("P5 1 1 1\n\x01"), true},
        {"data ends inside the header", bytes_of("P5 1 1 25"), false},
        {"PNM kinds the decoder does not read", bytes_of("P3 99999999999 1 255"), true},
        // --- the counts ---
        {"counts past 256, found by fuzzing", from_hex("ffd8ffc4213103fcc4"), false},
        {"256 symbols", start_of_image + huffman(table({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 255})) + scan({0x12}), true},
        {"257 symbols", start_of_image + huffman(table({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 255})), false},
        {"257 symbols in a later table", start_of_image + huffman(table({1, 2}) + full + table({2, 255})), false},
        {"several tables in one segment", start_of_image + huffman(table({1, 2}) + full + table({0, 4})) + scan({0x12}) + end_of_image, true},
        {"an empty segment", start_of_image + huffman({}) + scan({0x12}) + end_of_image, true},
        // --- the lengths ---
        {"symbols run past the segment", start_of_image + huffman(table({0, 3}, 2)) + repeat(0x01, 8), false},
        {"a table header cut by the length", start_of_image + huffman(table({0, 3}) + Bytes{0x00, 0x00}) + repeat(0, 20), false},
        {"length 0", start_of_image + Bytes{0xFF, 0xC4, 0x00, 0x00} + repeat(0, 20), false},
        {"length 1", start_of_image + Bytes{0xFF, 0xC4, 0x00, 0x01} + repeat(0, 20), false},
        {"data ends inside the symbols", start_of_image + Bytes{0xFF, 0xC4, 0x00, 0x16} + table({3}, 1), false},
        {"data ends inside the header", start_of_image + Bytes{0xFF, 0xC4, 0x00, 0x15, 0x00, 0x01}, false},
        {"data ends inside the length", start_of_image + Bytes{0xFF, 0xC4, 0x00}, false},
        // --- where the decoder looks for segments ---
        {"fill bytes before the marker", start_of_image + repeat(0xFF, 5) + huffman(table({0, 0, 200, 100})), false},
        {"junk between segments", start_of_image + Bytes{1, 2, 3} + huffman(table({0, 0, 200, 100})), false},
        {"after coded data, restarts and stuffing",
         start_of_image + scan({0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56}) + huffman(table({0, 0, 200, 100})), false},
        {"a good table between scans", start_of_image + scan({0x12}) + huffman(full) + scan({0x34}) + end_of_image, true},
        {"0xFF 0xC4 inside an application segment", start_of_image + segment(0xE1, {0xFF, 0xC4, 0x21, 0x31, 0x03, 0xFC}) + scan({0x12}) + end_of_image, true},
        {"0xFF 0x00 0xC4 in coded data", start_of_image + scan({0xFF, 0x00, 0xC4, 0x21, 0x31, 0x03, 0xFC}) + end_of_image, true},
        {"anything after the end of the image", start_of_image + scan({0x12}) + end_of_image + huffman(table({0, 0, 200, 100})), true},
        // --- a scan: without one the decoder delivers its buffers as they were ---
        {"tables and the end, no scan", start_of_image + huffman(full) + end_of_image, false},
        {"tables, no scan, no end", start_of_image + huffman(full), false},
        {"a scan marker inside another segment", start_of_image + segment(0xE1, {0xFF, 0xDA, 0x00, 0x02}) + end_of_image, false},
        {"a scan and no end", start_of_image + scan({0x12}), true},
        // --- BMP palette indices: each must name an entry the decoder read ---
        {"8 bits, index 0 of 1 colour", indexed_bmp(1, 8, 3, 1, {0, 0, 0, 0xFF}), true},
        {"8 bits, index 1 of 1 colour", indexed_bmp(1, 8, 3, 1, {0, 1, 0, 0}), false},
        {"8 bits, index 255 of 255 colours", indexed_bmp(255, 8, 1, 1, {255, 0, 0, 0}), false},
        {"8 bits, index 254 of 255 colours", indexed_bmp(255, 8, 1, 1, {254, 0, 0, 0}), true},
        {"8 bits, a full palette", indexed_bmp(256, 8, 1, 1, {255, 0, 0, 0}), true},
        {"8 bits, the padding is no pixel", indexed_bmp(2, 8, 1, 2, {1, 9, 9, 9, 0, 9, 9, 9}), true},
        {"8 bits, a bad index in the last row", indexed_bmp(2, 8, 1, 2, {1, 9, 9, 9, 2, 9, 9, 9}), false},
        {"8 bits, top-down rows", indexed_bmp(2, 8, 1, -2, {1, 0, 0, 0, 7, 0, 0, 0}), false},
        {"8 bits, rows cut short read as index 0", indexed_bmp(2, 8, 4, 3, {1, 1}), true},
        {"4 bits, high nibble", indexed_bmp(3, 4, 2, 1, {0x32, 0, 0, 0}), false},
        {"4 bits, low nibble", indexed_bmp(3, 4, 2, 1, {0x23, 0, 0, 0}), false},
        {"4 bits, the nibble past an odd row", indexed_bmp(3, 4, 1, 1, {0x2F, 0, 0, 0}), true},
        {"1 bit, the last pixel", indexed_bmp(1, 1, 8, 1, {0x01, 0, 0, 0}), false},
        {"1 bit, bits past the row", indexed_bmp(1, 1, 7, 1, {0x01, 0, 0, 0}), true},
        {"1 bit, two colours", indexed_bmp(2, 1, 8, 1, {0xFF, 0, 0, 0}), true},
        {"oldest header, index 1 of 1 colour", indexed_bmp(1, 8, 1, 1, {1, 0, 0, 0}, true), false},
        {"oldest header, index 0 of 1 colour", indexed_bmp(1, 8, 1, 1, {0, 0, 0, 0}, true), true},
        {"rows straight after the headers: no palette", indexed_bmp(0, 8, 1, 1, {0, 0, 0, 0}), false},
        {"rows placed inside the headers", [] {
             Bytes bmp = indexed_bmp(1, 8, 1, 1, {0, 0, 0, 0});
             bmp[10] = 20;  // rows at 20: the palette would start after them
             return bmp;
         }(), false},
        {"24 bits holds no indices", indexed_bmp(0, 24, 1, 1, {1, 2, 3, 0}), true},
        // Found by fuzzing: the decoder takes a negative compression code as none at all.
        {"a negative compression code", [] {
             Bytes bmp = indexed_bmp(1, 8, 1, 1, {1, 0, 0, 0});
             for (size_t at = 30; at < 34; ++at) bmp[at] = 0xC2;
             return bmp;
         }(), false},
        {"run-length coded: refused by the decoder itself", [] {
             Bytes bmp = indexed_bmp(1, 8, 1, 1, {1, 0, 0, 0});
             bmp[30] = 1;
             return bmp;
         }(), true},
        {"BM and then not a BMP", bytes_of("BMx"), true},
        {"a second start of image", start_of_image + start_of_image + huffman(table({0, 0, 200, 100})), false},
    };
}

bool fed_in_pieces(const Bytes& bytes, size_t piece) {
    ImageGuard guard{};
    for (size_t at = 0; at < bytes.size(); at += piece) {
        size_t count = std::min(piece, bytes.size() - at);
        if (!image_guard_feed(guard, bytes.data() + at, int64_t(count))) return false;
    }
    return image_guard_finish(guard);
}

TEST(ImageGuard, JudgesHuffmanTablesAndPnmHeaders) {
    for (const GuardCase& c : cases()) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(image_guard_accepts(c.bytes.data(), int64_t(c.bytes.size())), c.accepted);
    }
}

// Files reach the guard in the pieces the decoder reads: a segment may break anywhere.
TEST(ImageGuard, GivesTheSameAnswerInEveryPieceSize) {
    for (const GuardCase& c : cases()) {
        for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{128}}) {
            SCOPED_TRACE(testing::Message() << c.what << ", pieces of " << piece);
            EXPECT_EQ(fed_in_pieces(c.bytes, piece), c.accepted);
        }
    }
}

TEST(ImageGuard, AcceptsEveryJpegFixture) {
    for (const char* name : {"rgb.jpg", "grey.jpg", "progressive.jpg"}) {
        SCOPED_TRACE(name);
        Bytes bytes = read_bytes(fixture(name));
        ASSERT_FALSE(bytes.empty());
        EXPECT_TRUE(image_guard_accepts(bytes.data(), int64_t(bytes.size())));
        EXPECT_TRUE(fed_in_pieces(bytes, 1));
    }
}

// Once refused, the rest of the bytes cannot make the picture acceptable again.
TEST(ImageGuard, RefusalSticks) {
    Bytes bad = from_hex("ffd8ffc4213103fcc4");
    ImageGuard guard{};
    EXPECT_FALSE(image_guard_feed(guard, bad.data(), int64_t(bad.size())));
    Bytes rest = repeat(0, 600) + end_of_image;
    EXPECT_FALSE(image_guard_feed(guard, rest.data(), int64_t(rest.size())));
    EXPECT_FALSE(image_guard_finish(guard));
}

// --- the PNG palette pass ---

Bytes be32(uint32_t value) {
    return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

// A chunk with a checksum of 0: the pass and the decoder never look at it.
Bytes png_chunk(const char* type, const Bytes& data) {
    return be32(uint32_t(data.size())) + Bytes(type, type + 4) + data + be32(0);
}

Bytes png_with(uint8_t colour, uint8_t depth, const Bytes& rest) {
    Bytes header = be32(3) + be32(2) + Bytes{depth, colour, 0, 0, 0};
    return Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A} + png_chunk("IHDR", header) + rest;
}

PngPalette passed_in_pieces(Bytes& bytes, size_t piece) {
    PngPalette palette{};
    for (size_t at = 0; at < bytes.size(); at += piece) {
        png_palette_pass(palette, bytes.data() + at, int64_t(std::min(piece, bytes.size() - at)));
    }
    return palette;
}

TEST(PngPalettePass, TurnsAPalettedPngGreyInAnyPieces) {
    const Bytes rest = png_chunk("PLTE", {1, 2, 3, 4, 5, 6}) + png_chunk("tRNS", {9}) +
                       png_chunk("IDAT", repeat(0xAB, 300)) + png_chunk("IEND", {});
    const Bytes original = png_with(3, 4, rest);
    Bytes want = original;
    want[8 + 8 + 9] = 0;  // the colour type, 9 bytes into the IHDR data
    size_t trns = 8 + 25 + 12 + 6;
    ASSERT_EQ(std::string(want.begin() + long(trns) + 4, want.begin() + long(trns) + 8), "tRNS");
    want[trns + 7] = 'x';
    for (size_t piece : {size_t{1}, size_t{2}, size_t{5}, size_t{13}, size_t{4096}}) {
        SCOPED_TRACE(piece);
        Bytes bytes = original;
        PngPalette palette = passed_in_pieces(bytes, piece);
        EXPECT_EQ(bytes, want);
        EXPECT_TRUE(palette.paletted);
        EXPECT_FALSE(palette.malformed);
        EXPECT_TRUE(palette.transparent);
        EXPECT_EQ(palette.colours, 2);
        EXPECT_EQ(std::vector<int>(palette.entries[0], palette.entries[0] + 4), (std::vector<int>{1, 2, 3, 9}));
        EXPECT_EQ(std::vector<int>(palette.entries[1], palette.entries[1] + 4), (std::vector<int>{4, 5, 6, 255}));
    }
}

TEST(PngPalettePass, LeavesOtherPicturesAlone) {
    const Bytes rest = png_chunk("tRNS", {0, 1, 0, 2, 0, 3}) + png_chunk("IDAT", {1}) + png_chunk("IEND", {});
    const std::vector<Bytes> pictures = {
        png_with(2, 8, rest),                       // colour: its tRNS is a colour key
        png_with(3, 16, rest),                      // refused by the decoder as it is
        bytes_of("P5 1 1 255\n\x03"),
        start_of_image + scan({0x12}) + end_of_image,
        {0x89, 'P', 'N', 'G', 0x00},                // not quite the signature
    };
    for (const Bytes& picture : pictures) {
        Bytes bytes = picture;
        PngPalette palette = passed_in_pieces(bytes, 3);
        EXPECT_EQ(bytes, picture);
        EXPECT_FALSE(palette.paletted);
    }
}

struct IndexCase {
    uint8_t depth;
    int colours;
    uint8_t grey;
    int32_t index;  // -1: names no entry
};

TEST(PngPalettePass, ReadsIndicesBackFromGreyLevels) {
    const IndexCase cases[] = {
        {8, 256, 255, 255}, {8, 255, 255, -1}, {8, 1, 0, 0}, {8, 1, 1, -1},
        {4, 16, 0xFF, 15},  {4, 15, 0xFF, -1}, {4, 16, 0x22, 2}, {4, 16, 0x23, -1},
        {2, 4, 0xAA, 2},    {2, 2, 0xAA, -1},  {1, 2, 0xFF, 1},  {1, 1, 0xFF, -1},
    };
    for (const IndexCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "depth " << int{c.depth} << ", " << c.colours << " colours, grey " << int{c.grey});
        PngPalette palette{};
        palette.paletted = true;
        palette.depth = c.depth;
        palette.colours = c.colours;
        EXPECT_EQ(png_palette_index(palette, c.grey), c.index);
        palette.malformed = true;
        EXPECT_EQ(png_palette_index(palette, c.grey), -1);
    }
}

}  // namespace

