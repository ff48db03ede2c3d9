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
// Huffman tables among them, which a file that never defines one still uses), and a pool
// set again holds an earlier load's bytes: those must not steer a decode. Blocks up to
// this size start zeroed; it holds every decoder's state record (checked below), while
// the pixel buffers of pictures large enough to time lie far above it.
constexpr size_t zeroed_block_limit = 64 << 10;

// stb_image counts in size_t; a count beyond the pool's signed range is asked for as the
// largest request, which no pool serves, so the pool reports the failure as usual.
int64_t pool_request(size_t size) {
    return size > static_cast<size_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(size);
}

void* pool_allocate(size_t size) {
    void* block = image_memory_allocate(pool_request(size));
    if (block && size <= zeroed_block_limit) std::memset(block, 0, size);
    return block;
}

void* pool_reallocate(void* block, size_t old_size, size_t new_size) {
    return image_memory_reallocate(block, pool_request(old_size), pool_request(new_size));
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

static_assert(sizeof(stbi__jpeg) <= zeroed_block_limit, "the JPEG decoder's state starts zeroed");

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

// A file read for the decoder through the guard: the bytes that make the guard refuse, and
// all after them, never reach the decoder, which then meets the end of the file and fails.
struct GuardedFile {
    std::FILE* file;
    ImageGuard guard;
};

// What a skip reads through at a time, so the guard sees the skipped bytes too.
constexpr size_t skip_chunk = 4096;

int read_guarded(void* context, char* data, int size) {
    auto* source = static_cast<GuardedFile*>(context);
    if (source->guard.refused || size <= 0) return 0;
    size_t count = std::fread(data, 1, static_cast<size_t>(size), source->file);
    auto* bytes = reinterpret_cast<const uint8_t*>(data);
    if (!image_guard_feed(source->guard, bytes, static_cast<int64_t>(count))) return 0;
    return static_cast<int>(count);
}

void skip_guarded(void* context, int count) {
    auto* source = static_cast<GuardedFile*>(context);
    uint8_t scratch[skip_chunk];
    size_t left = count > 0 ? static_cast<size_t>(count) : 0;
    while (left > 0 && !source->guard.refused) {
        size_t got = std::fread(scratch, 1, std::min(left, skip_chunk), source->file);
        if (got == 0) return;
        left -= got;
        if (!image_guard_feed(source->guard, scratch, static_cast<int64_t>(got))) return;
    }
}

int at_end_guarded(void* context) {
    auto* source = static_cast<GuardedFile*>(context);
    return source->guard.refused || std::feof(source->file) || std::ferror(source->file);
}

constexpr stbi_io_callbacks guarded_file = {read_guarded, skip_guarded, at_end_guarded};

// Binary grey and colour PNM; only these carry 16-bit samples among the PNM kinds read.
constexpr char pnm_mark = 'P';
constexpr char pnm_grey = '5';
constexpr char pnm_colour = '6';
constexpr size_t pnm_magic_bytes = 2;
constexpr unsigned sample_low_byte = 0xFF;

bool is_pnm_magic(const uint8_t* magic) {
    return magic[0] == pnm_mark && (magic[1] == pnm_grey || magic[1] == pnm_colour);
}

// This stb version reads 16-bit PNM samples in the machine's byte order, but PNM stores
// them most significant byte first: such files are decoded at 16 bits and reduced here.
bool is_16_bit_pnm(const uint8_t* data, int32_t size) {
    return size >= static_cast<int32_t>(pnm_magic_bytes) && is_pnm_magic(data) &&
           stbi_is_16_bit_from_memory(data, size);
}

// Read through the guard as well: the decoder's look at the header adds up its numbers.
bool is_16_bit_pnm_file(std::FILE* file) {
    uint8_t magic[pnm_magic_bytes];
    bool pnm = std::fread(magic, 1, pnm_magic_bytes, file) == pnm_magic_bytes &&
               is_pnm_magic(magic);
    std::rewind(file);
    if (!pnm) return false;
    GuardedFile source = {file, ImageGuard{}};
    bool wide = stbi_is_16_bit_from_callbacks(&guarded_file, &source);
    std::rewind(file);
    return wide;
}

// Keeps each sample's most significant byte, which the decoder left in the low half, and
// converts to the requested channel count as the decoder would have.
uint8_t* reduce_pnm_samples(const stbi_us* samples, int width, int height, int own_channels,
                            int32_t channels) {
    int64_t count = int64_t{width} * height * own_channels;
    auto* reduced = static_cast<uint8_t*>(image_memory_allocate(count));
    if (!reduced) return nullptr;
    for (int64_t i = 0; i < count; ++i) {
        reduced[i] = static_cast<uint8_t>(samples[i] & sample_low_byte);
    }
    if (channels == 0 || channels == own_channels) return reduced;
    return stbi__convert_format(reduced, own_channels, channels, static_cast<unsigned>(width),
                                static_cast<unsigned>(height));
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
    // Opened here rather than by the library, so that the 16-bit PNM check can look first
    // and the guard sees every byte before the decoder does; and opened without waiting,
    // so a FIFO nobody writes to reads as empty instead of holding the caller for ever.
    std::FILE* file = platform_open_narrow(path, "rb");
    if (!file) return nullptr;
    int w = 0, h = 0, own_channels = 0;
    uint8_t* pixels = nullptr;
    GuardedFile source = {file, ImageGuard{}};
    if (is_16_bit_pnm_file(file)) {
        stbi_us* samples = stbi_load_16_from_callbacks(&guarded_file, &source, &w, &h,
                                                       &own_channels, 0);
        if (samples) pixels = reduce_pnm_samples(samples, w, h, own_channels, channels);
    } else {
        pixels = stbi_load_from_callbacks(&guarded_file, &source, &w, &h, &own_channels,
                                          channels);
    }
    std::fclose(file);
    if (!pixels || !image_guard_finish(source.guard)) return nullptr;
    *width = w;
    *height = h;
    return pixels;
}

uint8_t* image_codec_load_from_memory(const uint8_t* data, int32_t size, int32_t channels,
                                      int32_t* width, int32_t* height) {
    if (!image_guard_accepts(data, size)) return nullptr;
    int w = 0, h = 0, own_channels = 0;
    uint8_t* pixels = nullptr;
    if (is_16_bit_pnm(data, size)) {
        stbi_us* samples = stbi_load_16_from_memory(data, size, &w, &h, &own_channels, 0);
        if (samples) pixels = reduce_pnm_samples(samples, w, h, own_channels, channels);
    } else {
        pixels = stbi_load_from_memory(data, size, &w, &h, &own_channels, channels);
    }
    if (!pixels) return nullptr;
    *width = w;
    *height = h;
    return pixels;
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
