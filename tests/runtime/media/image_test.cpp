#include "runtime/media/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "runtime/media/pool.h"

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// The fixtures under tests/data/image are 8 x 6 pictures of one pattern (see make.sh there).
constexpr int pattern_width = 8;
constexpr int pattern_height = 6;
constexpr int64_t pool_bytes = 4 << 20;

struct Pixel {
    int r, g, b, a;
};

// The source pixel at (x, y) of a fixture of `kind`: colour with or without alpha, or grey.
enum class Kind { rgba, rgb, grey };

Pixel pattern_pixel(Kind kind, int x, int y) {
    int grey = 10 + 5 * (x + 8 * y);
    if (kind == Kind::grey) return {grey, grey, grey, 255};
    int alpha = kind == Kind::rgba ? 255 - 5 * (x + 8 * y) : 255;
    return {30 * x + 15, 40 * y + 20, 255 - 20 * (x + y), alpha};
}

// The decoder's grey for a colour pixel: ITU-R BT.601 weights, rounded either way.
int luma(Pixel p) { return (p.r * 299 + p.g * 587 + p.b * 114) / 1000; }

// What `channels` channels of a pixel hold once converted.
std::vector<int> channel_values(Pixel p, int channels, bool colour_source) {
    int grey = colour_source ? luma(p) : p.r;
    switch (channels) {
        case 1: return {grey};
        case 2: return {grey, p.a};
        case 3: return {p.r, p.g, p.b};
        default: return {p.r, p.g, p.b, p.a};
    }
}

std::string fixture(const char* name) { return std::string(TEST_DATA_DIR) + "/image/" + name; }

// Compares every channel of every pixel of `image` with the pattern, rows bottom to top
// when `flipped`; `tolerance` absorbs lossy coding and grey rounding. Reports the first miss.
void expect_pattern(Image image, Kind kind, int channels, int tolerance, bool flipped,
                    int width = pattern_width, int height = pattern_height) {
    ASSERT_NE(image.data, nullptr);
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    for (int y = 0; y < height; ++y) {
        int source_y = flipped ? height - 1 - y : y;
        for (int x = 0; x < width; ++x) {
            std::vector<int> want = channel_values(pattern_pixel(kind, x, source_y), channels,
                                                   kind != Kind::grey);
            const uint8_t* got = image.data + (int64_t{y} * width + x) * channels;
            for (int c = 0; c < channels; ++c) {
                if (std::abs(got[c] - want[c]) > tolerance) {
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") channel " << c << ": got "
                                  << int{got[c]} << ", wanted " << want[c] << " +- " << tolerance;
                    return;
                }
            }
        }
    }
}

// A w x h picture of the pattern with `channels` bytes per pixel, as a program holds it:
// grey (and alpha) for 1 and 2 channels, colour (and alpha) for 3 and 4.
std::vector<uint8_t> pattern_pixels(int channels, int w, int h) {
    std::vector<uint8_t> pixels;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Pixel colour = pattern_pixel(Kind::rgba, x, y);
            int grey = pattern_pixel(Kind::grey, x, y).r;
            Pixel source = channels <= 2 ? Pixel{grey, grey, grey, colour.a} : colour;
            for (int v : channel_values(source, channels, false)) {
                pixels.push_back(static_cast<uint8_t>(v));
            }
        }
    }
    return pixels;
}

class ImageTest : public testing::Test {
protected:
    std::vector<uint8_t> pool = std::vector<uint8_t>(pool_bytes);
    TemporaryFolder folder;

    void SetUp() override {
        image_set_buffer(pool_bytes, pool.data());
        image_set_flip(0);
    }

    void TearDown() override {
        image_set_flip(0);
        image_set_buffer(0, nullptr);
    }

    std::string temp(const std::string& name) const { return folder.file(name); }

    Image load(const std::string& path, int8_t channels) {
        return image_load(slice_of(path), channels);
    }

    bool save(Image image, const std::string& path, int8_t channels) {
        return image_save(image, slice_of(path), channels);
    }

    bool in_pool(const void* p) const {
        auto* byte = static_cast<const uint8_t*>(p);
        return byte >= pool.data() && byte < pool.data() + pool.size();
    }
};

void expect_empty(Image image) {
    EXPECT_EQ(image.data, nullptr);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 0);
}

// --- decoding files an independent encoder wrote ---

struct FixtureCase {
    const char* file;
    Kind kind;
    int own_channels;  // what channels 0 delivers
    int tolerance;     // 0 for lossless formats
};

const FixtureCase fixtures[] = {
    {"rgba8.png", Kind::rgba, 4, 0},
    {"rgba16.png", Kind::rgba, 4, 0},  // 16-bit samples come down to 8 bits
    {"grey.png", Kind::grey, 1, 0},
    {"rgb24.bmp", Kind::rgb, 3, 0},
    {"rgba32.bmp", Kind::rgba, 4, 0},
    {"rgba.tga", Kind::rgba, 4, 0},
    {"rgb.psd", Kind::rgb, 4, 0},  // PSD too, whatever it holds
    {"rgb.gif", Kind::rgb, 4, 0},  // GIF always decodes with 4 channels of its own
    {"rgb.ppm", Kind::rgb, 3, 0},
    {"grey.pgm", Kind::grey, 1, 0},
    // 16-bit PNM, scaled from 0..65535 rounding down: the pattern's byte, or one less where
    // the low byte is smaller (as other readers give them).
    {"rgb16.ppm", Kind::rgb, 3, 1},
    {"grey16.pgm", Kind::grey, 1, 1},
    {"rgb.jpg", Kind::rgb, 3, 6},
    {"grey.jpg", Kind::grey, 1, 6},
    {"progressive.jpg", Kind::rgb, 3, 24},
};

TEST_F(ImageTest, DecodesEveryFixtureInEveryChannelCount) {
    for (const FixtureCase& f : fixtures) {
        for (int channels = 1; channels <= 4; ++channels) {
            SCOPED_TRACE(testing::Message() << f.file << " as " << channels << " channels");
            Image image = load(fixture(f.file), static_cast<int8_t>(channels));
            // Colour turned grey rounds its own way: one step either side is fine.
            bool to_grey = channels <= 2 && f.kind != Kind::grey;
            expect_pattern(image, f.kind, channels, f.tolerance + (to_grey ? 1 : 0), false);
            EXPECT_TRUE(in_pool(image.data));
        }
    }
}

TEST_F(ImageTest, ChannelsZeroKeepsTheFilesOwnCount) {
    for (const FixtureCase& f : fixtures) {
        SCOPED_TRACE(f.file);
        expect_pattern(load(fixture(f.file), 0), f.kind, f.own_channels, f.tolerance, false);
    }
}

TEST_F(ImageTest, LoadsFromMemoryLikeFromFiles) {
    for (const FixtureCase& f : fixtures) {
        SCOPED_TRACE(f.file);
        std::vector<uint8_t> bytes = read_bytes(fixture(f.file));
        Image image = image_load_from_memory(static_cast<int64_t>(bytes.size()), bytes.data(), 4);
        expect_pattern(image, f.kind, 4, f.tolerance, false);
    }
}

TEST_F(ImageTest, RgbBecomesRgbaWithOpaqueAlpha) {
    Image image = load(fixture("rgb.ppm"), 4);
    ASSERT_NE(image.data, nullptr);
    for (int i = 0; i < pattern_width * pattern_height; ++i) EXPECT_EQ(image.data[i * 4 + 3], 255);
}

