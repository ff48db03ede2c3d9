#include "runtime/media/sound_file.h"

#include <gtest/gtest.h>

#include "audio_test_support.h"

#include <unistd.h>

using namespace audio_test;

namespace {

TEST(SoundFile, OpeningChecksTheContainer) {
    std::string path = temp_path("x.wav");
    write_ints(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, {1 << 16});
    SoundFile file = {};
    EXPECT_FALSE(sound_file_open(file, path.c_str(), audio_container_flac));
    EXPECT_EQ(file.handle, nullptr);
    // Ogg Vorbis is another library's: this one never holds it.
    std::string ogg = temp_path("x.ogg");
    write_floats(ogg, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 8000, std::vector<float>(100, 0.25f));
    EXPECT_FALSE(sound_file_open(file, ogg.c_str(), audio_container_ogg));
    EXPECT_EQ(file.handle, nullptr);
    EXPECT_FALSE(sound_file_open(file, path.c_str(), audio_container_ogg));
    ASSERT_TRUE(sound_file_open(file, path.c_str(), audio_container_wav));
    EXPECT_EQ(file.frames, 1);
    sound_file_close(file);
    EXPECT_EQ(file.handle, nullptr);
    sound_file_close(file);  // closing twice is harmless
}

// The lowest descriptor free now: a descriptor left open anywhere below it moves it.
int next_free_descriptor() {
    int probe = dup(0);
    close(probe);
    return probe;
}

// Whatever way an open or a create ends, closing the record gives back the path's
// descriptor, and a failure gives it back at once.
TEST(SoundFile, EveryOutcomeGivesTheDescriptorBack) {
    std::string wav = temp_path("x.wav");
    write_ints(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, {1 << 16, 2 << 16});
    std::string garbage = temp_path("garbage.wav");
    write_file(garbage, "RIFF but nothing a parser can use");
    std::string created = temp_path("created.wav");
    int before = next_free_descriptor();
    SoundFile file = {};
    EXPECT_FALSE(sound_file_open(file, wav.c_str(), audio_container_flac));  // the library held it
    EXPECT_FALSE(sound_file_open(file, garbage.c_str(), audio_container_wav));
    EXPECT_FALSE(sound_file_open(file, testing::TempDir().c_str(), audio_container_wav));
    EXPECT_EQ(file.stream, nullptr);
    EXPECT_EQ(next_free_descriptor(), before);
    ASSERT_TRUE(sound_file_open(file, wav.c_str(), audio_container_wav));
    EXPECT_NE(next_free_descriptor(), before);
    sound_file_close(file);
    EXPECT_EQ(next_free_descriptor(), before);
    ASSERT_TRUE(sound_file_create(file, created.c_str(), signed_16, 2, 8000, false));
    sound_file_close(file);
    EXPECT_EQ(next_free_descriptor(), before);
    EXPECT_FALSE(sound_file_create(file, testing::TempDir().c_str(), signed_16, 2, 8000, false));
    EXPECT_EQ(next_free_descriptor(), before);
    // What was written through the descriptor is a complete file.
    ASSERT_TRUE(sound_file_open(file, created.c_str(), audio_container_wav));
    EXPECT_EQ(file.channels, 2);
    sound_file_close(file);
}

// Memory that does not start as a WAV-family file never reaches the library.
TEST(SoundFile, MemoryNeedsTheContainersOwnMagic) {
    struct Case {
        const char* name;
        int sf_format;
        AudioContainer container;
        bool opens;
    } cases[] = {
        {"riff", SF_FORMAT_WAV | SF_FORMAT_PCM_16, audio_container_wav, true},
        {"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, audio_container_wav, true},
        {"wave64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, audio_container_wav, true},
        {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, audio_container_wav, false},
        {"au", SF_FORMAT_AU | SF_FORMAT_PCM_16, audio_container_wav, false},
        {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, audio_container_flac, true},
        {"flac as wav", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, audio_container_wav, false},
        {"wav as flac", SF_FORMAT_WAV | SF_FORMAT_PCM_16, audio_container_flac, false},
    };
    for (const auto& c : cases) {
        std::string path = temp_path(std::string("image.") + c.name);
        write_ints(path, c.sf_format, 1, 8000, pattern_ints(50));
        std::vector<unsigned char> image = read_bytes(path);
        SoundFile file = {};
        EXPECT_EQ(sound_file_open_memory(file, static_cast<int64_t>(image.size()), image.data(), c.container), c.opens)
            << c.name;
        EXPECT_EQ(file.frames, c.opens ? 50 : 0) << c.name;
        sound_file_close(file);
    }
}

// Reading floats as 16 bits passes through a bounded scratch buffer in pieces; every
// piece must land in its place.
TEST(SoundFile, FloatSourcesReadAs16BitAcrossManyScratchBlocks) {
    std::string path = temp_path("floats.wav");
    std::vector<float> tones = stereo_tones(40000, 44100);
    write_floats(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, tones);
    std::vector<unsigned char> image = read_bytes(path);
    SoundFile file = {};
    ASSERT_TRUE(sound_file_open_memory(file, static_cast<int64_t>(image.size()), image.data(), audio_container_wav));
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
