#include "runtime/media/vorbis_file.h"

// The header's static callback tables go unused: every source is read through our own.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <climits>
#include <cstring>
#include <new>

namespace {

// Frames asked of the library per call: it returns at most one decoded block anyway.
constexpr int64_t pull_frames = 4096;
// Floats interleaved at a time before an integer delivery is converted: 64 KiB of stack.
constexpr int64_t staging_floats = 16 * 1024;

constexpr int64_t scan_piece = vorbis_file_scan_bytes;
// A page header's bytes up to the end of its serial number ("OggS", version, flags,
// granule position, serial).
constexpr int64_t serial_end = 18;
constexpr int64_t serial_offset = 14;
constexpr unsigned char capture[] = {'O', 'g', 'g', 'S', 0};  // with stream structure version 0

// The source callbacks: the caller's bytes, or a file through the runtime's file service.
int64_t source_read(VorbisFile& file, int64_t count, void* destination) {
    if (!file.file) return encoded_bytes_read(file.memory, count, destination);
    if (count <= 0) return 0;
    auto got = static_cast<int64_t>(file_read(file.file, static_cast<uint64_t>(count), destination));
    file.file_position += got;
    return got;
}

bool source_seek(VorbisFile& file, int64_t offset, int whence) {
    if (!file.file) return encoded_bytes_seek(file.memory, offset, whence) >= 0;
    int64_t base = whence == SEEK_CUR ? file.file_position : whence == SEEK_END ? file_size(file.file) : 0;
    if (base < 0 || offset < -base || (offset > 0 && offset > INT64_MAX - base)) return false;
    if (!file_seek(file.file, base + offset)) return false;
    file.file_position = base + offset;
    return true;
}

size_t library_read(void* destination, size_t size, size_t count, void* user) {
    if (size == 0 || count > static_cast<size_t>(INT64_MAX) / size) return 0;
    int64_t got = source_read(*static_cast<VorbisFile*>(user), static_cast<int64_t>(size * count), destination);
    return static_cast<size_t>(got) / size;
}

int library_seek(void* user, ogg_int64_t offset, int whence) {
    return source_seek(*static_cast<VorbisFile*>(user), offset, whence) ? 0 : -1;
}

long library_tell(void* user) {
    auto& file = *static_cast<VorbisFile*>(user);
    int64_t position = file.file ? file.file_position : file.memory.position;
    return position <= LONG_MAX ? static_cast<long>(position) : -1;
}

// True when every page capture in the source names the same logical stream. The
// library's search for the links of a chained (or multiplexed) stream leaks what it
// took when a later link's headers are malformed, so only single streams reach it.
// Captures are checked wherever they lie, also inside page bodies where the library
// could resynchronise after a damaged page; a capture that merely looks like one costs
// a refusal with odds of 2^-40 per byte. Leaves the source at its start.
bool holds_one_stream(VorbisFile& file) {
    unsigned char window[scan_piece + serial_end];
    int64_t kept = 0;
    bool seen = false;
    uint32_t first = 0;
    if (!source_seek(file, 0, SEEK_SET)) return false;
    for (;;) {
        int64_t got = source_read(file, scan_piece, window + kept);
        int64_t end = kept + got;
        for (int64_t i = 0; i + serial_end <= end; ++i) {
            const void* at = std::memchr(window + i, capture[0], static_cast<size_t>(end - serial_end + 1 - i));
            if (!at) break;
            i = static_cast<const unsigned char*>(at) - window;
            if (std::memcmp(window + i, capture, sizeof capture) != 0) continue;
            uint32_t serial = 0;
            std::memcpy(&serial, window + i + serial_offset, sizeof serial);
            if (seen && serial != first) return false;
            seen = true;
            first = serial;
        }
        if (got <= 0) break;
        // The last bytes may start a capture whose serial comes with the next piece.
        kept = std::min(end, serial_end - 1);
        std::memmove(window, window + end - kept, static_cast<size_t>(kept));
    }
    return source_seek(file, 0, SEEK_SET);
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
    // Opening a stream of several links leaves the library at the start of the second
    // (the stream check keeps such streams out; this holds should one pass): reads would
    // skip the first, so the stream is taken back to its first frame.
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
// into `out` as floats. The caller's buffer may lie at any address, so each sample is
// stored byte-wise.
void interleave(float* const* channels, int32_t count, int64_t first, int64_t frames, unsigned char* out) {
    constexpr int64_t width = sizeof(float);
    for (int32_t c = 0; c < count; ++c) {
        const float* in = channels[c] + first;
        for (int64_t i = 0; i < frames; ++i) std::memcpy(out + (i * count + c) * width, in + i, width);
    }
}

// Stores one decoded block as `delivery` at `out`: floats directly, other formats
// staged a piece at a time and converted there, so `out` needs only their own width.
void store(float* const* channels, int32_t count, int64_t frames, SampleFormat delivery,
           unsigned char* out) {
    if (delivery == float_32) return interleave(channels, count, 0, frames, out);
    alignas(float) unsigned char staged[staging_floats * sizeof(float)];
    int64_t piece = std::max<int64_t>(staging_floats / count, 1);
    int64_t row = count * audio_format_width(delivery);
    for (int64_t first = 0; first < frames; first += piece) {
        int64_t n = std::min(piece, frames - first);
        interleave(channels, count, first, n, staged);
        audio_format_convert(float_32, delivery, n * count, staged);
        std::memcpy(out + first * row, staged, static_cast<size_t>(n * row));
    }
}

// Opens the decoder over the source already set in `file`; on failure the source is
// closed and the record cleared.
bool open_source(VorbisFile& file) {
    // No close callback: the caller's bytes are not ours, and a file is closed here.
    static const ov_callbacks io = {library_read, library_seek, nullptr, library_tell};
    OggVorbis_File* handle = holds_one_stream(file) ? new (std::nothrow) OggVorbis_File{} : nullptr;
    if (handle && adopt(file, handle, ov_open_callbacks(&file, handle, nullptr, 0, io))) return true;
    if (file.file) (void)file_close(file.file);
    file = {};
    return false;
}

}  // namespace

bool vorbis_file_open(VorbisFile& file, Slice path) {
    file = {};
    file.file = file_open(path, file_mode_read);
    return !file_failed(file.file) && open_source(file);
}

bool vorbis_file_open_memory(VorbisFile& file, int64_t size, const void* data) {
    file = {};
    if (!data || size < 0 || size > vorbis_file_max_image) return false;
    file.memory = {static_cast<const unsigned char*>(data), size, 0};
    return open_source(file);
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
    if (file.file) (void)file_close(file.file);
    file = {};
}
