#include "runtime/media/sound_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Conversions on their way to or from the library go through this much stack at a time,
// so callers' buffers are never rewritten and never need room for a wider format.
constexpr int64_t scratch_bytes = 64 * 1024;
// Bytes of one float_32 sample, the widest delivery format.
constexpr int64_t float_bytes = 4;
// Bytes of the leading tag that names a container in memory ("RIFF", "fLaC", "OggS").
constexpr int64_t magic_bytes = 4;

sf_count_t memory_length(void* user) { return static_cast<SoundMemory*>(user)->size; }

sf_count_t memory_seek(sf_count_t offset, int whence, void* user) {
    auto* memory = static_cast<SoundMemory*>(user);
    int64_t base = whence == SEEK_CUR ? memory->position : whence == SEEK_END ? memory->size : 0;
    // Positions past the end are allowed (reads there give nothing); before the start or
    // beyond 64 bits they are refused, the cursor staying where it was.
    if (offset < -base || (offset > 0 && offset > INT64_MAX - base)) return -1;
    memory->position = base + offset;
    return memory->position;
}

sf_count_t memory_read(void* destination, sf_count_t count, void* user) {
    auto* memory = static_cast<SoundMemory*>(user);
    if (count <= 0 || memory->position >= memory->size) return 0;
    int64_t n = std::min<int64_t>(count, memory->size - memory->position);
    std::memcpy(destination, memory->data + memory->position, static_cast<size_t>(n));
    memory->position += n;
    return n;
}

sf_count_t memory_tell(void* user) { return static_cast<SoundMemory*>(user)->position; }

bool holds(AudioContainer container, int format) {
    int major = format & SF_FORMAT_TYPEMASK;
    switch (container) {
        case audio_container_wav:
            return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_W64 ||
                   major == SF_FORMAT_RF64;
        case audio_container_flac:
            return major == SF_FORMAT_FLAC;
        case audio_container_ogg:
            return major == SF_FORMAT_OGG && (format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS;
    }
    return false;
}

bool is_float_subtype(int format) {
    int subtype = format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE || subtype == SF_FORMAT_VORBIS;
}

// Keeps an opened handle when it holds the container, closes it otherwise.
bool adopt(SoundFile& file, SNDFILE* handle, const SF_INFO& info, AudioContainer container) {
    if (!handle) return false;
    if (!holds(container, info.format) || info.channels <= 0) {
        sf_close(handle);
        return false;
    }
    file.handle = handle;
    file.container = container;
    file.channels = info.channels;
    file.sample_rate = info.samplerate;
    // libsndfile says SF_COUNT_MAX when a stream does not state its length.
    file.frames = info.frames >= 0 && info.frames != SF_COUNT_MAX ? info.frames : -1;
    file.float_source = is_float_subtype(info.format);
    return true;
}

int pcm_subtype(SampleFormat written) {
    switch (written) {
        case unsigned_8: return SF_FORMAT_PCM_U8;
        case signed_32: return SF_FORMAT_PCM_32;
        default: return SF_FORMAT_PCM_16;
    }
}

int64_t read_direct(SNDFILE* handle, SampleFormat delivery, int64_t frames, void* buffer) {
    switch (delivery) {
        case signed_16: return sf_readf_short(handle, static_cast<short*>(buffer), frames);
        case signed_32: return sf_readf_int(handle, static_cast<int*>(buffer), frames);
        case float_32: return sf_readf_float(handle, static_cast<float*>(buffer), frames);
        default: return 0;
    }
}

void convert_delivered(const SoundFile& file, void* samples, int64_t frames, SampleFormat target) {
    AudioWave wave = {float_32, file.channels, file.sample_rate,
                      frames * file.channels * float_bytes, samples};
    audio_wave_convert(wave, target);
}

// Floats narrowed to 16 bits cannot be read into the caller's buffer first: it only
// holds the narrower samples. They pass through the scratch buffer instead. A seek that
// decodes forward only needs the frames consumed, so it passes a null `narrowed`.
int64_t decode_floats(SoundFile& file, int64_t frames, unsigned char* narrowed) {
    alignas(float) unsigned char scratch[scratch_bytes];
    int64_t chunk = scratch_bytes / (file.channels * float_bytes);
    int64_t row = file.channels * audio_format_width(signed_16);
    int64_t done = 0;
    while (done < frames && chunk > 0) {
        int64_t got = sf_readf_float(file.handle, reinterpret_cast<float*>(scratch),
                                     std::min(chunk, frames - done));
        if (got <= 0) break;
        if (narrowed) {
            convert_delivered(file, scratch, got, signed_16);
            std::memcpy(narrowed + done * row, scratch, static_cast<size_t>(got * row));
        }
        done += got;
    }
    return done;
}

int64_t read_as(SoundFile& file, SampleFormat delivery, int64_t frames, void* buffer) {
    if (delivery == float_32 || !file.float_source)
        return std::max<int64_t>(read_direct(file.handle, delivery, frames, buffer), 0);
    if (delivery == signed_16) return decode_floats(file, frames, static_cast<unsigned char*>(buffer));
    if (delivery != signed_32) return 0;
    // Integer reads of float files round without scaling, so read floats (same width)
    // and scale them here.
    int64_t got = sf_readf_float(file.handle, static_cast<float*>(buffer), frames);
    if (got <= 0) return 0;
    convert_delivered(file, buffer, got, signed_32);
    return got;
}

bool seek_by_decoding(SoundFile& file, int64_t frame) {
    if (file.frames >= 0 && frame > file.frames) return false;
    if (frame < file.position) {
        if (sf_seek(file.handle, 0, SEEK_SET) != 0) return false;
        file.position = 0;
    }
    file.position += decode_floats(file, frame - file.position, nullptr);
    return file.position == frame;
}

}  // namespace

