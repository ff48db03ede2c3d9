#include "driver/run.h"

#include <algorithm>
#include <cstring>

#include "driver/arena.h"
#include "driver/options.h"
#include "runtime/system/file.h"
#include "runtime/system/system.h"
#include "runtime/text/print.h"
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
    // Spare bytes past the capacity let a short word arrive as whole arena lanes.
    char buffer[sink_capacity + arena_slack];
};

WordSink sink;

constexpr int byte_values = 256;
// Interleaved counters, so a run of one letter does not wait on its own increments.
constexpr int tally_ways = 4;

// Counts the letters a to z; line feeds and any other byte are left out. Every byte is
// counted without a test, and only the letters are kept.
void tally(const char* bytes, int64_t count) {
    uint32_t counts[tally_ways][byte_values] = {};
    const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes);
    int64_t i = 0;
    for (; i + tally_ways <= count; i += tally_ways) {
        for (int way = 0; way < tally_ways; ++way) ++counts[way][in[i + way]];
    }
    for (; i < count; ++i) ++counts[0][in[i]];
    for (int k = 0; k < letter_count; ++k) {
        for (int way = 0; way < tally_ways; ++way) letter_tallies[k] += counts[way]['a' + k];
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
    tally(sink.buffer, sink.used);
    sink_write(sink.buffer, sink.used);
    sink.used = 0;
}

// The word and its line feed.
void sink_put_line(Slice word) {
    if (word.length + 1 > sink_capacity - sink.used) {
        sink_flush();
        if (word.length + 1 > sink_capacity) {
            tally(word.data, word.length);
            sink_write(word.data, word.length);
            sink_write("\n", 1);
            return;
        }
    }
    char* out = sink.buffer + sink.used;
    if (word.length == 0) {
        // An empty word is just its line feed.
    } else if (word.data == concat_arena.last && word.length <= arena_slack) {
        // The arena's latest copy is readable for arena_slack bytes: move whole lanes.
        std::memcpy(out, word.data, arena_slack);
    } else {
        std::memcpy(out, word.data, static_cast<size_t>(word.length));
    }
    out[word.length] = '\n';
    sink.used += word.length + 1;
}

enum class WordsResult { written, sink_failed, word_too_long };

WordsResult generate_words(const RunOptions& options) {
    for (int64_t i = 0; i < options.word_count && !sink.failed; ++i) {
        Slice word = make_word(options.min_syllables, options.max_syllables);
        if (concat_arena.exhausted) {
            sink_flush();
            return WordsResult::word_too_long;
        }
        sink_put_line(word);
        arena_release_word();
    }
    sink_flush();
    return sink.failed ? WordsResult::sink_failed : WordsResult::written;
}

void reset_run_state() {
    std::fill_n(letter_tallies, letter_count, 0);
    random_state = {};
    sink.file = nullptr;
    sink.used = 0;
    sink.failed = false;
}

// Steps 7 and 8 of a run: the words, to standard output or the output file.
int write_words(const RunOptions& options) {
    bool to_file = options.output_path.length > 0;
    if (to_file) {
        sink.file = file_open(options.output_path, file_mode_write);
        if (file_failed(sink.file)) {
            report_path_failure(slice_literal("could not open file: "), options.output_path);
            return exit_failure;
        }
    }
    WordsResult result = generate_words(options);
    if (to_file && file_close(sink.file) != 0) result = WordsResult::sink_failed;
    sink.file = nullptr;
    if (result == WordsResult::word_too_long) {
        print(slice_literal("word too long for memory\n"));
        return exit_failure;
    }
    if (result == WordsResult::sink_failed) {
        if (to_file) report_path_failure(slice_literal("could not write file: "), options.output_path);
        return exit_failure;
    }
    return exit_success;
}

int finish(int status) {
    arena_close();
    // Whatever else happened, output that never arrived is a failure.
    if (!print_flush()) return exit_failure;
    return status;
}

}  // namespace

int run(SliceArray arguments) {
    reset_run_state();
    if (!arena_open()) {
        print(slice_literal("word too long for memory\n"));
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
