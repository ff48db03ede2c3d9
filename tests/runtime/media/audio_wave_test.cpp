#include "runtime/media/audio_wave.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "audio_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

using namespace audio_test;

namespace {

// One sample of `format` given as its bit pattern (floats too), converted alone.
uint32_t convert_sample(SampleFormat from, uint32_t bits, SampleFormat to) {
    unsigned char buffer[8] = {};
    std::memcpy(buffer, &bits, sizeof bits);
    AudioWave wave = {from, 1, 8000, audio_format_width(from), buffer};
    audio_wave_convert(wave, to);
    EXPECT_EQ(wave.format, to);
    EXPECT_EQ(wave.size, audio_format_width(to));
    uint32_t out = 0;
    std::memcpy(&out, buffer, static_cast<size_t>(audio_format_width(to)));
    return out;
}

uint32_t float_bits(float x) { return std::bit_cast<uint32_t>(x); }

// Integer levels whose wider forms have zero low bytes, so every pair converts exactly.
// Columns: u8, u16, u32, s8, s16, s32.
struct IntegerLevel {
    const char* name;
    uint32_t bits[6];
};
constexpr IntegerLevel integer_levels[] = {
    {"silence", {0x80, 0x8000, 0x80000000, 0, 0, 0}},
    {"most negative", {0x00, 0x0000, 0x00000000, 0x80, 0x8000, 0x80000000}},
    {"positive 0x12", {0x92, 0x9200, 0x92000000, 0x12, 0x1200, 0x12000000}},
    {"negative 0xed", {0x6d, 0x6d00, 0x6d000000, 0xed, 0xed00, 0xed000000}},
    {"top 0x7f", {0xff, 0xff00, 0xff000000, 0x7f, 0x7f00, 0x7f000000}},
};

TEST(AudioWaveConvert, IntegerLevelsAgreeAcrossAllIntegerPairs) {
    for (const auto& level : integer_levels)
        for (int from = 0; from < 6; ++from)
            for (int to = 0; to < 6; ++to)
                EXPECT_EQ(convert_sample(SampleFormat(from), level.bits[from], SampleFormat(to)), level.bits[to])
                    << level.name << ": " << from << " -> " << to;
}

// Narrowing keeps the most significant bytes, then fixes the class bit.
struct PairCase {
    SampleFormat from;
    uint32_t in;
    SampleFormat to;
    uint32_t out;
};
constexpr PairCase narrowing_cases[] = {
    {unsigned_8, 200, signed_16, 18432},
    {signed_16, 0x1234, unsigned_8, 146},
    {signed_16, 0x1234, signed_8, 0x12},
    {signed_32, 0x12345678, signed_16, 0x1234},
    {signed_32, 0x12345678, unsigned_16, 0x9234},
    {signed_32, 0x12345678, unsigned_8, 0x92},
    {signed_32, 0x12345678, unsigned_32, 0x92345678},
    {unsigned_16, 0xabcd, signed_8, 0x2b},
    {unsigned_16, 0xabcd, signed_32, 0x2bcd0000},
    {unsigned_32, 0xfedcba98, unsigned_16, 0xfedc},
};

TEST(AudioWaveConvert, NarrowingKeepsTheHighBytes) {
    for (const auto& c : narrowing_cases)
        EXPECT_EQ(convert_sample(c.from, c.in, c.to), c.out) << int(c.from) << " " << std::hex << c.in << " -> " << int(c.to);
}

// Integer to float: v / M of the source width, the offset class first made signed.
struct ToFloatCase {
    SampleFormat from;
    uint32_t in;
    float out;
};
const ToFloatCase to_float_cases[] = {
    {signed_8, 127, 1.0f},
    {signed_8, 0x80, -1.0078740119934082f},
    {unsigned_8, 0xff, 1.0f},
    {unsigned_8, 0x00, -1.0078740119934082f},
    {unsigned_8, 0x80, 0.0f},
    {signed_16, 0x7fff, 1.0f},
    {signed_16, 0x8000, -1.000030517578125f},
    {signed_16, 16384, 0.5000152587890625f},
    {unsigned_16, 0x0000, -1.000030517578125f},
    {signed_32, 0x7fffffff, 1.0f},
    {signed_32, 0x80000000, -1.0f},
    {unsigned_32, 0xc0000000, 0.5f},
    {unsigned_32, 0x80000000, 0.0f},
};

TEST(AudioWaveConvert, IntegerToFloatDividesByFullScale) {
    for (const auto& c : to_float_cases)
        EXPECT_EQ(convert_sample(c.from, c.in, float_32), float_bits(c.out)) << int(c.from) << " " << std::hex << c.in;
}

// Float to integer: clamped to -1..1 (NaN silent), times M, truncated. Columns u8..s32.
struct FromFloatRow {
    float in;
    uint32_t bits[6];
};
const FromFloatRow from_float_rows[] = {
    {1.0f, {0xff, 0xffff, 0xffffffff, 0x7f, 0x7fff, 0x7fffffff}},
    {-1.0f, {0x01, 0x0001, 0x00000001, 0x81, 0x8001, 0x80000001}},
    {0.0f, {0x80, 0x8000, 0x80000000, 0, 0, 0}},
    {0.5f, {0xbf, 0xbfff, 0xbfffffff, 0x3f, 0x3fff, 0x3fffffff}},
    {-0.5f, {0x41, 0x4001, 0x40000001, 0xc1, 0xc001, 0xc0000001}},
    {0.25f, {0x9f, 0x9fff, 0x9fffffff, 0x1f, 0x1fff, 0x1fffffff}},
    // Computed in double: a single-precision product would round up to ...d0.
    {0.1f, {0x8c, 0x8ccc, 0x8ccccccf, 0x0c, 0x0ccc, 0x0ccccccf}},
    // Clamped, not wrapped (1.5 as signed_16 would otherwise be -16386).
    {1.5f, {0xff, 0xffff, 0xffffffff, 0x7f, 0x7fff, 0x7fffffff}},
    {-1.5f, {0x01, 0x0001, 0x00000001, 0x81, 0x8001, 0x80000001}},
    {std::numeric_limits<float>::infinity(), {0xff, 0xffff, 0xffffffff, 0x7f, 0x7fff, 0x7fffffff}},
    {-std::numeric_limits<float>::infinity(), {0x01, 0x0001, 0x00000001, 0x81, 0x8001, 0x80000001}},
    {std::numeric_limits<float>::quiet_NaN(), {0x80, 0x8000, 0x80000000, 0, 0, 0}},
};

TEST(AudioWaveConvert, FloatToIntegerClampsScalesAndTruncates) {
    for (const auto& row : from_float_rows)
        for (int to = 0; to < 6; ++to)
            EXPECT_EQ(convert_sample(float_32, float_bits(row.in), SampleFormat(to)), row.bits[to])
                << row.in << " -> " << to;
}

TEST(AudioWaveConvert, IntegerRoundTripsThroughWiderFormatsAreExact) {
    for (int narrow = 0; narrow < 6; ++narrow)
        for (int wide = 0; wide < 6; ++wide) {
            int64_t wn = audio_format_width(SampleFormat(narrow));
            if (audio_format_width(SampleFormat(wide)) < wn) continue;
            // Every 8-bit value, every third 16-bit one, a spread of 32-bit ones.
            uint32_t step = wn == 1 ? 1 : wn == 2 ? 3 : 1048573u;
            uint32_t count = wn == 1 ? 256 : wn == 2 ? 21846 : 4096;
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t in = i * step;
                uint32_t there = convert_sample(SampleFormat(narrow), in, SampleFormat(wide));
                ASSERT_EQ(convert_sample(SampleFormat(wide), there, SampleFormat(narrow)), in)
                    << narrow << " -> " << wide << " -> " << narrow;
            }
        }
}

