// Any bytes as an encoded audio stream read from memory. The input starts with a script:
// the sample format, then eight operations of two bytes (what, and how far), then the
// image. Reads go into heap buffers of exactly the size asked, so a read that writes past
// the frames it may deliver shows at once; an odd amount reads to an odd address. Far
// seeks aim past the end of streams that do not state their length, where the decoder
// must start over. Every run closes its handle.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "runtime/media/audio_stream.h"
#include "runtime/media/pool.h"

namespace {

constexpr int64_t pool_bytes = 1 << 20;
constexpr size_t operation_count = 8;
constexpr size_t script_bytes = 1 + 2 * operation_count;
// The stream formats (the 8-bit ones are refused at open) and one code that is not a format.
constexpr SampleFormat formats[] = {unsigned_16, unsigned_32, signed_16, signed_32, float_32, SampleFormat(7)};
// Reads ask for up to 255 x 64 frames: past the end of every seed.
constexpr int64_t frames_per_step = 64;
// A seek argument of this value aims one frame past the end.
constexpr uint8_t past_the_end = 255;

// A far seek aims at the amount times this many frames.
constexpr int64_t far_frames = 4096;

enum Operation : uint8_t { read_frames, seek_frame, describe_again, seek_far, operation_kinds };

void read_once(int32_t handle, const AudioInfo& info, SampleFormat format, uint8_t amount) {
    constexpr unsigned char untouched = 0x5a;
    int64_t frames = amount * frames_per_step;
    // The buffer a stream format needs: its own width (2 for codes above 6, whose reads
    // are refused).
    int64_t row = (info.channels > 0 ? info.channels : 1) * audio_format_width(format);
    size_t offset = amount % 2;
    std::vector<unsigned char> buffer(static_cast<size_t>(frames * row) + offset, untouched);
    int64_t got = audio_stream_read(handle, frames, buffer.data() + offset);
    if (got < 0 || got > frames || (info.channels == 0 && got != 0)) std::abort();
    // Past the frames delivered nothing is written, also at the end and for a cut file.
    if (offset && buffer[0] != untouched) std::abort();
    for (size_t i = offset + static_cast<size_t>(got * row); i < buffer.size(); ++i)
        if (buffer[i] != untouched) std::abort();
}

void seek_once(int32_t handle, const AudioInfo& info, SampleFormat format, uint8_t amount) {
    int64_t row = info.channels > 0 ? info.channels * audio_format_width(format) : 1;
    int64_t total = info.size / row;
    int64_t frame = amount == past_the_end ? total + 1 : total * amount / (past_the_end - 1);
    int32_t done = audio_stream_seek(handle, frame);
    // A stated length bounds every seek.
    if (info.size > 0 && amount == past_the_end && done) std::abort();
}

void seek_far_once(int32_t handle, uint8_t amount, bool rewinds) {
    if (audio_stream_seek(handle, amount * far_frames)) return;
    if (rewinds && !audio_stream_seek(handle, 0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<unsigned char> pool(pool_bytes);
    if (size < script_bytes) return 0;
    audio_set_buffer(pool_bytes, pool.data());
    SampleFormat format = formats[data[0] % std::size(formats)];
    const uint8_t* image = data + script_bytes;
    int32_t handle = audio_stream_open_from_memory(format, static_cast<int64_t>(size - script_bytes), image);
    if (handle == audio_stream_none) std::abort();
    AudioInfo info = audio_stream_read_info(handle);
    if (info.format != format || info.channels < 0 || info.size < 0) std::abort();
    // A failed seek leaves a FLAC stream as seekable as it was.
    bool rewinds = size - script_bytes >= 4 && std::memcmp(image, "fLaC", 4) == 0 && audio_stream_seek(handle, 0);
    for (size_t i = 0; i < operation_count; ++i) {
        uint8_t what = data[1 + 2 * i] % operation_kinds;
        uint8_t amount = data[2 + 2 * i];
        if (what == read_frames) read_once(handle, info, format, amount);
        else if (what == seek_frame) seek_once(handle, info, format, amount);
        else if (what == seek_far) seek_far_once(handle, amount, rewinds);
        else if (audio_stream_read_info(handle).size != info.size) std::abort();
    }
    audio_stream_close(handle);
    return 0;
}
