#include "runtime/media/audio_container.h"

#include <cstring>

namespace {

// Each container's leading bytes. Wave64 opens with the GUID of its "riff" chunk.
constexpr unsigned char riff_magic[] = {'R', 'I', 'F', 'F'};
constexpr unsigned char rf64_magic[] = {'R', 'F', '6', '4'};
constexpr unsigned char wave64_magic[] = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                                          0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr unsigned char flac_magic[] = {'f', 'L', 'a', 'C'};
constexpr unsigned char ogg_magic[] = {'O', 'g', 'g', 'S'};

template <size_t N>
bool starts_with(int64_t size, const void* data, const unsigned char (&magic)[N]) {
    return data && size >= static_cast<int64_t>(N) && std::memcmp(data, magic, N) == 0;
}

}  // namespace

bool audio_container_for_load(Slice path, AudioContainer& container) {
    if (slice_has_extension(path, slice_literal("wav"))) container = audio_container_wav;
    else if (slice_has_extension(path, slice_literal("flac"))) container = audio_container_flac;
    else if (slice_has_extension(path, slice_literal("ogg"))) container = audio_container_ogg;
    else return false;
    return true;
}

bool audio_container_for_load_memory(int64_t size, const void* data, AudioContainer& container) {
    // Only "RIFF" names WAV here: a Wave64 or RF64 image in memory is not a load's to read.
    if (starts_with(size, data, riff_magic)) container = audio_container_wav;
    else if (starts_with(size, data, flac_magic)) container = audio_container_flac;
    else if (starts_with(size, data, ogg_magic)) container = audio_container_ogg;
    else return false;
    return true;
}

AudioContainer audio_container_for_stream(Slice path) {
    if (slice_has_extension(path, slice_literal("ogg"))) return audio_container_ogg;
    if (slice_has_extension(path, slice_literal("flac"))) return audio_container_flac;
    return audio_container_wav;
}

AudioContainer audio_container_for_stream_memory(int64_t size, const void* data) {
    if (starts_with(size, data, ogg_magic)) return audio_container_ogg;
    if (starts_with(size, data, flac_magic)) return audio_container_flac;
    return audio_container_wav;
}

bool audio_container_has_magic(AudioContainer container, int64_t size, const void* data) {
    switch (container) {
        case audio_container_wav:
            return starts_with(size, data, riff_magic) || starts_with(size, data, rf64_magic) ||
                   starts_with(size, data, wave64_magic);
        case audio_container_flac: return starts_with(size, data, flac_magic);
        case audio_container_ogg: return starts_with(size, data, ogg_magic);
    }
    return false;
}
