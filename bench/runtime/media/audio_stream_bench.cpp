// Stream seeks: a seek into the last second of a 10-minute stereo Ogg Vorbis stream and a
// read of 1000 frames there, from the file and from memory, against the target of 5 ms;
// and the same for WAV and FLAC for comparison.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/runtime/media/audio_bench_fixture.h"
#include "runtime/media/audio_stream.h"

namespace {

constexpr int stream_seconds = 600;
constexpr int stream_rate = audio_bench::rate;
constexpr int64_t stream_frames = int64_t{stream_seconds} * stream_rate;
constexpr int64_t read_frames = 1000;

using audio_bench::container_names;

std::vector<unsigned char> bytes_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// Seek to a frame in the last second (a different one each time), then read 1000 frames
// as 16-bit samples. Between iterations, untimed, the stream goes back to its start, so
// every timed seek travels the whole stream. Opened and described once, untimed.
void BM_seek_last_second(benchmark::State& state) {
    int container = static_cast<int>(state.range(0));
    bool from_memory = state.range(1) != 0;
    std::string path = audio_bench::fixture(container, stream_seconds);
    std::vector<unsigned char> image = from_memory ? bytes_of(path) : std::vector<unsigned char>{};
    int32_t handle = from_memory ? audio_stream_open_from_memory(signed_16, static_cast<int64_t>(image.size()), image.data())
                                 : audio_stream_open(signed_16, slice_of(path), false);
    AudioInfo info = audio_stream_read_info(handle);
    if (info.channels != 2) state.SkipWithError("fixture did not open");
    std::vector<int16_t> buffer(read_frames * 2);
    int64_t last_second = stream_frames - stream_rate;
    int64_t step = 0;
    for (auto _ : state) {
        int64_t target = last_second + (step * 7919) % (stream_rate - read_frames);
        if (!audio_stream_seek(handle, target)) state.SkipWithError("seek failed");
        if (audio_stream_read(handle, read_frames, buffer.data()) != read_frames) state.SkipWithError("short read");
        benchmark::DoNotOptimize(buffer.data());
        ++step;
        state.PauseTiming();
        if (!audio_stream_seek(handle, 0) || audio_stream_read(handle, read_frames, buffer.data()) != read_frames)
            state.SkipWithError("rewind failed");
        state.ResumeTiming();
    }
    audio_stream_close(handle);
    state.SetLabel(std::string(container_names[container]) + (from_memory ? " memory" : " file"));
}
BENCHMARK(BM_seek_last_second)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
