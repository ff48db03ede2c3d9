// Words per second of the whole program, beside two other generators measured in the
// same run, and the program's peak memory. Run from the build folder:
//   ./bench/run_bench
// To compare with another build of wordgen (an older revision, say, built in /tmp), name
// it in WORDGEN_BASELINE; the BM_AgainstBaseline cases then run the two alternately:
//   WORDGEN_BASELINE=/tmp/old/build/wordgen nice -n -5 ./bench/run_bench --benchmark_filter=Baseline
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"

#include "synthesis/arena.h"
#include "synthesis/random.h"
#include "synthesis/word.h"

namespace {

constexpr int64_t wordgen_words = 20000000;
constexpr int64_t pwgen_words = 1000000;
constexpr int64_t apg_words = 100000;
constexpr int64_t in_process_words = 1000000;

struct Finished {
    bool ran;
    double peak_kib;
    double cpu_seconds;   // user and system time of the child
    double wall_seconds;
};

double seconds_of(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// Runs `program` with `arguments`, its output thrown away; waits and reads its peak RSS
// and its times.
Finished run_quietly(const std::string& program, const std::vector<std::string>& arguments) {
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0) return {false, 0, 0, 0};
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, static_cast<double>(usage.ru_maxrss),
            seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime), wall.count()};
}

void measure_command(benchmark::State& state, const std::string& program, const std::vector<std::string>& arguments,
                     int64_t words) {
    double peak = 0;
    for (auto _ : state) {
        Finished finished = run_quietly(program, arguments);
        if (!finished.ran) {
            state.SkipWithError((program + " did not run (is it installed?)").c_str());
            return;
        }
        peak = std::max(peak, finished.peak_kib);
    }
    state.SetItemsProcessed(state.iterations() * words);
    state.counters["peak_KiB"] = peak;
}

void BM_Wordgen(benchmark::State& state) {
    measure_command(state, WORDGEN_BINARY, {"-r", "1", "-w", std::to_string(wordgen_words)}, wordgen_words);
}

void BM_Pwgen(benchmark::State& state) {
    measure_command(state, "pwgen", {"-1", "-A", "-0", "8", std::to_string(pwgen_words)}, pwgen_words);
}

void BM_Apg(benchmark::State& state) {
    measure_command(state, "apg", {"-a", "0", "-n", std::to_string(apg_words), "-M", "l"}, apg_words);
}

// ---- Against a baseline build -------------------------------------------------------
// This machine is shared and its speed drifts by up to 1.5 times between runs, so only a
// ratio measured in one run means anything. The two binaries take turns, the first of
// each pair alternating, and the medians of their CPU times (user and system: what other
// processes do to the wall clock stays out) make the ratio; the wall-clock ratio is shown
// beside it.

constexpr int baseline_rounds = 7;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_AgainstBaseline(benchmark::State& state, std::vector<std::string> arguments, int64_t words) {
    const char* baseline = std::getenv("WORDGEN_BASELINE");
    if (!baseline) {
        state.SkipWithError("set WORDGEN_BASELINE to the wordgen to compare with");
        return;
    }
    const std::string programs[2] = {baseline, WORDGEN_BINARY};
    std::vector<double> cpu[2], wall[2];
    double peak[2] = {0, 0};
    for (auto _ : state) {
        for (int round = 0; round < baseline_rounds; ++round) {
            for (int turn = 0; turn < 2; ++turn) {
                int which = (round + turn) % 2;
                Finished finished = run_quietly(programs[which], arguments);
                if (!finished.ran) {
                    state.SkipWithError((programs[which] + " did not run").c_str());
                    return;
                }
                cpu[which].push_back(finished.cpu_seconds);
                wall[which].push_back(finished.wall_seconds);
                peak[which] = std::max(peak[which], finished.peak_kib);
            }
        }
    }
    double words_per_cpu_second[2], words_per_wall_second[2];
    for (int which = 0; which < 2; ++which) {
        words_per_cpu_second[which] = static_cast<double>(words) / median(cpu[which]);
        words_per_wall_second[which] = static_cast<double>(words) / median(wall[which]);
    }
    state.counters["old_Mwords/s"] = words_per_cpu_second[0] / 1e6;
    state.counters["new_Mwords/s"] = words_per_cpu_second[1] / 1e6;
    state.counters["ratio"] = words_per_cpu_second[1] / words_per_cpu_second[0];
    state.counters["wall_ratio"] = words_per_wall_second[1] / words_per_wall_second[0];
    state.counters["old_peak_KiB"] = peak[0];
    state.counters["new_peak_KiB"] = peak[1];
}