bool sound_file_open(SoundFile& file, const char* path, AudioContainer container) {
    file = {};
    if (!path) return false;
    // A leftover format in the description makes the library read the header as raw audio.
    SF_INFO info = {};
    return adopt(file, sf_open(path, SFM_READ, &info), info, container);
}

bool sound_file_open_memory(SoundFile& file, const void* data, int64_t size,
                            AudioContainer container) {
    file = {};
    if (!data || size < 0) return false;
    if (container == audio_container_ogg && size > sound_file_max_ogg_image) return false;
    file.memory = {static_cast<const unsigned char*>(data), size, 0};
    static SF_VIRTUAL_IO memory_io = {memory_length, memory_seek, memory_read, nullptr, memory_tell};
    SF_INFO info = {};
    SNDFILE* handle = sf_open_virtual(&memory_io, SFM_READ, &info, &file.memory);
    if (adopt(file, handle, info, container)) return true;
    file = {};
    return false;
}

bool sound_file_create(SoundFile& file, const char* path, SampleFormat written, int32_t channels,
                       int32_t sample_rate, bool wave64) {
    file = {};
    SF_INFO info = {};
    info.channels = channels;
    info.samplerate = sample_rate;
    info.format = (wave64 ? SF_FORMAT_W64 : SF_FORMAT_WAV) | pcm_subtype(written);
    // The library creates (or empties) the file before it refuses some descriptions, so
    // they are checked first: a refused save must leave an existing file as it was.
    if (!path || channels <= 0 || sample_rate <= 0 || !sf_format_check(&info)) return false;
    file.handle = sf_open(path, SFM_WRITE, &info);
    if (!file.handle) return false;
    file.channels = channels;
    file.sample_rate = sample_rate;
    file.written = written;
    return true;
}

int64_t sound_file_read(SoundFile& file, SampleFormat delivery, int64_t frames, void* buffer) {
    int64_t bytes = 0;
    if (!file.handle || !buffer || frames <= 0) return 0;
    if (!sound_file_byte_count(frames, file.channels, float_bytes, bytes)) return 0;
    int64_t got = read_as(file, delivery, frames, buffer);
    file.position += got;
    return got;
}

