#include "runtime/text/format.h"

#include <cstdio>

#include "runtime/text/print.h"

namespace {

void print_arg(const FormatArg& arg) {
    switch (arg.kind) {
        case format_kind_signed: {
            const FormatSigned& v = arg.as_signed;
            print_int(v.value, v.base, v.width, v.zero_padding != 0);
            break;
        }
        case format_kind_unsigned: {
            const FormatUnsigned& v = arg.as_unsigned;
            print_uint(v.value, v.base, v.width, v.zero_padding != 0);
            break;
        }
        case format_kind_float: {
            const FormatFloat& v = arg.as_float;
            print_float(v.value, v.base, v.width, v.precision, v.fill != 0, v.pad_selector);
            break;
        }
        case format_kind_character: std::putchar(arg.character); break;
        case format_kind_slice: print(arg.slice); break;
        default: break;
    }
}

}  // namespace

void print_format(Slice format, const FormatArgs& args) {
    if (!format.data) return;
    int64_t plain_start = 0;
    for (int64_t i = 0; i < format.length; ++i) {
        if (format.data[i] != '%') continue;
        print(Slice{format.data + plain_start, i - plain_start});
        if (i + 1 < format.length) {
            // One unsigned compare range-checks the letter before it indexes.
            unsigned letter = static_cast<unsigned char>(format.data[i + 1]) - 'a';
            if (letter < format_letters) print_arg(args.args[letter]);
            ++i;
        }
        plain_start = i + 1;
    }
    if (plain_start < format.length) print(Slice{format.data + plain_start, format.length - plain_start});
}
