#include "runtime/media/audio_decoder.h"

#include <gtest/gtest.h>

#include "audio_test_support.h"

using namespace audio_test;

namespace {

TEST(AudioDecoder, DeliveryFormatsAreNeverNarrowerThanAsked) {
    // Columns: WAV, FLAC, Ogg.
    const SampleFormat expected[][3] = {
        {signed_16, signed_16, signed_16}, {signed_16, signed_16, signed_16}, {signed_32, signed_32, float_32},
        {signed_16, signed_16, signed_16}, {signed_16, signed_16, signed_16}, {signed_32, signed_32, float_32},
        {float_32, float_32, float_32},
    };
    for (int format = 0; format < sample_format_count; ++format)
        for (int container = 0; container < 3; ++container) {
            SampleFormat delivery = audio_decoder_delivery_format(SampleFormat(format), AudioContainer(container));
            EXPECT_EQ(delivery, expected[format][container]) << format << " from " << container;
            EXPECT_GE(audio_format_width(delivery), audio_format_width(SampleFormat(format)));
        }
}

// Memory opens only what starts as the container does; a refusal after a success, and
// a success after a refusal, both leave a usable record.
TEST(AudioDecoder, MemoryOpensOnlyItsOwnContainer) {
    std::string wav = temp_path("x.wav");
    write_ints(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 8000, pattern_ints(200));
    std::string aiff = temp_path("x.aiff");
    write_ints(aiff, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 8000, pattern_ints(200));
    std::vector<unsigned char> wav_image = read_bytes(wav);
    std::vector<unsigned char> aiff_image = read_bytes(aiff);
    std::vector<unsigned char> flac_image = read_bytes(data_path("tone_16bit.flac"));
    std::vector<unsigned char> ogg_image = read_bytes(data_path("six_channels.ogg"));
    struct Case {
        const char* name;
        const std::vector<unsigned char>& image;
        AudioContainer container;
        int32_t channels;  // 0: refused
    } cases[] = {
        {"wav", wav_image, audio_container_wav, 2},     {"aiff as wav", aiff_image, audio_container_wav, 0},
        {"wav as flac", wav_image, audio_container_flac, 0}, {"flac", flac_image, audio_container_flac, 2},
        {"ogg as wav", ogg_image, audio_container_wav, 0}, {"ogg", ogg_image, audio_container_ogg, 6},
        {"wav as ogg", wav_image, audio_container_ogg, 0}, {"wav again", wav_image, audio_container_wav, 2},
    };
    for (const auto& c : cases) {
        AudioDecoder decoder = {};
        bool opened = audio_decoder_open_memory(decoder, static_cast<int64_t>(c.image.size()), c.image.data(), c.container);
        EXPECT_EQ(opened, c.channels > 0) << c.name;
        EXPECT_EQ(decoder.open, opened) << c.name;
        EXPECT_EQ(decoder.channels, c.channels) << c.name;
        int16_t buffer[64] = {};
        EXPECT_EQ(audio_decoder_read(decoder, signed_16, 4, buffer), opened ? 4 : 0) << c.name;
        EXPECT_EQ(audio_decoder_read(decoder, unsigned_8, 4, buffer), 0) << c.name << ": not a delivery format";
        EXPECT_EQ(audio_decoder_seek(decoder, 1), opened) << c.name;
        audio_decoder_close(decoder);
        EXPECT_FALSE(decoder.open);
    }
}

}  // namespace
