#include "runtime/media/vorbis_file.h"

#include <gtest/gtest.h>

#include "audio_test_support.h"

using namespace audio_test;

namespace {

constexpr int64_t tone_frames = 50000;  // several pages, so seeks have pages to search

std::vector<unsigned char> ogg_image(const std::string& name, int channels, int64_t frames) {
    std::string path = temp_path(name);
    std::vector<float> samples = stereo_tones(frames, 44100);
    if (channels == 1) samples.resize(static_cast<size_t>(frames));
    write_floats(path, SF_FORMAT_OGG | SF_FORMAT_VORBIS, channels, 44100, samples);
    return read_bytes(path);
}

std::vector<float> read_all(VorbisFile& file, int64_t block) {
    std::vector<float> out;
    std::vector<float> buffer(static_cast<size_t>(block * file.channels));
    for (int64_t got; (got = vorbis_file_read(file, float_32, block, buffer.data())) > 0;)
        out.insert(out.end(), buffer.begin(), buffer.begin() + got * file.channels);
    return out;
}

TEST(VorbisFile, SeeksLandOnTheExactFrame) {
    std::vector<unsigned char> image = ogg_image("tones.ogg", 2, tone_frames);
    VorbisFile file = {};
    ASSERT_TRUE(vorbis_file_open_memory(file, static_cast<int64_t>(image.size()), image.data()));
    ASSERT_EQ(file.frames, tone_frames);
    std::vector<float> all = read_all(file, 4096);
    ASSERT_EQ(static_cast<int64_t>(all.size()), tone_frames * 2);
    for (int64_t frame : {int64_t{0}, int64_t{1}, int64_t{4095}, int64_t{30001}, tone_frames - 1000, tone_frames - 1}) {
        ASSERT_TRUE(vorbis_file_seek(file, frame)) << frame;
        std::vector<float> part(2000, 7.0f);
        int64_t got = vorbis_file_read(file, float_32, 1000, part.data());
        ASSERT_EQ(got, std::min<int64_t>(1000, tone_frames - frame)) << frame;
        for (int64_t i = 0; i < got * 2; ++i)
            ASSERT_EQ(part[static_cast<size_t>(i)], all[static_cast<size_t>(frame * 2 + i)]) << frame << " sample " << i;
        for (int64_t i = got * 2; i < 2000; ++i) ASSERT_EQ(part[static_cast<size_t>(i)], 7.0f) << "past the delivered frames";
    }
    EXPECT_TRUE(vorbis_file_seek(file, tone_frames));
    float buffer[8] = {};
    EXPECT_EQ(vorbis_file_read(file, float_32, 4, buffer), 0);
    EXPECT_FALSE(vorbis_file_seek(file, tone_frames + 1));
    EXPECT_FALSE(vorbis_file_seek(file, -1));
    vorbis_file_close(file);
    EXPECT_EQ(file.handle, nullptr);
    vorbis_file_close(file);  // closing twice is harmless
    EXPECT_FALSE(vorbis_file_seek(file, 0));
    EXPECT_EQ(vorbis_file_read(file, float_32, 4, buffer), 0);
}

// Integer deliveries are the float decode converted by the runtime's own rule.
TEST(VorbisFile, IntegerReadsConvertTheFloatDecode) {
    std::vector<unsigned char> image = ogg_image("tones.ogg", 2, 5000);
    for (SampleFormat format : {signed_16, unsigned_8, unsigned_32}) {
        VorbisFile floats = {};
        VorbisFile ints = {};
        ASSERT_TRUE(vorbis_file_open_memory(floats, static_cast<int64_t>(image.size()), image.data()));
        ASSERT_TRUE(vorbis_file_open_memory(ints, static_cast<int64_t>(image.size()), image.data()));
        std::vector<float> want = read_all(floats, 1000);
        audio_format_convert(float_32, format, static_cast<int64_t>(want.size()), want.data());
        int64_t width = audio_format_width(format);
        std::vector<unsigned char> got(want.size() * static_cast<size_t>(width) + 4, 0xaa);
        ASSERT_EQ(vorbis_file_read(ints, format, 5000, got.data()), 5000);
        EXPECT_EQ(0, std::memcmp(got.data(), want.data(), want.size() * static_cast<size_t>(width))) << int(format);
        EXPECT_EQ(got[want.size() * static_cast<size_t>(width)], 0xaa) << int(format);
        EXPECT_EQ(vorbis_file_read(ints, SampleFormat(7), 10, got.data()), 0);
        vorbis_file_close(floats);
        vorbis_file_close(ints);
    }
}

// Ogg's page checksum: CRC-32 with polynomial 0x04c11db7, unreflected, starting at 0.
uint32_t ogg_crc(const unsigned char* data, size_t size) {
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t{data[i]} << 24;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    return crc;
}

// Gives every page of `image` the serial number `serial`, as an encoder would give each
// link of a chain its own, and mends the page checksums.
std::vector<unsigned char> with_serial(std::vector<unsigned char> image, uint32_t serial) {
    constexpr size_t header = 27;
    for (size_t at = 0; at + header <= image.size();) {
        unsigned char* page = image.data() + at;
        size_t segments = page[26];
        size_t body = 0;
        for (size_t i = 0; i < segments; ++i) body += page[header + i];
        size_t length = header + segments + body;
        std::memcpy(page + 14, &serial, 4);
        std::memset(page + 22, 0, 4);
        uint32_t crc = ogg_crc(page, length);
        std::memcpy(page + 22, &crc, 4);
        at += length;
    }
    return image;
}

// A chained stream whose second link has another channel count: reads stop at the end
// of the first link, whose frames alone are counted, and never overrun a buffer sized
// for the first link's channels.
TEST(VorbisFile, ChainedStreamsStopAtALinkWithOtherChannels) {
    std::vector<unsigned char> mono = ogg_image("mono.ogg", 1, 3000);
    std::vector<unsigned char> stereo = ogg_image("stereo.ogg", 2, 3000);
    std::vector<unsigned char> chained = with_serial(mono, 1);
    stereo = with_serial(stereo, 2);
    chained.insert(chained.end(), stereo.begin(), stereo.end());
    VorbisFile file = {};
    ASSERT_TRUE(vorbis_file_open_memory(file, static_cast<int64_t>(chained.size()), chained.data()));
    EXPECT_EQ(file.channels, 1);
    EXPECT_EQ(file.frames, 3000);
    std::vector<float> all = read_all(file, 1000);
    EXPECT_EQ(all.size(), 3000u);
    vorbis_file_close(file);
    // The same links in one channel count read through.
    std::vector<unsigned char> twice = with_serial(mono, 1);
    std::vector<unsigned char> again = with_serial(mono, 3);
    twice.insert(twice.end(), again.begin(), again.end());
    ASSERT_TRUE(vorbis_file_open_memory(file, static_cast<int64_t>(twice.size()), twice.data()));
    EXPECT_EQ(file.frames, 6000);
    EXPECT_EQ(read_all(file, 1000).size(), 6000u);
    vorbis_file_close(file);
}

TEST(VorbisFile, RefusesWhatIsNotVorbis) {
    std::vector<unsigned char> image = ogg_image("tones.ogg", 2, 3000);
    std::vector<unsigned char> malformed = malformed_vorbis();
    std::vector<unsigned char> header_only = truncated(image, image.size() - 58);
    std::string wav = temp_path("x.wav");
    write_ints(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, {1 << 16});
    struct Case {
        const char* name;
        int64_t size;
        const void* data;
    } cases[] = {
        {"malformed", static_cast<int64_t>(malformed.size()), malformed.data()},
        {"first page only", static_cast<int64_t>(header_only.size()), header_only.data()},
        {"null", 64, nullptr},
        {"negative size", -1, image.data()},
        {"above 2 GiB", vorbis_file_max_image + 1, image.data()},  // refused before a byte is read
        {"empty", 0, image.data()},
    };
    for (const auto& c : cases) {
        VorbisFile file = {};
        EXPECT_FALSE(vorbis_file_open_memory(file, c.size, c.data)) << c.name;
        EXPECT_EQ(file.handle, nullptr) << c.name;
    }
    VorbisFile file = {};
    EXPECT_FALSE(vorbis_file_open(file, wav.c_str()));
    EXPECT_FALSE(vorbis_file_open(file, temp_path("missing.ogg").c_str()));
    EXPECT_FALSE(vorbis_file_open(file, nullptr));
    std::string ogg = temp_path("file.ogg");
    write_file(ogg, std::string(image.begin(), image.end()));
    ASSERT_TRUE(vorbis_file_open(file, ogg.c_str()));
    EXPECT_EQ(file.frames, 3000);
    EXPECT_EQ(file.sample_rate, 44100);
    vorbis_file_close(file);
}

}  // namespace
