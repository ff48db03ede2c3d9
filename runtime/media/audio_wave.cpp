#include "runtime/media/audio_wave.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>

#include "runtime/media/pool.h"
#include "runtime/media/sound_file.h"
#include "runtime/system/temporary.h"

// Samples are little-endian and are read as native integers.
static_assert(std::endian::native == std::endian::little);

namespace {

// Samples are staged through two small local arrays per step: the compiler can then
// vectorise the arithmetic (the arrays cannot alias the wave), and reading a whole step
// before writing it keeps the in-place overlap safe in both directions. 1024 samples of
// up to 4 bytes on each side stay well inside the first-level cache.
constexpr int64_t step_samples = 1024;
// Largest wave size whose widest conversion (x4) still fits 64 bits.
constexpr int64_t max_convert_size = INT64_MAX / 4;

constexpr int width_of(int format) { return format == 0 || format == 3 ? 1 : format == 1 || format == 4 ? 2 : 4; }
constexpr bool is_offset(int format) { return format <= 2; }
constexpr bool is_float(int format) { return format == float_32; }

template <int Width>
using Bits = std::conditional_t<Width == 1, uint8_t, std::conditional_t<Width == 2, uint16_t, uint32_t>>;

template <int Format>
using Sample = std::conditional_t<is_float(Format), float, Bits<width_of(Format)>>;

// The most significant bit of a sample: the one bit in which the two classes differ.
template <int Width>
constexpr Bits<Width> top_bit = static_cast<Bits<Width>>(1u << (8 * Width - 1));

// Full scale of a signed integer of `Width` bytes: 127, 32767, 2147483647.
template <int Width>
constexpr double full_scale = static_cast<double>((uint64_t{1} << (8 * Width - 1)) - 1);

template <int From, int To>
inline Sample<To> convert_one(Sample<From> in) {
    constexpr int ws = width_of(From);
    constexpr int wt = width_of(To);
    if constexpr (is_float(From)) {
        // Clamped so a loud sample saturates instead of wrapping into a click (and the
        // cast below stays defined); NaN becomes silence. Clamping the product rather
        // than the sample gives the same result (the scaling is monotonic and exact at
        // +-1) and keeps the loop free of branches the vectoriser cannot take.
        double d = static_cast<double>(in) * full_scale<wt>;
        d = d == d ? d : 0.0;
        d = d < full_scale<wt> ? d : full_scale<wt>;
        d = d > -full_scale<wt> ? d : -full_scale<wt>;
        auto v = static_cast<int32_t>(d);
        auto out = static_cast<Bits<wt>>(static_cast<uint32_t>(v));
        return is_offset(To) ? static_cast<Bits<wt>>(out ^ top_bit<wt>) : out;
    } else if constexpr (is_float(To)) {
        using Signed = std::make_signed_t<Bits<ws>>;
        auto v = static_cast<Signed>(is_offset(From) ? in ^ top_bit<ws> : in);
        return static_cast<float>(static_cast<double>(v) / full_scale<ws>);
    } else {
        Bits<wt> out;
        if constexpr (wt > ws) out = static_cast<Bits<wt>>(Bits<wt>{in} << (8 * (wt - ws)));
        else out = static_cast<Bits<wt>>(in >> (8 * (ws - wt)));
        return is_offset(From) != is_offset(To) ? static_cast<Bits<wt>>(out ^ top_bit<wt>) : out;
    }
}

template <int From, int To>
void convert_step(unsigned char* data, int64_t first, int64_t n) {
    using In = Sample<From>;
    using Out = Sample<To>;
    In in[step_samples];
    Out out[step_samples];
    std::memcpy(in, data + first * sizeof(In), static_cast<size_t>(n) * sizeof(In));
    for (int64_t i = 0; i < n; ++i) out[i] = convert_one<From, To>(in[i]);
    std::memcpy(data + first * sizeof(Out), out, static_cast<size_t>(n) * sizeof(Out));
}

// Narrower or equal outputs go front to back, wider ones back to front, so no sample is
// overwritten before it has been read.
template <int From, int To>
void convert_samples(unsigned char* data, int64_t count) {
    if constexpr (width_of(To) <= width_of(From)) {
        for (int64_t first = 0; first < count; first += step_samples)
            convert_step<From, To>(data, first, std::min(step_samples, count - first));
    } else {
        for (int64_t end = count; end > 0; end -= step_samples) {
            int64_t first = std::max<int64_t>(0, end - step_samples);
            convert_step<From, To>(data, first, end - first);
        }
    }
}

using Converter = void (*)(unsigned char*, int64_t);

template <int From, int To>
constexpr Converter converter_for() {
    if constexpr (From == To) return nullptr;
    else return &convert_samples<From, To>;
}

template <int From, int... To>
constexpr void fill_row(Converter* row, std::integer_sequence<int, To...>) {
    ((row[To] = converter_for<From, To>()), ...);
}

template <int... From>
constexpr auto make_converters(std::integer_sequence<int, From...>) {
    std::array<std::array<Converter, sample_format_count>, sample_format_count> table = {};
    (fill_row<From>(table[From].data(), std::make_integer_sequence<int, sample_format_count>{}), ...);
    return table;
}

constexpr auto converters = make_converters(std::make_integer_sequence<int, sample_format_count>{});

}  // namespace

int64_t audio_format_width(SampleFormat format) {
    return format < sample_format_count ? width_of(format) : 2;
}

