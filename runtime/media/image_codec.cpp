#include "runtime/media/image_codec.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/media/image_guard.h"
#include "runtime/media/pool.h"
#include "runtime/system/platform.h"

namespace {

// The decoders build their state in blocks they do not clear first (the JPEG decoder's
// Huffman tables among them, which a file that never defines one still uses), some leave
// parts of their pixels unwritten (the planes of JPEG components no scan covers, the rows a
// truncated TGA or PNM never reaches), and a pool set again holds an earlier load's bytes:
// those must never steer a decode or come back as pixels. So every block starts zeroed.
// (Growth need not be cleared: the only growing buffers, compressed and inflated data, are
// written before they are read.)

// Blocks reach the decoders at addresses that are multiples of this whatever the program's
// base: they store 8-byte values in them.
constexpr uintptr_t block_alignment = 8;

// The pool aligns offsets from its base, so every block it hands out lies the same distance
// short of an aligned address when the base is not aligned: the bytes put in front of each.
size_t alignment_lead() {
    return static_cast<size_t>(-reinterpret_cast<uintptr_t>(image_memory) & (block_alignment - 1));
}

// stb_image counts in size_t; a count beyond the pool's signed range is asked for as the
// largest request, which no pool serves, so the pool reports the failure as usual.
int64_t pool_request(size_t size, size_t lead) {
    constexpr auto largest = static_cast<size_t>(INT64_MAX);
    return size > largest - lead ? INT64_MAX : static_cast<int64_t>(size + lead);
}

void* pool_allocate(size_t size) {
    size_t lead = alignment_lead();
    int64_t request = pool_request(size, lead);
    auto* block = static_cast<unsigned char*>(image_memory_allocate(request));
    // (A block was served, so the request was no larger than the pool.)
    if (!block) return nullptr;
    std::memset(block + lead, 0, static_cast<size_t>(request) - lead);
    return block + lead;
}

void* pool_reallocate(void* block, size_t old_size, size_t new_size) {
    if (!block) return pool_allocate(new_size);
    size_t lead = alignment_lead();
    auto* start = static_cast<unsigned char*>(block) - lead;
    auto* grown = static_cast<unsigned char*>(
        image_memory_reallocate(start, pool_request(old_size, lead), pool_request(new_size, lead)));
    return grown ? grown + lead : nullptr;
}

}  // namespace

// Decoded pixels and every intermediate buffer come from the image pool. Nothing goes back
// piece by piece: the program empties the pool by setting it again.
#define STBI_MALLOC(size) pool_allocate(size)
#define STBI_REALLOC_SIZED(block, old_size, new_size) pool_reallocate(block, old_size, new_size)
#define STBI_FREE(block) ((void)(block))
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_ONLY_PSD
#define STBI_ONLY_GIF
#define STBI_ONLY_PIC
#define STBI_ONLY_PNM
// Said up front as well: the header's declarations look at these before the ONLY list.
#define STBI_NO_HDR
#define STBI_NO_LINEAR
// Nobody asks why a load failed, so the texts would be dead weight.
#define STBI_NO_FAILURE_STRINGS
// One thread uses the runtime: the flip setting is a plain process-global.
#define STBI_NO_THREAD_LOCALS
// Static, so no other copy of the libraries in the process can take the place of this one.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
// The writer keeps the heap and its default settings; files are opened here instead, so
// that a short write or a failed close is noticed.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb_image.h>
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

// stb_image_write's best quality; saves always ask for it.
constexpr int jpeg_quality = 100;

struct FileSink {
    std::FILE* file;
    bool failed;  // sticky: once a write fell short, the rest is skipped
};

void write_to_file(void* context, void* data, int size) {
    auto* sink = static_cast<FileSink*>(context);
    if (sink->failed || size <= 0) return;
    size_t count = static_cast<size_t>(size);
    if (std::fwrite(data, 1, count, sink->file) != count) sink->failed = true;
}

// What the decoder reads through: a file, each byte seen by the guard before the decoder
// gets it (the bytes that make the guard refuse, and all after them, never reach the
// decoder, which then meets the end and fails), or bytes in memory (checked whole before);
// and in both the PNG palette pass.
struct Feed {
    std::FILE* file;  // null for memory
    const uint8_t* data;
    int64_t size;
    int64_t at;
    ImageGuard guard;
    PngPalette palette;
};

// What a skip reads through at a time, so the guard and the palette pass see those bytes.
constexpr size_t skip_chunk = 4096;

