// file_copy of a 256 MiB file against cp copying the same file in the same run.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "runtime/system/file.h"
#include "runtime/system/system.h"

namespace {

constexpr int64_t big_file_bytes = int64_t{256} << 20;
constexpr int64_t write_block_bytes = int64_t{1} << 20;

// The source file, made once for both benchmarks in the scratch folder, which goes away
// when the program ends.
const std::string& big_file() {
    static const std::string source = [] {
        std::string path = scratch_file("source");
        std::vector<char> block(write_block_bytes);
        std::mt19937_64 bits(42);
        File* file = file_open(slice_of(path), file_mode_write);
        for (int64_t written = 0; written < big_file_bytes; written += write_block_bytes) {
            for (char& byte : block) byte = static_cast<char>(bits());
            file_write(file, block.size(), block.data());
        }
        file_close(file);
        return path;
    }();
    return source;
}

void BM_file_copy(benchmark::State& state) {
    const std::string& source = big_file();
    const std::string destination = scratch_file("copy-file_copy");
    for (auto _ : state) {
        if (file_copy(slice_of(source), slice_of(destination)) != 1) state.SkipWithError("file_copy failed");
    }
    state.SetBytesProcessed(state.iterations() * big_file_bytes);
}

void BM_cp(benchmark::State& state) {
    const std::string& source = big_file();
    const std::string command = "cp '" + source + "' '" + scratch_file("copy-cp") + "'";
    for (auto _ : state) {
        if (system_execute(slice_of(command)) != 0) state.SkipWithError("cp failed");
    }
    state.SetBytesProcessed(state.iterations() * big_file_bytes);
}

// cp runs in a child process: only wall-clock time compares the two.
BENCHMARK(BM_cp)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2)->Repetitions(3);
BENCHMARK(BM_file_copy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2)->Repetitions(3);

}  // namespace
