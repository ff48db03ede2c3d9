// The long check of WAV files past what RIFF sizes can state: real round trips of more
// than 4 GiB of samples, each written, read back frame by frame and deleted.
//   - a save at the RIFF limit (4294967258 bytes of 8-bit mono samples) stays RIFF,
//   - a save one byte past it is written as Wave64,
//   - a stream described with size 0 and then given 4 GiB + 128 KiB of 16-bit stereo
//     frames becomes Wave64 when it closes.
// Each runs once (about 13 GB written in all: see that /tmp has room); the counters give
// the write and read rates. A wrong container or any frame read back wrong is an error.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "runtime/media/audio_stream.h"
#include "runtime/media/audio_wave.h"
#include "runtime/media/sound_file.h"

namespace {

constexpr int rate = 44100;
constexpr int64_t stream_bytes = (int64_t{4} << 30) + (128 << 10);
constexpr int64_t block_frames = 16384;
// Bytes at each end of a saved wave given a pattern; the rest stays zero, so the wave
// needs no memory of its own beyond those pages.
constexpr int64_t patterned_bytes = 1 << 20;

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sample `i` of the stream's pattern: changes with the position, so that samples moved
// by any number of bytes read back wrong.
int16_t pattern(int64_t i) { return static_cast<int16_t>(static_cast<uint64_t>(i) * 7919 + (i >> 15)); }

std::string magic_of(const std::string& path) {
    char magic[5] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file) {
        if (std::fread(magic, 1, 4, file) != 4) magic[0] = 0;
        std::fclose(file);
    }
    return magic;
}

// Reads the stream at `path` in blocks, handing each to `check(first_sample, samples,
// data)`; returns the frames read, or -1 when `check` refused a block.
template <typename Sample, typename Check>
int64_t read_back(const std::string& path, SampleFormat format, int32_t channels, Check check) {
    int32_t handle = audio_stream_open(format, slice_of(path), false);
    AudioInfo info = audio_stream_read_info(handle);
    int64_t frames = 0;
    if (info.channels == channels) {
        std::vector<Sample> block(static_cast<size_t>(block_frames * channels));
        for (int64_t got; (got = audio_stream_read(handle, block_frames, block.data())) > 0; frames += got)
            if (!check(frames * channels, got * channels, block.data())) {
                frames = -1;
                break;
            }
    }
    audio_stream_close(handle);
    return frames;
}

void report(benchmark::State& state, int64_t bytes, double write_seconds, double read_seconds) {
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["write_MBps"] = static_cast<double>(bytes) / 1e6 / write_seconds;
    state.counters["read_MBps"] = static_cast<double>(bytes) / 1e6 / read_seconds;
}

// Saves `bytes` bytes of 8-bit mono samples, expecting the container `magic`.
void save_round_trip(benchmark::State& state, int64_t bytes, const char* magic) {
    std::string path = scratch_file("saved.wav");
    auto* samples = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(bytes), 1));
    if (!samples) return state.SkipWithError("no memory for the wave");
    auto value = [bytes](int64_t i) {
        bool patterned = i < patterned_bytes || i >= bytes - patterned_bytes;
        return patterned ? static_cast<unsigned char>(pattern(i)) : static_cast<unsigned char>(0);
    };
    for (int64_t i = 0; i < patterned_bytes; ++i) {
        samples[i] = value(i);
        samples[bytes - 1 - i] = value(bytes - 1 - i);
    }
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        AudioWave wave = {unsigned_8, 1, rate, bytes, samples};
        if (!audio_wave_save(wave, slice_of(path))) state.SkipWithError("save failed");
        double write_seconds = seconds_since(start);
        if (magic_of(path) != magic) state.SkipWithError(("not " + std::string(magic) + ": " + magic_of(path)).c_str());
        start = std::chrono::steady_clock::now();
        int64_t frames = read_back<int16_t>(path, signed_16, 1, [&](int64_t first, int64_t n, const int16_t* block) {
            for (int64_t i = 0; i < n; ++i)
                if (static_cast<unsigned char>((block[i] >> 8) ^ 0x80) != value(first + i)) return false;
            return true;
        });
        if (frames != bytes) state.SkipWithError(("read back " + std::to_string(frames) + " frames").c_str());
        report(state, bytes, write_seconds, seconds_since(start));
        std::remove(path.c_str());
    }
    std::free(samples);
}

void BM_save_at_riff_limit(benchmark::State& state) { save_round_trip(state, sound_file_max_riff_data, "RIFF"); }
BENCHMARK(BM_save_at_riff_limit)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_save_past_riff_limit(benchmark::State& state) { save_round_trip(state, sound_file_max_riff_data + 1, "riff"); }
BENCHMARK(BM_save_past_riff_limit)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A stream described with size 0, given 4 GiB + 128 KiB of stereo 16-bit frames.
void BM_stream_past_riff_limit(benchmark::State& state) {
    std::string path = scratch_file("streamed.wav");
    constexpr int64_t frames = stream_bytes / 4;
    std::vector<int16_t> block(static_cast<size_t>(block_frames * 2));
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        int32_t handle = audio_stream_open(signed_16, slice_of(path), true);
        audio_stream_write_info(handle, AudioInfo{signed_16, 2, rate, 0});
        for (int64_t done = 0; done < frames; done += block_frames) {
            int64_t n = std::min(block_frames, frames - done);
            for (int64_t i = 0; i < n * 2; ++i) block[static_cast<size_t>(i)] = pattern(done * 2 + i);
            if (audio_stream_write(handle, n, block.data()) != static_cast<uint64_t>(n)) {
                state.SkipWithError("short write");
                break;
            }
        }
        audio_stream_close(handle);
        double write_seconds = seconds_since(start);
        if (magic_of(path) != "riff") state.SkipWithError(("not Wave64: " + magic_of(path)).c_str());
        start = std::chrono::steady_clock::now();
        int64_t read = read_back<int16_t>(path, signed_16, 2, [](int64_t first, int64_t n, const int16_t* samples) {
            for (int64_t i = 0; i < n; ++i)
                if (samples[i] != pattern(first + i)) return false;
            return true;
        });
        if (read != frames) state.SkipWithError(("read back " + std::to_string(read) + " frames").c_str());
        report(state, stream_bytes, write_seconds, seconds_since(start));
        std::remove(path.c_str());
    }
}
BENCHMARK(BM_stream_past_riff_limit)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
