// The audio services' one door to libvorbisfile, the reference Ogg Vorbis decoder:
// reading a single (unchained) stream from a file, through the runtime's file service,
// or over caller memory (read in place, never copied), in floats or converted, and exact
// seeks. State: the library's decoder state of each open VorbisFile, on the standard
// heap, and its file handle, until vorbis_file_close.
#pragma once

#include <cstdint>

#include "runtime/media/audio_format.h"
#include "runtime/media/encoded_bytes.h"
#include "runtime/system/file.h"
#include "runtime/text/slice.h"

// The library's decoder record, named here without its header so that only this module sees it.
struct OggVorbis_File;

// One open stream. The library keeps a pointer to `memory` when reading from memory, so
// the record must stay where it is until vorbis_file_close.
struct VorbisFile {
    OggVorbis_File* handle;  // null when nothing is open
    EncodedBytes memory;     // the source when reading from memory
    File* file;              // the source when reading a file
    int64_t file_position;   // the file's read position, which the library asks for
    int64_t position;        // the next frame a read delivers
    int32_t channels;
    int32_t sample_rate;
    int64_t frames;          // total frames of the links that share the first one's channels
};

// Bytes the check for a single logical stream reads at a time. A page capture may
// straddle two reads.
inline constexpr int64_t vorbis_file_scan_bytes = 16 * 1024;

// Largest memory image: the runtime's Ogg services take a signed 32-bit image size, and a
// larger image is refused rather than silently truncated.
inline constexpr int64_t vorbis_file_max_image = INT32_MAX;

// Opens the file at `path`. False, with the record closed and nothing left on the heap,
// when the file cannot be opened, is not Ogg Vorbis, or holds pages of more than one
// logical stream (a chained or multiplexed stream). Never waits on a FIFO: without a
// writer it reads as empty, which is not Ogg Vorbis.
[[nodiscard]] bool vorbis_file_open(VorbisFile& file, Slice path);

// As vorbis_file_open over `size` bytes at `data`, which must stay valid until closing.
// Also false for null data, a negative size or one above vorbis_file_max_image.
[[nodiscard]] bool vorbis_file_open_memory(VorbisFile& file, int64_t size, const void* data);

// Reads up to `frames` frames into `buffer` as `delivery` (any format: the decoder's
// floats are converted by audio_format_convert). Returns the frames delivered and writes
// only those, never reading past `frames` of the stream: 0 at the end, on a decoding
// error, for a format above 6, or when a chained stream reaches a link with another
// channel count.
int64_t vorbis_file_read(VorbisFile& file, SampleFormat delivery, int64_t frames, void* buffer);

// Makes `frame` the next frame read, exactly. False past the end, for a negative frame,
// or when the library cannot find it.
[[nodiscard]] bool vorbis_file_seek(VorbisFile& file, int64_t frame);

// Releases the decoder (and closes its file). Does nothing to a closed record.
void vorbis_file_close(VorbisFile& file);
