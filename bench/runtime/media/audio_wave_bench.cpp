// Sample conversion against memcpy of the same bytes, and whole-file loads against
// reading the same file with libsndfile directly and against sox decoding it.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/runtime/media/audio_bench_fixture.h"
#include "runtime/media/audio_wave.h"
#include "runtime/media/pool.h"

namespace {

// The larger side of every conversion spans this many bytes.
constexpr int64_t convert_bytes = 64 << 20;

std::vector<unsigned char>& pristine() {
    static std::vector<unsigned char> bytes(convert_bytes);
    return bytes;
}

std::vector<unsigned char>& working() {
    static std::vector<unsigned char> bytes(convert_bytes);
    return bytes;
}

// Integers get random bits; floats random values a little beyond full scale.
void fill_source(SampleFormat format, int64_t samples) {
    std::mt19937 random(42);
    std::uniform_real_distribution<float> level(-1.2f, 1.2f);
    unsigned char* out = pristine().data();
    for (int64_t i = 0; i < samples; ++i) {
        uint32_t bits = random();
        if (format == float_32) {
            float x = level(random);
            std::memcpy(&bits, &x, 4);
        }
        std::memcpy(out + i * audio_format_width(format), &bits, static_cast<size_t>(audio_format_width(format)));
    }
}

void BM_convert(benchmark::State& state) {
    auto from = static_cast<SampleFormat>(state.range(0));
    auto to = static_cast<SampleFormat>(state.range(1));
    int64_t ws = audio_format_width(from);
    int64_t wt = audio_format_width(to);
    int64_t samples = convert_bytes / std::max(ws, wt);
    fill_source(from, samples);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(working().data(), pristine().data(), static_cast<size_t>(samples * ws));
        AudioWave wave = {from, 2, 44100, samples * ws, working().data()};
        state.ResumeTiming();
        audio_wave_convert(wave, to);
        benchmark::DoNotOptimize(wave);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * samples * wt);
}

void convert_pairs(benchmark::internal::Benchmark* bench) {
    for (int from = 0; from < sample_format_count; ++from)
        for (int to = 0; to < sample_format_count; ++to)
            if (from != to) bench->Args({from, to});
}
BENCHMARK(BM_convert)->Apply(convert_pairs)->Unit(benchmark::kMillisecond);

void BM_memcpy(benchmark::State& state) {
    auto bytes = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        std::memcpy(working().data(), pristine().data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_memcpy)->Arg(16 << 20)->Arg(32 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

// ---- whole-file loads of 60 s of stereo at 44.1 kHz

constexpr int load_rate = 44100;
constexpr int64_t load_frames = 60 * load_rate;
constexpr int64_t load_pool_bytes = 64 << 20;

using audio_bench::container_names;

std::string fixture(int container) { return audio_bench::fixture(container, load_frames / load_rate); }

std::vector<unsigned char>& load_pool() {
    static std::vector<unsigned char> block(load_pool_bytes);
    return block;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Our whole-file load and libsndfile reading the same file into a buffer of its own, one
// after the other in every iteration, so both meet the same machine load. The reported
// time is ours; `libsndfile_ms` is the direct read and `ratio` ours over it.
void BM_load(benchmark::State& state) {
    std::string path = fixture(static_cast<int>(state.range(0)));
    auto format = static_cast<SampleFormat>(state.range(1));
    std::vector<float> buffer(static_cast<size_t>(load_frames * 2));
    double ours = 0;
    double direct = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        audio_set_buffer(load_pool_bytes, load_pool().data());
        AudioWave wave = audio_wave_load(format, slice_of(path));
        double elapsed = seconds_since(start);
        if (wave.size != load_frames * 2 * audio_format_width(format)) state.SkipWithError("short load");
        state.SetIterationTime(elapsed);
        ours += elapsed;

        start = std::chrono::steady_clock::now();
        SF_INFO info = {};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        sf_count_t got = format == float_32
                             ? sf_readf_float(file, buffer.data(), info.frames)
                             : sf_readf_short(file, reinterpret_cast<short*>(buffer.data()), info.frames);
        sf_close(file);
        direct += seconds_since(start);
        if (got != load_frames) state.SkipWithError("short read");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["libsndfile_ms"] = benchmark::Counter(direct * 1e3 / static_cast<double>(state.iterations()));
    state.counters["ratio"] = benchmark::Counter(ours / direct);
    state.SetLabel(std::string(container_names[state.range(0)]) + (format == float_32 ? " float" : " 16-bit"));
}

void load_cases(benchmark::internal::Benchmark* bench) {
    for (int container = 0; container < 3; ++container)
        for (int format : {signed_16, float_32}) bench->Args({container, format});
}
BENCHMARK(BM_load)->Apply(load_cases)->Unit(benchmark::kMillisecond)->UseManualTime();

// sox decoding the same file to raw samples, process start-up included.
void BM_sox(benchmark::State& state) {
    std::string path = fixture(static_cast<int>(state.range(0)));
    std::string command = "sox '" + path + "' -t raw /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("sox failed (is the sox package installed?)");
    state.SetLabel(container_names[state.range(0)]);
}
BENCHMARK(BM_sox)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
