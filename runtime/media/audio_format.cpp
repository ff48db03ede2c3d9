#include "runtime/media/audio_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>

// Samples are little-endian and are read as native integers.
static_assert(std::endian::native == std::endian::little);

namespace {

// Samples go through the conversion in runs of this many: a run whose output does not
// overlap its input is converted directly (the vectorised kernel may then assume no
// aliasing); the one or two runs at the start of the buffer, where input and output
// overlap, are first copied to a local array of this size, which fits the first-level cache.
constexpr int64_t run_samples = 2048;
// Most samples a conversion takes: their bytes in the widest format (4 each), and every
// offset computed on the way, still fit 64 bits.
constexpr int64_t max_convert_samples = INT64_MAX / 4;

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

// IEEE single-precision bit patterns used by the float clamps.
constexpr uint32_t float_magnitude_mask = 0x7FFFFFFF;
constexpr uint32_t float_infinity_bits = 0x7F800000;  // larger magnitudes are NaN
constexpr uint32_t float_one_bits = 0x3F800000;

// x * M truncated toward zero for an 8- or 16-bit result, x clamped to -1..1 and NaN
// taken as 0. The product is exact in double precision for these widths, and the same
// truncation can be had in single precision, with four lanes per vector instead of two:
// M = 2^k - 1, so with a = |x| * 2^k (exact), n its whole part and f = a - n (exact),
// trunc(|x| * M) = n - (f < |x| ? 1 : 0). The clamps work on the bits so that the
// vectoriser sees no branches.
template <int Width>
inline int32_t scale_float_narrow(float x) {
    constexpr float power = static_cast<float>(uint32_t{1} << (8 * Width - 1));
    auto bits = std::bit_cast<uint32_t>(x);
    uint32_t magnitude = bits & float_magnitude_mask;
    magnitude &= 0u - static_cast<uint32_t>(magnitude <= float_infinity_bits);
    magnitude = std::min(magnitude, float_one_bits);
    float ax = std::bit_cast<float>(magnitude);
    float a = ax * power;
    auto whole = static_cast<int32_t>(a);
    float fraction = a - static_cast<float>(whole);
    int32_t r = whole - static_cast<int32_t>(fraction < ax);
    int32_t negative = -static_cast<int32_t>(bits >> 31);
    return (r ^ negative) - negative;
}

// The same for 32-bit results, where the double product rounds and must be kept.
// Clamping the product rather than the sample gives the same result (the scaling is
// monotonic and exact at +-1) and keeps the loop free of branches.
inline int32_t scale_float_wide(float x) {
    constexpr double m = full_scale<4>;
    double d = static_cast<double>(x) * m;
    d = d == d ? d : 0.0;
    d = d < m ? d : m;
    d = d > -m ? d : -m;
    return static_cast<int32_t>(d);
}

template <int From, int To>
inline Sample<To> convert_one(Sample<From> in) {
    constexpr int ws = width_of(From);
    constexpr int wt = width_of(To);
    if constexpr (is_float(From)) {
        // Clamped so a loud sample saturates instead of wrapping into a click (and the
        // cast to integer stays defined).
        int32_t v = wt == 4 ? scale_float_wide(in) : scale_float_narrow<wt>(in);
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

// Samples are moved with memcpy: wave buffers need not be aligned to their sample size.
template <int From, int To>
[[gnu::always_inline]] inline void run_loop(const unsigned char* __restrict in,
                                            unsigned char* __restrict out, int64_t n) {
    using In = Sample<From>;
    using Out = Sample<To>;
    for (int64_t i = 0; i < n; ++i) {
        In x;
        std::memcpy(&x, in + i * sizeof(In), sizeof(In));
        Out y = convert_one<From, To>(x);
        std::memcpy(out + i * sizeof(Out), &y, sizeof(Out));
    }
}

// Same width: each sample is rewritten where it lies.
template <int From, int To>
[[gnu::always_inline]] inline void in_place_loop(unsigned char* data, int64_t n) {
    using In = Sample<From>;
    using Out = Sample<To>;
    static_assert(sizeof(In) == sizeof(Out));
    for (int64_t i = 0; i < n; ++i) {
        In x;
        std::memcpy(&x, data + i * sizeof(In), sizeof(In));
        Out y = convert_one<From, To>(x);
        std::memcpy(data + i * sizeof(Out), &y, sizeof(Out));
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same loops are also built for AVX2, chosen at run time when the processor has it:
// eight lanes instead of four, and the unsigned minimum and packing instructions that
// the x86-64 baseline (SSE2) lacks. Float to 8-bit conversion needs them to keep up
// with memory.
bool cpu_has_avx2() {
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
    return has;
}

template <int From, int To>
[[gnu::target("avx2")]] void run_avx2(const unsigned char* __restrict in,
                                      unsigned char* __restrict out, int64_t n) {
    run_loop<From, To>(in, out, n);
}

template <int From, int To>
[[gnu::target("avx2")]] void in_place_avx2(unsigned char* data, int64_t n) {
    in_place_loop<From, To>(data, n);
}
#else
constexpr bool cpu_has_avx2() { return false; }

template <int From, int To>
void run_avx2(const unsigned char*, unsigned char*, int64_t) {}

template <int From, int To>
void in_place_avx2(unsigned char*, int64_t) {}
#endif

template <int From, int To>
void convert_run(const unsigned char* __restrict in, unsigned char* __restrict out, int64_t n) {
    if (cpu_has_avx2()) run_avx2<From, To>(in, out, n);
    else run_loop<From, To>(in, out, n);
}

template <int From, int To>
void convert_in_place(unsigned char* data, int64_t n) {
    if (cpu_has_avx2()) in_place_avx2<From, To>(data, n);
    else in_place_loop<From, To>(data, n);
}

template <int From, int To>
void convert_part(unsigned char* data, int64_t first, int64_t n) {
    constexpr int64_t ws = width_of(From);
    constexpr int64_t wt = width_of(To);
    unsigned char* in = data + first * ws;
    unsigned char* out = data + first * wt;
    bool disjoint = (first + n) * wt <= first * ws || (first + n) * ws <= first * wt;
    if (disjoint) return convert_run<From, To>(in, out, n);
    unsigned char staged[run_samples * ws];
    std::memcpy(staged, in, static_cast<size_t>(n * ws));
    convert_run<From, To>(staged, out, n);
}

// Narrower outputs go front to back, wider ones back to front, so no sample is
// overwritten before it has been read.
template <int From, int To>
void convert_samples(unsigned char* data, int64_t count) {
    if constexpr (width_of(To) == width_of(From)) {
        convert_in_place<From, To>(data, count);
    } else if constexpr (width_of(To) < width_of(From)) {
        for (int64_t first = 0; first < count; first += run_samples)
            convert_part<From, To>(data, first, std::min(run_samples, count - first));
    } else {
        for (int64_t end = count; end > 0; end -= run_samples) {
            int64_t first = std::max<int64_t>(0, end - run_samples);
            convert_part<From, To>(data, first, end - first);
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

bool audio_format_byte_count(int64_t frames, int64_t channels, int64_t width, int64_t& bytes) {
    if (frames < 0 || channels < 0 || width < 0) return false;
    if (channels != 0 && width != 0 && frames > INT64_MAX / channels / width) return false;
    bytes = frames * channels * width;
    return true;
}

SampleFormat audio_format_written(SampleFormat format) {
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

void audio_format_convert(SampleFormat from, SampleFormat to, int64_t samples, void* data) {
    if (from == to || from >= sample_format_count || to >= sample_format_count) return;
    if (!data || samples <= 0 || samples > max_convert_samples) return;
    converters[from][to](static_cast<unsigned char*>(data), samples);
}
