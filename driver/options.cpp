#include "driver/options.h"

#include <cstring>

namespace {

bool is_option(Slice argument) { return argument.length >= 2 && argument.data[0] == '-'; }

// The argument at `index`, or null past the end.
const Slice* argument_at(SliceArray arguments, int64_t index) {
    return index < arguments.count ? &arguments.items[index] : nullptr;
}

bool same_bytes(Slice argument, Slice text) {
    return argument.length == text.length && std::memcmp(argument.data, text.data, static_cast<size_t>(text.length)) == 0;
}

}  // namespace

int64_t parse_int(Slice text) {
    if (text.length <= 0) return 0;
    int64_t i = 0;
    bool negative = text.data[0] == '-';
    if (negative) {
        if (text.length == 1) return 0;
        i = 1;
    }
    uint64_t value = 0;  // unsigned, so overflow wraps as two's complement
    for (; i < text.length; ++i) {
        unsigned digit = static_cast<unsigned char>(text.data[i]) - '0';
        if (digit >= decimal_base) break;
        value = value * decimal_base + digit;
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

InfoRequest find_info_request(SliceArray arguments) {
    for (int64_t i = 0; i < arguments.count; ++i) {
        if (same_bytes(arguments.items[i], slice_literal("--help"))) return InfoRequest::help;
        if (same_bytes(arguments.items[i], slice_literal("--version"))) return InfoRequest::version;
    }
    return InfoRequest::none;
}

RunOptions scan_options(SliceArray arguments, int64_t default_seed) {
    RunOptions options = {default_word_count, default_min_syllables, default_max_syllables,
                          default_seed, Slice{nullptr, 0}, false, false};
    for (int64_t i = 0; i < arguments.count; ++i) {
        Slice argument = arguments.items[i];
        if (!is_option(argument)) continue;
        const Slice* value = argument_at(arguments, i + 1);
        switch (argument.data[1]) {
            case 'o':
                if (value) options.output_path = *value;
                break;
            case 'w':
                if (value) options.word_count = parse_int(*value);
                break;
            case 'r':
                if (value) options.seed = parse_int(*value);
                break;
            case 's': {
                if (!value) break;
                options.min_syllables = options.max_syllables = parse_int(*value);
                // A second value counts unless it looks like an option; an empty one counts.
                const Slice* second = argument_at(arguments, i + 2);
                if (second && !(second->length > 0 && second->data[0] == '-')) {
                    options.max_syllables = parse_int(*second);
                }
                break;
            }
            case 'f': options.show_frequencies = true; break;
            case 'p': options.pause_at_end = true; break;
            default: break;
        }
    }
    return options;
}
