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

// --- what each encoder can write: one row per format and field, at the limit and one past ---

struct EncoderLimit {
    const char* what;
    ImageEncoding encoding;
    int32_t width, height, channels;  // the largest picture that passes in this direction
    int32_t past_width, past_height;  // and one step past it
};

// Each limit worked out by hand from the encoder's counters (see image_codec.h).
const EncoderLimit encoder_limits[] = {
    // BMP: 54 + rows of 3 bytes a pixel padded to 4, or 122 + 4 bytes a pixel, within 2^31 - 1.
    {"BMP width, grey", ImageEncoding::bmp, 715827864, 1, 1, 715827865, 1},
    {"BMP width, colour", ImageEncoding::bmp, 715827864, 1, 3, 715827865, 1},
    {"BMP height, colour", ImageEncoding::bmp, 1, 536870898, 3, 1, 536870899},
    {"BMP width, colour and alpha", ImageEncoding::bmp, 536870881, 1, 4, 536870882, 1},
    {"BMP height, colour and alpha", ImageEncoding::bmp, 1, 536870881, 4, 1, 536870882},
    // PNG: a row within 2^24 - 1 bytes; rows and filter bytes within 1,431,655,757 bytes.
    {"PNG row, grey", ImageEncoding::png, 16777215, 1, 1, 16777216, 1},
    {"PNG row, colour", ImageEncoding::png, 5592405, 1, 3, 5592406, 1},
    {"PNG row, colour and alpha", ImageEncoding::png, 4194303, 1, 4, 4194304, 1},
    {"PNG compressed size, tall", ImageEncoding::png, 1, 286331151, 4, 1, 286331152},
    {"PNG compressed size, grey", ImageEncoding::png, 1, 715827878, 1, 1, 715827879},
    {"PNG compressed size, 20000 wide", ImageEncoding::png, 20000, 17895, 4, 20000, 17896},
    // TGA and JPEG: 16-bit sizes; width x height x channels within 2^31 - 1.
    {"TGA width", ImageEncoding::tga, 65535, 2, 4, 65536, 2},
    {"TGA height", ImageEncoding::tga, 2, 65535, 4, 2, 65536},
    {"TGA pixels", ImageEncoding::tga, 65535, 8192, 4, 65535, 8193},
    {"TGA pixels, grey", ImageEncoding::tga, 65535, 32768, 1, 65535, 32769},
    {"JPEG width", ImageEncoding::jpg, 65535, 2, 3, 65536, 2},
    {"JPEG height", ImageEncoding::jpg, 2, 65535, 3, 2, 65536},
    {"JPEG pixels", ImageEncoding::jpg, 65535, 10922, 3, 65535, 10923},
};

TEST(ImageCodecLimits, EachEncoderTakesItsLimitAndRefusesOnePast) {
    for (const EncoderLimit& limit : encoder_limits) {
        SCOPED_TRACE(limit.what);
        EXPECT_TRUE(image_codec_can_encode(limit.encoding, limit.width, limit.height, limit.channels));
        EXPECT_FALSE(image_codec_can_encode(limit.encoding, limit.past_width, limit.past_height,
                                            limit.channels));
    }
}

// The reported crash: 20000 x 20000 of noise, which compresses to nothing smaller.
TEST(ImageCodecLimits, RefusesTheReportedPng) {
    EXPECT_FALSE(image_codec_can_encode(ImageEncoding::png, 20000, 20000, 4));
    // Three channels stay within the compressor's count, as do 18000 x 18000 x 4.
    EXPECT_TRUE(image_codec_can_encode(ImageEncoding::png, 20000, 20000, 3));
    EXPECT_TRUE(image_codec_can_encode(ImageEncoding::png, 18000, 18000, 4));
}

TEST(ImageCodecLimits, NoEncoderTakesAnEmptyPictureOrTheLargestSizes) {
    for (ImageEncoding encoding : {ImageEncoding::bmp, ImageEncoding::png, ImageEncoding::tga,
                                   ImageEncoding::jpg}) {
        SCOPED_TRACE(static_cast<int>(encoding));
        EXPECT_FALSE(image_codec_can_encode(encoding, 0, 1, 1));
        EXPECT_FALSE(image_codec_can_encode(encoding, 1, 0, 1));
        EXPECT_FALSE(image_codec_can_encode(encoding, -1, 1, 1));
        EXPECT_FALSE(image_codec_can_encode(encoding, 1, 1, 0));
        EXPECT_FALSE(image_codec_can_encode(encoding, INT32_MAX, INT32_MAX, 4));
        EXPECT_FALSE(image_codec_can_encode(encoding, INT32_MAX, 1, 1));
        EXPECT_FALSE(image_codec_can_encode(encoding, 1, INT32_MAX, 1));
        EXPECT_TRUE(image_codec_can_encode(encoding, 1, 1, 4));
    }
}

}  // namespace
