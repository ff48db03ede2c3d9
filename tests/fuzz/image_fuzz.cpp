// Any bytes as an encoded picture, loaded with every channel count and both flip settings,
// from memory or through a file, into an image pool that keeps the bytes of earlier runs.
// A load either fails as the empty image or delivers pixels that lie wholly inside the
// part of the pool handed out; every pixel byte is read, so one outside a block is caught.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runtime/media/image.h"
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

std::vector<unsigned char>& pool() {
    static std::vector<unsigned char> block(static_cast<size_t>(pool_bytes));
    return block;
}

const std::string& scratch_path() {
    // Named at random: other fuzzing processes may be at work beside this one.
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("image_fuzz." + std::to_string(std::random_device{}())))
                                        .string();
    return path;
}

Image load_through_file(const uint8_t* data, size_t size, int8_t channels) {
    std::FILE* file = std::fopen(scratch_path().c_str(), "wb");
    if (!file) std::abort();
    if (std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();
    const std::string& path = scratch_path();
    Image image = image_load(Slice{path.data(), static_cast<int64_t>(path.size())}, channels);
    // Gone at once: libFuzzer may end the process without running exit handlers.
    std::remove(path.c_str());
    return image;
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
    image_set_flip(choice & flip_bit);
    image_set_buffer(pool_bytes, pool().data());
    Image image = choice & file_bit
                      ? load_through_file(data + 1, size - 1, channels)
                      : image_load_from_memory(static_cast<int64_t>(size - 1), data + 1, channels);
    check(image, channels);
    return 0;
}
