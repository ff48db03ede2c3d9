// Any bytes as an encoded picture, loaded with every channel count and both flip settings,
// from memory or through a file, into an image pool at an aligned or an odd address. A load
// either fails as the empty image or delivers pixels that lie wholly inside the part of the
// pool handed out; every pixel byte is read, so one outside a block is caught. Each input is
// loaded twice, over pool and stack bytes filled differently: the results must be the same,
// byte for byte, so no pixel comes from memory the file does not define. A picture that
// loads is saved again in the format its first byte chooses, when the encoder takes its
// size, and must reload with that size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runtime/media/image.h"
#include "runtime/media/image_codec.h"
#include "runtime/media/pool.h"

namespace {

// Room for pictures of a few megapixels with every buffer of their decode; larger ones
// take the pool's failure path, which needs fuzzing as much.
constexpr int64_t pool_bytes = int64_t{16} << 20;
// The first input byte chooses how to load the rest: its value modulo 5 the channels,
// these bits the flip setting and the file path.
constexpr int channel_choices = 5;
constexpr uint8_t flip_bit = 0x80;
constexpr uint8_t file_bit = 0x40;
// The pool's block starts this many bytes past an aligned address: 0 to 7.
constexpr uint8_t offset_bits = 0x38;
constexpr int offset_shift = 3;
constexpr int64_t max_offset = 7;
// Saves of pictures larger than this are not tried: fuzzing wants many runs a second.
constexpr int64_t max_saved_bytes = int64_t{1} << 20;
// The fill bytes of the two loads, and how much of the stack the second one dirties.
constexpr uint8_t first_fill = 0x5A;
constexpr uint8_t second_fill = 0xA5;
constexpr size_t dirtied_stack_bytes = 256 << 10;
const char* const save_extensions[] = {".bmp", ".png", ".tga", ".jpg"};

std::vector<unsigned char>& pool() {
    static std::vector<unsigned char> block(static_cast<size_t>(pool_bytes + max_offset));
    return block;
}

// How much of the pool any load has used so far: the part worth filling before the next.
int64_t& pool_high_water() {
    static int64_t used = 0;
    return used;
}

// Gives the block back to the program, fills what loads have used with `fill`, and sets the
// pool again `offset` bytes into it.
void refill_pool(uint8_t fill, int64_t offset) {
    image_set_buffer(0, nullptr);
    size_t used = static_cast<size_t>(std::min(pool_high_water() + max_offset, pool_bytes + max_offset));
    std::memset(pool().data(), fill, used);
    image_set_buffer(pool_bytes, pool().data() + offset);
}

[[gnu::noinline]] void dirty_the_stack(uint8_t fill) {
    volatile uint8_t area[dirtied_stack_bytes];
    for (auto& byte : area) byte = fill;
}

const std::string& scratch_path() {
    // Named at random: other fuzzing processes may be at work beside this one.
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("image_fuzz." + std::to_string(std::random_device{}())))
                                        .string();
    return path;
}

void write_scratch(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(scratch_path().c_str(), "wb");
    if (!file) std::abort();
    if (std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();
}

Slice slice_of(const std::string& text) { return Slice{text.data(), static_cast<int64_t>(text.size())}; }

Image load(const uint8_t* data, size_t size, int8_t channels, bool through_file) {
    if (through_file) return image_load(slice_of(scratch_path()), channels);
    return image_load_from_memory(static_cast<int64_t>(size), data, channels);
}

void check(Image image, int8_t channels) {
    if (!image.data) {
        if (image.width != 0 || image.height != 0) std::abort();
        return;
    }
    if (image.width <= 0 || image.height <= 0) std::abort();
    // Channels 0 keeps the file's own count, unknown here: at least one byte per pixel.
    int64_t bytes = int64_t{image.width} * image.height * (channels == 0 ? 1 : channels);
    const unsigned char* first = image_memory;
    const unsigned char* end = image_memory + image_memory_pos;
    if (image.data < first || image.data > end || end - image.data < bytes) std::abort();
    unsigned sum = 0;
    for (int64_t i = 0; i < bytes; ++i) sum += image.data[i];
    volatile unsigned sink = sum;
    (void)sink;
}

int64_t pixel_bytes(Image image, int8_t channels) {
    return int64_t{image.width} * image.height * (channels == 0 ? 1 : channels);
}

// Both loads failed alike, or delivered the same size and the same bytes.
void compare(Image first, const std::vector<uint8_t>& first_pixels, Image second) {
    if (!first.data != !second.data) std::abort();
    if (!first.data) return;
    if (first.width != second.width || first.height != second.height) std::abort();
    if (std::memcmp(first_pixels.data(), second.data, first_pixels.size()) != 0) std::abort();
}

// Saved in the format `choice` picks, when its encoder takes the size; it must reload whole
// (into the pool set again: the saved pixels are no longer needed by then).
void save_again(Image image, int8_t channels, uint8_t choice, int64_t offset) {
    int8_t saved_channels = channels == 0 ? 1 : channels;
    if (pixel_bytes(image, saved_channels) > max_saved_bytes) return;
    const char* extension = save_extensions[choice % 4];
    std::string path = scratch_path() + extension;
    auto encoding = static_cast<ImageEncoding>(choice % 4);
    bool can = image_codec_can_encode(encoding, image.width, image.height, saved_channels);
    bool saved = image_save(image, slice_of(path), saved_channels);
    if (saved != can) std::abort();
    if (saved) {
        image_set_buffer(pool_bytes, pool().data() + offset);
        Image back = image_load(slice_of(path), saved_channels);
        if (!back.data || back.width != image.width || back.height != image.height) std::abort();
    }
    std::remove(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The pool's failure messages go to standard output: thousands a second would bury
    // the fuzzer's own report.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint8_t choice = data[0];
    auto channels = static_cast<int8_t>(choice % channel_choices);
    bool through_file = (choice & file_bit) != 0;
    int64_t offset = (choice & offset_bits) >> offset_shift;
    image_set_flip(choice & flip_bit);
    if (through_file) write_scratch(data + 1, size - 1);

    refill_pool(first_fill, offset);
    dirty_the_stack(first_fill);
    Image first = load(data + 1, size - 1, channels, through_file);
    check(first, channels);
    std::vector<uint8_t> first_pixels;
    if (first.data) first_pixels.assign(first.data, first.data + pixel_bytes(first, channels));
    pool_high_water() = std::max(pool_high_water(), image_memory_pos);

    refill_pool(second_fill, offset);
    dirty_the_stack(second_fill);
    Image second = load(data + 1, size - 1, channels, through_file);
    compare(first, first_pixels, second);
    pool_high_water() = std::max(pool_high_water(), image_memory_pos);
    // Gone at once: libFuzzer may end the process without running exit handlers.
    if (through_file) std::remove(scratch_path().c_str());

    if (second.data) save_again(second, channels, choice, offset);
    return 0;
}
