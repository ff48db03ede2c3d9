#include "driver/report.h"

#include <cstdio>

#include "driver/options.h"
#include "runtime/text/format.h"
#include "runtime/text/print.h"

namespace {

// Wide enough for any 64-bit number, so no digit is dropped; no padding is asked for.
constexpr int16_t full_width = 64;

}  // namespace

// The build names the version once, from the project's own; nothing here repeats it.
#ifndef WORDGEN_VERSION
#error "WORDGEN_VERSION must be defined by the build"
#endif

void report_usage() {
    print(slice_literal(
        "usage: wordgen [-w count] [-s min [max]] [-r seed] [-o file] [-f] [-p]\n"
        "Prints pronounceable random pseudo-words; the same seed and options give the same words.\n"
        "\n"
        "  -w count      number of words (default 64)\n"
        "  -s min [max]  syllables per word, exactly min without max (default 1 to 5)\n"
        "  -r seed       seed of the generator (default: the clock)\n"
        "  -o file       write the words to file (default: standard output)\n"
        "  -f            then print how often each letter was produced (default: off)\n"
        "  -p            then wait for Enter (default: off)\n"
        "  --help        print this text\n"
        "  --version     print the version\n"
        "\n"
        "example: wordgen -r 42 -w 5\n"
        "see wordgen(1) for how options are read\n"));
}

void report_version() { print(slice_literal("wordgen " WORDGEN_VERSION "\n")); }

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
