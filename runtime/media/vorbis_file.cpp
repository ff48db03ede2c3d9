#include "runtime/media/vorbis_file.h"

// The header's static callback tables go unused: memory is read through our own.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace {

// Frames asked of the library per call: it returns at most one decoded block anyway.
constexpr int64_t pull_frames = 4096;
// Floats interleaved at a time before an integer delivery is converted: 64 KiB of stack.
constexpr int64_t staging_floats = 16 * 1024;

size_t memory_read(void* destination, size_t size, size_t count, void* user) {
    if (size == 0 || count > static_cast<size_t>(INT64_MAX) / size) return 0;
    int64_t wanted = static_cast<int64_t>(size * count);
    return static_cast<size_t>(encoded_bytes_read(*static_cast<EncodedBytes*>(user), wanted, destination)) / size;
}

int memory_seek(void* user, ogg_int64_t offset, int whence) {
    return encoded_bytes_seek(*static_cast<EncodedBytes*>(user), offset, whence) < 0 ? -1 : 0;
}

long memory_tell(void* user) {
    int64_t position = static_cast<EncodedBytes*>(user)->position;
    return position <= LONG_MAX ? static_cast<long>(position) : -1;
}

int32_t link_channels(OggVorbis_File* handle, int link) {
    vorbis_info* info = ov_info(handle, link);
    return info ? info->channels : 0;
}

// The frames of the leading links whose channel count is the first link's: reads stop at
// the first link with another count, since the caller's buffer is sized for the first.
int64_t frames_of(OggVorbis_File* handle, int32_t channels) {
    if (!ov_seekable(handle)) return -1;
    int64_t frames = 0;
    for (long link = 0; link < ov_streams(handle); ++link) {
        if (link_channels(handle, static_cast<int>(link)) != channels) break;
        ogg_int64_t length = ov_pcm_total(handle, static_cast<int>(link));
        if (length < 0) return -1;
        frames += length;
    }
    return frames;
}

// Takes the library's open result: keeps the decoder when it opened, frees it otherwise
// (a failed open has already released what the library took).
bool adopt(VorbisFile& file, OggVorbis_File* handle, int result) {
    if (result != 0) {
        delete handle;
        return false;
    }
    // Opening a chained stream leaves the library at the start of its second link, so
    // reads would skip the first: such a stream is taken back to its first frame.
    bool at_start = !ov_seekable(handle) || ov_pcm_tell(handle) == 0 || ov_pcm_seek(handle, 0) == 0;
    vorbis_info* info = ov_info(handle, 0);
    if (!at_start || !info || info->channels <= 0 || info->rate <= 0 || info->rate > INT32_MAX) {
        ov_clear(handle);
        delete handle;
        return false;
    }
    file.handle = handle;
    file.channels = info->channels;
    file.sample_rate = static_cast<int32_t>(info->rate);
    file.frames = frames_of(handle, file.channels);
    return true;
}

// Interleaves `frames` frames of the library's channel arrays, starting at frame `first`,
// into `out` as floats.
void interleave(float* const* channels, int32_t count, int64_t first, int64_t frames, float* out) {
    for (int32_t c = 0; c < count; ++c) {
        const float* in = channels[c] + first;
        for (int64_t i = 0; i < frames; ++i) out[i * count + c] = in[i];
    }
}

// Stores one decoded block as `delivery` at `out`: floats directly, other formats
// staged a piece at a time and converted there, so `out` needs only their own width.
void store(float* const* channels, int32_t count, int64_t frames, SampleFormat delivery,
           unsigned char* out) {
    if (delivery == float_32) return interleave(channels, count, 0, frames, reinterpret_cast<float*>(out));
    float staged[staging_floats];
    int64_t piece = std::max<int64_t>(staging_floats / count, 1);
    int64_t row = count * audio_format_width(delivery);
    for (int64_t first = 0; first < frames; first += piece) {
        int64_t n = std::min(piece, frames - first);
        interleave(channels, count, first, n, staged);
        audio_format_convert(float_32, delivery, n * count, staged);
        std::memcpy(out + first * row, staged, static_cast<size_t>(n * row));
    }
}

}  // namespace

bool vorbis_file_open(VorbisFile& file, const char* path) {
    file = {};
    if (!path) return false;
    auto* handle = new (std::nothrow) OggVorbis_File{};
    if (!handle) return false;
    return adopt(file, handle, ov_fopen(path, handle));
}

bool vorbis_file_open_memory(VorbisFile& file, int64_t size, const void* data) {
    file = {};
    if (!data || size < 0 || size > vorbis_file_max_image) return false;
    auto* handle = new (std::nothrow) OggVorbis_File{};
    if (!handle) return false;
    file.memory = {static_cast<const unsigned char*>(data), size, 0};
    // No close callback: the bytes are the caller's.
    static const ov_callbacks memory_io = {memory_read, memory_seek, nullptr, memory_tell};
    if (adopt(file, handle, ov_open_callbacks(&file.memory, handle, nullptr, 0, memory_io))) return true;
    file = {};
    return false;
}

int64_t vorbis_file_read(VorbisFile& file, SampleFormat delivery, int64_t frames, void* buffer) {
    if (!file.handle || !buffer || frames <= 0 || delivery >= sample_format_count) return 0;
    int64_t bytes = 0;
    int64_t row = file.channels * audio_format_width(delivery);
    if (!audio_format_byte_count(frames, file.channels, audio_format_width(delivery), bytes)) return 0;
    // A stated length bounds the reads too, so a stream never gives more than it said.
    if (file.frames >= 0) frames = std::min(frames, std::max<int64_t>(file.frames - file.position, 0));
    auto* out = static_cast<unsigned char*>(buffer);
    int64_t done = 0;
    while (done < frames) {
        float** channels = nullptr;
        int link = -1;
        long got = ov_read_float(file.handle, &channels, static_cast<int>(std::min(pull_frames, frames - done)), &link);
        // A hole is a gap in the pages (lost or corrupt data): decoding goes on after it.
        if (got == OV_HOLE) continue;
        if (got <= 0 || link_channels(file.handle, link) != file.channels) break;
        store(channels, file.channels, got, delivery, out + done * row);
        done += got;
    }
    file.position += done;
    return done;
}

bool vorbis_file_seek(VorbisFile& file, int64_t frame) {
    if (!file.handle || frame < 0 || (file.frames >= 0 && frame > file.frames)) return false;
    // A stream without frames (all its audio pages cut off) is always at its end, while
    // the library refuses to seek in it.
    if (file.frames == 0) return true;
    if (ov_pcm_seek(file.handle, frame) != 0) return false;
    file.position = frame;
    return true;
}

void vorbis_file_close(VorbisFile& file) {
    if (file.handle) {
        ov_clear(file.handle);
        delete file.handle;
    }
    file = {};
}
