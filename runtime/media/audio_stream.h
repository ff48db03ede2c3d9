// Audio streams: WAV, FLAC and Ogg Vorbis read a block of frames at a time from a file or
// from memory, and WAV (or Wave64) written a block at a time. State: the process-wide
// table of 64 stream slots; a handle is a slot index.
#pragma once

#include <cstdint>

#include "runtime/media/audio_format.h"
#include "runtime/text/slice.h"

inline constexpr int32_t audio_stream_slots = 64;
// The handle open gives when it refuses.
inline constexpr int32_t audio_stream_none = -1;

// Records `path` (not copied: keep its bytes unchanged until the describing call) for
// reading or, with `for_writing`, for writing as WAV. Reading picks the decoder by the
// extension, case-sensitively (audio_container_for_stream): "ogg" Ogg Vorbis, "flac"
// FLAC, anything else WAV.
// Returns the handle, or -1 for the 8-bit formats or when all 64 slots are open. A FIFO
// at the path never makes a later call wait: without a writer it reads as empty (nothing
// to describe), and without a reader it cannot be created (writes give 0).
// Formats above 6 are accepted here; reads then refuse them.
[[nodiscard]] int32_t audio_stream_open(SampleFormat format, Slice path, bool for_writing);

// As audio_stream_open for reading `size` bytes of encoded data (not copied: keep it
// valid until closing), the decoder chosen by the leading bytes
// (audio_container_for_stream_memory): "OggS" Ogg Vorbis, "fLaC" FLAC, anything else
// (also fewer than 4 bytes) WAV. Describing it then fails unless WAV data starts with
// "RIFF", "RF64" or Wave64's header GUID.
[[nodiscard]] int32_t audio_stream_open_from_memory(SampleFormat format, int64_t size,
                                                    const void* data);

// Opens the decoder (once) and describes the stream in its own format: channels, sample
// rate and the bytes the whole stream takes (0 when the container does not say). Later
// calls return the same record. When the data cannot be decoded, or the stream is being
// written and was not described yet: the format with channels, sample rate and size 0.
// A handle that is not open gives the all-zero info.
[[nodiscard]] AudioInfo audio_stream_read_info(int32_t handle);

// Creates the file of a stream opened for writing (once): RIFF WAV, or Wave64 when
// `info.size` is more than a RIFF file can state (sound_file_max_riff_data, 4294967258),
// with integer PCM of 8, 16 or 32 bits (8-bit formats 8, 16-bit formats 16, 32-bit and
// float formats 32). Whatever `info.size` declares, the file's header states what was
// really written once the stream is closed: a RIFF file that was given more than it can
// state becomes Wave64 then. A rate whose bytes per second pass 4294967295 leaves
// nothing created, as a file that cannot be created does. Does nothing
// for a handle that is not open for writing, an already described stream, or a format
// above 6; a file that cannot be created leaves a stream whose writes give 0.
void audio_stream_write_info(int32_t handle, AudioInfo info);

// Reads up to `frames` frames into `buffer`, which must hold frames x channels samples of
// 2 bytes for the 16-bit formats and 4 bytes for the others. Returns the frames
// delivered: fewer at the end, 0 once exhausted, 0 for a handle not open for reading or
// not described. A format above 6 prints "invalid audio format" and gives 0. Only the
// delivered frames are written: a read at the end writes nothing, and the samples of a
// truncated file's incomplete last frame are never written.
int64_t audio_stream_read(int32_t handle, int64_t frames, void* buffer);

// Writes `frames` frames of `buffer`, in the stream's format, converting them to the
// file's format without changing `buffer`. Returns the frames written; 0 for a handle not
// described for writing or a stream format above 6.
uint64_t audio_stream_write(int32_t handle, int64_t frames, const void* buffer);

// Makes `frame` the next frame read. Nonzero when done; 0 past the end, for a negative
// frame, or for a handle not described for reading.
[[nodiscard]] int32_t audio_stream_seek(int32_t handle, int64_t frame);

// Closes the decoder or completes the written file, and frees the slot for reuse.
// Does nothing for a handle that is not open.
void audio_stream_close(int32_t handle);
