// The audio services' one door to libsndfile: opening a container from a path or over
// caller memory (read in place, never copied), reading frames in a delivery format, and
// writing integer PCM WAV or Wave64. State: only the SoundFile records the callers keep.
#pragma once

#include <sndfile.h>

#include <cstdint>

#include "runtime/media/audio_wave.h"

// Which decoder a path or memory image was meant for.
enum AudioContainer : uint8_t {
    audio_container_wav = 0,  // RIFF WAVE (also Wave64 and RF64 files)
    audio_container_flac = 1,
    audio_container_ogg = 2,  // Ogg Vorbis
};

// The cursor of libsndfile's virtual I/O over a caller's encoded bytes.
struct SoundMemory {
    const unsigned char* data;
    int64_t size;
    int64_t position;
};

// One open file. libsndfile keeps a pointer to `memory` when reading from memory, so the
// record must stay where it is until sound_file_close.
struct SoundFile {
    SNDFILE* handle;         // null when nothing is open
    SoundMemory memory;
    AudioContainer container;
    int64_t position;        // the next frame a read delivers
    int32_t channels;
    int32_t sample_rate;
    int64_t frames;          // total frames; -1 when the file does not say (streamed FLAC)
    bool float_source;       // floating-point samples: integer reads go through floats
    SampleFormat written;    // when writing: the format of the bytes handed to the file
};

// Largest Ogg memory image: the runtime's Ogg services take a signed 32-bit image size,
// and a larger image is refused rather than silently truncated.
inline constexpr int64_t sound_file_max_ogg_image = INT32_MAX;

// Most bytes of samples a RIFF WAV file can state (its sizes are 32-bit); more are
// written as Wave64.
inline constexpr int64_t sound_file_max_riff_data = 0xFFFFFFFF;

// Opens `path` (terminated) for reading. False, with the record closed, when the file
// cannot be opened or holds something other than `container`.
[[nodiscard]] bool sound_file_open(SoundFile& file, const char* path, AudioContainer container);

// As sound_file_open over `size` bytes at `data`, which must stay valid until closing.
// Also false for null data, a negative size, or an Ogg image above sound_file_max_ogg_image.
[[nodiscard]] bool sound_file_open_memory(SoundFile& file, const void* data, int64_t size,
                                          AudioContainer container);

// Creates `path` (terminated) as WAV, or Wave64 when `wave64`, with integer PCM of the
// width of `written` (unsigned_8, signed_16 or signed_32; any other code: 16 bits, bytes
// written as they are). False, leaving any existing file untouched, for a sample rate of
// 0 or less or a channel count the format cannot hold; false when the file cannot be created.
[[nodiscard]] bool sound_file_create(SoundFile& file, const char* path, SampleFormat written,
                                     int32_t channels, int32_t sample_rate, bool wave64);

// Reads up to `frames` frames into `buffer` as `delivery` (signed_16, signed_32 or
// float_32). Floating-point sources are read as floats and converted with
// audio_wave_convert. Returns the frames delivered: 0 at the end, on error, for another
// delivery format, or when `frames` x channels x width does not fit 64 bits.
int64_t sound_file_read(SoundFile& file, SampleFormat delivery, int64_t frames, void* buffer);

// Writes `frames` frames of `samples` in `format` (never changed), converting them to the
// file's format through a bounded scratch buffer when the formats differ. Returns the
// frames written.
int64_t sound_file_write(SoundFile& file, SampleFormat format, int64_t frames, const void* samples);

// Moves the read position to `frame`. False past the end or for a negative frame. Ogg
// Vorbis is rewound and decoded forward, since the library's own Vorbis seek can land
// on the wrong samples: a backward seek there costs decoding up to `frame`.
[[nodiscard]] bool sound_file_seek(SoundFile& file, int64_t frame);

// Closes the file (completing a written file's header) and releases the library's
// state. Does nothing to a closed record.
void sound_file_close(SoundFile& file);

// The format integer PCM files are written in for `format`: unsigned_8 for the 8-bit
// codes, signed_16 for the 16-bit codes, signed_32 for the 32-bit and float codes; a code
// above 6 is kept.
[[nodiscard]] SampleFormat sound_file_written_format(SampleFormat format);

// True when the first four bytes of `data` (of `size`) are `magic`.
[[nodiscard]] bool sound_file_has_magic(const void* data, int64_t size, const char (&magic)[5]);

// As slice_has_extension.
[[nodiscard]] bool sound_file_has_extension(Slice path, Slice extension);

// The container named by the text after the last '.' of `path`, case-sensitively: "wav",
// "flac" or "ogg". False, `container` untouched, for any other extension.
[[nodiscard]] bool sound_file_container_of_path(Slice path, AudioContainer& container);

// The container named by the first four bytes of `data` (of `size`): "RIFF", "fLaC" or
// "OggS" (whether an Ogg image holds Vorbis is only known when it is opened). False,
// `container` untouched, for other bytes, fewer than four, or null data.
[[nodiscard]] bool sound_file_container_of_memory(const void* data, int64_t size,
                                                  AudioContainer& container);

// The format sound_file_read is asked for when a caller wants `format` from `container`,
// converted afterwards: float_32 for float_32 and for 32-bit integers from Ogg Vorbis,
// signed_32 for other 32-bit integers, signed_16 otherwise.
[[nodiscard]] SampleFormat sound_file_delivery_format(SampleFormat format,
                                                    AudioContainer container);

// frames x channels x width into `bytes`; false (bytes untouched) when any factor is
// negative or the product does not fit 64 bits.
[[nodiscard]] bool sound_file_byte_count(int64_t frames, int64_t channels, int64_t width, int64_t& bytes);
