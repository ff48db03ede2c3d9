#include "driver/report.h"

#include <cstdio>

#include "driver/options.h"
#include "runtime/text/format.h"
#include "runtime/text/print.h"

namespace {

// Wide enough for any 64-bit number, so no digit is dropped; no padding is asked for.
constexpr int16_t full_width = 64;

}  // namespace

void report_header(int64_t word_count, int64_t seed) {
    FormatArgs args = {};
    args.args['a' - 'a'] = format_unsigned(static_cast<uint64_t>(word_count), decimal_base, full_width, false);
    args.args['b' - 'a'] = format_unsigned(static_cast<uint64_t>(seed), decimal_base, full_width, false);
    print_format(slice_literal("generating %a words\nseed %b\n----------\n"), args);
}

void report_frequencies(const int64_t (&tallies)[letter_count]) {
    print(slice_literal("frequencies\n-----------\n"));
    for (int k = 0; k < letter_count; ++k) {
        std::putchar('a' + k);
        print(slice_literal(": "));
        print_int(tallies[k], decimal_base, full_width, false);
        std::putchar('\n');
    }
}

void report_pause() {
    print(slice_literal("press enter to continue..."));
    // The prompt must show before the wait.
    (void)print_flush();
    for (;;) {
        int c = std::getchar();
        if (c == '\n' || c == EOF) return;
    }
}

void report_path_failure(Slice message, Slice path) {
    print(message);
    print(path);
    std::putchar('\n');
}

void report_word_too_long() { print(slice_literal("word too long for memory\n")); }
