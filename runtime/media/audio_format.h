// The runtime's audio types and its seven sample formats: their widths, the bytes a run
// of frames takes, the integer format a file holds for each, and the in-place conversion
// between any two formats that every audio service uses. Keeps no state.
#pragma once

#include <cstdint>

// Sample format codes. Codes 0-2 are offset binary (silence has only the top bit set),
// 3-5 two's complement; same-width formats of the two classes differ only in that bit.
// Multi-byte samples are little-endian. Codes above 6 are not formats.
enum SampleFormat : uint8_t {
    unsigned_8 = 0,
    unsigned_16 = 1,
    unsigned_32 = 2,
    signed_8 = 3,
    signed_16 = 4,
    signed_32 = 5,
    float_32 = 6,  // IEEE single precision, nominal range -1.0 to 1.0
};

inline constexpr int sample_format_count = 7;

// A description of a piece of audio.
struct AudioInfo {
    SampleFormat format;
    int32_t channels;     // samples per frame
    int32_t sample_rate;  // frames per second
    int64_t size;         // bytes of all samples: frames x channels x width
};

// AudioInfo's fields in the same order, then the interleaved samples. The buffer may be
// larger than `size` (a narrowing conversion keeps its old extent).
struct AudioWave {
    SampleFormat format;
    int32_t channels;
    int32_t sample_rate;
    int64_t size;
    void* data;  // first sample; null for a failed load
};

// Bytes per sample: 1, 2 or 4; 2 for a code above 6.
[[nodiscard]] int64_t audio_format_width(SampleFormat format);

// frames x channels x width into `bytes`; false (bytes untouched) when any factor is
// negative or the product does not fit 64 bits.
[[nodiscard]] bool audio_format_byte_count(int64_t frames, int64_t channels, int64_t width,
                                           int64_t& bytes);

// The integer PCM format a file is written in for `format`, of the same width:
// unsigned_8 for the 8-bit codes, signed_16 for the 16-bit codes, signed_32 for the
// 32-bit and float codes; a code above 6 is kept.
[[nodiscard]] SampleFormat audio_format_written(SampleFormat format);

// Rewrites `samples` samples at `data` in place from `from` to `to`. Widening runs from
// the last sample to the first, so the buffer must hold the wider result. Integers change
// width by keeping the most significant bytes (narrowing) or filling zero bits below
// (widening); integers become v / M and floats become x * M truncated, with M = 127,
// 32767 or 2147483647 for the integer's width, and floats clamped to -1.0..1.0 first (NaN
// gives 0). Nothing happens when the formats are equal, either code is above 6, `data`
// is null, or `samples` is not positive or so large that the wider side's bytes would
// not fit 64 bits.
void audio_format_convert(SampleFormat from, SampleFormat to, int64_t samples, void* data);
