// Any bytes as an encoded audio image loaded whole: the first byte picks the sample format
// (codes above 6 too), the rest is the image. A load either fails with the documented
// wave or gives samples that lie inside the audio pool and fill whole frames.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "runtime/media/audio_wave.h"
#include "runtime/media/pool.h"

namespace {

// Enough for the fixtures' few thousand frames in the widest format; larger claims meet
// the pool's refusal, which is a path worth running too.
constexpr int64_t pool_bytes = 16 << 20;
// Codes 0 to 6 and one code that is not a format.
constexpr uint8_t formats_tried = 8;

void check(const AudioWave& wave, SampleFormat format, const std::vector<unsigned char>& pool) {
    if (!wave.data) {
        if (wave.channels != 0 || wave.sample_rate != 0 || wave.size != 0) std::abort();
        if (wave.format != 0 && wave.format != format) std::abort();
        return;
    }
    if (wave.format != format || wave.channels <= 0 || wave.size < 0) std::abort();
    if (wave.size % (wave.channels * audio_format_width(format)) != 0) std::abort();
    auto* first = static_cast<const unsigned char*>(wave.data);
    if (first < pool.data() || wave.size > pool.data() + pool.size() - first) std::abort();
    // Every delivered byte is read, so a sample the decoder never wrote still counts once.
    unsigned sum = 0;
    for (int64_t i = 0; i < wave.size; ++i) sum += first[i];
    volatile unsigned sink = sum;
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<unsigned char> pool(pool_bytes);
    if (size < 1) return 0;
    auto format = static_cast<SampleFormat>(data[0] % formats_tried);
    audio_set_buffer(pool_bytes, pool.data());
    AudioWave wave = audio_wave_load_from_memory(format, static_cast<int64_t>(size - 1), data + 1);
    check(wave, format, pool);
    return 0;
}
