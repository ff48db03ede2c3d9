// Helpers shared by the audio tests: fixture paths, files made with libsndfile, a pool
// for the duration of one test, and byte-level access to waves.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/media/audio_wave.h"
#include "runtime/media/pool.h"

#include "test_support.h"

#include <numbers>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace audio_test {

inline std::string data_path(const std::string& name) { return std::string(TEST_DATA_DIR) + "/" + name; }

// The prefix of every scratch file of one test, unique so test processes run side by side.
inline std::string temp_prefix(const testing::TestInfo& test) {
    std::string unique = std::string(test.test_suite_name()) + "_" + test.name();
    for (char& c : unique)
        if (c == '/') c = '_';
    return "wordgen_audio_" + unique + "_";
}

inline std::string temp_path(const std::string& name) {
    return testing::TempDir() + temp_prefix(*testing::UnitTest::GetInstance()->current_test_info()) + name;
}

// Removes a test's scratch files once it has ended.
struct ScratchCleaner : testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo& test) override {
        std::string prefix = temp_prefix(test);
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(testing::TempDir(), ignored)) {
            if (entry.path().filename().string().rfind(prefix, 0) == 0) std::filesystem::remove(entry.path(), ignored);
        }
    }
};

inline const bool scratch_cleaner_registered =
    (testing::UnitTest::GetInstance()->listeners().Append(new ScratchCleaner), true);

// The makers write their file under one fixed name: a case that needs it under another
// takes it away, which leaves the fixed name free for the next file made.
inline std::string moved_to(const std::string& made, const std::string& name) {
    std::string path = temp_path(name);
    std::rename(made.c_str(), path.c_str());
    return path;
}

inline bool file_exists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file) std::fclose(file);
    return file != nullptr;
}

// Long enough for any open that does not wait; a call still running then is waiting for
// a FIFO's other end, and within_seconds ends it.
inline constexpr unsigned fifo_guard_seconds = 5;

// What a child reports after handing a FIFO to a call: the call refused it and the next,
// ordinary call worked as usual; or the call took the FIFO. Any other result (0, or -1
// when the alarm ended the child) is a fault.
enum FifoOutcome { fifo_refused_then_normal = 1, fifo_taken };

#ifndef _WIN32
// A FIFO at the test's scratch path `name`, which nobody has open.
inline std::string make_fifo(const std::string& name) {
    std::string path = temp_path(name);
    std::remove(path.c_str());
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
    return path;
}
#endif

// Writes interleaved samples through libsndfile's int or float interface.
template <typename Sample>
void write_samples(const std::string& path, int format, int channels, int rate, const std::vector<Sample>& samples,
                   sf_count_t (*write)(SNDFILE*, const Sample*, sf_count_t)) {
    SF_INFO info = {};
    info.channels = channels;
    info.samplerate = rate;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    write(file, samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
    sf_close(file);
}

inline void write_ints(const std::string& path, int format, int channels, int rate,
                       const std::vector<int32_t>& samples) {
    write_samples<int32_t>(path, format, channels, rate, samples, sf_writef_int);
}

inline void write_floats(const std::string& path, int format, int channels, int rate,
                         const std::vector<float>& samples) {
    write_samples<float>(path, format, channels, rate, samples, sf_writef_float);
}

// A 16-bit pattern that visits both extremes: sample i of a run.
inline int16_t pattern16(int64_t i) { return static_cast<int16_t>(static_cast<uint16_t>(i * 7919 + 32768)); }

inline std::vector<int32_t> pattern_ints(int64_t samples) {
    std::vector<int32_t> out(static_cast<size_t>(samples));
    for (int64_t i = 0; i < samples; ++i) out[static_cast<size_t>(i)] = pattern16(i) * 65536;
    return out;
}

// Two tones, one per channel, at half scale: something Vorbis keeps recognisable.
inline std::vector<float> stereo_tones(int64_t frames, int rate) {
    std::vector<float> out(static_cast<size_t>(frames * 2));
    for (int64_t i = 0; i < frames; ++i) {
        out[static_cast<size_t>(2 * i)] = 0.5f * static_cast<float>(std::sin(i * 2 * std::numbers::pi * 440 / rate));
        out[static_cast<size_t>(2 * i + 1)] = 0.5f * static_cast<float>(std::sin(i * 2 * std::numbers::pi * 660 / rate));
    }
    return out;
}

// The Ogg Vorbis stream whose header reader leaked in libsndfile 1.2.0 (5,784 bytes on
// every open): an identification header that stops short.
inline std::vector<unsigned char> malformed_vorbis() {
    const char* hex =
        "4f676753000200000000000000005ff36e3c00000000250f0431011e01766f72626973000000000122"
        "560000000000001e9d000000000000a901";
    std::vector<unsigned char> bytes;
    for (const char* p = hex; p[0] && p[1]; p += 2) bytes.push_back(static_cast<unsigned char>(std::stoi(std::string(p, 2), nullptr, 16)));
    return bytes;
}

// `bytes` without its last `cut` bytes.
inline std::vector<unsigned char> truncated(std::vector<unsigned char> bytes, size_t cut) {
    bytes.resize(bytes.size() - std::min(cut, bytes.size()));
    return bytes;
}

inline std::vector<unsigned char> wave_bytes(const AudioWave& wave) {
    if (!wave.data || wave.size <= 0) return {};
    auto* p = static_cast<const unsigned char*>(wave.data);
    return std::vector<unsigned char>(p, p + wave.size);
}

template <typename T>
T sample_at(const void* data, int64_t index) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(data) + index * sizeof(T), sizeof(T));
    return value;
}

// The audio pool for one test, emptied again at its end.
struct PoolScope {
    std::vector<unsigned char> block;
    explicit PoolScope(size_t size) : block(size) { audio_set_buffer(static_cast<int64_t>(size), block.data()); }
    ~PoolScope() { audio_set_buffer(0, nullptr); }
};

inline std::string describe(const AudioWave& wave) {
    return "{format " + std::to_string(wave.format) + ", channels " + std::to_string(wave.channels) +
           ", rate " + std::to_string(wave.sample_rate) + ", size " + std::to_string(wave.size) +
           (wave.data ? ", data}" : ", null}");
}

}  // namespace audio_test