TEST_F(ImageTest, RadianceHdrFailsToLoad) {
    testing::internal::CaptureStdout();
    expect_empty(load(fixture("rgb.hdr"), 3));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A 2 x 1 Softimage PIC, uncompressed RGB: the one decodable format without a fixture.
std::vector<uint8_t> tiny_pic() {
    constexpr size_t comment_end = 88;  // magic, 80 bytes of comment, version
    std::vector<uint8_t> pic(comment_end, 0);
    const uint8_t magic[] = {0x53, 0x80, 0xF6, 0x34};
    std::copy(std::begin(magic), std::end(magic), pic.begin());
    const uint8_t rest[] = {
        'P', 'I', 'C', 'T',      //
        0, 2, 0, 1,              // width, height (big-endian)
        0x3F, 0x80, 0, 0,        // pixel ratio 1.0
        0, 3, 0, 0,              // fields, pad
        0, 8, 0, 0xE0,           // one packet: 8 bits, uncompressed, red green blue
        10, 20, 30, 40, 50, 60,  // the two pixels
    };
    for (uint8_t byte : rest) pic.push_back(byte);
    return pic;
}

TEST_F(ImageTest, DecodesSoftimagePic) {
    std::vector<uint8_t> pic = tiny_pic();
    Image image = image_load_from_memory(static_cast<int64_t>(pic.size()), pic.data(), 4);
    ASSERT_NE(image.data, nullptr);
    ASSERT_EQ(image.width, 2);
    ASSERT_EQ(image.height, 1);
    EXPECT_EQ(std::vector<uint8_t>(image.data, image.data + 8),
              (std::vector<uint8_t>{10, 20, 30, 255, 40, 50, 60, 255}));
}

// stb reports a PIC's size even when its pixels are cut short; the record must not.
TEST_F(ImageTest, TruncatedPicGivesTheEmptyImage) {
    std::vector<uint8_t> pic = tiny_pic();
    pic.erase(pic.end() - 4, pic.end());
    expect_empty(image_load_from_memory(static_cast<int64_t>(pic.size()), pic.data(), 4));
}

TEST_F(ImageTest, MissingFileGivesTheEmptyImage) {
    expect_empty(load(temp("absent.png"), 4));
    expect_empty(load("", 4));
}

// Cut short anywhere, every loader fails cleanly or still delivers a whole picture; the
// data sits in a buffer of exactly its size so a read past it is caught.
TEST_F(ImageTest, TruncatedFilesNeverReadPastTheirEnd) {
    for (const FixtureCase& f : fixtures) {
        std::vector<uint8_t> whole = read_bytes(fixture(f.file));
        for (size_t keep : {size_t{0}, size_t{1}, size_t{8}, whole.size() / 2, whole.size() - 1}) {
            SCOPED_TRACE(testing::Message() << f.file << " cut to " << keep << " bytes");
            image_set_buffer(pool_bytes, pool.data());
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(keep));
            Image image = image_load_from_memory(static_cast<int64_t>(keep), cut.data(), 4);
            if (!image.data) {
                expect_empty(image);
            } else {
                EXPECT_EQ(image.width, pattern_width);
                EXPECT_EQ(image.height, pattern_height);
            }
        }
    }
}

// --- malformed pictures: each loads as the empty image, and the pool goes on serving ---

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> from_hex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

