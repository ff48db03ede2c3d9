// The runtime's audio types and whole waves: in-place conversion between the seven sample
// formats, loading a whole WAV, FLAC or Ogg Vorbis file or memory image into the audio
// pool, and saving a wave as an integer PCM WAV file. Keeps no state of its own.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

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

// Rewrites the wave's samples in place as `target` and updates `format` and `size`
// (size x target width / source width). Widening runs from the last sample to the first,
// so the buffer must hold the wider result. Integers change width by keeping the most
// significant bytes (narrowing) or filling zero bits below (widening); integers become
// v / M and floats become x * M truncated, with M = 127, 32767 or 2147483647 for the
// integer's width, and floats clamped to -1.0..1.0 first (NaN gives 0). Nothing happens
// when the formats are equal, either code is above 6, `data` is null or `size` is negative.
void audio_wave_convert(AudioWave& wave, SampleFormat target);

// Loads a whole file into the audio pool as `format`, the decoder chosen by the path's
// extension, case-sensitively: "wav" (RIFF WAVE or Wave64), "flac" or "ogg" (Vorbis).
// Failure: the all-zero wave for another extension, a format above 6, or Ogg Vorbis that
// cannot be opened, decoded or held by the pool; for WAV or FLAC that cannot be opened
// or held, a wave of the requested format with everything else zero and null data.
// When the pool ran short its message has been printed.
[[nodiscard]] AudioWave audio_wave_load(SampleFormat format, Slice path);

// As audio_wave_load for an encoded image in memory (not copied; only read during the
// call), the decoder chosen by the first four bytes: "RIFF", "fLaC" or "OggS". Fewer
// than 4 bytes, other leading bytes, or an Ogg image of 2 GiB or more give the all-zero wave.
[[nodiscard]] AudioWave audio_wave_load_from_memory(SampleFormat format, int64_t size,
                                                    const void* data);

// Writes the wave to `path` as WAV (Wave64 when `size` is above 4294967295) with integer
// PCM (format tag 1): 8-bit formats as unsigned 8-bit, 16-bit formats as 16-bit, 32-bit
// and float formats as 32-bit; a code above 6 is written as its raw bytes with 16 bits.
// The wave's samples are left untouched. True when at least one frame was written.
// False, writing nothing (an existing file stays as it was), for `channels` of 0 or less
// or more than 1024, a sample rate of 0 or less, null `data` or a negative size; false
// when the file cannot be created; a wave without frames writes a header-only file and
// gives false.
bool audio_wave_save(AudioWave wave, Slice path);
