// Whole waves: loading a whole WAV, FLAC or Ogg Vorbis file or memory image into the
// audio pool in any sample format, converting a wave in place, and saving a wave as an
// integer PCM WAV file. Keeps no state of its own (loaded samples live in the audio pool).
#pragma once

#include <cstdint>

#include "runtime/media/audio_format.h"
#include "runtime/text/slice.h"

// Rewrites the wave's samples in place as `target` (see audio_format_convert) and updates
// `format` and `size` (size x target width / source width). Widening runs from the last
// sample to the first, so the buffer must hold the wider result. Nothing happens when the
// formats are equal, either code is above 6, `data` is null, or `size` is negative or
// above INT64_MAX / 4.
void audio_wave_convert(AudioWave& wave, SampleFormat target);

// Loads a whole file into the audio pool as `format`, the decoder chosen by the path's
// extension (audio_container_for_load): "wav" (RIFF WAVE or Wave64), "flac" or "ogg"
// (Vorbis). Failure: the all-zero wave for another extension, a format above 6, or Ogg
// Vorbis that cannot be opened, decoded or held by the pool; for WAV or FLAC that cannot
// be opened or held, a wave of the requested format with everything else zero and null
// data. When the pool ran short its message has been printed. A FIFO never makes the
// load wait: without a writer it reads as empty, which no decoder takes.
[[nodiscard]] AudioWave audio_wave_load(SampleFormat format, Slice path);

// As audio_wave_load for an encoded image in memory (not copied; only read during the
// call), the decoder chosen by the first four bytes (audio_container_for_load_memory):
// "RIFF", "fLaC" or "OggS". Fewer than 4 bytes, other leading bytes, or an Ogg image of
// 2 GiB or more give the all-zero wave.
[[nodiscard]] AudioWave audio_wave_load_from_memory(SampleFormat format, int64_t size,
                                                    const void* data);

// Writes the wave to `path` as WAV with integer PCM (format tag 1): 8-bit formats as
// unsigned 8-bit, 16-bit formats as 16-bit, 32-bit and float formats as 32-bit; a code
// above 6 is written as its raw bytes with 16 bits. Samples of more bytes than a RIFF
// file can state (sound_file_max_riff_data, 4294967258) are written as Wave64.
// The wave's samples are left untouched. True when every frame was written and the file
// closed complete; false after a short write (a full disk) or a failed close, the partial
// file left in place.
// False, writing nothing (an existing file stays as it was), for `channels` of 0 or less
// or more than 1024, a sample rate of 0 or less or one whose bytes per second pass
// 4294967295, null `data` or a negative size; false
// when the file cannot be created (a FIFO is refused at once, never waited on); a wave
// without frames writes a header-only file and gives false.
bool audio_wave_save(AudioWave wave, Slice path);