// The command, three fixed ranges, the report, and a file (writing a file costs
// the disk more than the program, so fewer words keep that run short).
int register_baseline_cases() {
    const std::string words = std::to_string(wordgen_words);
    constexpr int64_t file_words = 5000000;
    struct Case {
        std::string name;
        std::vector<std::string> arguments;
        int64_t words;
    };
    const Case cases[] = {
        {"default_range", {"-r", "1", "-w", words}, wordgen_words},
        {"s_1_1", {"-r", "1", "-w", words, "-s", "1", "1"}, wordgen_words},
        {"s_3_3", {"-r", "1", "-w", words, "-s", "3", "3"}, wordgen_words},
        {"s_1_16", {"-r", "1", "-w", words, "-s", "1", "16"}, wordgen_words},
        {"report_f", {"-r", "1", "-w", words, "-f"}, wordgen_words},
        {"file_o", {"-r", "1", "-w", std::to_string(file_words), "-o", scratch_file("words.txt")}, file_words},
    };
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark(("BM_AgainstBaseline/" + c.name).c_str(), BM_AgainstBaseline, c.arguments, c.words)
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    }
    return 0;
}

const int baseline_cases = register_baseline_cases();

// The rules followed word for word, as a yardstick for this machine: every weighted
// choice walks its table and divides by a total known only at run time, every join
// copies byte by byte, and every letter is cleaned in its own step.
Slice literal_join(Slice a, Slice b) {
    if (b.length == 0) return a;
    if (a.length == 0) return b;
    int64_t offset = (concat_arena.position + arena_alignment - 1) & ~(arena_alignment - 1);
    char* out = concat_arena.base + offset;
    for (int64_t i = 0; i < a.length; ++i) out[i] = a.data[i];
    for (int64_t i = 0; i < b.length; ++i) out[a.length + i] = b.data[i];
    concat_arena.position = offset + a.length + b.length;
    return Slice{out, a.length + b.length};
}

Slice literal_entry(const WeightedTable& table) { return table.entries[pick_weighted(table.weights, table.count)]; }

Slice literal_word(int64_t min_syllables, int64_t max_syllables) {
    int64_t count = min_syllables;
    if (min_syllables < max_syllables) {
        count += static_cast<int64_t>(random_below(static_cast<uint64_t>(max_syllables - min_syllables) + 1));
    }
    bool first_without_onset = random_below(3) == 0;
    bool with_coda = random_below(3) == 0;
    Slice coda = with_coda ? literal_entry(coda_table) : Slice{nullptr, 0};
    Slice word = {nullptr, 0};
    for (int64_t j = 0; j < count; ++j) {
        Slice onset = j == 0 && first_without_onset ? Slice{nullptr, 0} : literal_entry(onset_table);
        int64_t kind = pick_weighted(nucleus_kind_table.weights, nucleus_kind_table.count);
        Slice nucleus = literal_entry(kind % 2 == 0 ? vowel_table_a : vowel_table_e);
        if (kind >= 2) nucleus = literal_join(nucleus, literal_entry(kind == 2 ? tail_table_a : tail_table_e));
        word = literal_join(literal_join(word, onset), nucleus);
    }
    word = literal_join(word, coda);
    word = literal_join(word, Slice{" ", 1});  // always a copy of its own to clean
    char* letters = const_cast<char*>(word.data);
    char previous = 0;
    int64_t kept = 0;
    for (int64_t i = 0; i + 1 < word.length; ++i) {
        char letter = letters[i];
        if (letter == previous) continue;
        previous = letter;
        letters[kept++] = letter;
        if ((letter == 's' || letter == 'k') && random_below(64) == 0) letters[kept - 1] = letter == 's' ? 'c' : 'q';
    }
    return Slice{letters, kept};
}

// Words made in the process by `make`, without output.
template <Slice (*Make)(int64_t, int64_t)>
void measure_words(benchmark::State& state) {
    if (!arena_open()) {
        state.SkipWithError("no memory for the arena");
        return;
    }
    seed_random(1);
    for (auto _ : state) {
        for (int64_t i = 0; i < in_process_words; ++i) {
            Slice word = Make(1, 5);
            benchmark::DoNotOptimize(word);
            arena_release_word();
        }
    }
    arena_close();
    state.SetItemsProcessed(state.iterations() * in_process_words);
}

void BM_LiteralWord(benchmark::State& state) { measure_words<literal_word>(state); }
void BM_MakeWord(benchmark::State& state) { measure_words<make_word>(state); }

// The same words as lines in an output block, the way the program makes them.
void BM_MakeWordLines(benchmark::State& state) {
    if (!arena_open()) {
        state.SkipWithError("no memory for the arena");
        return;
    }
    seed_random(1);
    std::vector<char> block(65536);
    for (auto _ : state) {
        for (int64_t left = in_process_words; left > 0;) {
            WordLines lines = make_word_lines(1, 5, left, block.data(), static_cast<int64_t>(block.size()));
            benchmark::DoNotOptimize(block.data());
            benchmark::ClobberMemory();
            left -= lines.words;
        }
    }
    arena_close();
    state.SetItemsProcessed(state.iterations() * in_process_words);
}

// This kind of machine is shared and its speed drifts from run to run, so the program
// runs nine times and the median is the figure to quote.
BENCHMARK(BM_Wordgen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9)->ReportAggregatesOnly();
// pwgen takes about half a minute for its million words: one run is enough to compare.
BENCHMARK(BM_Pwgen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Apg)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MakeWord)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MakeWordLines)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LiteralWord)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