size_t read_raw(Feed& feed, uint8_t* bytes, size_t count) {
    if (!feed.file) {
        size_t got = static_cast<size_t>(std::min<int64_t>(feed.size - feed.at, int64_t(count)));
        std::memcpy(bytes, feed.data + feed.at, got);
        feed.at += static_cast<int64_t>(got);
        return got;
    }
    if (feed.guard.refused) return 0;
    size_t got = std::fread(bytes, 1, count, feed.file);
    return image_guard_feed(feed.guard, bytes, static_cast<int64_t>(got)) ? got : 0;
}

int read_feed(void* context, char* data, int size) {
    auto* feed = static_cast<Feed*>(context);
    if (size <= 0) return 0;
    auto* bytes = reinterpret_cast<uint8_t*>(data);
    size_t got = read_raw(*feed, bytes, static_cast<size_t>(size));
    png_palette_pass(feed->palette, bytes, static_cast<int64_t>(got));
    return static_cast<int>(got);
}

void skip_feed(void* context, int count) {
    uint8_t scratch[skip_chunk];
    int left = std::max(count, 0);
    while (left > 0) {
        int got = read_feed(context, reinterpret_cast<char*>(scratch), std::min(left, int{skip_chunk}));
        if (got == 0) return;
        left -= got;
    }
}

int at_end_feed(void* context) {
    auto* feed = static_cast<Feed*>(context);
    if (!feed->file) return feed->at >= feed->size;
    return feed->guard.refused || std::feof(feed->file) || std::ferror(feed->file);
}

constexpr stbi_io_callbacks feed_callbacks = {read_feed, skip_feed, at_end_feed};

Feed file_feed(std::FILE* file) { return Feed{file, nullptr, 0, 0, ImageGuard{}, PngPalette{}}; }

Feed memory_feed(const uint8_t* data, int32_t size) {
    return Feed{nullptr, data, size, 0, ImageGuard{}, PngPalette{}};
}

// Where the encoded bytes come from: memory handed to the decoder as it is, or a feed.
struct Source {
    const uint8_t* data;
    int32_t size;
    Feed* feed;  // null for memory as it is
};

stbi_uc* decode_8_bit(const Source& source, int* w, int* h, int* own_channels, int channels) {
    return source.feed ? stbi_load_from_callbacks(&feed_callbacks, source.feed, w, h, own_channels, channels)
                       : stbi_load_from_memory(source.data, source.size, w, h, own_channels, channels);
}

stbi_us* decode_16_bit(const Source& source, int* w, int* h, int* own_channels) {
    return source.feed ? stbi_load_16_from_callbacks(&feed_callbacks, source.feed, w, h, own_channels, 0)
                       : stbi_load_16_from_memory(source.data, source.size, w, h, own_channels, 0);
}

// PNM samples run from 0 to the file's own largest value, which the decoder ignores: it
// hands 8-bit samples on as they are and 16-bit ones in the machine's byte order, where
// PNM stores them most significant byte first. Such files are decoded with their own
// channels and scaled here, rounding down as other readers do.
constexpr int64_t full_8_bit = 255;

bool needs_scaling(int64_t pnm_max_value) {
    return pnm_max_value != 0 && pnm_max_value != full_8_bit;
}

// In place: sample i is written after samples up to i have been read.
void scale_pnm_samples(uint8_t* bytes, bool wide, int64_t max_value, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        int64_t value = wide ? int64_t{bytes[2 * i]} << 8 | bytes[2 * i + 1] : bytes[i];
        bytes[i] = static_cast<uint8_t>(std::min(full_8_bit, value * full_8_bit / max_value));
    }
}

uint8_t* decode_scaled_pnm(const Source& source, int64_t max_value, int32_t channels, int* w,
                           int* h) {
    int own_channels = 0;
    bool wide = max_value > full_8_bit;
    void* samples = wide ? static_cast<void*>(decode_16_bit(source, w, h, &own_channels))
                         : static_cast<void*>(decode_8_bit(source, w, h, &own_channels, 0));
    if (!samples) return nullptr;
    auto* bytes = static_cast<uint8_t*>(samples);
    scale_pnm_samples(bytes, wide, max_value, int64_t{*w} * *h * own_channels);
    if (channels == 0 || channels == own_channels) return bytes;
    // As the decoder would have converted them.
    return stbi__convert_format(bytes, own_channels, channels, static_cast<unsigned>(*w),
                                static_cast<unsigned>(*h));
}

// A paletted PNG came through the palette pass as grey: each pixel's first channel holds
// its index as a grey level. Looked up here as the decoder would have: 3 channels, or 4
// with a tRNS, delivered directly when 3 or 4 are asked for, else converted. Null when an
// index names no entry, or the decoder would have refused the palette.
constexpr int32_t palette_channels = 3;
constexpr int32_t palette_alpha_channels = 4;

