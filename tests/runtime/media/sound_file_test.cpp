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

// ---- how much a header can state

// The RIFF size field, as libsndfile writes it, counts 36 header bytes, the samples and
// the pad byte after an odd count: the arithmetic behind sound_file_max_riff_data.
TEST(SoundFileLimits, TheRiffSizeCountsTheHeaderAndThePadByte) {
    for (int64_t samples : {0, 1, 3, 4, 1001}) {
        std::string path = temp_path("sizes.wav");
        SoundFile file = {};
        ASSERT_TRUE(sound_file_create(file, path.c_str(), unsigned_8, 1, 8000, false));
        std::vector<unsigned char> bytes(static_cast<size_t>(samples), 0x40);
        EXPECT_EQ(sound_file_write(file, unsigned_8, samples, bytes.data()), samples);
        EXPECT_EQ(file.data_bytes, samples);
        sound_file_close(file);
        std::vector<unsigned char> written = read_bytes(path);
        ASSERT_GE(written.size(), 44u);
        EXPECT_EQ(sample_at<uint32_t>(written.data() + 4, 0), 36 + samples + samples % 2) << samples;
        EXPECT_EQ(sample_at<uint32_t>(written.data() + 40, 0), samples) << samples;
    }
}

// Each field a written header holds, at its limit and one past: the RIFF sizes (by the
// arithmetic: 4 GiB of samples are for the long check under bench/), the byte rate, the
// channel count and the sample rate (by real saves), and the format codes.
TEST(SoundFileLimits, EachHeaderFieldAtItsLimitAndOnePast) {
    EXPECT_EQ(sound_file_max_riff_data, 4294967258);
    struct Riff {
        int64_t data_bytes;
        bool fits;
    } riff[] = {{0, true}, {sound_file_max_riff_data, true}, {sound_file_max_riff_data + 1, false},
                {0xFFFFFFFE, false}, {0xFFFFFFFF, false}, {int64_t{1} << 32, false}, {INT64_MAX, false}, {-1, false}};
    for (const auto& r : riff) EXPECT_EQ(sound_file_fits_riff(r.data_bytes), r.fits) << r.data_bytes;

    struct Header {
        const char* name;
        SampleFormat format;
        int32_t channels;
        int32_t sample_rate;
        bool created;
    } headers[] = {
        {"byte rate 4294967295", unsigned_8, 3, 1431655765, true},
        {"byte rate 4294967296", signed_16, 2, 1073741824, false},
        {"byte rate one past", unsigned_8, 3, 1431655766, false},
        {"largest rate, 8-bit mono", unsigned_8, 1, INT32_MAX, true},
        {"largest rate, 16-bit mono", signed_16, 1, INT32_MAX, true},
        {"largest rate, 32-bit mono", signed_32, 1, INT32_MAX, false},
        {"1024 channels", signed_32, 1024, 8000, true},
        {"1025 channels", signed_16, 1025, 8000, false},
        {"1 channel", signed_16, 1, 8000, true},
        {"0 channels", signed_16, 0, 8000, false},
        {"rate 1", signed_16, 1, 1, true},
        {"rate 0", signed_16, 1, 0, false},
        {"format 6", float_32, 1, 8000, true},          // written as 32 bits
        {"format 7", SampleFormat(7), 1, 8000, true},  // written as 16 bits, bytes as they are
    };
    for (const auto& h : headers) {
        std::string path = temp_path("limit.wav");
        std::remove(path.c_str());
        SampleFormat written = audio_format_written(h.format);
        int64_t width = audio_format_width(written);
        EXPECT_EQ(sound_file_fits_byte_rate(h.channels, h.sample_rate, width),
                  h.created || h.channels <= 0 || h.channels > 1024 || h.sample_rate <= 0)
            << h.name;
        SoundFile file = {};
        ASSERT_EQ(sound_file_create(file, path.c_str(), written, h.channels, h.sample_rate, false), h.created)
            << h.name;
        if (!h.created) {
            EXPECT_FALSE(file_exists(path)) << h.name;
            continue;
        }
        std::vector<unsigned char> frame(static_cast<size_t>(h.channels * width), 0x12);
        EXPECT_EQ(sound_file_write(file, h.format, 1, frame.data()), 1) << h.name;
        sound_file_close(file);
        std::vector<unsigned char> bytes = read_bytes(path);
        ASSERT_EQ(bytes.size(), 44 + frame.size() + frame.size() % 2) << h.name;
        EXPECT_EQ(sample_at<uint16_t>(bytes.data() + 20, 0), 1) << h.name << ": format tag";
        EXPECT_EQ(sample_at<uint16_t>(bytes.data() + 22, 0), h.channels) << h.name;
        EXPECT_EQ(sample_at<uint32_t>(bytes.data() + 24, 0), static_cast<uint32_t>(h.sample_rate)) << h.name;
        EXPECT_EQ(sample_at<uint32_t>(bytes.data() + 28, 0), static_cast<uint64_t>(h.sample_rate) * h.channels * width)
            << h.name;
        EXPECT_EQ(sample_at<uint16_t>(bytes.data() + 34, 0), 8 * width) << h.name;
        ASSERT_TRUE(sound_file_open(file, path.c_str(), audio_container_wav)) << h.name;
        EXPECT_EQ(file.channels, h.channels);
        EXPECT_EQ(file.sample_rate, h.sample_rate);
        EXPECT_EQ(file.frames, 1);
        sound_file_close(file);
    }
}

