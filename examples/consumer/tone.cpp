// tone PATH: writes a short 16-bit tone as a WAV file through the wordgen runtime, loads
// it back, and prints its frame count, so the runtime's audio library is linked and used.
#include <cstdint>
#include <vector>

#include "runtime/runtime.h"

namespace {

constexpr int32_t sample_rate = 8000;
constexpr int64_t frames = 800;  // a tenth of a second
constexpr double pitch = 440.0;
constexpr double amplitude = 16000.0;
constexpr double two_pi = 6.283185307179586;
constexpr int64_t pool_bytes = int64_t{1} << 20;  // the tone and the decoder's buffers
constexpr int64_t decimal = 10;
constexpr int64_t count_width = 20;  // any 64-bit count

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::vector<int16_t> samples(frames);
    for (int64_t i = 0; i < frames; ++i) {
        samples[i] = static_cast<int16_t>(amplitude * math_sin(two_pi * pitch * static_cast<double>(i) / sample_rate));
    }
    AudioWave wave = {};
    wave.format = signed_16;
    wave.channels = 1;
    wave.sample_rate = sample_rate;
    wave.size = frames * static_cast<int64_t>(sizeof(int16_t));
    wave.data = samples.data();
    Slice path = slice_from_cstr(argv[1]);
    if (!audio_wave_save(wave, path)) return 1;

    std::vector<unsigned char> pool(pool_bytes);
    audio_set_buffer(static_cast<int64_t>(pool.size()), pool.data());
    AudioWave loaded = audio_wave_load(signed_16, path);
    if (!loaded.data) return 1;
    print(slice_literal("frames: "));
    print_int(loaded.size / static_cast<int64_t>(sizeof(int16_t)), decimal, count_width, false);
    print(slice_literal("\n"));
    audio_set_buffer(0, nullptr);
    return print_flush() ? 0 : 1;
}
