// The WebAssembly module's calls, for the package's loader: the words library behind a
// C interface of integers. State: one generator slot, which the loader fills before a call
// and reads after it (each JavaScript sequence keeps its own copy), and one line buffer,
// which grows to the longest line asked for and is reused by every call.
#include <cstdlib>

#include "synthesis/synthesis.h"

namespace {

// Lines per call are bounded by the buffer: 64 KiB hold some 9,000 default words, enough
// for the cost of a call to vanish, and small enough to stay in the second-level cache.
constexpr int64_t initial_buffer_size = 64 * 1024;

WordGenerator slot;
char* buffer;
int64_t buffer_size;
WordFill last;

[[nodiscard]] bool grow_buffer(int64_t size) {
    char* grown = static_cast<char*>(std::realloc(buffer, static_cast<size_t>(size)));
    if (!grown) return false;
    buffer = grown;
    buffer_size = size;
    return true;
}

}  // namespace

#define WORDGEN_EXPORT(name) extern "C" __attribute__((export_name(#name)))

// Takes the library's memory and the buffer. 1 on success, 0 when memory cannot grow.
WORDGEN_EXPORT(open) int32_t wordgen_open() {
    if (!words_open()) return 0;
    if (!buffer && !grow_buffer(initial_buffer_size)) return 0;
    return 1;
}

// Where the generator slot lies: four unsigned 64-bit words.
WORDGEN_EXPORT(generator) uint64_t* wordgen_generator() { return slot.state; }

// Puts the generator of `seed` in the slot.
WORDGEN_EXPORT(seed) void wordgen_seed(uint64_t seed) { slot = words_seed(seed); }

// Up to `count` next lines of the slot's generator into the buffer; a line longer than
// the buffer grows it first. Returns the WordStatus; fill_words and fill_bytes tell what
// was written, and the buffer's place may have moved.
WORDGEN_EXPORT(fill) int32_t wordgen_fill(int64_t min_syllables, int64_t max_syllables, int64_t count) {
    last = words_fill(slot, min_syllables, max_syllables, count, buffer, buffer_size);
    if (last.status == WordStatus::no_room) {
        if (!grow_buffer(last.needed)) return static_cast<int32_t>(WordStatus::too_long);
        last = words_fill(slot, min_syllables, max_syllables, count, buffer, buffer_size);
    }
    return static_cast<int32_t>(last.status);
}

WORDGEN_EXPORT(fill_words) int32_t wordgen_fill_words() { return static_cast<int32_t>(last.words); }

WORDGEN_EXPORT(fill_bytes) int32_t wordgen_fill_bytes() { return static_cast<int32_t>(last.bytes); }

WORDGEN_EXPORT(buffer) char* wordgen_buffer() { return buffer; }