void put_be(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

// A raw (uncompressed) PSD of `width` x `height` pixels with the planes given in order.
std::vector<uint8_t> raw_psd(uint32_t width, uint32_t height,
                             const std::vector<std::vector<uint8_t>>& planes) {
    std::vector<uint8_t> psd = bytes_of("8BPS");
    put_be(psd, 1, 2);                  // version
    put_be(psd, 0, 6);                  // reserved
    put_be(psd, planes.size(), 2);      // channels
    put_be(psd, height, 4);
    put_be(psd, width, 4);
    put_be(psd, 8, 2);                  // bits per channel
    put_be(psd, 3, 2);                  // RGB
    for (int section = 0; section < 3; ++section) put_be(psd, 0, 4);  // all sections empty
    put_be(psd, 0, 2);                  // no compression
    for (const std::vector<uint8_t>& plane : planes) psd.insert(psd.end(), plane.begin(), plane.end());
    return psd;
}

struct MalformedCase {
    const char* what;
    std::vector<uint8_t> bytes;
};

std::vector<MalformedCase> malformed_pictures() {
    return {
        // Headers that promise no pixels: other decoders refuse them too.
        {"PPM of 0 x 0", bytes_of("P6\n0 0\n255\n")},
        {"PGM of 64 x 0", bytes_of("P5\n64 0\n255\n")},
        {"PGM of 0 x 5", bytes_of("P5\n0 5\n255\n")},
        {"16-bit PGM of 0 x 3", bytes_of("P5\n0 3\n65535\n")},
        {"PSD of 0 x 0", raw_psd(0, 0, {{}, {}, {}})},
        {"PSD of 3 x 0", raw_psd(3, 0, {{}, {}, {}})},
        // Found by fuzzing: a header number the decoder adds up past 2^31 - 1.
        {"PPM of height 2500000000", bytes_of("P6\n0  0000000000\n2500000000\n255\n")},
        {"16-bit PGM of width 2^31", bytes_of("P5 2147483648 1 65535\n")},
        // Found by fuzzing: a Huffman table segment whose counts add up past 256.
        {"JPEG with 448 Huffman codes", from_hex("ffd8ffc4213103fcc4")},
        // Found by fuzzing: a scan whose Huffman tables the file never defined.
        {"JPEG scan without tables",
         from_hex("ffd8ffc00011080030004003011100021100001101ffda000c03")},
        // Found by fuzzing: an empty first IDAT chunk, and no more data.
        {"PNG with an empty first IDAT",
         from_hex("89504e470d0a1a0a0000000d494844520000007d0001000608060000000bfc6105000000"
                  "0049444154")},
    };
}

TEST_F(ImageTest, MalformedPicturesLoadAsTheEmptyImage) {
    for (const MalformedCase& c : malformed_pictures()) {
        std::string path = temp("malformed");
        write_file(path, std::string(c.bytes.begin(), c.bytes.end()));
        for (int8_t channels = 0; channels <= 4; ++channels) {
            SCOPED_TRACE(testing::Message() << c.what << " as " << int{channels} << " channels");
            image_set_buffer(pool_bytes, pool.data());
            expect_empty(image_load_from_memory(int64_t(c.bytes.size()), c.bytes.data(), channels));
            expect_empty(load(path, channels));
            // The next load from the same pool, not set again, still decodes.
            expect_pattern(load(fixture("rgb24.bmp"), 3), Kind::rgb, 3, 0, false);
        }
    }
}

// The decoder's state must not start from what an earlier load left in the pool: a JPEG
// that uses tables it never defined gives the same result after any earlier load.
TEST_F(ImageTest, JpegWithoutTablesDoesNotDependOnStalePoolBytes) {
    std::vector<uint8_t> jpeg = from_hex("ffd8ffc00011080030004003011100021100001101ffda000c03");
    std::vector<uint8_t> good = read_bytes(fixture("rgb.jpg"));
    const uint8_t fills[] = {0x00, 0xFF, 0x5A, 0x01};
    for (uint8_t fill : fills) {
        for (bool after_good_load : {false, true}) {
            SCOPED_TRACE(testing::Message() << "pool filled with " << int{fill}
                                            << (after_good_load ? ", then a JPEG loaded" : ""));
            image_set_buffer(0, nullptr);  // the block is the program's own to fill again
            std::fill(pool.begin(), pool.end(), fill);
            image_set_buffer(pool_bytes, pool.data());
            if (after_good_load) {
                ASSERT_NE(image_load_from_memory(int64_t(good.size()), good.data(), 3).data, nullptr);
                image_set_buffer(pool_bytes, pool.data());
            }
            expect_empty(image_load_from_memory(int64_t(jpeg.size()), jpeg.data(), 3));
        }
    }
}

// Found by fuzzing: DC values that the decoder adds up and scales past a signed int. The
// decoder's arithmetic wraps, so the load gives some picture of the promised size or none,
// and nothing undefined happens on the way (the sanitizer build checks that).
TEST_F(ImageTest, JpegWhoseDcValuesOverflowLoadsWithoutFault) {
    std::vector<uint8_t> jpeg = from_hex(
        "ffd8ffe000104a46494600010100000100010000ffdb004300504c5445010101010101010101010101"
        "01010101010101010101010101010101010101010101010101010101010101010101010101010101"
        "0101010101010101ffc0000b0821f9040801011100ffc40014000100000000000000000000000000"
        "000008ffc4001e1000000407000000000000000000000000000406070a232442446164ffda000801"
        "0100003f00623490e23034b3d2f66019d700ffd9");
    constexpr int64_t room = 16 << 20;  // the picture is 1032 x 8697 grey
    std::vector<uint8_t> big(room);
    image_set_buffer(room, big.data());
    Image image = image_load_from_memory(int64_t(jpeg.size()), jpeg.data(), 1);
    if (image.data) {
        EXPECT_EQ(image.width, 1032);
        EXPECT_EQ(image.height, 8697);
    } else {
        expect_empty(image);
    }
    image_set_buffer(0, nullptr);
}

// A PNG may begin its data with an empty IDAT chunk; it still decodes.
TEST_F(ImageTest, PngWithAnEmptyFirstIdatDecodes) {
    std::vector<uint8_t> png = read_bytes(fixture("rgba8.png"));
    std::vector<uint8_t> empty_idat = from_hex("0000000049444154" "35af061e");  // length, type, CRC
    const std::string idat = "IDAT";
    auto type = std::search(png.begin(), png.end(), idat.begin(), idat.end());
    ASSERT_NE(type, png.end());
    png.insert(type - 4, empty_idat.begin(), empty_idat.end());  // before the chunk's length
    expect_pattern(image_load_from_memory(int64_t(png.size()), png.data(), 4), Kind::rgba, 4, 0, false);
    std::string path = temp("empty_idat.png");
    write_file(path, std::string(png.begin(), png.end()));
    expect_pattern(load(path, 4), Kind::rgba, 4, 0, false);
}

// PSD un-matting turns a pixel under partial alpha into a value out of a byte's range; the
// load must still go through in every build, the sanitizer build included.
TEST_F(ImageTest, PsdUnderPartialAlphaLoads) {
    std::vector<uint8_t> psd = raw_psd(1, 1, {{0}, {0}, {0}, {128}});
    Image image = image_load_from_memory(int64_t(psd.size()), psd.data(), 4);
    ASSERT_NE(image.data, nullptr);
    EXPECT_EQ(image.width, 1);
    EXPECT_EQ(image.height, 1);
    EXPECT_EQ(image.data[3], 128);
}

// Segments that the file path skips in pieces are still checked, and a long one that only
// looks like a Huffman table inside is not mistaken for one.
TEST_F(ImageTest, JpegFilesAreCheckedBeyondTheDecodersBuffer) {
    std::vector<uint8_t> jpeg = read_bytes(fixture("rgb.jpg"));
    constexpr size_t application_bytes = 10000;  // far past the decoder's 128-byte buffer
    std::vector<uint8_t> application = {0xFF, 0xEF, uint8_t((application_bytes + 2) >> 8),
                                        uint8_t((application_bytes + 2) & 0xFF)};
    for (size_t i = 0; i < application_bytes; ++i) application.push_back(i % 2 ? 0xC4 : 0xFF);
    std::vector<uint8_t> padded = jpeg;
    padded.insert(padded.begin() + 2, application.begin(), application.end());
    std::string path = temp("padded.jpg");
    write_file(path, std::string(padded.begin(), padded.end()));
    expect_pattern(load(path, 3), Kind::rgb, 3, 6, false);

    std::vector<uint8_t> bad_table = from_hex("ffc4213103fcc4");
    padded.insert(padded.begin() + 2 + long(application.size()), bad_table.begin(), bad_table.end());
    write_file(path, std::string(padded.begin(), padded.end()));
    expect_empty(load(path, 3));
    expect_empty(image_load_from_memory(int64_t(padded.size()), padded.data(), 3));
}

// --- pixels the file never defines: never memory's leftovers ---

uint32_t png_crc(const uint8_t* bytes, size_t count) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put_png_chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    put_be(png, data.size(), 4);
    size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put_be(png, png_crc(png.data() + start, data.size() + 4), 4);
}

// Rows of `depth`-bit indices, each behind filter byte 0, in one stored (uncompressed)
// deflate block.
std::vector<uint8_t> stored_zlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> z = {0x78, 0x01, 0x01};
    uint16_t length = static_cast<uint16_t>(raw.size());
    z.push_back(uint8_t(length & 0xFF));
    z.push_back(uint8_t(length >> 8));
    z.push_back(uint8_t(~length & 0xFF));
    z.push_back(uint8_t(~length >> 8 & 0xFF));
    z.insert(z.end(), raw.begin(), raw.end());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put_be(z, b << 16 | a, 4);
    return z;
}

struct PalettedPng {
    int width = 1, height = 1, depth = 8;
    std::vector<std::vector<uint8_t>> palette;  // red, green, blue
    std::vector<uint8_t> alphas;                // a tRNS chunk when not empty
    std::vector<int> indices;                   // row by row
    bool palette_after_data = false;
    bool alphas_after_data = false;
};

std::vector<uint8_t> paletted_png(const PalettedPng& p) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> header;
    put_be(header, uint32_t(p.width), 4);
    put_be(header, uint32_t(p.height), 4);
    for (int v : {p.depth, 3, 0, 0, 0}) header.push_back(uint8_t(v));
    put_png_chunk(png, "IHDR", header);
    std::vector<uint8_t> plte;
    for (const auto& entry : p.palette) plte.insert(plte.end(), entry.begin(), entry.end());
    std::vector<uint8_t> raw;
    int row_bytes = (p.width * p.depth + 7) / 8;
    for (int y = 0; y < p.height; ++y) {
        raw.push_back(0);
        std::vector<uint8_t> row(size_t(row_bytes), 0);
        for (int x = 0; x < p.width; ++x) {
            int index = p.indices[size_t(y * p.width + x)];
            int bit = x * p.depth;
            if (p.depth == 16) {  // no paletted depth, but a file may claim it
                row[size_t(bit / 8) + 1] = uint8_t(index);
                continue;
            }
            row[size_t(bit / 8)] |= uint8_t(index << (8 - p.depth - bit % 8));
        }
        raw.insert(raw.end(), row.begin(), row.end());
    }
    if (!p.palette_after_data) put_png_chunk(png, "PLTE", plte);
    if (!p.alphas.empty() && !p.alphas_after_data) put_png_chunk(png, "tRNS", p.alphas);
    put_png_chunk(png, "IDAT", stored_zlib(raw));
    if (p.palette_after_data) put_png_chunk(png, "PLTE", plte);
    if (!p.alphas.empty() && p.alphas_after_data) put_png_chunk(png, "tRNS", p.alphas);
    put_png_chunk(png, "IEND", {});
    return png;
}