uint8_t* look_up_palette(const PngPalette& palette, const uint8_t* grey, int32_t channels,
                         int w, int h) {
    int32_t own_channels = palette.transparent ? palette_alpha_channels : palette_channels;
    int32_t out_channels = channels >= palette_channels ? channels : own_channels;
    int32_t step = channels == 0 ? 1 : channels;
    int64_t count = int64_t{w} * h;
    auto* out = static_cast<uint8_t*>(pool_allocate(static_cast<size_t>(count * out_channels)));
    if (!out) return nullptr;
    for (int64_t i = 0; i < count; ++i) {
        int32_t index = png_palette_index(palette, grey[i * step]);
        if (index < 0) return nullptr;
        std::memcpy(out + i * out_channels, palette.entries[index], static_cast<size_t>(out_channels));
    }
    if (channels == 0 || channels == out_channels) return out;
    return stbi__convert_format(out, out_channels, channels, static_cast<unsigned>(w),
                                static_cast<unsigned>(h));
}

uint8_t* decode(const Source& source, int64_t pnm_max_value, int32_t channels, int* w, int* h) {
    if (needs_scaling(pnm_max_value)) return decode_scaled_pnm(source, pnm_max_value, channels, w, h);
    int own_channels = 0;
    uint8_t* pixels = decode_8_bit(source, w, h, &own_channels, channels);
    if (!pixels || !source.feed || !source.feed->palette.paletted) return pixels;
    return look_up_palette(source.feed->palette, pixels, channels, *w, *h);
}

constexpr uint8_t png_first_byte = 0x89;

// Only PNGs need the palette pass; other pictures in memory go to the decoder as they are.
bool may_be_png(const uint8_t* data, int32_t size) { return size > 0 && data[0] == png_first_byte; }

bool in_pnm_header(const ImageGuard& guard) {
    switch (guard.phase) {
        case GuardPhase::signature:
        case GuardPhase::pnm_kind:
        case GuardPhase::pnm_space:
        case GuardPhase::pnm_comment:
        case GuardPhase::pnm_digits:
            return true;
        default:
            return false;
    }
}

// A PNM file's largest sample value (0 for any other picture), read through the guard
// as far as the header goes; the file is back at its start afterwards.
int64_t pnm_max_value_of_file(std::FILE* file) {
    ImageGuard guard{};
    uint8_t chunk[skip_chunk];
    while (in_pnm_header(guard) && !guard.refused) {
        size_t got = std::fread(chunk, 1, sizeof chunk, file);
        if (got == 0) break;
        (void)image_guard_feed(guard, chunk, static_cast<int64_t>(got));
    }
    std::rewind(file);
    return guard.pnm_max_value;
}

// What the encoders can count, each in a signed 32-bit int.
constexpr int64_t int_limit = INT32_MAX;
// TGA and JPEG headers hold 16-bit sizes.
constexpr int64_t max_16_bit_size = 65535;
// BMP: file and bitmap headers, 40 bytes of bitmap header for 24-bit pixels, 108 with the
// masks of 32-bit ones. Fewer than 4 channels are written as 3 bytes a pixel (grey
// repeated, alpha dropped), rows padded to 4 bytes; 4 channels as 4 bytes, unpadded.
constexpr int64_t bmp_rgb_header_bytes = 14 + 40;
constexpr int64_t bmp_rgba_header_bytes = 14 + 108;
constexpr int64_t bmp_rgb_pixel_bytes = 3;
constexpr int64_t bmp_rgba_pixel_bytes = 4;
constexpr int64_t bmp_row_alignment = 4;
// PNG: to choose a row's filter the encoder adds up each filtered byte's size, at most 128.
constexpr int64_t png_filter_score_per_byte = 128;
constexpr int64_t png_filter_bytes_per_row = 1;
// Its compressor keeps its output in a buffer whose capacity, an int, goes 2, 5, 11, ...
// (twice plus one): the last it reaches, 3 x 2^29 - 1, holds one byte less than that.
constexpr int64_t deflate_max_output = int64_t{3} * (int64_t{1} << 29) - 2;
// Worst case: every byte a 9-bit literal, after the 2-byte stream header and the 3-bit
// block header, then the 7-bit end of block, padding to a byte, and the 4-byte checksum.
constexpr int64_t deflate_bits_per_byte = 9;
constexpr int64_t deflate_header_bytes = 2;
constexpr int64_t deflate_block_bits = 3 + 7;
constexpr int64_t deflate_checksum_bytes = 4;

// The most bytes the compressor can put out for `count` bytes of input.
int64_t deflate_worst_output(int64_t count) {
    int64_t bits = count * deflate_bits_per_byte + deflate_block_bits;
    return deflate_header_bytes + (bits + 7) / 8 + deflate_checksum_bytes;
}

