#include "runtime/media/image_codec.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "runtime/media/pool.h"

namespace {

// stb_image counts in size_t; a count beyond the pool's signed range is asked for as the
// largest request, which no pool serves, so the pool reports the failure as usual.
int64_t pool_request(size_t size) {
    return size > static_cast<size_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(size);
}

void* pool_allocate(size_t size) { return image_memory_allocate(pool_request(size)); }

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
    int w = 0, h = 0, own_channels = 0;
    stbi_uc* pixels = stbi_load(path, &w, &h, &own_channels, channels);
    if (!pixels) return nullptr;
    *width = w;
    *height = h;
    return pixels;
}

uint8_t* image_codec_load_from_memory(const uint8_t* data, int32_t size, int32_t channels,
                                      int32_t* width, int32_t* height) {
    int w = 0, h = 0, own_channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, size, &w, &h, &own_channels, channels);
    if (!pixels) return nullptr;
    *width = w;
    *height = h;
    return pixels;
}

bool image_codec_save(ImageEncoding encoding, const char* path, int32_t width, int32_t height,
                      int32_t channels, const uint8_t* pixels) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    FileSink sink = {file, false};
    bool encoded = encode(encoding, &sink, width, height, channels, pixels) != 0;
    bool closed = std::fclose(file) == 0;
    return encoded && closed && !sink.failed;
}