// Whether a closing file becomes Wave64 is decided by the bytes it was given, counted
// over every write (converted or not), at the RIFF limit and one past; never for a file
// read or one created as Wave64.
TEST(SoundFileLimits, ClosingDecidesWave64ByTheBytesGiven) {
    std::string path = temp_path("counted.wav");
    SoundFile file = {};
    ASSERT_TRUE(sound_file_create(file, path.c_str(), signed_16, 2, 8000, false));
    std::vector<int16_t> shorts(2 * 300, 1000);
    std::vector<float> floats(2 * 200, 0.5f);
    EXPECT_EQ(sound_file_write(file, signed_16, 300, shorts.data()), 300);
    EXPECT_EQ(sound_file_write(file, float_32, 200, floats.data()), 200);
    EXPECT_EQ(sound_file_write(file, signed_16, 0, shorts.data()), 0);
    EXPECT_EQ(file.data_bytes, 500 * 2 * 2);
    EXPECT_FALSE(sound_file_becomes_wave64(file));
    // The same record as if it had been given that much more: the decision alone.
    SoundFile at_limit = file;
    at_limit.data_bytes = sound_file_max_riff_data;
    EXPECT_FALSE(sound_file_becomes_wave64(at_limit));
    SoundFile past = file;
    past.data_bytes = sound_file_max_riff_data + 1;
    EXPECT_TRUE(sound_file_becomes_wave64(past));
    past.wave64 = true;
    EXPECT_FALSE(sound_file_becomes_wave64(past));
    sound_file_close(file);
    EXPECT_FALSE(sound_file_becomes_wave64(file));
    ASSERT_TRUE(sound_file_open(file, path.c_str(), audio_container_wav));
    EXPECT_EQ(file.frames, 500);
    SoundFile reading = file;
    reading.data_bytes = sound_file_max_riff_data + 1;
    EXPECT_FALSE(sound_file_becomes_wave64(reading));
    sound_file_close(file);
    EXPECT_EQ(read_bytes(path).size(), 44u + 500 * 2 * 2);
}

// The frames one read may ask for: their bytes in the widest format read (4 a sample)
// must fit 64 bits. Only the frames there are are written.
TEST(SoundFileLimits, ReadsAskForAsManyFramesAsTheirBytesCanCount) {
    std::string path = temp_path("short.wav");
    write_ints(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 8000, pattern_ints(100));
    SoundFile file = {};
    ASSERT_TRUE(sound_file_open(file, path.c_str(), audio_container_wav));
    int64_t most = INT64_MAX / (2 * 4);
    std::vector<int16_t> buffer(100);
    EXPECT_EQ(sound_file_read(file, signed_16, most + 1, buffer.data()), 0);
    EXPECT_EQ(sound_file_read(file, signed_16, most, buffer.data()), 50);
    EXPECT_EQ(buffer[99], pattern16(99));
    sound_file_close(file);
}

// A WAV file that was given more than RIFF sizes can state becomes Wave64 at close, in
// place. The same rewrite on small files (the sizes wrecked, as a wrap would leave them)
// must give the very bytes the library writes for Wave64.
TEST(SoundFileLimits, RewritingRiffAsWave64GivesTheLibrarysOwnWave64) {
    struct Case {
        SampleFormat written;
        int32_t channels;
        int64_t frames;
    } cases[] = {{unsigned_8, 1, 3}, {unsigned_8, 1, 0}, {signed_16, 2, 5}, {signed_32, 3, 20000}, {unsigned_8, 2, 70001}};
    for (const auto& c : cases) {
        std::string name = std::to_string(c.written) + " x" + std::to_string(c.channels) + ", " + std::to_string(c.frames);
        int64_t bytes = c.frames * c.channels * audio_format_width(c.written);
        std::vector<unsigned char> samples(static_cast<size_t>(bytes));
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<unsigned char>(i * 131 + i / 251);
        std::string riff = temp_path("riff.wav");
        std::string wave64 = temp_path("wave64.wav");
        for (bool as_wave64 : {false, true}) {
            SoundFile file = {};
            ASSERT_TRUE(sound_file_create(file, (as_wave64 ? wave64 : riff).c_str(), c.written, c.channels, 44100, as_wave64));
            EXPECT_EQ(sound_file_write(file, c.written, c.frames, samples.data()), c.frames);
            sound_file_close(file);
        }
        std::FILE* stream = std::fopen(riff.c_str(), "r+b");
        ASSERT_NE(stream, nullptr);
        std::fseek(stream, 4, SEEK_SET);
        std::fwrite("\xff\xff\xff\xff", 1, 4, stream);
        std::fseek(stream, 40, SEEK_SET);
        std::fwrite("\x22\0\0\0", 1, 4, stream);
        EXPECT_TRUE(sound_file_riff_to_wave64(stream, bytes)) << name;
        std::fclose(stream);
        EXPECT_EQ(read_bytes(riff), read_bytes(wave64)) << name;
        SoundFile file = {};
        ASSERT_TRUE(sound_file_open(file, riff.c_str(), audio_container_wav)) << name;
        EXPECT_EQ(file.frames, c.frames) << name;
        sound_file_close(file);
    }
    // Only a header this module writes is rewritten; nothing is touched otherwise.
    std::string other = temp_path("other.wav");
    write_file(other, std::string(200, 'x'));
    std::FILE* stream = std::fopen(other.c_str(), "r+b");
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(sound_file_riff_to_wave64(stream, 10));
    EXPECT_FALSE(sound_file_riff_to_wave64(stream, -1));
    std::fclose(stream);
    EXPECT_EQ(read_bytes(other), std::vector<unsigned char>(200, 'x'));
    EXPECT_FALSE(sound_file_riff_to_wave64(nullptr, 10));
}

