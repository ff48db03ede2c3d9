// Words per second of the whole program, beside two other generators measured in the
// same run, and the program's peak memory. Run from the build folder:
//   ./bench/run_bench
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <string>
#include <vector>

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
};

// Runs `program` with `arguments`, its output thrown away; waits and reads its peak RSS.
Finished run_quietly(const std::string& program, const std::vector<std::string>& arguments) {
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
    if (child < 0 || wait4(child, &status, 0, &usage) < 0) return {false, 0};
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, static_cast<double>(usage.ru_maxrss)};
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

// This kind of machine is shared and its speed drifts from run to run, so the program
// runs nine times and the median is the figure to quote.
BENCHMARK(BM_Wordgen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(9)->ReportAggregatesOnly();
// pwgen takes about half a minute for its million words: one run is enough to compare.
BENCHMARK(BM_Pwgen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Apg)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MakeWord)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LiteralWord)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
