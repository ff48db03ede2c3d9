// words SEED COUNT [MIN MAX]: the words `wordgen -r SEED -w COUNT -s MIN MAX` prints, one
// per line, without its header, drawn through the wordgen libraries in this process.
#include <cstdlib>

#include "runtime/runtime.h"
#include "synthesis/synthesis.h"

namespace {

// wordgen's own default range, used when none is given.
constexpr int64_t default_min_syllables = 1;
constexpr int64_t default_max_syllables = 5;
constexpr int decimal = 10;

int64_t number(const char* text) { return std::strtoll(text, nullptr, decimal); }

// As wordgen reads a seed: a negative one wraps to its two's complement.
uint64_t seed_number(const char* text) { return std::strtoull(text, nullptr, decimal); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5) {
        print(slice_literal("usage: words SEED COUNT [MIN MAX]\n"));
        return 2;
    }
    int64_t count = number(argv[2]);
    int64_t min = argc == 5 ? number(argv[3]) : default_min_syllables;
    int64_t max = argc == 5 ? number(argv[4]) : default_max_syllables;
    if (!words_open()) return 1;
    WordGenerator generator = words_seed(seed_number(argv[1]));
    bool complete = true;
    for (int64_t i = 0; i < count && complete; ++i) {
        Word word = words_next(generator, min, max);
        complete = word.status == WordStatus::ok;
        if (!complete) break;
        print(word.text);
        print(slice_literal("\n"));
    }
    words_close();
    return complete && print_flush() ? 0 : 1;
}