int64_t sound_file_write(SoundFile& file, SampleFormat format, int64_t frames, const void* samples) {
    int64_t bytes = 0;
    if (!file.handle || !samples || frames <= 0) return 0;
    if (!sound_file_byte_count(frames, file.channels, float_bytes, bytes)) return 0;
    alignas(float) unsigned char scratch[scratch_bytes];
    int64_t in_row = file.channels * audio_format_width(format);
    int64_t out_row = file.channels * audio_format_width(file.written);
    int64_t chunk = scratch_bytes / std::max(in_row, out_row);
    auto* source = static_cast<const unsigned char*>(samples);
    int64_t done = 0;
    // Converting to the same format changes nothing, so such samples skip the copy.
    bool as_they_are = format == file.written;
    while (done < frames && chunk > 0) {
        int64_t n = std::min(chunk, frames - done);
        const unsigned char* block = source + done * in_row;
        if (!as_they_are) {
            std::memcpy(scratch, block, static_cast<size_t>(n * in_row));
            AudioWave part = {format, file.channels, file.sample_rate, n * in_row, scratch};
            audio_wave_convert(part, file.written);
            block = scratch;
        }
        int64_t written = sf_write_raw(file.handle, block, n * out_row);
        done += std::max<int64_t>(written, 0) / out_row;
        if (written != n * out_row) break;
    }
    return done;
}

bool sound_file_seek(SoundFile& file, int64_t frame) {
    if (!file.handle || frame < 0) return false;
    if (file.container == audio_container_ogg) return seek_by_decoding(file, frame);
    if (sf_seek(file.handle, frame, SEEK_SET) != frame) return false;
    file.position = frame;
    return true;
}

void sound_file_close(SoundFile& file) {
    if (file.handle) sf_close(file.handle);
    file = {};
}

SampleFormat sound_file_written_format(SampleFormat format) {
    switch (format) {
        case unsigned_8:
        case signed_8: return unsigned_8;
        case unsigned_16:
        case signed_16: return signed_16;
        case unsigned_32:
        case signed_32:
        case float_32: return signed_32;
        default: return format;
    }
}

bool sound_file_has_magic(const void* data, int64_t size, const char (&magic)[5]) {
    return data && size >= magic_bytes && std::memcmp(data, magic, magic_bytes) == 0;
}

bool sound_file_has_extension(Slice path, Slice extension) {
    return slice_has_extension(path, extension);
}

bool sound_file_container_of_path(Slice path, AudioContainer& container) {
    if (slice_has_extension(path, slice_literal("wav"))) container = audio_container_wav;
    else if (slice_has_extension(path, slice_literal("flac"))) container = audio_container_flac;
    else if (slice_has_extension(path, slice_literal("ogg"))) container = audio_container_ogg;
    else return false;
    return true;
}

bool sound_file_container_of_memory(const void* data, int64_t size, AudioContainer& container) {
    if (sound_file_has_magic(data, size, "RIFF")) container = audio_container_wav;
    else if (sound_file_has_magic(data, size, "fLaC")) container = audio_container_flac;
    else if (sound_file_has_magic(data, size, "OggS")) container = audio_container_ogg;
    else return false;
    return true;
}

SampleFormat sound_file_delivery_format(SampleFormat format, AudioContainer container) {
    bool wide = format == signed_32 || format == unsigned_32;
    if (format == float_32 || (wide && container == audio_container_ogg)) return float_32;
    return wide ? signed_32 : signed_16;
}

bool sound_file_byte_count(int64_t frames, int64_t channels, int64_t width, int64_t& bytes) {
    if (frames < 0 || channels < 0 || width < 0) return false;
    if (channels != 0 && width != 0 && frames > INT64_MAX / channels / width) return false;
    bytes = frames * channels * width;
    return true;
}
