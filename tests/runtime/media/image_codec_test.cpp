#include "runtime/media/image_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/media/pool.h"

#include "test_support.h"

// Another copy of the library in the same program, as a prebuilt one would bring. The
// runtime's own copy must neither clash with it at link time nor be replaced by it.
namespace {
int foreign_calls = 0;
}

extern "C" unsigned char* stbi_load(const char*, int*, int*, int*, int) {
    ++foreign_calls;
    return nullptr;
}

extern "C" unsigned char* stbi_load_from_memory(const unsigned char*, int, int*, int*, int*,
                                                int) {
    ++foreign_calls;
    return nullptr;
}

extern "C" void stbi_set_flip_vertically_on_load(int) { ++foreign_calls; }

namespace {

constexpr int64_t pool_bytes = 1 << 20;
// Out-parameter values no decoder delivers, to see that a failure leaves them alone.
constexpr int32_t untouched = -7;

std::string fixture(const char* name) { return std::string(TEST_DATA_DIR) + "/image/" + name; }

class ImageCodecTest : public testing::Test {
protected:
    std::vector<uint8_t> pool = std::vector<uint8_t>(pool_bytes);

    void SetUp() override {
        image_set_buffer(pool_bytes, pool.data());
        foreign_calls = 0;
    }
    void TearDown() override {
        image_codec_set_flip(false);
        image_set_buffer(0, nullptr);
    }
};

TEST_F(ImageCodecTest, UsesItsOwnCopyOfTheDecoder) {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> png = read_bytes(fixture("rgba8.png"));
    image_codec_set_flip(true);
    EXPECT_NE(image_codec_load(fixture("rgba8.png").c_str(), 4, &width, &height), nullptr);
    EXPECT_NE(image_codec_load_from_memory(png.data(), static_cast<int32_t>(png.size()), 4, &width,
                                           &height),
              nullptr);
    EXPECT_EQ(foreign_calls, 0);
}

// Everything the decoder takes comes from the pool: the pixels lie in it, it has advanced
// past them, and with no pool nothing decodes at all.
TEST_F(ImageCodecTest, DecodesIntoTheImagePool) {
    int32_t width = 0, height = 0;
    uint8_t* pixels = image_codec_load(fixture("rgba8.png").c_str(), 4, &width, &height);
    ASSERT_NE(pixels, nullptr);
    EXPECT_GE(pixels, pool.data());
    EXPECT_LE(pixels + width * height * 4, pool.data() + image_memory_pos);

    image_set_buffer(0, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(image_codec_load(fixture("rgba8.png").c_str(), 4, &width, &height), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "image memory allocation failed\n");
}

TEST_F(ImageCodecTest, FailedLoadsLeaveTheSizesAlone) {
    const char* files[] = {"rgb.hdr", "missing.png"};
    for (const char* file : files) {
        SCOPED_TRACE(file);
        int32_t width = untouched, height = untouched;
        EXPECT_EQ(image_codec_load(fixture(file).c_str(), 3, &width, &height), nullptr);
        EXPECT_EQ(width, untouched);
        EXPECT_EQ(height, untouched);
    }
    std::vector<uint8_t> hdr = read_bytes(fixture("rgb.hdr"));
    int32_t width = untouched, height = untouched;
    EXPECT_EQ(image_codec_load_from_memory(hdr.data(), static_cast<int32_t>(hdr.size()), 3, &width,
                                           &height),
              nullptr);
    EXPECT_EQ(width, untouched);
    EXPECT_EQ(height, untouched);
}

}  // namespace