// An 8-bit BMP (40-byte header) of `width` x 1 whose palette holds `colours` entries.
std::vector<uint8_t> indexed_bmp(int colours, const std::vector<uint8_t>& row) {
    auto put_le = [](std::vector<uint8_t>& out, uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    std::vector<uint8_t> bmp = bytes_of("BM");
    put_le(bmp, 0, 8);
    put_le(bmp, uint32_t(14 + 40 + 4 * colours), 4);
    put_le(bmp, 40, 4);
    put_le(bmp, uint32_t(row.size()), 4);
    put_le(bmp, 1, 4);
    put_le(bmp, 1, 2);
    put_le(bmp, 8, 2);
    for (int field = 0; field < 6; ++field) put_le(bmp, 0, 4);  // uncompressed, all unread
    for (int i = 0; i < colours; ++i) put_le(bmp, 0x00102030u + uint32_t(i), 4);
    bmp.insert(bmp.end(), row.begin(), row.end());
    while ((bmp.size() - (14 + 40 + 4 * size_t(colours))) % 4) bmp.push_back(0);
    return bmp;
}

// Fills a large stretch of the stack below the caller with `fill`, so that a callee's
// arrays it never writes start with these bytes instead of zero.
[[gnu::noinline]] void dirty_the_stack(uint8_t fill) {
    volatile uint8_t area[256 << 10];
    for (auto& byte : area) byte = fill;
}

// A JPEG of `side` x `side` grey with every table and the end, but no scan: written by
// the encoder, then cut from its scan header to just before its end marker.
std::vector<uint8_t> jpeg_without_scan(const std::string& path, bool progressive) {
    std::vector<uint8_t> jpeg = read_bytes(path);
    for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF;) {
        uint8_t marker = jpeg[at + 1];
        if (marker == 0xDA) {
            jpeg.erase(jpeg.begin() + long(at), jpeg.end() - 2);  // keeps FF D9
            break;
        }
        if (marker == 0xC0 && progressive) jpeg[at + 1] = 0xC2;  // the frame claims progressive
        at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    }
    return jpeg;
}

class LeftoverTest : public ImageTest {
protected:
    // Loads `bytes` from memory and through a file, each after the pool and the stack were
    // filled with `fill`.
    std::vector<Image> load_over(const std::vector<uint8_t>& bytes, uint8_t fill, int8_t channels) {
        std::string path = temp("leftover");
        write_file(path, std::string(bytes.begin(), bytes.end()));
        std::vector<Image> images;
        for (bool through_file : {false, true}) {
            image_set_buffer(0, nullptr);
            std::fill(pool.begin(), pool.end(), fill);
            image_set_buffer(pool_bytes, pool.data());
            dirty_the_stack(fill);
            images.push_back(through_file ? load(path, channels)
                                          : image_load_from_memory(int64_t(bytes.size()), bytes.data(), channels));
        }
        return images;
    }

    // The same picture loaded over different leftovers gives the same result, byte for byte.
    void expect_same_over_any_leftovers(const std::vector<uint8_t>& bytes, int8_t channels,
                                        bool loads) {
        std::vector<uint8_t> first;
        for (uint8_t fill : {uint8_t{0xA5}, uint8_t{0x3C}}) {
            for (Image image : load_over(bytes, fill, channels)) {
                SCOPED_TRACE(testing::Message() << "fill " << int{fill});
                if (!loads) {
                    expect_empty(image);
                    continue;
                }
                ASSERT_NE(image.data, nullptr);
                size_t count = size_t(image.width) * size_t(image.height) * size_t(channels);
                std::vector<uint8_t> pixels(image.data, image.data + count);
                if (first.empty()) first = pixels;
                EXPECT_EQ(pixels, first);
            }
        }
    }
};

TEST_F(LeftoverTest, PngIndexPastItsPaletteFailsToLoad) {
    PalettedPng p;
    p.width = 4;
    p.palette = {{10, 20, 30}};
    p.indices = {0, 255, 0, 0};
    for (int8_t channels = 0; channels <= 4; ++channels) {
        SCOPED_TRACE(testing::Message() << int{channels} << " channels");
        expect_same_over_any_leftovers(paletted_png(p), channels, false);
    }
    p.indices = {0, 0, 0, 0};
    expect_same_over_any_leftovers(paletted_png(p), 4, true);
}

TEST_F(LeftoverTest, BmpIndexPastItsPaletteFailsToLoad) {
    expect_same_over_any_leftovers(indexed_bmp(1, {0, 255, 0}), 3, false);
    expect_same_over_any_leftovers(indexed_bmp(1, {0, 0, 0}), 3, true);
}

TEST_F(LeftoverTest, JpegWithoutAScanFailsToLoad) {
    constexpr int side = 512;
    std::vector<uint8_t> grey = pattern_pixels(1, side, side);
    std::string written = temp("whole.jpg");
    ASSERT_TRUE(save(Image{grey.data(), side, side}, written, 1));
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        std::vector<uint8_t> jpeg = jpeg_without_scan(written, progressive);
        for (int8_t channels : {int8_t{1}, int8_t{3}}) {
            expect_same_over_any_leftovers(jpeg, channels, false);
        }
    }
}

// Rows a truncated file never reaches come out the same whatever the pool held.
TEST_F(LeftoverTest, TruncatedPicturesGiveTheSamePixelsOverAnyLeftovers) {
    constexpr int side = 300;  // past the 64 KiB that were cleared before
    std::vector<uint8_t> pixels = pattern_pixels(3, side, side);
    for (const char* extension : {"tga", "png", "jpg", "bmp"}) {
        SCOPED_TRACE(extension);
        std::string path = temp(std::string("whole.") + extension);
        ASSERT_TRUE(save(Image{pixels.data(), side, side}, path, 3));
        std::vector<uint8_t> bytes = read_bytes(path);
        bytes.resize(bytes.size() / 2);
        std::vector<Image> images = load_over(bytes, 0x11, 3);
        std::vector<Image> again = load_over(bytes, 0xEE, 3);
        for (size_t i = 0; i < images.size(); ++i) {
            ASSERT_EQ(images[i].data == nullptr, again[i].data == nullptr);
            if (!images[i].data) continue;
            size_t count = size_t(side) * side * 3;
            EXPECT_EQ(std::vector<uint8_t>(images[i].data, images[i].data + count),
                      std::vector<uint8_t>(again[i].data, again[i].data + count));
        }
    }
    std::string ppm = "P6 300 300 255\n" + std::string(1000, '\x7F');
    expect_same_over_any_leftovers(bytes_of(ppm), 3, true);
}

// --- paletted PNGs, looked up by the service: what the decoder would have given ---

struct PaletteCase {
    const char* what;
    PalettedPng png;
};

std::vector<PaletteCase> palette_cases() {
    std::vector<std::vector<uint8_t>> colours;
    for (int i = 0; i < 256; ++i) colours.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
    auto first = [&](size_t n) { return std::vector<std::vector<uint8_t>>(colours.begin(), colours.begin() + long(n)); };
    std::vector<PaletteCase> cases;
    for (int depth : {1, 2, 4, 8}) {
        PalettedPng p;
        p.depth = depth;
        p.width = 5;
        p.height = 3;
        int entries = 1 << depth;
        p.palette = first(size_t(entries));
        for (int i = 0; i < p.width * p.height; ++i) p.indices.push_back((i * 3 + 1) % entries);
        cases.push_back({"full palette", p});
        p.palette = first(size_t(entries - 1));
        for (int& index : p.indices) index %= entries - 1;
        cases.push_back({"short palette, all indices inside", p});
        p.alphas = {0, 128};
        p.alphas.resize(std::min(p.alphas.size(), p.palette.size()));  // no longer than it
        cases.push_back({"with a short tRNS", p});
    }
    return cases;
}

