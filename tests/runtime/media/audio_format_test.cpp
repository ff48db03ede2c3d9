#include "runtime/media/audio_format.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(AudioFormat, WidthsAreOneTwoOrFourAndTwoForCodesAboveSix) {
    const int64_t expected[] = {1, 2, 4, 1, 2, 4, 4};
    for (int format = 0; format < sample_format_count; ++format)
        EXPECT_EQ(audio_format_width(SampleFormat(format)), expected[format]) << format;
    for (int format : {7, 9, 255}) EXPECT_EQ(audio_format_width(SampleFormat(format)), 2) << format;
}

TEST(AudioFormat, ByteCountsRefuseOverflowAndNegatives) {
    struct Case {
        int64_t frames, channels, width;
        bool fits;
        int64_t bytes;
    } cases[] = {
        {1000, 2, 2, true, 4000},
        {0, 6, 4, true, 0},
        {INT64_MAX / 8, 2, 4, true, INT64_MAX / 8 * 8},
        {INT64_MAX / 8 + 1, 2, 4, false, -1},
        {-1, 2, 2, false, -1},
        {10, -2, 2, false, -1},
        {10, 2, -4, false, -1},
    };
    for (const auto& c : cases) {
        int64_t bytes = -1;
        EXPECT_EQ(audio_format_byte_count(c.frames, c.channels, c.width, bytes), c.fits) << c.frames;
        EXPECT_EQ(bytes, c.bytes) << c.frames;
    }
}

TEST(AudioFormat, WrittenFormatsKeepTheWidth) {
    const SampleFormat expected[] = {unsigned_8, signed_16, signed_32, unsigned_8, signed_16, signed_32, signed_32};
    for (int format = 0; format < sample_format_count; ++format) {
        EXPECT_EQ(audio_format_written(SampleFormat(format)), expected[format]) << format;
        EXPECT_EQ(audio_format_width(expected[format]), audio_format_width(SampleFormat(format))) << format;
    }
    EXPECT_EQ(audio_format_written(SampleFormat(200)), SampleFormat(200));
}

// The conversion on bare samples: what the wave and the decoders call. Refusals leave
// every byte alone.
TEST(AudioFormat, ConversionRefusesWhatItCannotConvert) {
    struct Case {
        const char* name;
        SampleFormat from, to;
        int64_t samples;
        bool null_data;
    } cases[] = {
        {"same format", signed_16, signed_16, 2, false}, {"from above 6", SampleFormat(7), signed_16, 2, false},
        {"to above 6", signed_16, SampleFormat(9), 2, false}, {"no samples", signed_16, signed_32, 0, false},
        {"negative count", signed_16, signed_32, -1, false}, {"null data", signed_16, signed_32, 2, true},
        {"absurd count", signed_16, signed_32, INT64_MAX / 2, false},
    };
    for (const auto& c : cases) {
        unsigned char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        audio_format_convert(c.from, c.to, c.samples, c.null_data ? nullptr : buffer);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(buffer[i], i + 1) << c.name;
    }
    unsigned char buffer[4] = {0x34, 0x12, 0x78, 0x56};
    audio_format_convert(signed_16, unsigned_8, 2, buffer);
    EXPECT_EQ(buffer[0], 0x92);
    EXPECT_EQ(buffer[1], 0xd6);
    EXPECT_EQ(buffer[2], 0x78);  // beyond the narrowed result: untouched
}

}  // namespace