// Products of two sizes of at most 2^31 each, and a channel count, fit in 64 bits.
bool bmp_fits(int64_t width, int64_t height, int64_t channels) {
    bool rgba = channels == bmp_rgba_pixel_bytes;
    int64_t row = width * (rgba ? bmp_rgba_pixel_bytes : bmp_rgb_pixel_bytes);
    row = (row + bmp_row_alignment - 1) / bmp_row_alignment * bmp_row_alignment;
    int64_t header = rgba ? bmp_rgba_header_bytes : bmp_rgb_header_bytes;
    return row <= int_limit && header + row * height <= int_limit;
}

bool png_fits(int64_t width, int64_t height, int64_t channels) {
    int64_t row = width * channels;
    if (row * png_filter_score_per_byte > int_limit) return false;
    int64_t filtered = (row + png_filter_bytes_per_row) * height;
    return filtered <= int_limit && deflate_worst_output(filtered) <= deflate_max_output;
}

bool sixteen_bit_fits(int64_t width, int64_t height, int64_t channels) {
    return width <= max_16_bit_size && height <= max_16_bit_size &&
           width * height * channels <= int_limit;
}

int encode(ImageEncoding encoding, FileSink* sink, int width, int height, int channels,
           const uint8_t* pixels) {
    switch (encoding) {
        case ImageEncoding::bmp:
            return stbi_write_bmp_to_func(write_to_file, sink, width, height, channels, pixels);
        case ImageEncoding::png:
            return stbi_write_png_to_func(write_to_file, sink, width, height, channels, pixels,
                                          width * channels);
        case ImageEncoding::tga:
            return stbi_write_tga_to_func(write_to_file, sink, width, height, channels, pixels);
        case ImageEncoding::jpg:
            return stbi_write_jpg_to_func(write_to_file, sink, width, height, channels, pixels,
                                          jpeg_quality);
    }
    return 0;
}

}  // namespace

void image_codec_set_flip(bool flip) {
    stbi_set_flip_vertically_on_load(flip);
    stbi_flip_vertically_on_write(flip);
}

uint8_t* image_codec_load(const char* path, int32_t channels, int32_t* width, int32_t* height) {
    // Opened here rather than by the library, so that the PNM header can be read first and
    // the guard sees every byte before the decoder does; and opened without waiting, so a
    // FIFO nobody writes to reads as empty instead of holding the caller for ever.
    std::FILE* file = platform_open_narrow(path, "rb");
    if (!file) return nullptr;
    int64_t pnm_max_value = pnm_max_value_of_file(file);
    Feed feed = file_feed(file);
    int w = 0, h = 0;
    uint8_t* pixels = decode(Source{nullptr, 0, &feed}, pnm_max_value, channels, &w, &h);
    std::fclose(file);
    if (!pixels || !image_guard_finish(feed.guard)) return nullptr;
    *width = w;
    *height = h;
    return pixels;
}

uint8_t* image_codec_load_from_memory(const uint8_t* data, int32_t size, int32_t channels,
                                      int32_t* width, int32_t* height) {
    ImageGuard guard{};
    if (!image_guard_feed(guard, data, size) || !image_guard_finish(guard)) return nullptr;
    Feed feed = memory_feed(data, size);
    Source source = {data, size, may_be_png(data, size) ? &feed : nullptr};
    int w = 0, h = 0;
    uint8_t* pixels = decode(source, guard.pnm_max_value, channels, &w, &h);
    if (!pixels) return nullptr;
    *width = w;
    *height = h;
    return pixels;
}

bool image_codec_can_encode(ImageEncoding encoding, int32_t width, int32_t height,
                            int32_t channels) {
    if (width < 1 || height < 1 || channels < 1) return false;
    switch (encoding) {
        case ImageEncoding::bmp: return bmp_fits(width, height, channels);
        case ImageEncoding::png: return png_fits(width, height, channels);
        case ImageEncoding::tga:
        case ImageEncoding::jpg: return sixteen_bit_fits(width, height, channels);
    }
    return false;
}

bool image_codec_save(ImageEncoding encoding, const char* path, int32_t width, int32_t height,
                      int32_t channels, const uint8_t* pixels) {
    // A FIFO nobody reads is refused rather than waited on.
    std::FILE* file = platform_open_narrow(path, "wb");
    if (!file) return false;
    FileSink sink = {file, false};
    bool encoded = encode(encoding, &sink, width, height, channels, pixels) != 0;
    bool closed = std::fclose(file) == 0;
    return encoded && closed && !sink.failed;
}
