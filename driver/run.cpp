#include "driver/run.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>

#include "driver/options.h"
#include "runtime/system/file.h"
#include "runtime/system/system.h"
#include "runtime/text/print.h"
#include "synthesis/arena.h"
#include "synthesis/random.h"
#include "synthesis/word.h"

int64_t letter_tallies[letter_count];

namespace {

// Words leave in blocks of this size: large writes, yet small enough to stay in cache.
constexpr int64_t sink_capacity = 64 * 1024;

// Where the words go: standard output or the output file, through one block buffer.
// `failed` is sticky: once a write falls short, nothing more is written.
struct WordSink {
    File* file;  // null: standard output
    int64_t used;
    bool failed;
    bool tallied;  // letters are counted only when the report will read them
    char buffer[sink_capacity];
};

WordSink sink;

#if defined(__SSE2__)
// Letters counted side by side in one pass: their counters and the chunk fit the 16
// vector registers, so nothing spills. Four passes cover a to z.
constexpr int letters_per_pass = 8;
// Byte counters may take 255 chunks before they must be emptied.
constexpr int64_t chunks_per_round = 255;
constexpr int64_t chunk_bytes = 16;

// Counts the `n` letters from `first` in whole 16-byte chunks; returns the bytes done.
template <int N>
int64_t tally_pass(const char* bytes, int64_t count, int first) {
    __m128i counts[N];
    __m128i letters[N];
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) {
        counts[k] = _mm_setzero_si128();
        letters[k] = _mm_set1_epi8(static_cast<char>('a' + first + k));
    }
    int64_t chunks = count / chunk_bytes;
    for (int64_t done = 0; done < chunks;) {
        int64_t round_end = std::min(chunks, done + chunks_per_round);
        for (; done < round_end; ++done) {
            __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + done * chunk_bytes));
            // A match is all ones, -1: subtracting it counts one. Unrolled, so the
            // counters live in registers.
#pragma GCC unroll 8
            for (int k = 0; k < N; ++k) counts[k] = _mm_sub_epi8(counts[k], _mm_cmpeq_epi8(chunk, letters[k]));
        }
#pragma GCC unroll 8
        for (int k = 0; k < N; ++k) {
            __m128i sums = _mm_sad_epu8(counts[k], _mm_setzero_si128());
            letter_tallies[first + k] += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
            counts[k] = _mm_setzero_si128();
        }
    }
    return chunks * chunk_bytes;
}
#endif

// Counts the letters a to z; line feeds and any other byte are left out. Compares whole
// chunks against several letters at once, rather than bumping counters byte by byte.
void tally(const char* bytes, int64_t count) {
    int64_t done = 0;
#if defined(__SSE2__)
    constexpr int last_pass = letter_count - 3 * letters_per_pass;
    tally_pass<letters_per_pass>(bytes, count, 0);
    tally_pass<letters_per_pass>(bytes, count, letters_per_pass);
    tally_pass<letters_per_pass>(bytes, count, 2 * letters_per_pass);
    done = tally_pass<last_pass>(bytes, count, 3 * letters_per_pass);
#endif
    for (int64_t i = done; i < count; ++i) {
        // One unsigned compare keeps everything but a to z out.
        unsigned letter = static_cast<unsigned char>(bytes[i]) - 'a';
        if (letter < letter_count) ++letter_tallies[letter];
    }
}

void sink_write(const char* bytes, int64_t count) {
    if (sink.failed || count <= 0) return;
    uint64_t size = static_cast<uint64_t>(count);
    uint64_t written = sink.file ? file_write(sink.file, size, bytes) : static_cast<uint64_t>(print(Slice{bytes, count}));
    if (written != size) sink.failed = true;
}

// Tallies the block's letters as it leaves: the same count as word by word, in one pass.
void sink_flush() {
    if (sink.tallied) tally(sink.buffer, sink.used);
    sink_write(sink.buffer, sink.used);
    sink.used = 0;
}