TEST(AudioWaveConvert, FloatRoundTripsStayWithinOneStep) {
    for (int format = 0; format < 6; ++format) {
        int64_t width = audio_format_width(SampleFormat(format));
        double scale = width == 1 ? 127.0 : width == 2 ? 32767.0 : 2147483647.0;
        for (int i = -1000; i <= 1000; ++i) {
            float x = static_cast<float>(i) / 1000.0f;
            uint32_t there = convert_sample(float_32, float_bits(x), SampleFormat(format));
            float back = std::bit_cast<float>(convert_sample(SampleFormat(format), there, float_32));
            ASSERT_NEAR(back, x, 1.0 / scale + 1e-6) << "via " << format;
        }
    }
}

// Converting a long buffer in place must agree with converting each sample alone, at
// every length around the internal step size, and must not write past the result.
TEST(AudioWaveConvert, InPlaceBuffersMatchSampleBySampleForAllPairs) {
    const int64_t counts[] = {0, 1, 7, 1023, 1024, 1025, 3001};
    for (int from = 0; from < sample_format_count; ++from)
        for (int to = 0; to < sample_format_count; ++to)
            for (int64_t count : counts) {
                int64_t ws = audio_format_width(SampleFormat(from));
                int64_t wt = audio_format_width(SampleFormat(to));
                int64_t extent = count * std::max(ws, wt);
                std::vector<unsigned char> buffer(static_cast<size_t>(extent + 16), 0xa5);
                std::vector<uint32_t> inputs(static_cast<size_t>(count));
                for (int64_t i = 0; i < count; ++i) {
                    uint32_t bits = static_cast<uint32_t>(i * 2654435761u);
                    if (from == float_32) bits = float_bits(static_cast<float>(i % 301 - 150) / 100.0f);
                    inputs[static_cast<size_t>(i)] = bits;
                    std::memcpy(buffer.data() + i * ws, &bits, static_cast<size_t>(ws));
                }
                AudioWave wave = {SampleFormat(from), 1, 8000, count * ws, buffer.data()};
                audio_wave_convert(wave, SampleFormat(to));
                ASSERT_EQ(wave.size, count * wt);
                for (int64_t i = 0; i < count; ++i) {
                    uint32_t want = convert_sample(SampleFormat(from), inputs[static_cast<size_t>(i)], SampleFormat(to));
                    uint32_t got = 0;
                    std::memcpy(&got, buffer.data() + i * wt, static_cast<size_t>(wt));
                    ASSERT_EQ(got, want) << from << " -> " << to << " count " << count << " sample " << i;
                }
                for (int64_t i = extent; i < extent + 16; ++i) ASSERT_EQ(buffer[static_cast<size_t>(i)], 0xa5);
            }
}