TEST_F(ImageTest, PalettedPngsGiveTheirColours) {
    for (const PaletteCase& c : palette_cases()) {
        std::vector<uint8_t> png = paletted_png(c.png);
        for (int8_t channels = 0; channels <= 4; ++channels) {
            for (bool flip : {false, true}) {
                SCOPED_TRACE(testing::Message() << c.what << ", depth " << c.png.depth << ", "
                                                << int{channels} << " channels" << (flip ? ", flipped" : ""));
                image_set_flip(flip);
                Image image = image_load_from_memory(int64_t(png.size()), png.data(), channels);
                ASSERT_NE(image.data, nullptr);
                ASSERT_EQ(image.width, c.png.width);
                ASSERT_EQ(image.height, c.png.height);
                bool alpha = !c.png.alphas.empty();
                int own = alpha ? 4 : 3;
                int n = channels == 0 ? own : channels;
                for (int y = 0; y < c.png.height; ++y) {
                    int source_y = flip ? c.png.height - 1 - y : y;
                    for (int x = 0; x < c.png.width; ++x) {
                        int index = c.png.indices[size_t(source_y * c.png.width + x)];
                        const std::vector<uint8_t>& rgb = c.png.palette[size_t(index)];
                        int a = size_t(index) < c.png.alphas.size() ? c.png.alphas[size_t(index)] : 255;
                        Pixel colour{rgb[0], rgb[1], rgb[2], a};
                        std::vector<int> want = channel_values(colour, n, true);
                        const uint8_t* got = image.data + (y * c.png.width + x) * n;
                        for (int k = 0; k < n; ++k) {
                            ASSERT_LE(std::abs(got[k] - want[size_t(k)]), n <= 2 && k == 0 ? 1 : 0)
                                << "pixel " << x << ", " << y << " channel " << k;
                        }
                    }
                }
            }
        }
    }
}

TEST_F(ImageTest, MalformedPalettesFailToLoad) {
    PalettedPng base;
    base.width = 2;
    base.palette = {{1, 2, 3}, {4, 5, 6}};
    base.indices = {0, 1};
    struct Case {
        const char* what;
        PalettedPng png;
    };
    std::vector<Case> cases;
    PalettedPng p = base;
    p.indices = {0, 2};
    cases.push_back({"index one past", p});
    p = base;
    p.depth = 1;
    p.palette = {{1, 2, 3}};
    p.indices = {0, 1};
    cases.push_back({"1 bit, index one past", p});
    p = base;
    p.palette_after_data = true;
    cases.push_back({"palette after the data", p});
    p = base;
    p.alphas = {1, 2, 3};
    cases.push_back({"tRNS longer than the palette", p});
    p = base;
    p.alphas = {1};
    p.alphas_after_data = true;
    cases.push_back({"tRNS after the data", p});
    p = base;
    p.palette = {};
    cases.push_back({"empty palette", p});
    p = base;
    p.depth = 16;
    cases.push_back({"16 bits", p});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> png = paletted_png(c.png);
        std::string path = temp("palette.png");
        write_file(path, std::string(png.begin(), png.end()));
        for (int8_t channels = 0; channels <= 4; ++channels) {
            expect_empty(image_load_from_memory(int64_t(png.size()), png.data(), channels));
            expect_empty(load(path, channels));
        }
    }
    // The base itself loads, through a file too.
    std::vector<uint8_t> png = paletted_png(base);
    std::string path = temp("good.png");
    write_file(path, std::string(png.begin(), png.end()));
    Image image = load(path, 3);
    ASSERT_NE(image.data, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(image.data, image.data + 6), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

// --- PNM samples scaled by the file's largest value ---

struct PnmScaleCase {
    const char* header;
    std::vector<int> samples;  // as stored: 16 bits when the largest value passes 255
    std::vector<int> want;     // what other readers give, rounding down
};

const PnmScaleCase pnm_scale_cases[] = {
    {"P5 2 1 1023\n", {1023, 512}, {255, 127}},
    {"P5 10 1 1000\n", {999, 3, 2, 6, 998, 1, 4, 500, 501, 502}, {254, 0, 0, 1, 254, 0, 1, 127, 127, 128}},
    {"P5 3 1 1000\n", {1001, 65535, 1000}, {255, 255, 255}},  // past the largest: the brightest
    {"P5 8 1 65535\n", {256, 32895, 65535, 255, 32896, 128, 383, 384}, {0, 127, 255, 0, 128, 0, 1, 1}},
    {"P5 4 1 15\n", {15, 7, 8, 1}, {255, 119, 136, 17}},
    {"P5 2 1 1\n", {1, 0}, {255, 0}},
    {"P5 3 1 255\n", {255, 7, 0}, {255, 7, 0}},
    {"P5 2 1 256\n", {256, 255}, {255, 254}},
    {"P6 1 1 4095\n", {4095, 2048, 0}, {255, 127, 0}},
};

std::vector<uint8_t> pnm_with(const PnmScaleCase& c) {
    std::vector<uint8_t> pnm = bytes_of(c.header);
    bool wide = std::string(c.header).find(" 255\n") == std::string::npos &&
                std::stoi(std::string(c.header).substr(std::string(c.header).rfind(' ') + 1)) > 255;
    for (int sample : c.samples) put_be(pnm, uint64_t(sample), wide ? 2 : 1);
    return pnm;
}

TEST_F(ImageTest, PnmSamplesAreScaledByTheLargestValue) {
    for (const PnmScaleCase& c : pnm_scale_cases) {
        std::vector<uint8_t> pnm = pnm_with(c);
        std::string path = temp("scaled.pnm");
        write_file(path, std::string(pnm.begin(), pnm.end()));
        int own = c.header[1] == '6' ? 3 : 1;
        for (bool through_file : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.header << (through_file ? " through a file" : ""));
            Image image = through_file ? load(path, 0)
                                       : image_load_from_memory(int64_t(pnm.size()), pnm.data(), 0);
            ASSERT_NE(image.data, nullptr);
            ASSERT_EQ(image.width * own, int(c.want.size()));
            EXPECT_EQ(std::vector<int>(image.data, image.data + c.want.size()), c.want);
        }
    }
}

// Channel conversion comes after the scaling, as it would for an 8-bit file.
TEST_F(ImageTest, ScaledPnmConvertsLikeAnEightBitOne) {
    std::vector<uint8_t> wide = bytes_of("P6 1 1 1023\n");
    for (int sample : {1023, 512, 0}) put_be(wide, uint64_t(sample), 2);
    std::vector<uint8_t> narrow = bytes_of("P6 1 1 255\n");
    for (int sample : {255, 127, 0}) narrow.push_back(uint8_t(sample));
    for (int8_t channels = 1; channels <= 4; ++channels) {
        SCOPED_TRACE(int{channels});
        Image a = image_load_from_memory(int64_t(wide.size()), wide.data(), channels);
        Image b = image_load_from_memory(int64_t(narrow.size()), narrow.data(), channels);
        ASSERT_NE(a.data, nullptr);
        ASSERT_NE(b.data, nullptr);
        EXPECT_EQ(std::vector<uint8_t>(a.data, a.data + channels), std::vector<uint8_t>(b.data, b.data + channels));
    }
}

// --- memory and channel arguments ---