// A word and its line feed, for a word that word assembly could not place in the buffer.
void sink_put_line(Slice word) {
    if (word.length + 1 > sink_capacity - sink.used) {
        sink_flush();
        if (word.length + 1 > sink_capacity) {
            if (sink.tallied) tally(word.data, word.length);
            sink_write(word.data, word.length);
            sink_write("\n", 1);
            return;
        }
    }
    char* out = sink.buffer + sink.used;
    if (word.length > 0) std::memcpy(out, word.data, static_cast<size_t>(word.length));
    out[word.length] = '\n';
    sink.used += word.length + 1;
}

// Words are made straight into the sink's buffer; the buffer leaves when the next word might
// not fit, and a long word that did not fit follows it on its own. Stops at the first word
// that memory cannot hold or the first failed write. False when a word could not be held; a
// failed write shows in the sink's own flag, so both can be reported.
bool generate_words(const RunOptions& options) {
    for (int64_t left = options.word_count; left > 0 && !sink.failed;) {
        WordLines lines = make_word_lines(options.min_syllables, options.max_syllables, left,
                                          sink.buffer + sink.used, sink_capacity - sink.used);
        sink.used += lines.bytes;
        left -= lines.words;
        if (lines.too_long) {
            sink_flush();
            return false;
        }
        if (lines.holding) {
            sink_put_line(lines.held);
            arena_release_word();
        } else if (left > 0) {
            sink_flush();
        }
    }
    sink_flush();
    return true;
}

void reset_run_state() {
    std::fill_n(letter_tallies, letter_count, 0);
    random_state = {};
    sink.file = nullptr;
    sink.used = 0;
    sink.failed = false;
    sink.tallied = false;
}

// The words, to standard output or the output file. Every failure met on the way gets
// its own line, so one cannot hide another; a failed standard output has no line of its
// own, since the line could not be shown, and shows in the status only.
int write_words(const RunOptions& options) {
    sink.tallied = options.show_frequencies;
    bool to_file = options.output_path.length > 0;
    if (to_file) {
        sink.file = file_open(options.output_path, file_mode_write);
        if (file_failed(sink.file)) {
            report_path_failure(slice_literal("could not open file: "), options.output_path);
            return exit_failure;
        }
        // The header is still buffered; it must come out before any word reaches the file,
        // which may be standard output itself (-o /dev/stdout). A failed flush stays in
        // print's sticky flag and shows in the exit status.
        (void)print_flush();
    }
    bool held = generate_words(options);
    // Closing flushes the file's last bytes: a failure then is a failed write like any other.
    if (to_file && file_close(sink.file) != 0) sink.failed = true;
    sink.file = nullptr;
    int status = exit_success;
    if (sink.failed) {
        if (to_file) report_path_failure(slice_literal("could not write file: "), options.output_path);
        status = exit_failure;
    }
    if (!held) {
        report_word_too_long();
        status = exit_failure;
    }
    return status;
}

int finish(int status) {
    arena_close();
    // Whatever else happened, output that never arrived is a failure.
    if (!print_flush()) return exit_failure;
    return status;
}

}  // namespace

int run(SliceArray arguments) {
    // Asking what the program is must neither draw nor open anything.
    InfoRequest request = find_info_request(arguments);
    if (request != InfoRequest::none) {
        if (request == InfoRequest::help) {
            report_usage();
        } else {
            report_version();
        }
        return print_flush() ? exit_success : exit_failure;
    }
    reset_run_state();
    if (!arena_open()) {
        report_word_too_long();
        return finish(exit_failure);
    }
    int64_t clock_seed = system_time();
    RunOptions options = scan_options(arguments, clock_seed);
    seed_random(static_cast<uint64_t>(options.seed));
    report_header(options.word_count, options.seed);
    int status = write_words(options);
    if (status != exit_success) return finish(status);
    if (options.show_frequencies) report_frequencies(letter_tallies);
    if (options.pause_at_end) report_pause();
    return finish(exit_success);
}
