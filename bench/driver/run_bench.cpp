// Words per second of the whole program, beside two other generators measured in the
// same run, and the program's peak memory. Run from the build folder:
//   ./bench/run_bench
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <string>
#include <vector>

#include "driver/arena.h"
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

// Word assembly alone, without output.
void BM_MakeWord(benchmark::State& state) {
    if (!arena_open()) {
        state.SkipWithError("no memory for the arena");
        return;
    }
    seed_random(1);
    for (auto _ : state) {
        for (int64_t i = 0; i < in_process_words; ++i) {
            Slice word = make_word(1, 5);
            benchmark::DoNotOptimize(word);
            arena_release_word();
        }
    }
    arena_close();
    state.SetItemsProcessed(state.iterations() * in_process_words);
}

BENCHMARK(BM_Wordgen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Pwgen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Apg)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MakeWord)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
