// An argument list cut from the input at zero bytes: the option scanner must agree with
// an independent reading of the option rules and never read past an argument, and a
// run of the same list, with its word count and syllable range capped and its output
// path overridden, must give the status and the output file its options call for.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/options.h"
#include "driver/run.h"

namespace {

// Enough arguments for every option with its values several times over.
constexpr size_t max_arguments = 32;
// A run stays short: at most this many words of at most this many syllables. More
// than one batch of words, so a batch boundary is crossed. Only the upper ends are
// capped: a count never exceeds the range's top, however far below it the bottom lies.
constexpr int64_t max_run_words = 300;
constexpr int64_t max_run_syllables = 60;

// Where a run's words may go: the input picks one, never a path of its own.
enum Destination { to_stdout, to_scratch_file, to_missing_folder, to_full_device, destination_count };

// The process's own folder for the runs' files, removed at exit (a crash leaves it, with
// the input that caused it). Made once: a folder a run costs milliseconds.
std::string scratch_folder;

std::string destination_path(Destination destination) {
    switch (destination) {
        case to_scratch_file: return scratch_folder + "/words";
        case to_missing_folder: return scratch_folder + "/missing/words";
        case to_full_device: return "/dev/full";
        default: return "";  // "-o" with an empty value keeps standard output
    }
}

// The option rules, read again apart from the scanner.
int64_t reference_int(const std::string& text) {
    size_t i = 0;
    bool negative = !text.empty() && text[0] == '-';
    if (negative) i = 1;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    return static_cast<int64_t>(negative ? 0 - value : value);
}

struct Expected {
    RunOptions options;
    int64_t path_index;  // the argument taken as the output path, or -1
};

Expected reference_scan(const std::vector<std::string>& arguments, int64_t default_seed) {
    Expected e = {{default_word_count, default_min_syllables, default_max_syllables, default_seed, Slice{nullptr, 0},
                   false, false},
                  -1};
    size_t n = arguments.size();
    for (size_t i = 0; i < n; ++i) {
        const std::string& a = arguments[i];
        if (a.size() < 2 || a[0] != '-') continue;
        bool has_value = i + 1 < n;
        char letter = a[1];
        if (letter == 'f') e.options.show_frequencies = true;
        if (letter == 'p') e.options.pause_at_end = true;
        if (!has_value) continue;
        int64_t value = reference_int(arguments[i + 1]);
        if (letter == 'o') e.path_index = static_cast<int64_t>(i + 1);
        if (letter == 'w') e.options.word_count = value;
        if (letter == 'r') e.options.seed = value;
        if (letter == 's') {
            e.options.min_syllables = e.options.max_syllables = value;
            if (i + 2 < n && (arguments[i + 2].empty() || arguments[i + 2][0] != '-')) {
                e.options.max_syllables = reference_int(arguments[i + 2]);
            }
        }
    }
    return e;
}

// Each argument in a heap block of exactly its length, unterminated, so a read past it
// is an overflow the sanitizer sees.
struct Arguments {
    std::vector<Slice> items;
    explicit Arguments(const std::vector<std::string>& texts) {
        for (const std::string& t : texts) {
            char* bytes = static_cast<char*>(std::malloc(t.size()));
            if (!t.empty()) std::memcpy(bytes, t.data(), t.size());
            items.push_back(Slice{bytes, static_cast<int64_t>(t.size())});
        }
    }
    ~Arguments() {
        for (const Slice& s : items) std::free(const_cast<char*>(s.data));
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    SliceArray array() const { return SliceArray{items.empty() ? nullptr : const_cast<Slice*>(items.data()),
                                                 static_cast<int64_t>(items.size())}; }
};

// Scans `arguments`, made from `texts`, and checks the result against the reference;
// returns the options, whose path lies in `arguments`.
RunOptions scan_and_check(const std::vector<std::string>& texts, const Arguments& arguments, int64_t default_seed) {
    RunOptions got = scan_options(arguments.array(), default_seed);
    Expected want = reference_scan(texts, default_seed);
    for (size_t i = 0; i < texts.size(); ++i) {
        if (parse_int(arguments.items[i]) != reference_int(texts[i])) std::abort();
    }
    const RunOptions& w = want.options;
    if (got.word_count != w.word_count || got.min_syllables != w.min_syllables ||
        got.max_syllables != w.max_syllables || got.seed != w.seed ||
        got.show_frequencies != w.show_frequencies || got.pause_at_end != w.pause_at_end) {
        std::abort();
    }
    // The path is the argument itself, not a copy.
    Slice path = want.path_index < 0 ? Slice{nullptr, 0} : arguments.items[static_cast<size_t>(want.path_index)];
    if (got.output_path.data != path.data || got.output_path.length != path.length) std::abort();
    return got;
}

int64_t capped(int64_t value, int64_t most) { return std::min(value, most); }

std::string read_whole(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
    std::fclose(f);
    return out;
}

// The file holds one line per word, and with the report its letters are the tallies.
void check_words_file(const std::string& path, const RunOptions& options) {
    std::string words = read_whole(path);
    int64_t lines = std::count(words.begin(), words.end(), '\n');
    if (lines != std::max<int64_t>(options.word_count, 0) || (!words.empty() && words.back() != '\n')) std::abort();
    if (!options.show_frequencies) return;
    for (int k = 0; k < letter_count; ++k) {
        if (letter_tallies[k] != std::count(words.begin(), words.end(), static_cast<char>('a' + k))) std::abort();
    }
}

void run_and_check(std::vector<std::string> texts, const RunOptions& scanned, Destination destination) {
    // The last occurrence wins, so these settle the run's size and destination whatever
    // came before; a trailing option of the input may take the first of them as its value.
    std::string path = destination_path(destination);
    texts.insert(texts.end(), {"-w", std::to_string(capped(scanned.word_count, max_run_words)),
                               "-s", std::to_string(capped(scanned.min_syllables, max_run_syllables)),
                               std::to_string(capped(scanned.max_syllables, max_run_syllables)), "-o", path});
    Arguments arguments(texts);
    RunOptions options = scan_and_check(texts, arguments, 0);
    // The run must never be longer, or write anywhere else, than chosen here.
    const Slice& last = arguments.items.back();
    if (options.word_count > max_run_words || options.min_syllables > max_run_syllables ||
        options.max_syllables > max_run_syllables || options.output_path.data != last.data ||
        options.output_path.length != last.length) {
        std::abort();
    }
    int status = run(arguments.array());
    // An exact --help or --version anywhere answers alone: no word, no file.
    bool answers = std::any_of(texts.begin(), texts.end(),
                               [](const std::string& t) { return t == "--help" || t == "--version"; });
    if (answers != (find_info_request(arguments.array()) != InfoRequest::none)) std::abort();
    bool fails = !answers && (destination == to_missing_folder ||
                              (destination == to_full_device && options.word_count > 0));
    if (status != (fails ? exit_failure : exit_success)) std::abort();
    if (destination == to_scratch_file && !answers) check_words_file(path, options);
    // The file goes, and the folder must then be empty: a run writes nowhere else.
    unlink(destination_path(to_scratch_file).c_str());
    if (!std::filesystem::is_empty(scratch_folder)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The run's output is not the point, and a pause must end at once.
    if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "r", stdin)) std::abort();
    char pattern[] = "/tmp/options-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    scratch_folder = pattern;
    std::atexit([] { rmdir(scratch_folder.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> texts;
    const char* bytes = reinterpret_cast<const char*>(data);
    for (size_t start = 0; size > 0 && start <= size && texts.size() < max_arguments;) {
        const char* end = static_cast<const char*>(std::memchr(bytes + start, 0, size - start));
        size_t stop = end ? static_cast<size_t>(end - bytes) : size;
        texts.emplace_back(bytes + start, stop - start);
        start = stop + 1;
    }
    // The clock's place: any seed, taken from the input so it varies.
    int64_t default_seed = static_cast<int64_t>(size) * 7919;
    Arguments arguments(texts);
    RunOptions scanned = scan_and_check(texts, arguments, default_seed);
    // The input's own path chooses the destination, never names it.
    Destination destination = scanned.output_path.length > 0
        ? static_cast<Destination>(1 + scanned.output_path.length % (destination_count - 1))
        : to_stdout;
    run_and_check(texts, scanned, destination);
    return 0;
}
