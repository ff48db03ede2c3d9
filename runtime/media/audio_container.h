// Which container a piece of audio is read as, and the rules that choose it. Whole-file
// loads and streams name their containers by different rules, kept side by side here:
// a load refuses what it does not recognise, while a stream tries anything unrecognised
// as WAV and lets opening refuse it. Before any bytes reach a decoder they must carry
// their container's own leading bytes. No state.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

enum AudioContainer : uint8_t {
    audio_container_wav = 0,  // RIFF WAVE, RF64 and Wave64
    audio_container_flac = 1,
    audio_container_ogg = 2,  // Ogg Vorbis
};

// Whole-file loads, by the text after the last '.' of `path`, case-sensitively: "wav",
// "flac" or "ogg". False, `container` untouched, for any other extension or none.
[[nodiscard]] bool audio_container_for_load(Slice path, AudioContainer& container);

// Whole-file loads from memory, by the first four bytes: "RIFF", "fLaC" or "OggS".
// False, `container` untouched, for other bytes, fewer than four, or null data.
[[nodiscard]] bool audio_container_for_load_memory(int64_t size, const void* data,
                                                   AudioContainer& container);

// Streams, by the extension as above: "ogg" or "flac"; anything else (also no '.') WAV.
[[nodiscard]] AudioContainer audio_container_for_stream(Slice path);

// Streams from memory, by the first four bytes: "OggS" or "fLaC"; anything else (also
// fewer than four bytes or null data) WAV.
[[nodiscard]] AudioContainer audio_container_for_stream_memory(int64_t size, const void* data);

// True when `data` starts as `container` does: "RIFF", "RF64" or Wave64's 16-byte header
// GUID for WAV, "fLaC" for FLAC, "OggS" for Ogg. False for null data or a negative size.
[[nodiscard]] bool audio_container_has_magic(AudioContainer container, int64_t size,
                                             const void* data);
