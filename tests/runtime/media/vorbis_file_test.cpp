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

// Pages of a second logical stream, chained or multiplexed, are refused before the
// library sees them (its search for a chain's links leaks when a later link is
// malformed); a stream that repeats its own serial number reads no further than the
// length it states.
TEST(VorbisFile, OnlySingleStreamsReachTheLibrary) {
    std::vector<unsigned char> mono = with_serial(ogg_image("mono.ogg", 1, 3000), 1);
    std::vector<unsigned char> stereo = with_serial(ogg_image("stereo.ogg", 2, 3000), 2);
    std::vector<unsigned char> again = with_serial(mono, 3);
    std::vector<unsigned char> chained = mono;
    chained.insert(chained.end(), stereo.begin(), stereo.end());
    std::vector<unsigned char> same_channels = mono;
    same_channels.insert(same_channels.end(), again.begin(), again.end());
    // A second stream's page hidden in the middle of the first's bytes.
    std::vector<unsigned char> inside = mono;
    inside.insert(inside.begin() + static_cast<std::ptrdiff_t>(mono.size() / 2), again.begin(), again.begin() + 58);
    // Found by fuzzing: a chain whose second link's headers are malformed.
    std::vector<unsigned char> leaked = read_bytes(std::string(TEST_DATA_DIR) + "/../fuzz/corpus/audio_wave_fuzz/regression_chained_vorbis_leak");
    ASSERT_FALSE(leaked.empty());
    leaked.erase(leaked.begin());  // the fuzz target's format byte
    for (const auto* image : {&chained, &same_channels, &inside, &leaked}) {
        VorbisFile file = {};
        EXPECT_FALSE(vorbis_file_open_memory(file, static_cast<int64_t>(image->size()), image->data()));
        EXPECT_EQ(file.handle, nullptr);
        std::string path = temp_path("chained.ogg");
        write_file(path, std::string(image->begin(), image->end()));
        EXPECT_FALSE(vorbis_file_open(file, slice_of(path)));
    }
    // The same serial twice: one stream to the check; the stated length bounds the reads.
    std::vector<unsigned char> repeated = mono;
    repeated.insert(repeated.end(), mono.begin(), mono.end());
    VorbisFile file = {};
    ASSERT_TRUE(vorbis_file_open_memory(file, static_cast<int64_t>(repeated.size()), repeated.data()));
    EXPECT_EQ(static_cast<int64_t>(read_all(file, 1000).size()), file.frames);
    vorbis_file_close(file);
}

// The stream check reads a piece at a time: a foreign page whose header starts in one
// piece and ends in the next is found as surely as one inside a piece, at each of the
// first two boundaries, from memory and from a file.
TEST(VorbisFile, AForeignPageAcrossTheCheckedPiecesIsFound) {
    // Noise, which Vorbis cannot squeeze into a few pages.
    std::vector<float> noise(2 * 150000);
    uint32_t state = 1;
    for (float& x : noise) x = static_cast<float>((state = state * 1664525u + 1013904223u) >> 8) / (1 << 24) - 0.5f;
    std::string noisy = temp_path("noise.ogg");
    write_floats(noisy, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, noise);
    std::vector<unsigned char> own = with_serial(read_bytes(noisy), 1);
    std::vector<unsigned char> foreign = with_serial(ogg_image("other.ogg", 1, 3000), 2);
    constexpr size_t page_header = 27;  // through the segment count: all a capture needs
    ASSERT_GT(static_cast<int64_t>(own.size()), 3 * vorbis_file_scan_bytes);
    std::string path = temp_path("foreign.ogg");
    for (int64_t boundary : {vorbis_file_scan_bytes, 2 * vorbis_file_scan_bytes})
        for (int64_t before = static_cast<int64_t>(page_header); before >= -1; --before) {
            // The foreign page's capture starts `before` bytes ahead of the boundary.
            std::vector<unsigned char> image = own;
            image.insert(image.begin() + (boundary - before), foreign.begin(), foreign.begin() + 58);
            std::string at = std::to_string(boundary - before);
            VorbisFile file = {};
            EXPECT_FALSE(vorbis_file_open_memory(file, static_cast<int64_t>(image.size()), image.data())) << at;
            vorbis_file_close(file);
            write_file(path, std::string(image.begin(), image.end()));
            EXPECT_FALSE(vorbis_file_open(file, slice_of(path))) << at << " (file)";
            vorbis_file_close(file);
        }
    // Without the foreign page, the same stream opens both ways.
    VorbisFile file = {};
    EXPECT_TRUE(vorbis_file_open_memory(file, static_cast<int64_t>(own.size()), own.data()));
    vorbis_file_close(file);
    write_file(path, std::string(own.begin(), own.end()));
    EXPECT_TRUE(vorbis_file_open(file, slice_of(path)));
    vorbis_file_close(file);
}

// The frames one read may ask for: their bytes in the delivered format must fit 64 bits.
TEST(VorbisFile, ReadsAskForAsManyFramesAsTheirBytesCanCount) {
    std::vector<unsigned char> image = ogg_image("tones.ogg", 2, 3000);
    for (SampleFormat format : {signed_16, float_32}) {
        VorbisFile file = {};
        ASSERT_TRUE(vorbis_file_open_memory(file, static_cast<int64_t>(image.size()), image.data()));
        int64_t most = INT64_MAX / (2 * audio_format_width(format));
        std::vector<float> buffer(2 * 3000);
        EXPECT_EQ(vorbis_file_read(file, format, most + 1, buffer.data()), 0) << int(format);
        EXPECT_EQ(vorbis_file_read(file, format, most, buffer.data()), 3000) << int(format);
        vorbis_file_close(file);
    }
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
    EXPECT_FALSE(vorbis_file_open(file, slice_of(wav)));
    EXPECT_FALSE(vorbis_file_open(file, slice_of(temp_path("missing.ogg"))));
    EXPECT_FALSE(vorbis_file_open(file, Slice{nullptr, 0}));
    std::string ogg = temp_path("file.ogg");
    write_file(ogg, std::string(image.begin(), image.end()));
    ASSERT_TRUE(vorbis_file_open(file, slice_of(ogg)));
    EXPECT_EQ(file.frames, 3000);
    EXPECT_EQ(file.sample_rate, 44100);
    vorbis_file_close(file);
}

}  // namespace