// Sizes the decoder cannot count are refused, not cut to their low 32 bits: each of these
// would leave exactly the real size after truncation.
TEST_F(ImageTest, MemoryLoadRefusesWhatTheDecoderCannotCount) {
    std::vector<uint8_t> png = read_bytes(fixture("rgba8.png"));
    int64_t real = static_cast<int64_t>(png.size());
    const int64_t sizes[] = {(int64_t{1} << 32) + real, (int64_t{1} << 31), -1, INT64_MIN};
    for (int64_t size : sizes) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        expect_empty(image_load_from_memory(size, png.data(), 4));
    }
    expect_empty(image_load_from_memory(real, nullptr, 4));
    expect_empty(image_load_from_memory(0, png.data(), 4));
}

TEST_F(ImageTest, LoadRefusesChannelCountsOutsideZeroToFour) {
    std::vector<uint8_t> png = read_bytes(fixture("rgba8.png"));
    for (int8_t channels : {int8_t{-1}, int8_t{5}, int8_t{127}, int8_t{-128}}) {
        SCOPED_TRACE(testing::Message() << "channels " << int{channels});
        expect_empty(load(fixture("rgba8.png"), channels));
        int64_t size = static_cast<int64_t>(png.size());
        expect_empty(image_load_from_memory(size, png.data(), channels));
    }
}

// --- the pool ---

TEST_F(ImageTest, PoolTooSmallForARealImage) {
    image_set_buffer(256, pool.data());
    testing::internal::CaptureStdout();
    Image image = load(fixture("rgba8.png"), 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "image memory allocation failed\n");
    expect_empty(image);
    // The same pool, not set again, still serves a picture that fits.
    testing::internal::CaptureStdout();
    Image small = load(fixture("rgb24.bmp"), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    expect_pattern(small, Kind::rgb, 3, 0, false);
    EXPECT_TRUE(in_pool(small.data));
}

// A pool of exactly what a load takes leaves no slack after its last block, so a decoder
// that reads past a block meets the end of the program's allocation (caught under the
// sanitizers); one byte less fails cleanly with the pool's message.
TEST_F(ImageTest, PoolOfExactlyTheNeededSize) {
    for (const FixtureCase& f : fixtures) {
        for (int8_t channels : {int8_t{0}, int8_t{4}}) {
            SCOPED_TRACE(testing::Message() << f.file << " as " << int{channels} << " channels");
            std::vector<uint8_t> bytes = read_bytes(fixture(f.file));
            image_set_buffer(pool_bytes, pool.data());
            ASSERT_NE(image_load_from_memory(int64_t(bytes.size()), bytes.data(), channels).data, nullptr);
            int64_t needed = image_memory_pos;
            std::vector<uint8_t> exact(static_cast<size_t>(needed));
            image_set_buffer(needed, exact.data());
            Image image = image_load_from_memory(int64_t(bytes.size()), bytes.data(), channels);
            EXPECT_NE(image.data, nullptr);
            image_set_buffer(needed - 1, exact.data());
            std::string printed = capture_stdout([&] {
                image = image_load_from_memory(int64_t(bytes.size()), bytes.data(), channels);
            });
            expect_empty(image);
            EXPECT_TRUE(printed == "image memory allocation failed\n" ||
                        printed == "image memory reallocation failed\n")
                << printed;
            image_set_buffer(0, nullptr);
        }
    }
}

// --- saving ---

struct EncoderCase {
    const char* extension;
    int tolerance;
    bool keeps_grey_alpha;    // BMP writes grey and alpha as three colour bytes
    bool keeps_colour_alpha;  // JPEG keeps no alpha at all
};

const EncoderCase encoders[] = {
    {"bmp", 0, false, true},
    {"png", 0, true, true},
    {"tga", 0, true, true},
    {"jpg", 3, false, false},
};

// An odd width, so rows are not multiples of 4 bytes and the PNG stride shows.
constexpr int trip_width = 7;
constexpr int trip_height = 5;

TEST_F(ImageTest, RoundTripsThroughEveryEncoder) {
    for (const EncoderCase& e : encoders) {
        for (int8_t channels = 1; channels <= 4; ++channels) {
            SCOPED_TRACE(testing::Message() << e.extension << ", " << int{channels} << " channels");
            std::vector<uint8_t> pixels = pattern_pixels(channels, trip_width, trip_height);
            std::string path = temp(std::string("trip.") + e.extension);
            ASSERT_TRUE(save(Image{pixels.data(), trip_width, trip_height}, path, channels));
            Image back = load(path, channels);
            ASSERT_NE(back.data, nullptr);
            ASSERT_EQ(back.width, trip_width);
            ASSERT_EQ(back.height, trip_height);
            bool alpha_kept = channels == 4 ? e.keeps_colour_alpha : e.keeps_grey_alpha;
            for (size_t i = 0; i < pixels.size(); ++i) {
                bool alpha = channels % 2 == 0 && i % channels == size_t(channels) - 1;
                int want = alpha && !alpha_kept ? 255 : pixels[i];
                ASSERT_LE(std::abs(back.data[i] - want), e.tolerance) << "byte " << i;
            }
        }
    }
}

bool file_starts_with(const std::string& path, const std::vector<uint8_t>& prefix) {
    std::vector<uint8_t> bytes = read_bytes(path);
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

const std::vector<uint8_t> png_signature = {0x89, 'P', 'N', 'G'};
const std::vector<uint8_t> jpeg_signature = {0xFF, 0xD8};
const std::vector<uint8_t> bmp_signature = {'B', 'M'};
// A TGA header's third byte is its image type; 10 is run-length encoded colour.
const std::vector<uint8_t> rle_tga_start = {0, 0, 10};

struct ExtensionCase {
    const char* name;                    // relative to the test's folder
    bool written;
    const std::vector<uint8_t>* format;  // the file's first bytes when written
};

TEST_F(ImageTest, ExtensionChoosesTheEncoder) {
    fs::create_directories(temp("dir.old"));
    fs::create_directories(temp("dir.png"));
    const ExtensionCase cases[] = {
        {"picture.png", true, &png_signature},
        {"picture.bmp", true, &bmp_signature},
        {"picture.tga", true, &rle_tga_start},
        {"picture.jpg", true, &jpeg_signature},
        {"archive.tar.png", true, &png_signature},  // only the last '.' counts
        {"dir.old/picture.bmp", true, &bmp_signature},
        {".png", true, &png_signature},
        {"picture.PNG", false, nullptr},  // case-sensitive
        {"picture.Jpg", false, nullptr},
        {"picture.jpeg", false, nullptr},
        {"picture.hdr", false, nullptr},
        {"picture.pngx", false, nullptr},
        {"picture.pn", false, nullptr},
        {"picture.png.txt", false, nullptr},
        {"picture.", false, nullptr},
        {"picture", false, nullptr},
        {"dir.old/picture", false, nullptr},  // the extension is "old/picture"
        {"dir.png/", false, nullptr},         // "png/" is no extension either
    };
    std::vector<uint8_t> pixels = pattern_pixels(3, trip_width, trip_height);
    for (const ExtensionCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = temp(c.name);
        EXPECT_EQ(save(Image{pixels.data(), trip_width, trip_height}, path, 3), c.written);
        if (c.written) {
            EXPECT_TRUE(file_starts_with(path, *c.format));
        } else if (std::string(c.name).back() != '/') {
            // By its exact name: where names ignore case, "picture.PNG" is picture.png.
            fs::path exact(path);
            bool listed = false;
            std::error_code ignored;
            for (const fs::directory_entry& entry : fs::directory_iterator(exact.parent_path(), ignored)) {
                listed = listed || entry.path().filename() == exact.filename();
            }
            EXPECT_FALSE(listed);
        }
    }
}

// Quality 100 scales every entry of the quantisation tables down to 1.
TEST_F(ImageTest, JpegIsWrittenAtQualityHundred) {
    std::vector<uint8_t> pixels = pattern_pixels(3, trip_width, trip_height);
    std::string path = temp("quality.jpg");
    ASSERT_TRUE(save(Image{pixels.data(), trip_width, trip_height}, path, 3));
    std::vector<uint8_t> jpeg = read_bytes(path);
    constexpr size_t table_entries = 64;
    int tables = 0;
    for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF;) {
        uint8_t marker = jpeg[at + 1];
        size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        if (marker == 0xDB) {  // define quantisation tables
            constexpr size_t table_bytes = 1 + table_entries;  // precision and id, entries
            for (size_t t = at + 4; t + table_bytes <= at + 2 + length; t += table_bytes) {
                ASSERT_EQ(jpeg[t] >> 4, 0) << "8-bit entries";
                for (size_t i = 0; i < table_entries; ++i) EXPECT_EQ(jpeg[t + 1 + i], 1);
                ++tables;
            }
        }
        if (marker == 0xDA) break;  // start of scan: no tables after it
        at += 2 + length;
    }
    EXPECT_GE(tables, 2);
}

TEST_F(ImageTest, SaveRefusesWhatTheEncodersCannotTake) {
    std::vector<uint8_t> pixels = pattern_pixels(4, trip_width, trip_height);
    struct Case {
        const char* what;
        Image image;
        int8_t channels;
    };
    const Case cases[] = {
        {"null pixels", {nullptr, 4, 4}, 4},
        {"width 0", {pixels.data(), 0, 4}, 4},
        {"height 0", {pixels.data(), 4, 0}, 4},
        {"negative width", {pixels.data(), -4, 4}, 4},
        {"negative height", {pixels.data(), 4, -4}, 4},
        {"channels 0", {pixels.data(), 4, 4}, 0},
        {"channels 5", {pixels.data(), 4, 4}, 5},
        {"channels -1", {pixels.data(), 4, 4}, -1},
        {"width x channels over 32 bits", {pixels.data(), INT32_MAX, 1}, 4},
        {"width x channels over 31 bits", {pixels.data(), INT32_MAX / 4 + 1, 1}, 4},
        // The encoders would index past 2^31 - 1 bytes: refused before a pixel is read.
        {"two rows over 31 bits", {pixels.data(), INT32_MAX / 4, 2}, 4},
        {"image over 31 bits", {pixels.data(), 30000, 30000}, 4},
    };
    for (const Case& c : cases) {
        for (const EncoderCase& e : encoders) {
            SCOPED_TRACE(testing::Message() << c.what << " as " << e.extension);
            std::string path = temp(std::string("refused.") + e.extension);
            EXPECT_FALSE(save(c.image, path, c.channels));
            EXPECT_FALSE(fs::exists(path));
        }
    }
}

TEST_F(ImageTest, SaveFailsWhenTheFileCannotBeCreatedOrWritten) {
    std::vector<uint8_t> pixels = pattern_pixels(3, trip_width, trip_height);
    Image image{pixels.data(), trip_width, trip_height};
    EXPECT_FALSE(save(image, temp("missing/picture.png"), 3));
    fs::create_directories(temp("folder.png"));
    EXPECT_FALSE(save(image, temp("folder.png"), 3));
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full to fill";
    for (const EncoderCase& e : encoders) {
        SCOPED_TRACE(e.extension);
        std::string path = temp(std::string("full.") + e.extension);
        fs::create_symlink("/dev/full", path);
        EXPECT_FALSE(save(image, path, 3));
    }
}

// A FIFO nobody holds open makes a plain open wait for ever: a load must find it empty
// and a save must be refused, both at once, and the next call must work as usual.
TEST_F(ImageTest, AFifoNeverMakesALoadOrASaveWait) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFOs";
#else
    constexpr unsigned guard_seconds = 5;
    constexpr int refused_then_normal = 1;
    std::vector<uint8_t> pixels = pattern_pixels(3, trip_width, trip_height);
    Image image{pixels.data(), trip_width, trip_height};
    std::string fifo = temp("fifo.png");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int loaded = within_seconds(guard_seconds, [&] {
        if (load(fifo, 3).data) return 0;
        return save(image, temp("next.png"), 3) && load(temp("next.png"), 3).data ? refused_then_normal : 0;
    });
    EXPECT_EQ(loaded, refused_then_normal);
    int saved = within_seconds(guard_seconds, [&] {
        if (save(image, fifo, 3)) return 0;
        return save(image, temp("after.png"), 3) ? refused_then_normal : 0;
    });
    EXPECT_EQ(saved, refused_then_normal);
    EXPECT_TRUE(fs::is_fifo(fifo));
#endif
}

