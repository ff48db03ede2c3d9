// The letter-keyed format facility: print_format copies a format text to standard output
// and replaces each '%' and lowercase letter with the record filed under that letter.
// Owns the argument records' layout; keeps no state.
#pragma once

#include <cstdint>

#include "runtime/text/slice.h"

enum FormatKind : uint8_t {
    format_kind_signed = 0,     // print_int
    format_kind_unsigned = 1,   // print_uint
    format_kind_float = 2,      // print_float
    format_kind_character = 3,  // the byte itself
    format_kind_slice = 4,      // print
    // 5 to 255 print nothing.
};

struct FormatSigned {
    int64_t value;
    int16_t base;
    int16_t width;
    uint8_t zero_padding;
};

struct FormatUnsigned {
    uint64_t value;
    int16_t base;
    int16_t width;
    uint8_t zero_padding;
};

struct FormatFloat {
    double value;
    int16_t base;
    int16_t width;         // integer digits
    int16_t precision;     // fraction digits
    uint8_t fill;
    uint8_t pad_selector;  // 0 pads with '0', anything else with ' '
};

struct FormatArg {
    uint8_t kind;  // a FormatKind; the member below that it names is the one in use
    union {
        FormatSigned as_signed;
        FormatUnsigned as_unsigned;
        FormatFloat as_float;
        uint8_t character;
        Slice slice;
    };
};

inline constexpr int format_letters = 26;

// One record per letter: args[k] is printed for "%" followed by 'a' + k. A zeroed record
// (kind 0, base 0, width 0) prints nothing.
struct FormatArgs {
    FormatArg args[format_letters];
};

inline FormatArg format_signed(int64_t value, int16_t base, int16_t width, bool zero_padding) {
    FormatArg arg{};
    arg.kind = format_kind_signed;
    arg.as_signed = FormatSigned{value, base, width, zero_padding};
    return arg;
}

inline FormatArg format_unsigned(uint64_t value, int16_t base, int16_t width, bool zero_padding) {
    FormatArg arg{};
    arg.kind = format_kind_unsigned;
    arg.as_unsigned = FormatUnsigned{value, base, width, zero_padding};
    return arg;
}

inline FormatArg format_float(double value, int16_t base, int16_t width, int16_t precision, bool fill,
                              uint8_t pad_selector) {
    FormatArg arg{};
    arg.kind = format_kind_float;
    arg.as_float = FormatFloat{value, base, width, precision, fill, pad_selector};
    return arg;
}

inline FormatArg format_character(char byte) {
    FormatArg arg{};
    arg.kind = format_kind_character;
    arg.character = static_cast<uint8_t>(byte);
    return arg;
}

inline FormatArg format_slice(Slice text) {
    FormatArg arg{};
    arg.kind = format_kind_slice;
    arg.slice = text;
    return arg;
}

// Writes `format` with every "%x" (x from 'a' to 'z') replaced by record x. A '%' before
// any other byte swallows both; a '%' at the very end is dropped. There is no literal '%'.
void print_format(Slice format, const FormatArgs& args);
