// Reading audio whatever its container: one record over the libsndfile binding (WAV
// family, FLAC) and the libvorbisfile binding (Ogg Vorbis), the format each is asked to
// deliver, and reads that write only the whole frames they return. State: only the
// AudioDecoder records the callers keep (a Vorbis decoder's state lies on the heap
// until closing).
#pragma once

#include <cstdint>

#include "runtime/media/audio_container.h"
#include "runtime/media/audio_format.h"
#include "runtime/media/sound_file.h"
#include "runtime/media/vorbis_file.h"
#include "runtime/text/slice.h"

// One open decoder. Both bindings keep pointers into their record when reading from
// memory, so it must stay where it is until audio_decoder_close.
struct AudioDecoder {
    bool open;
    AudioContainer container;
    SoundFile sound;    // WAV family and FLAC
    VorbisFile vorbis;  // Ogg Vorbis
    int32_t channels;
    int32_t sample_rate;
    int64_t frames;     // total frames; -1 when the container does not say
};

// The format a decoder is asked for when a caller wants `format` from `container`,
// converted afterwards (never widened): float_32 for float_32 and for 32-bit integers
// from Ogg Vorbis, signed_32 for other 32-bit integers, signed_16 otherwise.
[[nodiscard]] SampleFormat audio_decoder_delivery_format(SampleFormat format,
                                                         AudioContainer container);

// Opens the file at `path` as `container`. False, with the record closed, when the file
// cannot be opened or holds something else, or the path is too long for the temporary ring.
[[nodiscard]] bool audio_decoder_open(AudioDecoder& decoder, Slice path, AudioContainer container);

// As audio_decoder_open over `size` bytes at `data`, which must stay valid until
// closing. Also false for null data, a negative size, leading bytes other than the
// container's own, or an Ogg image above vorbis_file_max_image.
[[nodiscard]] bool audio_decoder_open_memory(AudioDecoder& decoder, int64_t size,
                                             const void* data, AudioContainer container);

// Reads up to `frames` frames into `buffer` as `delivery` (signed_16, signed_32 or
// float_32). Returns the frames delivered; only those are written, so a read at the end
// writes nothing. 0 for a closed record or another delivery format.
int64_t audio_decoder_read(AudioDecoder& decoder, SampleFormat delivery, int64_t frames,
                           void* buffer);

// Makes `frame` the next frame read. False past the end, for a negative frame or a
// closed record.
[[nodiscard]] bool audio_decoder_seek(AudioDecoder& decoder, int64_t frame);

// Releases the decoder. Does nothing to a closed record.
void audio_decoder_close(AudioDecoder& decoder);