// A NUL inside a path would reach the C library cut short and name another file.
TEST_F(ImageTest, PathsHoldingNulAreRefused) {
    std::vector<uint8_t> pixels = pattern_pixels(3, trip_width, trip_height);
    std::string cut = temp("cut");
    std::string with_nul = cut + std::string(1, '\0') + ".png";
    EXPECT_FALSE(save(Image{pixels.data(), trip_width, trip_height}, with_nul, 3));
    EXPECT_FALSE(fs::exists(cut));
    std::string fixture_with_nul = fixture("rgba8.png") + std::string(1, '\0') + "x";
    expect_empty(load(fixture_with_nul, 4));
}

// E9 is Latin-1 for e-acute and not UTF-8; U+FFFD is its look-alike. Side by side, each
// name saves and loads its own picture.
TEST_F(ImageTest, BytesThatAreNotUtf8NameTheirOwnFile) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows names are UTF-16: bytes that are not UTF-8 become U+FFFD";
#endif
    std::vector<uint8_t> colour = pattern_pixels(3, trip_width, trip_height);
    std::vector<uint8_t> grey = pattern_pixels(1, trip_width, trip_height);
    const std::string raw = temp("caf\xE9.png"), lookalike = temp("caf\xEF\xBF\xBD.png");
    ASSERT_TRUE(save(Image{colour.data(), trip_width, trip_height}, raw, 3));
    EXPECT_FALSE(fs::exists(lookalike));
    ASSERT_TRUE(save(Image{grey.data(), trip_width, trip_height}, lookalike, 1));
    Image loaded = load(raw, 0);
    ASSERT_NE(loaded.data, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(loaded.data, loaded.data + colour.size()), colour);
    loaded = load(lookalike, 0);
    ASSERT_NE(loaded.data, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(loaded.data, loaded.data + grey.size()), grey);
}

TEST_F(ImageTest, PathsTooLongForTheRingAreRefused) {
    std::vector<uint8_t> pixels = pattern_pixels(3, trip_width, trip_height);
    std::string long_path = temp(std::string(20000, 'a') + ".png");
    EXPECT_FALSE(save(Image{pixels.data(), trip_width, trip_height}, long_path, 3));
    expect_empty(load(long_path, 3));
}

// --- flipping ---

TEST_F(ImageTest, FlipOnLoadsRowsBottomToTop) {
    image_set_flip(0x80);  // any nonzero flag
    expect_pattern(load(fixture("rgb16.ppm"), 3), Kind::rgb, 3, 1, true);
    image_set_flip(1);
    expect_pattern(load(fixture("rgba8.png"), 4), Kind::rgba, 4, 0, true);
    std::vector<uint8_t> bmp = read_bytes(fixture("rgb24.bmp"));
    expect_pattern(image_load_from_memory(static_cast<int64_t>(bmp.size()), bmp.data(), 3),
                   Kind::rgb, 3, 0, true);
    image_set_flip(0);
    expect_pattern(load(fixture("rgba8.png"), 4), Kind::rgba, 4, 0, false);
}

