// The file and directory services under calls, names and ring positions that the input
// chooses, in a scratch folder, checked after every call against the model the suite's
// path test uses: each result, each read and listing, and the folder's whole contents.
// Names may hold any byte: NUL (which every service must refuse, touching nothing), '/',
// bytes that are not UTF-8 beside their U+FFFD look-alikes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "tests/runtime/system/path_model.h"

namespace {

// Enough calls for a rename of a folder made by an earlier call of the same input; the
// model's comparison after each makes more slow to run.
constexpr uint64_t most_steps = 48;
constexpr int bits_per_byte = 8;

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at;
};

// A choice below `bound` from as many input bytes as the bound needs; zeros once the
// input has run out.
uint64_t below(Input& in, uint64_t bound) {
    uint64_t value = 0;
    for (uint64_t span = bound - 1; span > 0; span >>= bits_per_byte) {
        value = (value << bits_per_byte) | (in.at < in.size ? in.data[in.at++] : 0);
    }
    return value % bound;
}

// A scratch folder of its own for each input, removed after it: libFuzzer may end the
// process without running exit handlers.
std::string make_scratch() {
    char name[] = "/tmp/wordgen-path-fuzz-XXXXXX";
    return mkdtemp(name) ? std::string(name) : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size, 0};
    path_model::Run run;
    run.root = make_scratch();
    if (run.root.empty()) std::abort();
    run.choose = {[&](uint64_t bound) { return below(in, bound); }, [&] { return in.at >= in.size; }};
    temporary_pos = 0;
    dynamic_pos = 0;
    while (run.steps < most_steps && path_model::step(run)) {
    }
    path_model::empty_folder(run.root);
    rmdir(run.root.c_str());
    if (!run.failure.empty()) {
        std::fprintf(stderr, "%s\n", run.failure.c_str());
        std::abort();
    }
    return 0;
}