TEST(AudioWaveConvert, WideningRewritesTheWholeExtentAndScalesTheSize) {
    std::vector<unsigned char> buffer(400, 0);
    for (int i = 0; i < 100; ++i) buffer[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
    AudioWave wave = {unsigned_8, 1, 8000, 100, buffer.data()};
    audio_wave_convert(wave, signed_32);
    EXPECT_EQ(wave.size, 400);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(sample_at<uint32_t>(buffer.data(), i), uint32_t(i ^ 0x80) << 24);
    audio_wave_convert(wave, unsigned_8);
    EXPECT_EQ(wave.size, 100);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(buffer[static_cast<size_t>(i)], i);
}

TEST(AudioWaveConvert, LeavesWavesItCannotConvertUntouched) {
    unsigned char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const AudioWave cases[] = {
        {signed_16, 1, 8000, 8, buffer},                // same format
        {SampleFormat(7), 1, 8000, 8, buffer},          // not a format
        {signed_16, 1, 8000, 8, nullptr},               // no samples
        {signed_16, 1, 8000, -2, buffer},               // negative size
    };
    const SampleFormat targets[] = {signed_16, signed_32, signed_32, signed_32};
    for (size_t i = 0; i < std::size(cases); ++i) {
        AudioWave wave = cases[i];
        audio_wave_convert(wave, targets[i]);
        EXPECT_EQ(wave.format, cases[i].format) << "case " << i;
        EXPECT_EQ(wave.size, cases[i].size) << "case " << i;
        EXPECT_EQ(buffer[7], 8) << "case " << i;
    }
    AudioWave wave = {signed_16, 1, 8000, 8, buffer};
    audio_wave_convert(wave, SampleFormat(9));
    EXPECT_EQ(wave.format, signed_16);
}

// ---- whole-file loads

constexpr size_t pool_bytes = 8 << 20;
constexpr int64_t stereo_frames = 1000;

std::string make_stereo_wav() {
    std::string path = temp_path("stereo.wav");
    write_ints(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, pattern_ints(stereo_frames * 2));
    return path;
}

// What a 16-bit source sample v becomes in each format (floats: libsndfile's v / 32768).
uint32_t expected_from_16(int16_t v, SampleFormat format) {
    auto u = static_cast<uint16_t>(v);
    switch (format) {
        case unsigned_8: return (u >> 8) ^ 0x80u;
        case unsigned_16: return u ^ 0x8000u;
        case unsigned_32: return (uint32_t{u} << 16) ^ 0x80000000u;
        case signed_8: return u >> 8;
        case signed_16: return u;
        case signed_32: return uint32_t{u} << 16;
        default: return float_bits(static_cast<float>(v) / 32768.0f);
    }
}

TEST(AudioWaveLoad, SixteenBitWavInEveryFormat) {
    PoolScope pool(pool_bytes);
    std::string path = make_stereo_wav();
    for (int format = 0; format < sample_format_count; ++format) {
        AudioWave wave = audio_wave_load(SampleFormat(format), slice_of(path));
        int64_t width = audio_format_width(SampleFormat(format));
        ASSERT_EQ(wave.format, format);
        ASSERT_EQ(wave.channels, 2);
        ASSERT_EQ(wave.sample_rate, 44100);
        ASSERT_EQ(wave.size, stereo_frames * 2 * width) << "format " << format;
        for (int64_t i = 0; i < stereo_frames * 2; ++i) {
            uint32_t got = 0;
            std::memcpy(&got, static_cast<unsigned char*>(wave.data) + i * width, static_cast<size_t>(width));
            ASSERT_EQ(got, expected_from_16(pattern16(i), SampleFormat(format))) << "format " << format << " sample " << i;
        }
    }
}

// Integer files widen by shifts; float files are read as floats and scaled here, since
// the library's integer reads of float files round without scaling.
struct SourceCase {
    const char* name;
    int sf_format;
    std::vector<int32_t> ints;  // written through the int interface when floats is empty
    std::vector<float> floats;
    SampleFormat load_as;
    std::vector<uint32_t> expected;
};

TEST(AudioWaveLoad, SourceEncodingsConvertAsTheRuntimeDoes) {
    PoolScope pool(pool_bytes);
    const SourceCase cases[] = {
        {"u8 200", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, {(200 - 128) << 24}, {}, signed_16, {18432}},
        {"u8 as s32", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, {(200 - 128) << 24}, {}, signed_32, {72u << 24}},
        {"s24 as s16", SF_FORMAT_WAV | SF_FORMAT_PCM_24, {0x123456 << 8}, {}, signed_16, {0x1234}},
        {"s24 as s32", SF_FORMAT_WAV | SF_FORMAT_PCM_24, {0x123456 << 8}, {}, signed_32, {0x12345600}},
        {"flac s24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, {-0x123456 * 256}, {}, signed_32, {uint32_t(-0x12345600)}},
        {"float as s16", SF_FORMAT_WAV | SF_FORMAT_FLOAT, {}, {0.5f, 1.5f, -0.25f}, signed_16, {16383, 32767, 0xe001}},
        {"float as s32", SF_FORMAT_WAV | SF_FORMAT_FLOAT, {}, {0.5f, -2.0f}, signed_32, {0x3fffffff, 0x80000001}},
        {"float as u8", SF_FORMAT_WAV | SF_FORMAT_FLOAT, {}, {-0.25f, 1.0f}, unsigned_8, {0x60, 0xff}},  // via signed_16
        {"float as float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, {}, {1.5f, -0.125f}, float_32, {float_bits(1.5f), float_bits(-0.125f)}},
        {"double as s16", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, {}, {0.5f}, signed_16, {16383}},
        {"w64 named wav", SF_FORMAT_W64 | SF_FORMAT_PCM_16, {0x1234 << 16}, {}, signed_16, {0x1234}},
    };
    for (const auto& c : cases) {
        std::string path = temp_path(std::string("source.") + ((c.sf_format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC ? "flac" : "wav"));
        if (c.floats.empty()) write_ints(path, c.sf_format, 1, 8000, c.ints);
        else write_floats(path, c.sf_format, 1, 8000, c.floats);
        AudioWave wave = audio_wave_load(c.load_as, slice_of(path));
        int64_t width = audio_format_width(c.load_as);
        ASSERT_EQ(wave.size, static_cast<int64_t>(c.expected.size()) * width) << c.name;
        for (size_t i = 0; i < c.expected.size(); ++i) {
            uint32_t got = 0;
            std::memcpy(&got, static_cast<unsigned char*>(wave.data) + i * width, static_cast<size_t>(width));
            EXPECT_EQ(got, c.expected[i]) << c.name << " sample " << i;
        }
    }
}

// The 24-bit WAVE_FORMAT_EXTENSIBLE fixture written by sox: every value is known.
TEST(AudioWaveLoad, ExtensibleWavFromAnotherEncoder) {
    PoolScope pool(pool_bytes);
    AudioWave wide = audio_wave_load(signed_32, slice_of(data_path("extensible_24bit.wav")));
    AudioWave narrow = audio_wave_load(signed_16, slice_of(data_path("extensible_24bit.wav")));
    ASSERT_EQ(wide.channels, 3);
    ASSERT_EQ(wide.sample_rate, 8000);
    ASSERT_EQ(wide.size, 300 * 4);
    ASSERT_EQ(narrow.size, 300 * 2);
    for (uint32_t i = 0; i < 300; ++i) {
        uint32_t value = (i * 1234567u - 40000000u) << 8;
        EXPECT_EQ(sample_at<uint32_t>(wide.data, i), value) << i;
        EXPECT_EQ(sample_at<uint16_t>(narrow.data, i), value >> 16) << i;
    }
}

TEST(AudioWaveLoad, FlacMatchesTheWavItWasEncodedFrom) {
    PoolScope pool(pool_bytes);
    for (SampleFormat format : {signed_16, signed_32, float_32, unsigned_8}) {
        AudioWave wav = audio_wave_load(format, slice_of(data_path("tone_16bit.wav")));
        AudioWave flac = audio_wave_load(format, slice_of(data_path("tone_16bit.flac")));
        AudioWave streamed = audio_wave_load(format, slice_of(data_path("unknown_length.flac")));
        ASSERT_EQ(wav.size, 4410 * 2 * audio_format_width(format));
        EXPECT_EQ(wave_bytes(flac), wave_bytes(wav)) << int(format);
        EXPECT_EQ(wave_bytes(streamed), wave_bytes(wav)) << int(format);
    }
}

// Per channel: the peak and the count of upward zero crossings (about the tone's cycles).
void expect_tone(const AudioWave& wave, int channel, double frequency) {
    int64_t frames = wave.size / 4 / wave.channels;
    float peak = 0;
    int crossings = 0;
    for (int64_t i = 0; i < frames; ++i) {
        float x = sample_at<float>(wave.data, i * wave.channels + channel);
        peak = std::max(peak, std::fabs(x));
        if (i > 0 && sample_at<float>(wave.data, (i - 1) * wave.channels + channel) < 0 && x >= 0) ++crossings;
    }
    double cycles = frequency * static_cast<double>(frames) / wave.sample_rate;
    EXPECT_NEAR(peak, 0.5, 0.1) << "channel " << channel;
    EXPECT_NEAR(crossings, cycles, 2.0) << "channel " << channel;
}

TEST(AudioWaveLoad, SixChannelOggFromAnotherEncoder) {
    PoolScope pool(pool_bytes);
    AudioWave wave = audio_wave_load(float_32, slice_of(data_path("six_channels.ogg")));
    ASSERT_EQ(wave.channels, 6);
    ASSERT_EQ(wave.sample_rate, 22050);
    ASSERT_EQ(wave.size, 4410 * 6 * 4);
    const double tones[] = {300, 450, 600, 750, 900, 1050};
    for (int channel = 0; channel < 6; ++channel) expect_tone(wave, channel, tones[channel]);
    // The integer forms are the float decode converted by the runtime's own rule, the
    // 8- and 16-bit ones by way of signed_16.
    for (SampleFormat format : {signed_16, unsigned_16, signed_32, unsigned_8}) {
        std::vector<unsigned char> floats = wave_bytes(wave);
        AudioWave want = {float_32, 6, 22050, wave.size, floats.data()};
        if (audio_format_width(format) <= 2) audio_wave_convert(want, signed_16);
        audio_wave_convert(want, format);
        AudioWave got = audio_wave_load(format, slice_of(data_path("six_channels.ogg")));
        EXPECT_EQ(wave_bytes(got), wave_bytes(want)) << int(format);
    }
}

TEST(AudioWaveLoad, OggMadeHereKeepsItsTones) {
    PoolScope pool(pool_bytes);
    std::string path = temp_path("tones.ogg");
    write_floats(path, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, stereo_tones(20000, 44100));
    AudioWave wave = audio_wave_load(float_32, slice_of(path));
    ASSERT_EQ(wave.size, 20000 * 2 * 4);
    expect_tone(wave, 0, 440);
    expect_tone(wave, 1, 660);
}

// The 16-bit Ogg decode starts with room for channels x 4096 samples and doubles its top
// block in place; streamed FLAC grows the same way.
TEST(AudioWaveLoad, GrowingDecodesDoubleTheirBlockInThePool) {
    PoolScope pool(pool_bytes);
    AudioWave ogg = audio_wave_load(signed_16, slice_of(data_path("six_channels.ogg")));
    EXPECT_EQ(ogg.data, pool.block.data());
    EXPECT_EQ(ogg.size, 4410 * 6 * 2);
    EXPECT_EQ(audio_memory_pos, 6 * 4096 * 2 * 4);  // 4096 frames, then 314: doubled twice
    audio_set_buffer(static_cast<int64_t>(pool.block.size()), pool.block.data());
    AudioWave flac = audio_wave_load(signed_16, slice_of(data_path("unknown_length.flac")));
    EXPECT_EQ(flac.size, 4410 * 2 * 2);
    EXPECT_EQ(audio_memory_pos, 2 * 4096 * 2 * 4);
}

TEST(AudioWaveLoad, MemoryImagesLoadLikeTheirFiles) {
    PoolScope pool(pool_bytes);
    std::string wav = make_stereo_wav();
    for (const std::string& path : {wav, data_path("tone_16bit.flac"), data_path("six_channels.ogg"),
                                    data_path("extensible_24bit.wav"), data_path("unknown_length.flac")}) {
        std::vector<unsigned char> image = read_bytes(path);
        for (SampleFormat format : {signed_16, float_32, unsigned_32}) {
            AudioWave from_file = audio_wave_load(format, slice_of(path));
            AudioWave from_memory = audio_wave_load_from_memory(format, static_cast<int64_t>(image.size()), image.data());
            ASSERT_GT(from_file.size, 0) << path;
            EXPECT_EQ(describe(from_memory), describe(from_file)) << path;
            EXPECT_EQ(wave_bytes(from_memory), wave_bytes(from_file)) << path << " as " << int(format);
        }
    }
}

TEST(AudioWaveLoad, UnrecognisedInputGivesTheDocumentedFailureWave) {
    PoolScope pool(pool_bytes);
    std::string flac_as_wav = temp_path("flac.wav");
    write_file(flac_as_wav, read_file(data_path("tone_16bit.flac")));
    std::string wav_as_ogg = moved_to(make_stereo_wav(), "wav.ogg");
    std::string upper = moved_to(make_stereo_wav(), "stereo.WAV");
    std::string wav = make_stereo_wav();  // made last: the moves above take its name away
    struct Case {
        std::string path;
        SampleFormat format;
        std::string expected;
    } cases[] = {
        {upper, signed_16, "{format 0, channels 0, rate 0, size 0, null}"},
        {temp_path("noextension"), signed_16, "{format 0, channels 0, rate 0, size 0, null}"},
        {wav, SampleFormat(7), "{format 0, channels 0, rate 0, size 0, null}"},
        {flac_as_wav, signed_16, "{format 4, channels 0, rate 0, size 0, null}"},
        {temp_path("missing.flac"), signed_32, "{format 5, channels 0, rate 0, size 0, null}"},
        {wav_as_ogg, signed_16, "{format 0, channels 0, rate 0, size 0, null}"},
    };
    for (const auto& c : cases) EXPECT_EQ(describe(audio_wave_load(c.format, slice_of(c.path))), c.expected) << c.path;
}

TEST(AudioWaveLoad, UnrecognisedMemoryGivesTheDocumentedFailureWave) {
    PoolScope pool(pool_bytes);
    std::vector<unsigned char> w64;
    {
        std::string path = temp_path("x.w64");
        write_ints(path, SF_FORMAT_W64 | SF_FORMAT_PCM_16, 1, 8000, {1 << 16});
        w64 = read_bytes(path);
    }
    const unsigned char riff_junk[] = "RIFF\x10\0\0\0junkjunkjunkjunk";
    const unsigned char flac_junk[] = "fLaCjunkjunkjunkjunk";
    const unsigned char ogg_junk[] = "OggSjunkjunkjunkjunk";
    struct Case {
        const char* name;
        int64_t size;
        const void* data;
        SampleFormat format;
        std::string expected;
    } cases[] = {
        {"3 bytes", 3, riff_junk, signed_16, "{format 0, channels 0, rate 0, size 0, null}"},
        {"wave64 image", static_cast<int64_t>(w64.size()), w64.data(), signed_16, "{format 0, channels 0, rate 0, size 0, null}"},
        {"riff junk", sizeof riff_junk, riff_junk, signed_16, "{format 4, channels 0, rate 0, size 0, null}"},
        {"flac junk", sizeof flac_junk, flac_junk, float_32, "{format 6, channels 0, rate 0, size 0, null}"},
        {"ogg junk", sizeof ogg_junk, ogg_junk, signed_16, "{format 0, channels 0, rate 0, size 0, null}"},
        {"null data", 64, nullptr, signed_16, "{format 0, channels 0, rate 0, size 0, null}"},
        {"negative size", -5, riff_junk, signed_16, "{format 0, channels 0, rate 0, size 0, null}"},
        // Refused for its size before a byte is read (the buffer is far smaller).
        {"ogg of 2 GiB", int64_t{1} << 31, ogg_junk, signed_16, "{format 0, channels 0, rate 0, size 0, null}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(audio_wave_load_from_memory(c.format, c.size, c.data)), c.expected) << c.name;
}

// The Ogg Vorbis stream that leaked in libsndfile: the all-zero wave from memory and
// from a file, every time (LeakSanitizer checks that nothing stays behind), in every format.
TEST(AudioWaveLoad, MalformedVorbisIsRefusedWithoutALeak) {
    PoolScope pool(pool_bytes);
    std::vector<unsigned char> image = malformed_vorbis();
    std::string path = temp_path("malformed.ogg");
    write_file(path, std::string(image.begin(), image.end()));
    for (int format = 0; format < sample_format_count; ++format) {
        AudioWave from_memory = audio_wave_load_from_memory(SampleFormat(format), static_cast<int64_t>(image.size()), image.data());
        EXPECT_EQ(describe(from_memory), "{format 0, channels 0, rate 0, size 0, null}") << format;
        EXPECT_EQ(describe(audio_wave_load(SampleFormat(format), slice_of(path))), "{format 0, channels 0, rate 0, size 0, null}")
            << format;
    }
    EXPECT_EQ(audio_memory_pos, 0);
}

TEST(AudioWaveLoad, APoolTooSmallPrintsItsMessageAndFails) {
    std::string wav = make_stereo_wav();  // 4000 bytes of samples as signed_16
    std::vector<unsigned char> block(1 << 20);
    struct Case {
        const char* name;
        std::string path;
        SampleFormat format;
        int64_t pool;
        std::string message;
        std::string expected;
    } cases[] = {
        {"wav", wav, signed_16, 3999, "audio memory allocation failed\n", "{format 4, channels 0, rate 0, size 0, null}"},
        {"no pool", wav, float_32, 0, "audio memory allocation failed\n", "{format 6, channels 0, rate 0, size 0, null}"},
        {"ogg float", data_path("six_channels.ogg"), float_32, 1000, "audio memory allocation failed\n",
         "{format 0, channels 0, rate 0, size 0, null}"},
        {"ogg 16-bit first block", data_path("six_channels.ogg"), signed_16, 1000, "audio memory allocation failed\n",
         "{format 0, channels 0, rate 0, size 0, null}"},
        {"ogg 16-bit growth", data_path("six_channels.ogg"), signed_16, 6 * 4096 * 2 + 100,
         "audio memory reallocation failed\n", "{format 0, channels 0, rate 0, size 0, null}"},
        {"streamed flac growth", data_path("unknown_length.flac"), signed_32, 2 * 4096 * 4 + 8,
         "audio memory reallocation failed\n", "{format 5, channels 0, rate 0, size 0, null}"},
    };
    for (const auto& c : cases) {
        audio_set_buffer(c.pool, block.data());
        testing::internal::CaptureStdout();
        AudioWave wave = audio_wave_load(c.format, slice_of(c.path));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message) << c.name;
        EXPECT_EQ(describe(wave), c.expected) << c.name;
    }
    audio_set_buffer(0, nullptr);
}

// Read through any decoder, a FIFO without a writer is empty: the load fails at once
// instead of waiting for a writer, and the next load works as usual.
TEST(AudioWaveLoad, AFifoWithoutAWriterFailsAtOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFOs";
#else
    PoolScope pool(pool_bytes);
    std::string wav = make_stereo_wav();
    for (const char* name : {"fifo.wav", "fifo.flac", "fifo.ogg"}) {
        std::string fifo = make_fifo(name);
        int outcome = within_seconds(fifo_guard_seconds, [&] {
            if (audio_wave_load(signed_16, slice_of(fifo)).data) return int{fifo_taken};
            AudioWave next = audio_wave_load(signed_16, slice_of(wav));
            return next.data && next.size == stereo_frames * 2 * 2 ? int{fifo_refused_then_normal} : 0;
        });
        EXPECT_EQ(outcome, fifo_refused_then_normal) << name;
        EXPECT_TRUE(std::filesystem::is_fifo(fifo)) << name;
    }
#endif
}

// ---- saving

struct SavedFile {
    uint16_t tag;
    uint16_t channels;
    uint16_t bits;
    std::vector<unsigned char> samples;
};

// Reads the plain 44-byte header that libsndfile writes for integer PCM.
SavedFile parse_wav(const std::string& path) {
    std::vector<unsigned char> bytes = read_bytes(path);
    SavedFile saved = {};
    if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return saved;
    saved.tag = sample_at<uint16_t>(bytes.data() + 20, 0);
    saved.channels = sample_at<uint16_t>(bytes.data() + 22, 0);
    saved.bits = sample_at<uint16_t>(bytes.data() + 34, 0);
    uint32_t data_size = sample_at<uint32_t>(bytes.data() + 40, 0);
    saved.samples.assign(bytes.begin() + 44, bytes.begin() + 44 + std::min<size_t>(data_size, bytes.size() - 44));
    return saved;
}

template <typename T>
std::vector<unsigned char> bytes_of(std::initializer_list<T> values) {
    std::vector<unsigned char> out(values.size() * sizeof(T));
    std::memcpy(out.data(), values.begin(), out.size());
    return out;
}

// ---- paths, for loads and saves alike

std::string with_nul(const std::string& path, const std::string& tail) { return path + std::string(1, '\0') + tail; }

// One file per container with `channels` channels, at the scratch name `name` + extension.
std::string make_named(const std::string& name, const char* extension, int channels) {
    std::string path = temp_path(name + extension);
    std::string ext = extension;
    if (ext == ".ogg") {
        std::vector<float> tones = stereo_tones(4000, 8000);
        if (channels == 1) tones.resize(4000);
        write_floats(path, SF_FORMAT_OGG | SF_FORMAT_VORBIS, channels, 8000, tones);
    } else {
        int container = ext == ".flac" ? SF_FORMAT_FLAC : SF_FORMAT_WAV;
        write_ints(path, container | SF_FORMAT_PCM_16, channels, 8000, pattern_ints(400 * channels));
    }
    return path;
}

// Cut at its NUL, each path names a file that exists: a load would read it, a save would
// replace it or make it.
TEST(AudioWavePaths, APathHoldingANulIsRefusedAndTouchesNothing) {
    PoolScope pool(pool_bytes);
    std::vector<unsigned char> samples = bytes_of<int16_t>({1, -2, 3, -4});
    AudioWave wave = {signed_16, 2, 8000, static_cast<int64_t>(samples.size()), samples.data()};
    for (const char* extension : {".wav", ".flac", ".ogg"}) {
        SCOPED_TRACE(extension);
        std::string path = make_named("s", extension, 2);
        std::vector<unsigned char> before = read_bytes(path);
        EXPECT_EQ(audio_wave_load(signed_16, slice_of(with_nul(path, "-missing") + extension)).data, nullptr);
        EXPECT_EQ(audio_wave_load(float_32, slice_of(with_nul(path, ""))).data, nullptr);
        EXPECT_FALSE(audio_wave_save(wave, slice_of(with_nul(path, ".d/x.wav"))));
        EXPECT_EQ(read_bytes(path), before);
        EXPECT_NE(audio_wave_load(signed_16, slice_of(path)).data, nullptr);
    }
    std::string saved = temp_path("saved.wav");
    EXPECT_FALSE(audio_wave_save(wave, slice_of(with_nul(saved, ".d/x.wav"))));
    EXPECT_FALSE(file_exists(saved));
    EXPECT_TRUE(audio_wave_save(wave, slice_of(saved)));
}

// The byte E9 is Latin-1 for e-acute, and not UTF-8; U+FFFD is what a converter makes of
// it. Side by side, each name loads its own file in every container, and a save makes
// the name it was given.
TEST(AudioWavePaths, BytesThatAreNotUtf8NameTheirOwnFile) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows names are UTF-16: bytes that are not UTF-8 become U+FFFD (see IllFormedNamesReachOneFileByEitherConversion)";
#else
    PoolScope pool(pool_bytes);
    for (const char* extension : {".wav", ".flac", ".ogg"}) {
        SCOPED_TRACE(extension);
        std::string raw = make_named("caf\xE9", extension, 2);
        AudioWave got = audio_wave_load(signed_16, slice_of(raw));
        ASSERT_NE(got.data, nullptr) << "the Latin-1 name alone";
        EXPECT_EQ(got.channels, 2);
        std::string lookalike = make_named("caf\xEF\xBF\xBD", extension, 1);
        got = audio_wave_load(signed_16, slice_of(raw));
        EXPECT_EQ(got.channels, 2) << "the look-alike was loaded instead";
        got = audio_wave_load(signed_16, slice_of(lookalike));
        EXPECT_EQ(got.channels, 1);
    }
    std::vector<unsigned char> samples = bytes_of<int16_t>({5, 6});
    AudioWave wave = {signed_16, 1, 8000, static_cast<int64_t>(samples.size()), samples.data()};
    std::string saved = temp_path("saved\xFF.wav");
    EXPECT_TRUE(audio_wave_save(wave, slice_of(saved)));
    EXPECT_EQ(parse_wav(saved).samples, samples);
    EXPECT_FALSE(file_exists(temp_path("saved\xEF\xBF\xBD.wav")));
#endif
}

TEST(AudioWaveSave, WritesIntegerPcmAndLeavesTheSamplesAlone) {
    struct Case {
        const char* name;
        SampleFormat format;
        int channels;
        std::vector<unsigned char> samples;
        uint16_t bits;
        std::vector<unsigned char> file_samples;
    } cases[] = {
        {"float", float_32, 2, bytes_of<float>({1.0f, -1.0f, 0.5f, 0.0f}), 32,
         bytes_of<uint32_t>({0x7fffffff, 0x80000001, 0x3fffffff, 0})},
        {"unsigned_32", unsigned_32, 1, bytes_of<uint32_t>({0x80000000, 0xffffffff}), 32, bytes_of<uint32_t>({0, 0x7fffffff})},
        {"signed_8", signed_8, 1, bytes_of<int8_t>({-128, 0, 127}), 8, bytes_of<uint8_t>({0, 0x80, 0xff})},
        {"unsigned_8", unsigned_8, 1, bytes_of<uint8_t>({0, 0x80, 0xff}), 8, bytes_of<uint8_t>({0, 0x80, 0xff})},
        {"unsigned_16", unsigned_16, 2, bytes_of<uint16_t>({0, 0x8000}), 16, bytes_of<uint16_t>({0x8000, 0})},
        {"six channels", signed_16, 6, bytes_of<int16_t>({1, 2, 3, 4, 5, 6}), 16, bytes_of<int16_t>({1, 2, 3, 4, 5, 6})},
        {"not a format", SampleFormat(9), 1, bytes_of<uint16_t>({0x1234}), 16, bytes_of<uint16_t>({0x1234})},
    };
    for (auto& c : cases) {
        std::string path = temp_path("saved.ogg");  // the extension plays no part
        std::vector<unsigned char> before = c.samples;
        AudioWave wave = {c.format, c.channels, 8000, static_cast<int64_t>(c.samples.size()), c.samples.data()};
        EXPECT_TRUE(audio_wave_save(wave, slice_of(path))) << c.name;
        EXPECT_EQ(c.samples, before) << c.name;
        SavedFile saved = parse_wav(path);
        EXPECT_EQ(saved.tag, 1) << c.name;
        EXPECT_EQ(saved.channels, c.channels) << c.name;
        EXPECT_EQ(saved.bits, c.bits) << c.name;
        EXPECT_EQ(saved.samples, c.file_samples) << c.name;
    }
}

TEST(AudioWaveSave, LongWavesRoundTripThroughLoad) {
    PoolScope pool(pool_bytes);
    std::vector<float> tones = stereo_tones(100000, 44100);  // far beyond one scratch block
    std::vector<unsigned char> samples(tones.size() * 4);
    std::memcpy(samples.data(), tones.data(), samples.size());
    AudioWave wave = {float_32, 2, 44100, static_cast<int64_t>(samples.size()), samples.data()};
    std::string path = temp_path("long.wav");
    ASSERT_TRUE(audio_wave_save(wave, slice_of(path)));
    AudioWave loaded = audio_wave_load(signed_32, slice_of(path));
    audio_wave_convert(wave, signed_32);
    EXPECT_EQ(describe(loaded), describe(AudioWave{signed_32, 2, 44100, wave.size, loaded.data}));
    EXPECT_EQ(wave_bytes(loaded), wave_bytes(wave));
}

TEST(AudioWaveSave, RefusesWavesItCannotWrite) {
    unsigned char samples[8] = {};
    struct Case {
        const char* name;
        AudioWave wave;
        std::string path;
        bool created;
    } cases[] = {
        {"no channels", {signed_16, 0, 8000, 8, samples}, temp_path("a.wav"), false},
        {"negative channels", {signed_16, -2, 8000, 8, samples}, temp_path("b.wav"), false},
        {"null data", {signed_16, 1, 8000, 8, nullptr}, temp_path("c.wav"), false},
        {"negative size", {signed_16, 1, 8000, -8, samples}, temp_path("d.wav"), false},
        {"missing folder", {signed_16, 1, 8000, 8, samples}, temp_path("none/e.wav"), false},
        {"no sample rate", {signed_16, 1, 0, 8, samples}, temp_path("g.wav"), false},
        {"too many channels", {signed_16, 5000, 8000, 10000, samples}, temp_path("h.wav"), false},
        // The header's 32-bit byte rate: 3 x 1431655765 is 4294967295.
        {"byte rate one past 32 bits", {unsigned_8, 3, 1431655766, 6, samples}, temp_path("i.wav"), false},
        {"byte rate of 2^33", {float_32, 2, 1073741824, 8, samples}, temp_path("j.wav"), false},
        {"no frames", {signed_16, 1, 8000, 0, samples}, temp_path("f.wav"), true},
    };
    for (const auto& c : cases) {
        std::remove(c.path.c_str());
        EXPECT_FALSE(audio_wave_save(c.wave, slice_of(c.path))) << c.name;
        EXPECT_EQ(file_exists(c.path), c.created) << c.name;
    }
    // A refused save leaves a file already at the path as it was.
    std::string kept = temp_path("kept.wav");
    write_file(kept, "precious");
    EXPECT_FALSE(audio_wave_save(AudioWave{signed_16, 1, 0, 8, samples}, slice_of(kept)));
    EXPECT_EQ(read_file(kept), "precious");
    SavedFile header_only = parse_wav(temp_path("f.wav"));
    EXPECT_EQ(header_only.channels, 1);
    EXPECT_TRUE(header_only.samples.empty());
    // At the byte rate's limit the save goes ahead and the rate reads back.
    std::string fastest = temp_path("fastest.wav");
    ASSERT_TRUE(audio_wave_save(AudioWave{unsigned_8, 3, 1431655765, 6, samples}, slice_of(fastest)));
    PoolScope pool(1 << 16);
    AudioWave loaded = audio_wave_load(unsigned_8, slice_of(fastest));
    EXPECT_EQ(loaded.sample_rate, 1431655765);
    EXPECT_EQ(loaded.size, 6);
}

// A disk that fills part way leaves a file without the whole wave: that is no save, though
// some frames went out. The child's file size limit stands in for the full disk.
TEST(AudioWaveSave, AShortWriteIsNoSave) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file size limit to stand in for a full disk";
#else
    constexpr int saved = 1, refused = 2;
    constexpr rlim_t room = 4096;  // the header and a few hundred frames
    std::vector<unsigned char> samples(1 << 16, 0x55);
    AudioWave wave = {signed_16, 2, 8000, static_cast<int64_t>(samples.size()), samples.data()};
    std::string path = temp_path("short.wav");
    int outcome = within_seconds(10, [&] {
        signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails instead of ending us
        rlimit limit = {room, room};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 0;
        return audio_wave_save(wave, slice_of(path)) ? saved : refused;
    });
    EXPECT_EQ(outcome, refused);
    // The limit was the child's: here the same save goes through whole.
    EXPECT_TRUE(audio_wave_save(wave, slice_of(path)));
    EXPECT_EQ(parse_wav(path).samples, samples);
#endif
}

// Nothing reads a FIFO without a reader: the save is refused at once instead of waiting
// for one, and the next save to an ordinary file works as usual.
TEST(AudioWaveSave, AFifoWithoutAReaderIsRefusedAtOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFOs";
#else
    std::vector<unsigned char> samples = bytes_of<int16_t>({1, -2, 3, -4});
    AudioWave wave = {signed_16, 2, 8000, static_cast<int64_t>(samples.size()), samples.data()};
    for (const char* name : {"fifo.wav", "fifo.ogg"}) {
        std::string fifo = make_fifo(name);
        std::string next = temp_path("after.wav");
        int outcome = within_seconds(fifo_guard_seconds, [&] {
            if (audio_wave_save(wave, slice_of(fifo))) return int{fifo_taken};
            bool saved = audio_wave_save(wave, slice_of(next));
            return saved && parse_wav(next).samples == samples ? int{fifo_refused_then_normal} : 0;
        });
        EXPECT_EQ(outcome, fifo_refused_then_normal) << name;
        EXPECT_TRUE(std::filesystem::is_fifo(fifo)) << name;
    }
    // With a reader the FIFO opens, but a WAV header cannot be completed in a stream that
    // does not seek: still refused at once, and the reader sees the end.
    std::string fifo = make_fifo("read.wav");
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    int outcome = within_seconds(fifo_guard_seconds, [&] {
        return audio_wave_save(wave, slice_of(fifo)) ? int{fifo_taken} : int{fifo_refused_then_normal};
    });
    EXPECT_EQ(outcome, fifo_refused_then_normal);
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0);
    close(reader);
#endif
}

}  // namespace