TEST_F(ImageTest, FlipKeepsOrientationWhenOnBothWays) {
    for (const EncoderCase& e : encoders) {
        SCOPED_TRACE(e.extension);
        std::string path = temp(std::string("kept.") + e.extension);
        image_set_flip(1);
        Image flipped = load(fixture("rgb24.bmp"), 3);
        ASSERT_TRUE(save(flipped, path, 3));
        image_set_flip(0);
        expect_pattern(load(path, 3), Kind::rgb, 3, e.tolerance, false);
    }
}

TEST_F(ImageTest, LoadedFlippedAndSavedPlainComesOutUpsideDown) {
    for (const EncoderCase& e : encoders) {
        SCOPED_TRACE(e.extension);
        std::string path = temp(std::string("upside.") + e.extension);
        image_set_flip(1);
        Image flipped = load(fixture("rgb24.bmp"), 3);
        image_set_flip(0);
        ASSERT_TRUE(save(flipped, path, 3));
        expect_pattern(load(path, 3), Kind::rgb, 3, e.tolerance, true);
    }
}

// --- the limits of each format: saves at the limit reload whole, one past is refused ---

constexpr int max_16_bit = 65535;

TEST_F(ImageTest, SixteenBitSizesSaveAndReloadWhole) {
    for (const EncoderCase& e : encoders) {
        for (bool wide : {true, false}) {
            int w = wide ? max_16_bit : 2, h = wide ? 2 : max_16_bit;
            SCOPED_TRACE(testing::Message() << e.extension << " " << w << " x " << h);
            std::vector<uint8_t> pixels(size_t(w) * size_t(h) * 3);
            for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7 / 3);
            std::string path = temp(std::string("limit.") + e.extension);
            ASSERT_TRUE(save(Image{pixels.data(), w, h}, path, 3));
            image_set_buffer(pool_bytes, pool.data());
            Image back = load(path, 3);
            ASSERT_NE(back.data, nullptr);
            EXPECT_EQ(back.width, w);
            EXPECT_EQ(back.height, h);
        }
    }
}

struct PastLimitCase {
    const char* extension;
    int width, height, channels;
};

// Refused before a pixel is read or the file is made; none of these could be written whole.
const PastLimitCase past_limits[] = {
    {"tga", 65536, 2, 3},     {"tga", 70000, 2, 3},  {"tga", 2, 65536, 3},
    {"jpg", 65536, 2, 3},     {"jpg", 70000, 2, 3},  {"jpg", 2, 65536, 3},
    {"png", 20000, 20000, 4}, {"png", 16777216, 1, 1}, {"png", 1, 286331152, 4},
    {"bmp", 715827865, 1, 3}, {"bmp", 1, 536870899, 3}, {"bmp", 536870882, 1, 4},
};

TEST_F(ImageTest, SavesPastAFormatsLimitsAreRefused) {
    std::vector<uint8_t> few(16);
    for (const PastLimitCase& c : past_limits) {
        SCOPED_TRACE(testing::Message() << c.extension << " " << c.width << " x " << c.height << " x " << c.channels);
        std::string path = temp(std::string("past.") + c.extension);
        EXPECT_FALSE(save(Image{few.data(), c.width, c.height}, path, int8_t(c.channels)));
        EXPECT_FALSE(fs::exists(path));
    }
}

// The decoder takes no width or height past 2^24, whatever the format holds.
TEST_F(ImageTest, LoadsTakeSizesUpTo2To24) {
    constexpr int limit = 1 << 24;
    std::vector<uint8_t> big(size_t{limit} + 64 * 1024);
    image_set_buffer(int64_t(big.size()), big.data());
    for (int width : {limit, limit + 1}) {
        SCOPED_TRACE(width);
        std::vector<uint8_t> pgm = bytes_of("P5 " + std::to_string(width) + " 1 255\n");
        pgm.resize(pgm.size() + size_t(width), 0x42);
        image_set_buffer(int64_t(big.size()), big.data());
        Image image = image_load_from_memory(int64_t(pgm.size()), pgm.data(), 1);
        if (width == limit) {
            ASSERT_NE(image.data, nullptr);
            EXPECT_EQ(image.width, limit);
            EXPECT_EQ(image.data[limit - 1], 0x42);
        } else {
            expect_empty(image);
        }
    }
    image_set_buffer(0, nullptr);
}

// A PNG whose pixels pass 2^30 bytes is refused by the decoder at its header (so the
// largest PNGs the service saves do not load back through it). At the limit the decoder
// goes on and asks the pool for the pixels; one row more and it asks for nothing.
TEST_F(ImageTest, PngLoadsTakeUpTo2To30BytesOfPixels) {
    struct Row {
        uint32_t width, height;
        int colour;  // 0 grey, 3 paletted (whose limit counts 4 bytes a pixel)
        bool asks_the_pool;
    };
    const Row rows[] = {
        {16384, 65536, 0, true}, {16384, 65537, 0, false},
        {16384, 16384, 3, true}, {16384, 16385, 3, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.width << " x " << r.height << ", colour type " << r.colour);
        std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        std::vector<uint8_t> header;
        put_be(header, r.width, 4);
        put_be(header, r.height, 4);
        for (int v : {8, r.colour, 0, 0, 0}) header.push_back(uint8_t(v));
        put_png_chunk(png, "IHDR", header);
        if (r.colour == 3) put_png_chunk(png, "PLTE", {1, 2, 3});
        put_png_chunk(png, "IDAT", stored_zlib({0, 0}));
        put_png_chunk(png, "IEND", {});
        image_set_buffer(pool_bytes, pool.data());
        Image image{};
        std::string printed = capture_stdout([&] {
            image = image_load_from_memory(int64_t(png.size()), png.data(), 1);
        });
        expect_empty(image);
        EXPECT_EQ(printed == "image memory allocation failed\n", r.asks_the_pool) << printed;
    }
}

// --- a pool whose block starts at any address ---

// The decoders store 8-byte values in what the pool hands out; under the sanitizers a
// misaligned store is reported. Every fixture decodes from a pool at an odd address as from
// an aligned one, and its pixels lie at an aligned address.
TEST_F(ImageTest, DecodesIntoAPoolAtAnyAddress) {
    for (const FixtureCase& f : fixtures) {
        std::vector<uint8_t> bytes = read_bytes(fixture(f.file));
        image_set_buffer(pool_bytes - 8, pool.data());
        Image aligned = image_load_from_memory(int64_t(bytes.size()), bytes.data(), 4);
        ASSERT_NE(aligned.data, nullptr);
        std::vector<uint8_t> want(aligned.data, aligned.data + aligned.width * aligned.height * 4);
        for (int misalignment : {1, 3, 7}) {
            SCOPED_TRACE(testing::Message() << f.file << " at base + " << misalignment);
            image_set_buffer(pool_bytes - 8, pool.data() + misalignment);
            Image image = image_load_from_memory(int64_t(bytes.size()), bytes.data(), 4);
            ASSERT_NE(image.data, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(image.data) % 8, 0u);
            EXPECT_EQ(std::vector<uint8_t>(image.data, image.data + want.size()), want);
            image_set_buffer(pool_bytes - 8, pool.data() + misalignment);
            EXPECT_NE(load(fixture(f.file), 4).data, nullptr);
        }
    }
}

}  // namespace
