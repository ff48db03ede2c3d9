#include "runtime/media/audio_wave.h"

#include "runtime/media/audio_decoder.h"
#include "runtime/media/pool.h"
#include "runtime/media/sound_file.h"
#include "runtime/system/temporary.h"

namespace {

// Largest wave size whose widest conversion (x4) still fits 64 bits.
constexpr int64_t max_convert_size = INT64_MAX / 4;
// Frames per pull of a growing decode: the free part of its buffer always holds one pull.
constexpr int64_t pull_frames = 4096;

// What a decode left in the pool: null data when it failed.
struct Decoded {
    SampleFormat delivery;
    int64_t samples;
    void* data;
};

// The one failed load: WAV and FLAC failures still name the requested format, while
// Ogg failures and refusals before any container was chosen name nothing.
AudioWave failed_wave(SampleFormat format, bool names_format) {
    AudioWave wave = {};
    if (names_format) wave.format = format;
    return wave;
}

// The length is known: one block of exactly that size.
Decoded read_whole(AudioDecoder& decoder, SampleFormat delivery) {
    int64_t bytes = 0;
    if (!audio_format_byte_count(decoder.frames, decoder.channels, audio_format_width(delivery), bytes))
        return Decoded{delivery, 0, nullptr};
    void* data = audio_memory_allocate(bytes);
    if (!data) return Decoded{delivery, 0, nullptr};
    int64_t frames = audio_decoder_read(decoder, delivery, decoder.frames, data);
    return Decoded{delivery, frames * decoder.channels, data};
}

// The length is not known up front (the 16-bit Ogg decode, streamed FLAC): start with
// room for one pull and double the top block in the pool whenever the next pull might
// not fit. Nothing is given back when growth fails.
Decoded read_growing(AudioDecoder& decoder, SampleFormat delivery) {
    int64_t width = audio_format_width(delivery);
    int64_t pull = decoder.channels * pull_frames;
    int64_t capacity = pull;  // samples
    auto* data = static_cast<unsigned char*>(audio_memory_allocate(capacity * width));
    int64_t held = 0;
    while (data) {
        int64_t frames = audio_decoder_read(decoder, delivery, pull_frames, data + held * width);
        if (frames <= 0) break;
        held += frames * decoder.channels;
        if (held + pull <= capacity) continue;
        if (capacity > INT64_MAX / 2 / width) return Decoded{delivery, 0, nullptr};
        data = static_cast<unsigned char*>(
            audio_memory_reallocate(data, capacity * width, 2 * capacity * width));
        capacity *= 2;
    }
    return Decoded{delivery, held, data};
}

Decoded decode(AudioDecoder& decoder, SampleFormat format) {
    SampleFormat delivery = audio_decoder_delivery_format(format, decoder.container);
    bool growing = decoder.frames < 0 || (decoder.container == audio_container_ogg && delivery == signed_16);
    return growing ? read_growing(decoder, delivery) : read_whole(decoder, delivery);
}

AudioWave load_opened(AudioDecoder& decoder, bool opened, SampleFormat format, AudioContainer container) {
    bool names_format = container != audio_container_ogg;
    if (!opened) return failed_wave(format, names_format);
    Decoded decoded = decode(decoder, format);
    AudioWave wave = {decoded.delivery, decoder.channels, decoder.sample_rate,
                      decoded.samples * audio_format_width(decoded.delivery), decoded.data};
    audio_decoder_close(decoder);
    if (!wave.data) return failed_wave(format, names_format);
    // Every delivery is at least as wide as the requested format, so this never widens.
    audio_wave_convert(wave, format);
    return wave;
}

}  // namespace

void audio_wave_convert(AudioWave& wave, SampleFormat target) {
    if (wave.format == target || wave.format >= sample_format_count || target >= sample_format_count)
        return;
    if (!wave.data || wave.size < 0 || wave.size > max_convert_size) return;
    int64_t ws = audio_format_width(wave.format);
    int64_t wt = audio_format_width(target);
    audio_format_convert(wave.format, target, wave.size / ws, wave.data);
    wave.format = target;
    if (wt > ws) wave.size *= wt / ws;
    else if (wt < ws) wave.size /= ws / wt;
}

AudioWave audio_wave_load(SampleFormat format, Slice path) {
    AudioContainer container = audio_container_wav;
    if (!audio_container_for_load(path, container) || format >= sample_format_count)
        return failed_wave(format, false);
    AudioDecoder decoder = {};
    bool opened = audio_decoder_open(decoder, path, container);
    return load_opened(decoder, opened, format, container);
}

AudioWave audio_wave_load_from_memory(SampleFormat format, int64_t size, const void* data) {
    AudioContainer container = audio_container_wav;
    if (!audio_container_for_load_memory(size, data, container) || format >= sample_format_count)
        return failed_wave(format, false);
    AudioDecoder decoder = {};
    bool opened = audio_decoder_open_memory(decoder, size, data, container);
    return load_opened(decoder, opened, format, container);
}

bool audio_wave_save(AudioWave wave, Slice path) {
    if (wave.channels <= 0 || !wave.data || wave.size < 0) return false;
    SampleFormat written = audio_format_written(wave.format);
    int64_t frames = wave.size / audio_format_width(wave.format) / wave.channels;
    SoundFile file = {};
    if (!append_character(path)) return false;
    // The bytes written, not `size`, which may end in part of a frame.
    bool wave64 = !sound_file_fits_riff(frames * wave.channels * audio_format_width(written));
    if (!sound_file_create(file, path.data, written, wave.channels, wave.sample_rate, wave64))
        return false;
    int64_t done = sound_file_write(file, wave.format, frames, wave.data);
    // A short write (a full disk) or a failed close leaves a file that does not hold the
    // wave, so it is no save, though some frames went out.
    bool closed = sound_file_close(file);
    return done >= 1 && done == frames && closed;
}