// A LIST chunk whose sub-chunk size passes 2^31 - 1 once sent the library round the same
// bytes for ever (found by the wave fuzz target): such a file is refused at once, from
// memory and from a file, while LIST chunks as encoders write them still load.
std::vector<unsigned char> wav_with_list(const std::vector<unsigned char>& list_body) {
    auto le32 = [](std::vector<unsigned char>& out, uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    auto add = [](std::vector<unsigned char>& out, const char* text) { out.insert(out.end(), text, text + 4); };
    std::vector<unsigned char> body;
    add(body, "WAVE");
    add(body, "fmt ");
    le32(body, 16);
    for (unsigned char b : {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0}) body.push_back(b);
    add(body, "LIST");
    le32(body, static_cast<uint32_t>(list_body.size()));
    body.insert(body.end(), list_body.begin(), list_body.end());
    add(body, "data");
    le32(body, 4);
    for (unsigned char b : {1, 0, 2, 0}) body.push_back(b);
    std::vector<unsigned char> file;
    add(file, "RIFF");
    le32(file, static_cast<uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

TEST(SoundFile, AListThatWouldLoopForEverIsRefused) {
    // The fuzz target's input: float stereo, then a LIST whose unknown sub-chunks state
    // sizes of 2^32 - 1 and 2^32 - 9.
    const std::vector<unsigned char> looping = {
        0x52, 0x49, 0x46, 0x46, 0x40, 0x01, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6d, 0x74,
        0x20, 0x10, 0x00, 0x00, 0x00, 0x03, 0x00, 0x02, 0x00, 0x40, 0x1f, 0x00, 0x00, 0x00, 0xfa,
        0x00, 0x00, 0x08, 0x00, 0x20, 0x00, 0x4c, 0x49, 0x53, 0x54, 0xf0, 0x00, 0x00, 0xee, 0xbd,
        0xfd, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xf7, 0xff, 0xff, 0xff};
    std::string path = temp_path("looping.wav");
    write_file(path, std::string(looping.begin(), looping.end()));
    constexpr int refused = 1, opened = 2;
    auto open_both = [&] {
        SoundFile file = {};
        bool from_memory = sound_file_open_memory(file, static_cast<int64_t>(looping.size()), looping.data(),
                                                  audio_container_wav);
        (void)sound_file_close(file);
        bool from_path = sound_file_open(file, path.c_str(), audio_container_wav);
        (void)sound_file_close(file);
        return from_memory || from_path ? opened : refused;
    };
    EXPECT_EQ(within_seconds(fifo_guard_seconds, open_both), refused);

    // An INFO list with an odd-sized entry and its pad byte, and an unknown list type.
    std::vector<unsigned char> info = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 5, 0, 0, 0, 'w', 'o', 'r', 'd', 's', 0};
    std::vector<unsigned char> other = {'w', 'x', 'y', 'z', 'a', 'b', 'c', 'd', 2, 0, 0, 0, 7, 7};
    for (const auto& list : {info, other}) {
        std::vector<unsigned char> wav = wav_with_list(list);
        write_file(path, std::string(wav.begin(), wav.end()));
        SoundFile file = {};
        EXPECT_TRUE(sound_file_open_memory(file, static_cast<int64_t>(wav.size()), wav.data(), audio_container_wav));
        EXPECT_EQ(file.frames, 2);
        (void)sound_file_close(file);
        ASSERT_TRUE(sound_file_open(file, path.c_str(), audio_container_wav));
        EXPECT_EQ(file.frames, 2);
        int16_t samples[2] = {};
        EXPECT_EQ(sound_file_read(file, signed_16, 2, samples), 2);
        EXPECT_EQ(samples[0], 1);
        EXPECT_EQ(samples[1], 2);
        (void)sound_file_close(file);
    }
}

}  // namespace
