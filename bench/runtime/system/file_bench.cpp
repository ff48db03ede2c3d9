// file_copy of a 256 MiB file against cp copying the same file in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runtime/system/file.h"
#include "runtime/system/system.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t big_file_bytes = int64_t{256} << 20;
constexpr int64_t write_block_bytes = int64_t{1} << 20;

Slice text(const std::string& s) { return Slice{s.data(), static_cast<int64_t>(s.size())}; }

fs::path bench_folder;

void remove_bench_folder() { fs::remove_all(bench_folder); }

// The source file, made once for both benchmarks in a folder under /tmp that goes away
// when the program ends.
const std::string& big_file() {
    static const std::string source = [] {
        std::random_device random;
        do {
            bench_folder = fs::path("/tmp") / ("wordgen-file-bench-" + std::to_string(random()));
        } while (!fs::create_directory(bench_folder));
        std::atexit(remove_bench_folder);
        std::string path = (bench_folder / "source").string();
        std::vector<char> block(write_block_bytes);
        std::mt19937_64 bits(42);
        File* file = file_open(text(path), file_mode_write);
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
    const std::string destination = (bench_folder / "copy-file_copy").string();
    for (auto _ : state) {
        if (file_copy(text(source), text(destination)) != 1) state.SkipWithError("file_copy failed");
    }
    state.SetBytesProcessed(state.iterations() * big_file_bytes);
}

void BM_cp(benchmark::State& state) {
    const std::string& source = big_file();
    const std::string command = "cp '" + source + "' '" + (bench_folder / "copy-cp").string() + "'";
    for (auto _ : state) {
        if (system_execute(text(command)) != 0) state.SkipWithError("cp failed");
    }
    state.SetBytesProcessed(state.iterations() * big_file_bytes);
}

// cp runs in a child process: only wall-clock time compares the two.
BENCHMARK(BM_cp)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2)->Repetitions(3);
BENCHMARK(BM_file_copy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2)->Repetitions(3);

}  // namespace
