// The letter-keyed format facility with records built from the input: every kind (and
// kinds past the last), any base, width, precision and value, slices over the input or
// null with any length. The first byte says whether the numeric fields are brought
// within the limits callers keep or taken as they come. Standard output goes to
// /dev/null: the sanitizers judge every run.
//
// Input: a mode byte, a byte that says how many records follow, then the records in
// letter order (a kind byte, then the fields of that kind), then the format text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/text/format.h"

namespace {

// Bases callers keep to, and the digit slots a float's width, precision and point share.
constexpr int16_t lowest_base = 2;
constexpr int16_t highest_base = 36;
constexpr int16_t float_digit_slots = 64;
// Widths of integers have no limit, but beyond a few hundred the padding only repeats.
constexpr int16_t widest_integer = 300;
// Mode bits.
constexpr uint8_t mode_within_limits = 0x01;
constexpr uint8_t mode_text_in_records = 0x02;

// Reads fixed-size fields from the input; zeros once it runs out.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;

    void take(void* out, size_t n) {
        std::memset(out, 0, n);
        size_t available = at < size ? size - at : 0;
        size_t copied = n < available ? n : available;
        if (copied > 0) std::memcpy(out, data + at, copied);
        at += n;
    }
    template <typename T>
    T next() {
        T value;
        take(&value, sizeof value);
        return value;
    }
    size_t left() const { return at < size ? size - at : 0; }
};

int16_t within(int16_t value, int16_t low, int16_t high) {
    int32_t span = high - low + 1;
    int32_t offset = (static_cast<int32_t>(value) % span + span) % span;
    return static_cast<int16_t>(low + offset);
}

// A slice over the rest of the input (any length up to it, or a negative one), or a
// null pointer with whatever length the input gives.
Slice next_slice(Reader& in) {
    uint8_t shape = in.next<uint8_t>();
    int64_t length = in.next<int64_t>();
    if (shape & 1) return Slice{nullptr, length};
    int64_t left = static_cast<int64_t>(in.left());
    if (length > left) length = left < 0 ? 0 : length % (left + 1);
    const char* start = reinterpret_cast<const char*>(in.data + (in.at < in.size ? in.at : in.size));
    if (length > 0) in.at += static_cast<size_t>(length);
    return Slice{start, length};
}

FormatArg next_record(Reader& in, bool within_limits) {
    FormatArg arg{};
    arg.kind = in.next<uint8_t>();
    switch (arg.kind) {
        case format_kind_signed:
        case format_kind_unsigned: {
            // Both payloads share one layout: value, base, width, padding.
            FormatSigned v{in.next<int64_t>(), in.next<int16_t>(), in.next<int16_t>(), in.next<uint8_t>()};
            if (within_limits) {
                v.base = within(v.base, lowest_base, highest_base);
                v.width = within(v.width, -2, widest_integer);
                v.zero_padding &= 1;
            }
            if (arg.kind == format_kind_signed) arg.as_signed = v;
            else arg.as_unsigned = FormatUnsigned{static_cast<uint64_t>(v.value), v.base, v.width, v.zero_padding};
            break;
        }
        case format_kind_float: {
            FormatFloat v{in.next<double>(),  in.next<int16_t>(), in.next<int16_t>(),
                          in.next<int16_t>(), in.next<uint8_t>(), in.next<uint8_t>()};
            if (within_limits) {
                v.base = within(v.base, lowest_base, highest_base);
                v.width = within(v.width, 0, float_digit_slots - 1);
                v.precision = within(v.precision, 0, static_cast<int16_t>(float_digit_slots - 1 - v.width));
                v.fill &= 1;
            }
            arg.as_float = v;
            break;
        }
        case format_kind_character: arg.character = in.next<uint8_t>(); break;
        case format_kind_slice: arg.slice = next_slice(in); break;
        default: break;
    }
    return arg;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size, 0};
    uint8_t mode = in.next<uint8_t>();
    bool within_limits = (mode & mode_within_limits) != 0;
    int records = in.next<uint8_t>() % (format_letters + 1);
    FormatArgs args = {};
    for (int k = 0; k < records; ++k) args.args[k] = next_record(in, within_limits);
    // The text is the rest of the input; with mode_text_in_records it starts over the
    // records' own bytes instead, so texts and fields come from the same bytes.
    size_t records_start = size < 2 ? size : 2;
    size_t text_start = (mode & mode_text_in_records) ? records_start : (in.at < size ? in.at : size);
    Slice format{reinterpret_cast<const char*>(data + text_start), static_cast<int64_t>(size - text_start)};
    print_format(format, args);
    // A null text, and a text with a negative length, print nothing and read nothing.
    print_format(Slice{nullptr, format.length}, args);
    print_format(Slice{format.data, -format.length - 1}, args);
    return 0;
}