void audio_wave_convert(AudioWave& wave, SampleFormat target) {
    if (wave.format == target || wave.format >= sample_format_count || target >= sample_format_count)
        return;
    if (!wave.data || wave.size < 0 || wave.size > max_convert_size) return;
    int64_t ws = width_of(wave.format);
    int64_t wt = width_of(target);
    converters[wave.format][target](static_cast<unsigned char*>(wave.data), wave.size / ws);
    wave.format = target;
    if (wt > ws) wave.size *= wt / ws;
    else if (wt < ws) wave.size /= ws / wt;
}

namespace {

// Frames per pull of a growing decode: the free part of its buffer always holds one pull.
constexpr int64_t pull_frames = 4096;

AudioWave zero_wave() { return AudioWave{}; }

// WAV and FLAC failures still name the requested format; Ogg failures name nothing.
AudioWave failed_wave(SampleFormat format, AudioContainer container) {
    AudioWave wave = {};
    if (container != audio_container_ogg) wave.format = format;
    return wave;
}

AudioWave wave_of(const SoundFile& file, SampleFormat delivery, int64_t samples, void* data) {
    return AudioWave{delivery, file.channels, file.sample_rate,
                     samples * audio_format_width(delivery), data};
}

// The length is known: one block of exactly that size.
AudioWave read_whole(SoundFile& file, SampleFormat delivery) {
    int64_t bytes = 0;
    if (!sound_file_byte_count(file.frames, file.channels, audio_format_width(delivery), bytes))
        return AudioWave{};
    void* data = audio_memory_allocate(bytes);
    if (!data) return AudioWave{};
    int64_t frames = sound_file_read(file, delivery, file.frames, data);
    return wave_of(file, delivery, frames * file.channels, data);
}

// The length is not known up front (the 16-bit Ogg decode, streamed FLAC): start with
// room for one pull and double the top block in the pool whenever the next pull might
// not fit. Nothing is given back when growth fails.
AudioWave read_growing(SoundFile& file, SampleFormat delivery) {
    int64_t width = audio_format_width(delivery);
    int64_t pull = file.channels * pull_frames;
    int64_t capacity = pull;  // samples
    auto* data = static_cast<unsigned char*>(audio_memory_allocate(capacity * width));
    if (!data) return AudioWave{};
    int64_t held = 0;
    for (;;) {
        int64_t frames = sound_file_read(file, delivery, pull_frames, data + held * width);
        if (frames <= 0) break;
        held += frames * file.channels;
        if (held + pull <= capacity) continue;
        if (capacity > INT64_MAX / 2 / width) return AudioWave{};
        data = static_cast<unsigned char*>(
            audio_memory_reallocate(data, capacity * width, 2 * capacity * width));
        if (!data) return AudioWave{};
        capacity *= 2;
    }
    return wave_of(file, delivery, held, data);
}

SampleFormat delivery_format(SampleFormat format, AudioContainer container) {
    bool wide = format == signed_32 || format == unsigned_32;
    if (format == float_32 || (wide && container == audio_container_ogg)) return float_32;
    return wide ? signed_32 : signed_16;
}

AudioWave decode(SoundFile& file, SampleFormat format, AudioContainer container) {
    SampleFormat delivery = delivery_format(format, container);
    bool growing = file.frames < 0 || (container == audio_container_ogg && delivery == signed_16);
    return growing ? read_growing(file, delivery) : read_whole(file, delivery);
}

AudioWave load_opened(SoundFile& file, bool opened, SampleFormat format, AudioContainer container) {
    if (!opened) return failed_wave(format, container);
    AudioWave wave = decode(file, format, container);
    sound_file_close(file);
    if (!wave.data) return failed_wave(format, container);
    // Every delivery is at least as wide as the requested format, so this never widens.
    audio_wave_convert(wave, format);
    return wave;
}

bool container_of_path(Slice path, AudioContainer& container) {
    if (sound_file_has_extension(path, slice_literal("wav"))) container = audio_container_wav;
    else if (sound_file_has_extension(path, slice_literal("flac"))) container = audio_container_flac;
    else if (sound_file_has_extension(path, slice_literal("ogg"))) container = audio_container_ogg;
    else return false;
    return true;
}

bool container_of_memory(int64_t size, const void* data, AudioContainer& container) {
    if (sound_file_has_magic(data, size, "RIFF")) container = audio_container_wav;
    else if (sound_file_has_magic(data, size, "fLaC")) container = audio_container_flac;
    else if (sound_file_has_magic(data, size, "OggS")) container = audio_container_ogg;
    else return false;
    return true;
}

}  // namespace

AudioWave audio_wave_load(SampleFormat format, Slice path) {
    AudioContainer container = audio_container_wav;
    if (!container_of_path(path, container) || format >= sample_format_count) return zero_wave();
    SoundFile file = {};
    bool opened = append_character(path) && sound_file_open(file, path.data, container);
    return load_opened(file, opened, format, container);
}

AudioWave audio_wave_load_from_memory(SampleFormat format, int64_t size, const void* data) {
    AudioContainer container = audio_container_wav;
    if (!container_of_memory(size, data, container) || format >= sample_format_count) return zero_wave();
    SoundFile file = {};
    bool opened = sound_file_open_memory(file, data, size, container);
    return load_opened(file, opened, format, container);
}

bool audio_wave_save(AudioWave wave, Slice path) {
    if (wave.channels <= 0 || !wave.data || wave.size < 0) return false;
    SampleFormat written = sound_file_written_format(wave.format);
    int64_t frames = wave.size / audio_format_width(wave.format) / wave.channels;
    SoundFile file = {};
    if (!append_character(path)) return false;
    if (!sound_file_create(file, path.data, written, wave.channels, wave.sample_rate,
                           wave.size > sound_file_max_riff_data))
        return false;
    int64_t done = sound_file_write(file, wave.format, frames, wave.data);
    sound_file_close(file);
    return done >= 1;
}
