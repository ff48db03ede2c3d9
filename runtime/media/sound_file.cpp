#include "runtime/media/sound_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "runtime/system/platform.h"

namespace {

// Conversions on their way to or from the library go through this much stack at a time,
// so callers' buffers are never rewritten, never need room for a wider format, and never
// receive more than the whole frames a read delivers.
constexpr int64_t scratch_bytes = 64 * 1024;
// Bytes of one float_32 sample, the widest format read or written.
constexpr int64_t widest_sample = 4;
// The most channels a FLAC stream has (its header field is 3 bits).
constexpr int32_t flac_max_channels = 8;
// Largest value of a WAV header's 32-bit fields.
constexpr int64_t wav_field_max = 0xFFFFFFFF;

// The headers written for integer PCM: RIFF "WAVE" with a 16-byte "fmt " chunk and the
// "data" chunk's header; Wave64's GUID-named chunks of the same, each with a 64-bit size
// that counts the chunk's own 24-byte header.
constexpr int64_t riff_header_bytes = 44;
constexpr int64_t riff_format_offset = 20;  // the 16 bytes of the format description
constexpr int64_t format_bytes = 16;
constexpr int64_t wave64_header_bytes = 104;
constexpr int64_t wave64_chunk_header = 24;
constexpr unsigned char wave64_riff[16] = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11,
                                           0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr unsigned char wave64_wave[16] = {'w', 'a', 'v', 'e', 0xF3, 0xAC, 0xD3, 0x11,
                                           0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr unsigned char wave64_fmt[16] = {'f', 'm', 't', ' ', 0xF3, 0xAC, 0xD3, 0x11,
                                          0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr unsigned char wave64_data[16] = {'d', 'a', 't', 'a', 0xF3, 0xAC, 0xD3, 0x11,
                                           0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

sf_count_t memory_length(void* user) { return static_cast<EncodedBytes*>(user)->size; }

sf_count_t memory_seek(sf_count_t offset, int whence, void* user) {
    return encoded_bytes_seek(*static_cast<EncodedBytes*>(user), offset, whence);
}

sf_count_t memory_read(void* destination, sf_count_t count, void* user) {
    return encoded_bytes_read(*static_cast<EncodedBytes*>(user), count, destination);
}

sf_count_t memory_tell(void* user) { return static_cast<EncodedBytes*>(user)->position; }

SF_VIRTUAL_IO memory_io = {memory_length, memory_seek, memory_read, nullptr, memory_tell};

bool holds(AudioContainer container, int format) {
    int major = format & SF_FORMAT_TYPEMASK;
    switch (container) {
        case audio_container_wav:
            return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_W64 ||
                   major == SF_FORMAT_RF64;
        case audio_container_flac: return major == SF_FORMAT_FLAC;
        case audio_container_ogg: return false;  // read by the Vorbis library instead
    }
    return false;
}

bool is_float_subtype(int format) {
    int subtype = format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

// Keeps an opened handle when it holds the container, closes it otherwise.
bool adopt(SoundFile& file, SNDFILE* handle, const SF_INFO& info, AudioContainer container) {
    if (!handle) return false;
    if (!holds(container, info.format) || info.channels <= 0) {
        sf_close(handle);
        return false;
    }
    file.handle = handle;
    file.channels = info.channels;
    file.sample_rate = info.samplerate;
    // libsndfile says SF_COUNT_MAX when a stream does not state its length.
    file.frames = info.frames >= 0 && info.frames != SF_COUNT_MAX ? info.frames : -1;
    file.float_source = is_float_subtype(info.format);
    return true;
}

// libsndfile 1.2.0 takes the size of a LIST chunk's unknown sub-chunk as a signed skip:
// a size past 2^31 - 1 moves its parser back over bytes it has read, and some such files
// send it round the same bytes for ever. A size that large cannot fit in a RIFF file's
// LIST chunk, so such files are refused before the library sees them.
constexpr int64_t riff_chunks_start = 12;   // after "RIFF", its size and "WAVE"
constexpr int64_t chunk_header = 8;         // a chunk's name and 32-bit size
constexpr int64_t chunk_name = 4;
constexpr uint32_t signed_skip_limit = 0x7FFFFFFF;
// Chunks looked at before the walk gives up and leaves the rest to the library: well past
// what any file's header holds, and few enough that a load never waits on the walk.
constexpr int chunks_walked_most = 4096;

uint32_t little_endian_32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Whether the sub-chunks of the LIST chunk whose body spans [from, end) are all skips the
// library takes forward. Its "INFO" and "adtl" names stand alone, without a size.
template <typename ReadAt>
bool list_is_walkable(ReadAt read_at, int64_t from, int64_t end) {
    unsigned char header[chunk_header];
    for (int n = 0; n < chunks_walked_most && from <= end - chunk_header; ++n) {
        if (!read_at(from, chunk_header, header)) return true;
        if (std::memcmp(header, "INFO", chunk_name) == 0 || std::memcmp(header, "adtl", chunk_name) == 0) {
            from += chunk_name;
            continue;
        }
        uint32_t size = little_endian_32(header + chunk_name);
        if (size > signed_skip_limit) return false;
        from += chunk_header + size + (size & 1);
    }
    return true;
}

// Whether a RIFF file of `length` bytes, read through `read_at(offset, count, out)`, has
// no LIST chunk the library would parse for ever. Anything not RIFF passes unread.
template <typename ReadAt>
bool riff_is_walkable(ReadAt read_at, int64_t length) {
    unsigned char header[chunk_header];
    if (!read_at(0, chunk_name, header) || std::memcmp(header, "RIFF", chunk_name) != 0) return true;
    int64_t at = riff_chunks_start;
    for (int n = 0; n < chunks_walked_most && at <= length - chunk_header; ++n) {
        if (!read_at(at, chunk_header, header)) return true;
        uint32_t size = little_endian_32(header + chunk_name);
        int64_t body = at + chunk_header;
        if (std::memcmp(header, "LIST", chunk_name) == 0 &&
            !list_is_walkable(read_at, body, std::min<int64_t>(body + size, length)))
            return false;
        at = body + size + (size & 1);
    }
    return true;
}

bool memory_is_walkable(int64_t size, const unsigned char* data) {
    return riff_is_walkable([&](int64_t at, int64_t count, unsigned char* out) {
        if (at < 0 || count > size - at) return false;
        std::memcpy(out, data + at, static_cast<size_t>(count));
        return true;
    }, size);
}

// The library reads the file through the stream's descriptor from where it stands, so the
// stream reads unbuffered here and is put back at its start; a stream that cannot seek
// (a FIFO) is left unread, for the library to refuse.
bool stream_is_walkable(std::FILE* stream) {
    if (std::setvbuf(stream, nullptr, _IONBF, 0) != 0 || !platform_seek(stream, 0, SEEK_END)) return true;
    int64_t length = platform_tell(stream);
    bool walkable = riff_is_walkable([&](int64_t at, int64_t count, unsigned char* out) {
        auto n = static_cast<size_t>(count);
        return platform_seek(stream, at, SEEK_SET) && std::fread(out, 1, n, stream) == n;
    }, length);
    return platform_seek(stream, 0, SEEK_SET) && walkable;
}

// The library's own open of a path waits for ever on a FIFO with no other end, so the
// path is opened here without waiting and the library only gets its descriptor; the
// stream stays in the record, to be closed after the library lets go of it.
SNDFILE* open_path(SoundFile& file, const char* path, const char* mode, int library_mode, SF_INFO& info) {
    file.stream = platform_open_narrow(path, mode);
    if (!file.stream) return nullptr;
    if (library_mode == SFM_READ && !stream_is_walkable(file.stream)) return nullptr;
    return sf_open_fd(platform_descriptor(file.stream), library_mode, &info, SF_FALSE);
}

// Closes what a failed open left: the stream, when the library holds nothing more.
bool refuse(SoundFile& file) {
    if (file.stream) std::fclose(file.stream);
    file = {};
    return false;
}

int pcm_subtype(SampleFormat written) {
    switch (written) {
        case unsigned_8: return SF_FORMAT_PCM_U8;
        case signed_32: return SF_FORMAT_PCM_32;
        default: return SF_FORMAT_PCM_16;
    }
}

bool is_delivery(SampleFormat format) {
    return format == signed_16 || format == signed_32 || format == float_32;
}

// The library's own read for `format`, straight into `buffer`. At the end of the data it
// fills the rest of the requested span with zeros, and a truncated file can leave the
// samples of its incomplete last frame there, so only spans known to lie within the
// data, or scratch space, are handed to it.
int64_t read_library(SNDFILE* handle, SampleFormat format, int64_t frames, void* buffer) {
    sf_count_t got = 0;
    switch (format) {
        case signed_16: got = sf_readf_short(handle, static_cast<short*>(buffer), frames); break;
        case signed_32: got = sf_readf_int(handle, static_cast<int*>(buffer), frames); break;
        default: got = sf_readf_float(handle, static_cast<float*>(buffer), frames); break;
    }
    return std::max<sf_count_t>(got, 0);
}

// Runs `step(scratch, first, n)` over `frames` frames in chunks of at most `row` bytes a
// frame that fit the scratch buffer. A step returns the frames it completed; a short
// step ends the run. Returns the frames completed.
template <typename Step>
int64_t through_scratch(int64_t frames, int64_t row, Step step) {
    alignas(float) unsigned char scratch[scratch_bytes];
    int64_t chunk = scratch_bytes / row;
    int64_t done = 0;
    while (done < frames && chunk > 0) {
        int64_t n = std::min(chunk, frames - done);
        int64_t got = step(scratch, done, n);
        done += got;
        if (got != n) break;
    }
    return done;
}

// Reads as `pulled` (the file's floats, or the delivery format itself) into scratch,
// converts each chunk there and copies out only the whole frames that came.
int64_t read_converted(SoundFile& file, SampleFormat pulled, SampleFormat delivery, int64_t frames,
                       unsigned char* out) {
    int64_t channels = file.channels;
    int64_t out_row = channels * audio_format_width(delivery);
    return through_scratch(frames, channels * widest_sample, [&](unsigned char* scratch, int64_t first, int64_t n) {
        int64_t got = read_library(file.handle, pulled, n, scratch);
        audio_format_convert(pulled, delivery, got * channels, scratch);
        std::memcpy(out + first * out_row, scratch, static_cast<size_t>(got * out_row));
        return got;
    });
}

// Opens the library again over the source already open in the record (its descriptor
// or its memory) and makes `frame` the read position: a decoder left unusable by a
// failed seek starts over this way. The frame is reached by seeking to the one before it
// and reading that one, since a decoder that does not know its length cannot seek to its
// end itself. False, with no decoder in the record (its source still open), when the
// source no longer opens or the frame lies past the end.
bool restart_at(SoundFile& file, int64_t frame) {
    if (file.handle) sf_close(file.handle);
    file.handle = nullptr;
    SF_INFO info = {};
    SNDFILE* handle = nullptr;
    if (file.stream) {
        // The library starts reading at the descriptor's offset.
        if (platform_seek(file.stream, 0, SEEK_SET))
            handle = sf_open_fd(platform_descriptor(file.stream), SFM_READ, &info, SF_FALSE);
    } else {
        file.memory.position = 0;
        handle = sf_open_virtual(&memory_io, SFM_READ, &info, &file.memory);
    }
    if (!handle) return false;
    short last[flac_max_channels];
    bool reached = frame == 0 || (info.channels == file.channels && file.channels <= flac_max_channels &&
                                  sf_seek(handle, frame - 1, SEEK_SET) == frame - 1 &&
                                  read_library(handle, signed_16, 1, last) == 1);
    if (!reached) {
        sf_close(handle);
        return false;
    }
    file.handle = handle;
    file.position = frame;
    return true;
}

// Moves `count` bytes at offset `from` of `stream` up by `by` bytes, the last piece
// first, so that no byte is overwritten before it has moved.
bool move_up(std::FILE* stream, int64_t from, int64_t count, int64_t by) {
    unsigned char piece[scratch_bytes];
    for (int64_t left = count; left > 0;) {
        int64_t n = std::min(left, scratch_bytes);
        left -= n;
        auto size = static_cast<size_t>(n);
        // A stream that reads and writes must be positioned between the two.
        if (!platform_seek(stream, from + left, SEEK_SET) || std::fread(piece, 1, size, stream) != size ||
            !platform_seek(stream, from + left + by, SEEK_SET) || std::fwrite(piece, 1, size, stream) != size)
            return false;
    }
    return true;
}

}  // namespace

bool sound_file_open(SoundFile& file, const char* path, AudioContainer container) {
    file = {};
    if (!path) return false;
    // A leftover format in the description makes the library read the header as raw audio.
    SF_INFO info = {};
    if (adopt(file, open_path(file, path, "rb", SFM_READ, info), info, container)) return true;
    return refuse(file);
}

bool sound_file_open_memory(SoundFile& file, int64_t size, const void* data,
                            AudioContainer container) {
    file = {};
    // Bytes that do not start as the container does never reach the library, which would
    // otherwise try every parser it has on them.
    if (!data || size < 0 || !audio_container_has_magic(container, size, data) ||
        !memory_is_walkable(size, static_cast<const unsigned char*>(data)))
        return false;
    file.memory = {static_cast<const unsigned char*>(data), size, 0};
    SF_INFO info = {};
    SNDFILE* handle = sf_open_virtual(&memory_io, SFM_READ, &info, &file.memory);
    if (adopt(file, handle, info, container)) return true;
    file = {};
    return false;
}

bool sound_file_fits_riff(int64_t data_bytes) { return data_bytes >= 0 && data_bytes <= sound_file_max_riff_data; }

bool sound_file_fits_byte_rate(int32_t channels, int32_t sample_rate, int64_t width) {
    int64_t rate = 0;
    return audio_format_byte_count(sample_rate, channels, width, rate) && rate <= wav_field_max;
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
    if (!path || channels <= 0 || sample_rate <= 0 || !sf_format_check(&info) ||
        !sound_file_fits_byte_rate(channels, sample_rate, audio_format_width(written)))
        return false;
    // A WAV file may have to become Wave64 at close, which reads its samples back; a
    // FIFO is never opened that way, and stays write-only.
    file.handle = wave64 ? nullptr : open_path(file, path, "w+b", SFM_WRITE, info);
    if (!file.handle && file.stream) {  // opened, but the library refused it: not kept
        std::fclose(file.stream);
        file.stream = nullptr;
    }
    if (!file.handle) file.handle = open_path(file, path, "wb", SFM_WRITE, info);
    if (!file.handle) return refuse(file);
    file.channels = channels;
    file.sample_rate = sample_rate;
    file.written = written;
    file.writing = true;
    file.wave64 = wave64;
    return true;
}

int64_t sound_file_read(SoundFile& file, SampleFormat delivery, int64_t frames, void* buffer) {
    int64_t bytes = 0;
    if (!file.handle || !buffer || frames <= 0 || !is_delivery(delivery)) return 0;
    if (!audio_format_byte_count(frames, file.channels, widest_sample, bytes)) return 0;
    bool length_known = file.frames >= 0;
    if (length_known) frames = std::min(frames, std::max<int64_t>(file.frames - file.position, 0));
    if (frames == 0) return 0;
    SampleFormat pulled = file.float_source ? float_32 : delivery;
    // Within a known length the library writes exactly the frames it delivers; it stores
    // whole samples, so only a buffer aligned to them is handed to it.
    bool aligned = reinterpret_cast<uintptr_t>(buffer) % static_cast<uintptr_t>(audio_format_width(delivery)) == 0;
    int64_t got = length_known && pulled == delivery && aligned
                      ? read_library(file.handle, delivery, frames, buffer)
                      : read_converted(file, pulled, delivery, frames, static_cast<unsigned char*>(buffer));
    file.position += got;
    return got;
}

int64_t sound_file_write(SoundFile& file, SampleFormat format, int64_t frames, const void* samples) {
    int64_t bytes = 0;
    if (!file.handle || !samples || frames <= 0) return 0;
    if (!audio_format_byte_count(frames, file.channels, widest_sample, bytes)) return 0;
    int64_t channels = file.channels;
    int64_t in_row = channels * audio_format_width(format);
    int64_t out_row = channels * audio_format_width(file.written);
    auto* source = static_cast<const unsigned char*>(samples);
    int64_t done = 0;
    // Converting to the same format changes nothing, so such samples skip the scratch.
    if (format == file.written)
        done = std::max<sf_count_t>(sf_write_raw(file.handle, source, frames * out_row), 0) / out_row;
    else
        done = through_scratch(frames, std::max(in_row, out_row), [&](unsigned char* scratch, int64_t first, int64_t n) {
            std::memcpy(scratch, source + first * in_row, static_cast<size_t>(n * in_row));
            audio_format_convert(format, file.written, n * channels, scratch);
            return std::max<sf_count_t>(sf_write_raw(file.handle, scratch, n * out_row), 0) / out_row;
        });
    file.data_bytes += done * out_row;
    return done;
}

bool sound_file_seek(SoundFile& file, int64_t frame) {
    if (!file.handle || frame < 0 || (file.frames >= 0 && frame > file.frames)) return false;
    if (sf_seek(file.handle, frame, SEEK_SET) == frame) {
        file.position = frame;
        return true;
    }
    if (file.frames >= 0) return false;
    // A FLAC that does not state its length finds a frame past its end only by trying to
    // reach it, and its decoder then refuses every later read and seek (also a seek to
    // its very end, which it cannot tell apart): it starts over at the frame, or failing
    // that where it was. Damaged data can keep it from reaching that again, and then it
    // starts over at the start rather than not at all.
    int64_t before = file.position;
    if (restart_at(file, frame)) return true;
    if (!restart_at(file, before) && !restart_at(file, 0)) (void)sound_file_close(file);
    return false;
}

bool sound_file_close(SoundFile& file) {
    // Whether the file must become Wave64 is known only now: a stream's size is known
    // when it ends. The library has then written RIFF sizes that wrapped.
    bool grows = sound_file_becomes_wave64(file);
    bool closed = !file.handle || sf_close(file.handle) == 0;
    if (grows) closed = file.stream && sound_file_riff_to_wave64(file.stream, file.data_bytes) && closed;
    if (file.stream && std::fclose(file.stream) != 0) closed = false;
    file = {};
    return closed;
}

bool sound_file_becomes_wave64(const SoundFile& file) {
    return file.handle && file.writing && !file.wave64 && !sound_file_fits_riff(file.data_bytes);
}

bool sound_file_riff_to_wave64(std::FILE* stream, int64_t data_bytes) {
    unsigned char riff[riff_header_bytes];
    if (!stream || data_bytes < 0 || data_bytes > INT64_MAX - wave64_header_bytes) return false;
    if (!platform_seek(stream, 0, SEEK_SET) || std::fread(riff, 1, sizeof riff, stream) != sizeof riff) return false;
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVEfmt ", 8) != 0 ||
        std::memcmp(riff + riff_format_offset + format_bytes, "data", 4) != 0)
        return false;
    if (!move_up(stream, riff_header_bytes, data_bytes, wave64_header_bytes - riff_header_bytes)) return false;
    unsigned char header[wave64_header_bytes];
    unsigned char* at = header;
    auto put = [&at](const void* bytes, int64_t count) {
        std::memcpy(at, bytes, static_cast<size_t>(count));
        at += count;
    };
    // Sizes are 64-bit little-endian.
    auto put_size = [&put](int64_t size) {
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(size) >> (8 * i));
        put(bytes, sizeof bytes);
    };
    put(wave64_riff, sizeof wave64_riff);
    put_size(wave64_header_bytes + data_bytes);
    put(wave64_wave, sizeof wave64_wave);
    put(wave64_fmt, sizeof wave64_fmt);
    put_size(wave64_chunk_header + format_bytes);
    put(riff + riff_format_offset, format_bytes);
    put(wave64_data, sizeof wave64_data);
    put_size(wave64_chunk_header + data_bytes);
    return platform_seek(stream, 0, SEEK_SET) && std::fwrite(header, 1, sizeof header, stream) == sizeof header &&
           std::fflush(stream) == 0;
}
