#include "runtime/media/image.h"

#include <cstring>

#include "runtime/media/image_codec.h"
#include "runtime/system/temporary.h"

namespace {

// Pixels hold grey; grey and alpha; red, green, blue; or those and alpha.
constexpr int8_t max_channels = 4;
// The decoder counts encoded bytes in a signed 32-bit int.
constexpr int64_t max_encoded_size = INT32_MAX;

constexpr Image empty_image = {nullptr, 0, 0};

struct NamedEncoding {
    Slice extension;
    ImageEncoding encoding;
};

// Searched in this order; the first match decides.
constexpr NamedEncoding named_encodings[] = {
    {slice_literal("bmp"), ImageEncoding::bmp},
    {slice_literal("png"), ImageEncoding::png},
    {slice_literal("tga"), ImageEncoding::tga},
    {slice_literal("jpg"), ImageEncoding::jpg},
};

bool find_encoding(Slice path, ImageEncoding* encoding) {
    for (const NamedEncoding& named : named_encodings) {
        if (slice_has_extension(path, named.extension)) {
            *encoding = named.encoding;
            return true;
        }
    }
    return false;
}

// The terminated copy the C library opens; null for a path the ring refuses, such as
// one holding a NUL byte.
const char* terminated_path(Slice path) {
    Slice copy = path;
    if (!append_character(copy)) return nullptr;
    return copy.data;
}

bool valid_load_channels(int8_t channels) { return channels >= 0 && channels <= max_channels; }

bool is_picture(Image image, int8_t channels) {
    return image.data && image.width > 0 && image.height > 0 && channels >= 1 &&
           channels <= max_channels;
}

// A picture without pixels is no picture, whatever the decoder made of its header.
Image loaded(uint8_t* data, int32_t width, int32_t height) {
    return data && width > 0 && height > 0 ? Image{data, width, height} : empty_image;
}

}  // namespace

void image_set_flip(uint8_t flip) { image_codec_set_flip(flip != 0); }

Image image_load(Slice path, int8_t channels) {
    if (!valid_load_channels(channels)) return empty_image;
    const char* terminated = terminated_path(path);
    if (!terminated) return empty_image;
    int32_t width = 0, height = 0;
    uint8_t* pixels = image_codec_load(terminated, channels, &width, &height);
    return loaded(pixels, width, height);
}

Image image_load_from_memory(int64_t size, const void* data, int8_t channels) {
    if (!valid_load_channels(channels)) return empty_image;
    if (!data || size < 0 || size > max_encoded_size) return empty_image;
    int32_t width = 0, height = 0;
    uint8_t* pixels = image_codec_load_from_memory(static_cast<const uint8_t*>(data),
                                                   static_cast<int32_t>(size), channels, &width,
                                                   &height);
    return loaded(pixels, width, height);
}

bool image_save(Image image, Slice path, int8_t channels) {
    if (!is_picture(image, channels)) return false;
    ImageEncoding encoding;
    if (!find_encoding(path, &encoding)) return false;
    // Decided before the file is created, so nothing is written.
    if (!image_codec_can_encode(encoding, image.width, image.height, channels)) return false;
    const char* terminated = terminated_path(path);
    if (!terminated) return false;
    return image_codec_save(encoding, terminated, image.width, image.height, channels,
                            image.data);
}
