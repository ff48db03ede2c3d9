// The audio services' one door to libsndfile: reading WAV (RIFF, RF64, Wave64) and FLAC
// from a path or over caller memory (read in place, never copied), and writing integer
// PCM WAV or Wave64 (a WAV file given more than RIFF sizes can state becomes Wave64 when
// it is closed). State: only the SoundFile records the callers keep. Paths open
// through the platform layer, so a FIFO never makes an open wait: one without a writer
// reads as empty (its open fails), one without a reader is refused for writing.
#pragma once

#include <cstdint>
#include <cstdio>

#include "runtime/media/audio_container.h"
#include "runtime/media/audio_format.h"
#include "runtime/media/encoded_bytes.h"

// libsndfile's own handle, named here without its header so that only this module sees it.
struct sf_private_tag;

// One open file. libsndfile keeps a pointer to `memory` when reading from memory, so the
// record must stay where it is until sound_file_close.
struct SoundFile {
    sf_private_tag* handle;  // null when nothing is open
    std::FILE* stream;       // the opened path, whose descriptor the library uses; else null
    EncodedBytes memory;
    int64_t position;      // the next frame a read delivers
    int32_t channels;
    int32_t sample_rate;
    int64_t frames;        // total frames; -1 when the file does not say (streamed FLAC)
    bool float_source;     // floating-point samples: integer reads go through floats
    SampleFormat written;  // when writing: the format of the bytes handed to the file
    bool writing;
    bool wave64;           // when writing: created as Wave64
    int64_t data_bytes;    // when writing: bytes of samples handed to the file so far
};

// Most bytes of samples a RIFF WAV file can state. Its RIFF size field (32 bits) counts
// the 36 header bytes after it, the samples, and the pad byte that follows an odd count:
// 0xFFFFFFFF - 36 is odd, so the largest count is one less.
inline constexpr int64_t sound_file_max_riff_data = ((int64_t{0xFFFFFFFF} - 36) / 2) * 2;

// True when `data_bytes` bytes of samples fit a RIFF WAV file; more (or a negative
// count) are written as Wave64.
[[nodiscard]] bool sound_file_fits_riff(int64_t data_bytes);

// True when a WAV header can state `sample_rate` frames a second of `channels` samples
// of `width` bytes: its byte-rate field is 32-bit, in Wave64 too.
[[nodiscard]] bool sound_file_fits_byte_rate(int32_t channels, int32_t sample_rate, int64_t width);

// Opens `path` (terminated) for reading. False, with the record closed, when the file
// cannot be opened or holds something other than `container` (WAV or FLAC).
[[nodiscard]] bool sound_file_open(SoundFile& file, const char* path, AudioContainer container);

// As sound_file_open over `size` bytes at `data`, which must stay valid until closing.
// Also false for null data or a negative size.
[[nodiscard]] bool sound_file_open_memory(SoundFile& file, int64_t size, const void* data,
                                          AudioContainer container);

// Creates `path` (terminated) as WAV, or Wave64 when `wave64`, with integer PCM of the
// width of `written` (unsigned_8, signed_16 or signed_32; any other code: 16 bits, bytes
// written as they are). A WAV file that is given more than sound_file_max_riff_data
// bytes becomes Wave64 when it is closed. False, leaving any existing file untouched,
// for a sample rate of 0 or less, a channel count the format cannot hold (0 or less,
// above 1024) or a byte rate the header cannot state; false when the file cannot be created.
[[nodiscard]] bool sound_file_create(SoundFile& file, const char* path, SampleFormat written,
                                     int32_t channels, int32_t sample_rate, bool wave64);

// Reads up to `frames` frames into `buffer` as `delivery` (signed_16, signed_32 or
// float_32). Returns the frames delivered: 0 at the end, on error, for another delivery
// format, or when `frames` x channels x 4 does not fit 64 bits. Only the delivered frames
// are written: never the rest of the span, nor the samples of an incomplete last frame.
int64_t sound_file_read(SoundFile& file, SampleFormat delivery, int64_t frames, void* buffer);

// Writes `frames` frames of `samples` in `format` (never changed), converting them to the
// file's format when the formats differ. Returns the frames written.
int64_t sound_file_write(SoundFile& file, SampleFormat format, int64_t frames, const void* samples);

// Moves the read position to `frame`. False past the end or for a negative frame; the
// position is then where it was and reads go on from there (a FLAC that does not state
// its length finds its end only by trying to pass it, and its decoder starts over).
[[nodiscard]] bool sound_file_seek(SoundFile& file, int64_t frame);

// Closes the file (completing a written file's header) and releases the library's
// state. A WAV file given more samples than its RIFF sizes can state is rewritten as
// Wave64 first. Does nothing to a closed record. False when a written file may not hold
// what it was given: the library or the stream failed to close, or the file could not
// become Wave64 (it then states wrapped sizes); the record is closed either way.
bool sound_file_close(SoundFile& file);

// True when closing `file` rewrites it as Wave64: it is being written as WAV and has been
// given more bytes of samples than RIFF sizes can state.
[[nodiscard]] bool sound_file_becomes_wave64(const SoundFile& file);

// Turns the WAV file open on `stream` (for reading and writing), as this module writes
// it (a 44-byte header, then `data_bytes` bytes of samples), into Wave64 in place: the
// samples move up to make room for the larger header, which states the same format. The
// header's own sizes are not read, since they may have wrapped. False when the stream
// holds no such header or cannot be read or written; the file is then left partly moved.
[[nodiscard]] bool sound_file_riff_to_wave64(std::FILE* stream, int64_t data_bytes);
