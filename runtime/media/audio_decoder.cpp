#include "runtime/media/audio_decoder.h"

#include "runtime/system/temporary.h"

namespace {

bool is_delivery(SampleFormat format) {
    return format == signed_16 || format == signed_32 || format == float_32;
}

// Copies what every caller reads from the opened binding's record.
bool adopt(AudioDecoder& decoder, bool opened, AudioContainer container) {
    if (!opened) return false;
    decoder.open = true;
    decoder.container = container;
    bool vorbis = container == audio_container_ogg;
    decoder.channels = vorbis ? decoder.vorbis.channels : decoder.sound.channels;
    decoder.sample_rate = vorbis ? decoder.vorbis.sample_rate : decoder.sound.sample_rate;
    decoder.frames = vorbis ? decoder.vorbis.frames : decoder.sound.frames;
    return true;
}

}  // namespace

SampleFormat audio_decoder_delivery_format(SampleFormat format, AudioContainer container) {
    bool wide = format == signed_32 || format == unsigned_32;
    if (format == float_32 || (wide && container == audio_container_ogg)) return float_32;
    return wide ? signed_32 : signed_16;
}

bool audio_decoder_open(AudioDecoder& decoder, Slice path, AudioContainer container) {
    decoder = {};
    // libsndfile opens the file itself and needs a terminated path; the Vorbis binding
    // reads through the runtime's file service, which takes the path as it is.
    bool opened = container == audio_container_ogg
                      ? vorbis_file_open(decoder.vorbis, path)
                      : append_character(path) && sound_file_open(decoder.sound, path.data, container);
    return adopt(decoder, opened, container);
}

bool audio_decoder_open_memory(AudioDecoder& decoder, int64_t size, const void* data,
                               AudioContainer container) {
    decoder = {};
    if (!audio_container_has_magic(container, size, data)) return false;
    bool opened = container == audio_container_ogg
                      ? vorbis_file_open_memory(decoder.vorbis, size, data)
                      : sound_file_open_memory(decoder.sound, size, data, container);
    return adopt(decoder, opened, container);
}

int64_t audio_decoder_read(AudioDecoder& decoder, SampleFormat delivery, int64_t frames,
                           void* buffer) {
    if (!decoder.open || !is_delivery(delivery)) return 0;
    if (decoder.container == audio_container_ogg)
        return vorbis_file_read(decoder.vorbis, delivery, frames, buffer);
    return sound_file_read(decoder.sound, delivery, frames, buffer);
}

bool audio_decoder_seek(AudioDecoder& decoder, int64_t frame) {
    if (!decoder.open) return false;
    if (decoder.container == audio_container_ogg) return vorbis_file_seek(decoder.vorbis, frame);
    return sound_file_seek(decoder.sound, frame);
}

void audio_decoder_close(AudioDecoder& decoder) {
    vorbis_file_close(decoder.vorbis);
    (void)sound_file_close(decoder.sound);
    decoder = {};
}
