#include "runtime/media/sound_file.h"

#include <gtest/gtest.h>

#include "audio_test_support.h"

using namespace audio_test;

namespace {

TEST(SoundFile, ExtensionIsTheWholeTextAfterTheLastDot) {
    struct Case {
        const char* path;
        const char* extension;
        bool matches;
    } cases[] = {
        {"song.wav", "wav", true},     {"song.WAV", "wav", false},      {"a.b.flac", "flac", true},
        {"song.wav.bak", "wav", false}, {"wav", "wav", false},           {"song.wave", "wav", false},
        {"song.", "", true},           {"dir.ogg/song", "ogg/song", true}, {"", "wav", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sound_file_has_extension(slice_from_cstr(c.path), slice_from_cstr(c.extension)), c.matches)
            << c.path << " / " << c.extension;
}

TEST(SoundFile, MagicNeedsFourMatchingBytes) {
    EXPECT_TRUE(sound_file_has_magic("OggS!", 5, "OggS"));
    EXPECT_TRUE(sound_file_has_magic("OggS", 4, "OggS"));
    EXPECT_FALSE(sound_file_has_magic("OggS", 3, "OggS"));
    EXPECT_FALSE(sound_file_has_magic("oggs", 4, "OggS"));
    EXPECT_FALSE(sound_file_has_magic(nullptr, 4, "OggS"));
}

TEST(SoundFile, ByteCountsRefuseOverflowAndNegatives) {
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
    };
    for (const auto& c : cases) {
        int64_t bytes = -1;
        EXPECT_EQ(sound_file_byte_count(c.frames, c.channels, c.width, bytes), c.fits) << c.frames;
        EXPECT_EQ(bytes, c.bytes) << c.frames;
    }
}

TEST(SoundFile, WrittenFormatsKeepTheWidth) {
    const SampleFormat expected[] = {unsigned_8, signed_16, signed_32, unsigned_8, signed_16, signed_32, signed_32};
    for (int format = 0; format < sample_format_count; ++format)
        EXPECT_EQ(sound_file_written_format(SampleFormat(format)), expected[format]) << format;
    EXPECT_EQ(sound_file_written_format(SampleFormat(200)), SampleFormat(200));
}

TEST(SoundFile, OpeningChecksTheContainer) {
    std::string path = temp_path("x.wav");
    write_ints(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, {1 << 16});
    SoundFile file = {};
    EXPECT_FALSE(sound_file_open(file, path.c_str(), audio_container_flac));
    EXPECT_EQ(file.handle, nullptr);
    EXPECT_FALSE(sound_file_open(file, path.c_str(), audio_container_ogg));
    ASSERT_TRUE(sound_file_open(file, path.c_str(), audio_container_wav));
    EXPECT_EQ(file.frames, 1);
    sound_file_close(file);
    EXPECT_EQ(file.handle, nullptr);
    sound_file_close(file);  // closing twice is harmless
}

// Reading floats as 16 bits passes through a bounded scratch buffer in pieces; every
// piece must land in its place.
TEST(SoundFile, FloatSourcesReadAs16BitAcrossManyScratchBlocks) {
    std::string path = temp_path("floats.wav");
    std::vector<float> tones = stereo_tones(40000, 44100);
    write_floats(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, tones);
    std::vector<unsigned char> image = read_bytes(path);
    SoundFile file = {};
    ASSERT_TRUE(sound_file_open_memory(file, image.data(), static_cast<int64_t>(image.size()), audio_container_wav));
    EXPECT_TRUE(file.float_source);
    std::vector<int16_t> samples(tones.size() + 8, 0x5a5a);
    ASSERT_EQ(sound_file_read(file, signed_16, 40000, samples.data()), 40000);
    for (size_t i = 0; i < tones.size(); ++i)
        ASSERT_EQ(samples[i], static_cast<int16_t>(static_cast<double>(tones[i]) * 32767.0)) << i;
    EXPECT_EQ(samples[tones.size()], 0x5a5a);
    EXPECT_EQ(sound_file_read(file, signed_16, 10, samples.data()), 0);
    EXPECT_EQ(sound_file_read(file, SampleFormat(unsigned_8), 10, samples.data()), 0);
    sound_file_close(file);
}

TEST(SoundFile, WritingConvertsThroughScratchAndKeepsTheSource) {
    std::string path = temp_path("written.wav");
    SoundFile file = {};
    ASSERT_TRUE(sound_file_create(file, path.c_str(), unsigned_8, 1, 8000, false));
    std::vector<int16_t> source(100000);
    for (size_t i = 0; i < source.size(); ++i) source[i] = pattern16(static_cast<int64_t>(i));
    std::vector<int16_t> before = source;
    EXPECT_EQ(sound_file_write(file, signed_16, static_cast<int64_t>(source.size()), source.data()), 100000);
    sound_file_close(file);
    EXPECT_EQ(source, before);
    std::vector<unsigned char> bytes = read_bytes(path);
    ASSERT_EQ(bytes.size(), 44u + source.size());
    for (size_t i = 0; i < source.size(); ++i)
        ASSERT_EQ(bytes[44 + i], ((static_cast<uint16_t>(source[i]) >> 8) ^ 0x80)) << i;
}

}  // namespace
