// directory_get_content of a directory of 100,000 files against `ls -f` listing it in
// the same run (ls -f neither sorts nor looks at the files, as the listing does not).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_support.h"
#include "runtime/system/directory.h"
#include "runtime/system/system.h"

namespace fs = std::filesystem;

namespace {

constexpr int file_count = 100000;
// Most files are further names (hard links) of a few: making an inode costs far more
// than naming one, and a listing sees only names. ext4 allows 65000 names per file.
constexpr int names_per_file = 10000;

// The directory, made once for every benchmark in the scratch folder, which goes away
// when the program ends.
const std::string& big_directory() {
    static const std::string directory = [] {
        fs::path big = scratch_file("big");
        fs::create_directory(big);
        fs::create_directory(scratch_file("empty"));
        fs::path target;
        for (int i = 0; i < file_count; ++i) {
            fs::path name = big / ("file-" + std::to_string(i) + ".txt");
            if (i % names_per_file == 0) {
                target = name;
                std::ofstream(target) << "";
            } else {
                fs::create_hard_link(target, name);
            }
        }
        return big.string();
    }();
    return directory;
}

void BM_directory_get_content(benchmark::State& state) {
    const std::string& directory = big_directory();
    for (auto _ : state) {
        DirectoryContent content;
        directory_get_content(&content, slice_of(directory));
        if (content.files.count != file_count) state.SkipWithError("listing incomplete");
        benchmark::DoNotOptimize(content);
    }
    state.SetItemsProcessed(state.iterations() * file_count);
}

void BM_ls_f(benchmark::State& state) {
    const std::string command = "ls -f '" + big_directory() + "' > /dev/null";
    for (auto _ : state) {
        if (system_execute(slice_of(command)) != 0) state.SkipWithError("ls failed");
    }
    state.SetItemsProcessed(state.iterations() * file_count);
}

// What starting the shell and ls costs alone, for reading the figure above.
void BM_ls_f_empty_directory(benchmark::State& state) {
    big_directory();
    const std::string command = "ls -f '" + scratch_file("empty") + "' > /dev/null";
    for (auto _ : state) {
        if (system_execute(slice_of(command)) != 0) state.SkipWithError("ls failed");
    }
}

// ls runs in a child process: only wall-clock time compares the two.
BENCHMARK(BM_ls_f)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_directory_get_content)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);
BENCHMARK(BM_ls_f_empty_directory)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

}  // namespace
