#include "synthesis/word.h"

#include <algorithm>
#include <cstring>

#include "synthesis/arena.h"

namespace {

// One in three for the first-onset and coda flags; one in 64 for each s or k.
constexpr uint64_t flag_odds = 3;
constexpr uint64_t replacement_odds = 64;

constexpr Slice empty_slice = {nullptr, 0};

// ---- Where draws come from ----------------------------------------------------------

// The program's generator, kept in registers for the length of a word.
struct GeneratorDraws {
    RandomState rng;

    template <uint64_t N>
    uint64_t below() {
        // A bound known at compile time: the modulo becomes a multiplication, and the
        // rejection test a constant compare on the draw itself.
        uint64_t x = random_step(rng);
        while (x > random_largest_accepted(N)) [[unlikely]] x = random_step(rng);
        return x % N;
    }

    uint64_t below(uint64_t n) {
        random_state = rng;
        uint64_t r = random_below(n);
        rng = random_state;
        return r;
    }
};

// The same draws, from a block made ahead.
struct BlockDraws {
    RandomBlock& block;

    template <uint64_t N>
    uint64_t below() {
        return random_block_below(block, N);
    }

    uint64_t below(uint64_t n) { return random_block_below(block, n); }
};

// ---- The literal path: every draw with its rejection, every join through concat ------

template <typename Draws>
int64_t draw_syllable_count(int64_t min_syllables, int64_t max_syllables, Draws& draws) {
    if (min_syllables >= max_syllables) return min_syllables;
    // The range size wraps to 0 for the full 64-bit range; random_below takes 0 as that.
    uint64_t size = static_cast<uint64_t>(max_syllables) - static_cast<uint64_t>(min_syllables) + 1;
    return static_cast<int64_t>(static_cast<uint64_t>(min_syllables) + draws.below(size));
}

Slice text_of(const ConsonantPiece& piece) { return Slice{piece.letters, piece.length}; }

template <typename Draws>
Slice draw_nucleus(Draws& draws) {
    uint64_t k = draws.template below<nucleus_kind_total>();
    NucleusKind kind = nucleus_kind_by_draw[k];
    uint64_t r = kind.e_class ? draws.template below<vowel_e_total>() : draws.template below<vowel_a_total>();
    Slice vowel = {&vowel_by_kind_draw[k][r], 1};
    if (!kind.with_tail) return vowel;
    uint64_t t = kind.e_class ? draws.template below<tail_e_total>() : draws.template below<tail_a_total>();
    return concat(vowel, Slice{&tail_by_kind_draw[k][t], 1});
}

// Collapses runs of one letter and turns each kept s into c, and k into q, one time in 64.
template <typename Draws>
Slice clean_up(Slice word, Draws& draws) {
    // The word lies in the arena, which the run owns and may rewrite.
    char* letters = const_cast<char*>(word.data);
    char previous = 0;
    int64_t kept = 0;
    for (int64_t i = 0; i < word.length; ++i) {
        char letter = letters[i];
        if (letter == previous) continue;
        previous = letter;
        letters[kept++] = letter;
        if (letter == 's' || letter == 'k') {
            if (draws.template below<replacement_odds>() == 0) letters[kept - 1] = letter == 's' ? 'c' : 'q';
        }
    }
    return Slice{letters, kept};
}

// One word, drawn and joined as the rules say. A refused join leaves the arena exhausted,
// which ends the word at once: its result is then the empty Slice, and what it took of the
// arena is given back.
template <typename Draws>
Slice literal_word_joined(int64_t min_syllables, int64_t max_syllables, Draws& draws) {
    int64_t count = draw_syllable_count(min_syllables, max_syllables, draws);
    bool first_without_onset = draws.template below<flag_odds>() == 0;
    bool with_coda = draws.template below<flag_odds>() == 0;
    Slice coda = with_coda ? text_of(coda_by_draw[draws.template below<coda_total>()]) : empty_slice;
    Slice word = empty_slice;
    for (int64_t j = 0; j < count; ++j) {
        bool with_onset = j > 0 || !first_without_onset;
        Slice onset = with_onset ? text_of(onset_by_draw[draws.template below<onset_total>()]) : empty_slice;
        Slice nucleus = draw_nucleus(draws);
        word = concat(concat(word, onset), nucleus);
        if (concat_arena.exhausted) [[unlikely]] return empty_slice;
    }
    word = concat(word, coda);
    // Every join of two pieces lands in the arena; what is left as a table entry is a lone
    // vowel or a lone coda. It is copied so the clean-up never writes into a table.
    bool table_entry = word.length == 1 || (count <= 0 && word.length > 0);
    if (table_entry) word = arena_copy(word);
    if (concat_arena.exhausted) [[unlikely]] return empty_slice;
    return clean_up(word, draws);
}

template <typename Draws>
Slice literal_word(int64_t min_syllables, int64_t max_syllables, Draws& draws) {
    ArenaMark mark = arena_begin_word();
    Slice word = literal_word_joined(min_syllables, max_syllables, draws);
    if (concat_arena.exhausted) [[unlikely]] arena_abandon_word(mark);
    return word;
}

// ---- The fast path: words straight into the output, from a block of draws ------------
// Exact while none of a word's draws is marked (see random_mark_floor): every bound here
// is at most 1024, so each draw is then one value and its residue, and the clean-up is
// known from the pieces. A word whose draws might reach a mark takes the literal path.

// Longer words, which are rare and cost far more than their draws, take the literal path.
constexpr int64_t fast_max_syllables = 64;

// Draws a word may take: the count, two flags and the coda, four per syllable, and one per
// s or k, of which an onset or the coda has at most two.
constexpr int64_t fast_word_draws(int64_t syllables) {
    int64_t counted = std::max<int64_t>(syllables, 0);
    return 4 + 4 * counted + 2 * (counted + 1);
}

// The replacement draws of up to this many s and k are tested without a branch on their
// number: 99 words in 100 have fewer.
constexpr int64_t replacement_window = 2;

// Values a block is filled to hold before each stretch of fast words: the most a word may
// take, and the replacement window past them.
constexpr int64_t fast_block_reserve = fast_word_draws(fast_max_syllables) + replacement_window;

// Bytes a line may touch: four letters a syllable, two of a coda, the line feed, and one
// byte that the two-byte store of a one-letter piece writes past it.
constexpr int64_t fast_line_room(int64_t syllables) { return 4 * std::max<int64_t>(syllables, 0) + 2 + 1 + 1; }

// Whether any of the replacement draws at `v`, `count` of them, turns its letter.
[[gnu::always_inline]] inline bool any_replaced(const uint64_t* v, int64_t count) {
    if (count > replacement_window) [[unlikely]] {
        for (int64_t k = 0; k < count; ++k) {
            if (v[k] % replacement_odds == 0) return true;
        }
        return false;
    }
    unsigned hits = 0;
    for (int k = 0; k < replacement_window; ++k) hits |= unsigned{v[k] % replacement_odds == 0} << k;
    return (hits & ((1u << count) - 1)) != 0;
}

// Turns the s and k of the line [begin, end) whose draws at `v` are 0. Collapsing never
// drops an s or a k, so the i-th of them in the line is the i-th of the assembled word.
void replace_letters(char* begin, const char* end, const uint64_t* v) {
    for (char* letter = begin; letter < end; ++letter) {
        if (*letter != 's' && *letter != 'k') continue;
        if (*v++ % replacement_odds == 0) *letter = *letter == 's' ? 'c' : 'q';
    }
}

[[gnu::always_inline]] inline void put_pair(char* out, char first, char second) {
    const char pair[2] = {first, second};
    std::memcpy(out, pair, 2);
}

// A word being written: the next draw, the next byte, and the s and k so far, each of
// which will cost the clean-up a draw.
struct FastWord {
    const uint64_t* v;
    int64_t i;
    char* out;
    int64_t replaceable;
};

// Whether x is a multiple of 3, without a division: multiplying by the inverse of 3 modulo
// 2^64 maps the multiples 3m onto the m from 0 to (2^64 - 1) / 3, and nothing else there.
constexpr uint64_t inverse_of_3 = 0xAAAAAAAAAAAAAAABull;
static_assert(inverse_of_3 * flag_odds == 1);
[[gnu::always_inline]] inline bool one_in_three(uint64_t x) { return x * inverse_of_3 <= UINT64_MAX / flag_odds; }

// The first onset and the coda are coin flips that a branch predictor cannot learn. So the
// optional draw is always looked up and counted by adding its flag to the read position,
// and the piece is always stored as two bytes while the output moves by its length, 0 when
// it is absent; a later store overwrites what an absent or one-letter piece left. A tail,
// one syllable in nine, is rare enough for a branch, and so takes the collapse with it.
[[gnu::always_inline]] inline void put_syllable(FastWord& w, bool with_onset, bool onset_follows) {
    ConsonantPiece onset = onset_by_draw[w.v[w.i] % onset_total];
    w.i += with_onset;
    put_pair(w.out, onset.letters[0], onset.letters[1]);
    w.out += with_onset ? onset.length : 0;
    w.replaceable += with_onset ? onset.replaceable : 0;
    uint64_t kind = w.v[w.i] % nucleus_kind_total;
    *w.out++ = vowel_by_kind_draw[kind][w.v[w.i + 1] % vowel_residues];
    w.i += 2;
    if (kind >= first_tailed_kind_draw) [[unlikely]] {
        char tail = tail_by_kind_draw[kind][w.v[w.i++] % tail_residues];
        *w.out++ = tail;
        // Equal letters meet only where a tail meets a following onset of that single
        // letter: the clean-up's collapse is that onset written one byte back, over it.
        if (onset_follows) w.out -= onset_by_draw[w.v[w.i] % onset_total].letters[0] == tail;
    }
}

// One word of `count` syllables (at most fast_max_syllables) from the draws at `v`, with
// its line feed, at `out`, which moves past it. Returns the draws it took.
[[gnu::always_inline]] inline int64_t put_fast_word(const uint64_t* v, int64_t count, char*& out) {
    bool first_without_onset = one_in_three(v[0]);
    bool with_coda = one_in_three(v[1]);
    ConsonantPiece coda = coda_by_draw[v[2] % coda_total];
    FastWord w = {v, 2 + int64_t{with_coda}, out, with_coda ? coda.replaceable : 0};
    if (count >= 1) put_syllable(w, !first_without_onset, count > 1);
    for (int64_t j = 1; j < count; ++j) put_syllable(w, true, j + 1 < count);
    put_pair(w.out, coda.letters[0], coda.letters[1]);
    w.out += with_coda ? coda.length : 0;
    // The clean-up draws one value per s or k; only one word in a hundred or so turns one.
    if (any_replaced(v + w.i, w.replaceable)) [[unlikely]] replace_letters(out, w.out, v + w.i);
    *w.out++ = '\n';
    out = w.out;
    return w.i + w.replaceable;
}

// The block the fast path reads; it lives only within one make_word_lines call.
RandomBlock draw_block;

// The next word by the literal path, from the block, copied to `out` when it fits.
void put_literal_word(int64_t min_syllables, int64_t max_syllables, char*& out, const char* limit,
                      WordLines& lines) {
    BlockDraws draws{draw_block};
    int64_t taken_before = draw_block.taken;
    Slice word = literal_word(min_syllables, max_syllables, draws);
    if (concat_arena.exhausted) {
        lines.too_long = true;
        lines.before_last = random_block_state_back(draw_block, draw_block.taken - taken_before);
        return;
    }
    ++lines.words;
    if (word.length + 1 > limit - out) {
        lines.holding = true;
        lines.held = word;
        lines.before_last = random_block_state_back(draw_block, draw_block.taken - taken_before);
        return;
    }
    if (word.length > 0) std::memcpy(out, word.data, static_cast<size_t>(word.length));
    out[word.length] = '\n';
    out += word.length + 1;
    arena_release_word();
}

// A call of make_word_lines.
struct LineRun {
    int64_t min_syllables, max_syllables;
    int64_t count;
    char* out;
    const char* limit;
    WordLines lines;
};

// Why a stretch of fast words ended: its words are made; the block's end or a mark is
// within the draws the next word may take; the room is short; the next count is too long.
enum class FastStop { done, edge, room, literal };

// Fast words of `run` until one of the other stops. Ranged: the count is drawn; else it is
// min_syllables. Works on local copies, since every letter stored through a char pointer
// could otherwise change the block and the run, which the compiler would then read again
// for every word.
template <bool Ranged>
FastStop put_fast_words(LineRun& run, const RandomDivisor& range, int64_t longest, int64_t line_room) {
    if (run.limit - run.out < line_room) return FastStop::room;
    const uint64_t* values = draw_block.values;
    int64_t read = draw_block.read;
    // A word may start where every draw it may take, and the replacement window past
    // them, lies before the block's end and before the first mark: then it is exact.
    const int64_t horizon = std::min(draw_block.marked, draw_block.end) - fast_word_draws(longest) - replacement_window;
    char* out = run.out;
    const char* const room_end = run.limit - line_room;
    const int64_t min_syllables = run.min_syllables;
    int64_t left = run.count - run.lines.words;
    FastStop stop = FastStop::done;
    for (; left > 0; --left) {
        if (read > horizon) {
            stop = FastStop::edge;
            break;
        }
        if (out > room_end) {
            stop = FastStop::room;
            break;
        }
        const uint64_t* v = values + read;
        int64_t syllables = Ranged ? min_syllables + static_cast<int64_t>(random_residue(v[0], range)) : min_syllables;
        if (syllables > fast_max_syllables) {
            stop = FastStop::literal;
            break;
        }
        read += Ranged + put_fast_word(v + Ranged, syllables, out);
    }
    draw_block.read = read;
    run.out = out;
    run.lines.words = run.count - left;
    return stop;
}

template <bool Ranged>
void put_lines(LineRun& run) {
    uint64_t size = static_cast<uint64_t>(run.max_syllables) - static_cast<uint64_t>(run.min_syllables) + 1;
    // A count drawn from more than 1024 values (or from all 2^64, when the size wraps to 0)
    // may be rejected outside the marks: such ranges take the literal path for every word.
    bool fast = Ranged ? size >= 2 && size <= random_mark_bound : run.min_syllables <= fast_max_syllables;
    RandomDivisor range = random_divisor(Ranged && fast ? size : 2);
    int64_t longest = std::min(Ranged ? run.max_syllables : run.min_syllables, fast_max_syllables);
    int64_t line_room = fast_line_room(longest);
    WordLines& lines = run.lines;
    while (lines.words < run.count && !lines.holding && !lines.too_long) {
        random_block_fill(draw_block, fast_block_reserve);
        FastStop stop = fast ? put_fast_words<Ranged>(run, range, longest, line_room) : FastStop::literal;
        if (stop == FastStop::done) return;
        // At the block's end, make more; at a mark, the literal path takes the word.
        if (stop == FastStop::edge && draw_block.end - draw_block.read < fast_block_reserve) continue;
        // Out of room with words made: the caller makes room. With none made, the literal
        // path makes the word and holds it if it does not fit.
        if (stop == FastStop::room && lines.words > 0) return;
        put_literal_word(run.min_syllables, run.max_syllables, run.out, run.limit, lines);
    }
}

}  // namespace

Slice make_word(int64_t min_syllables, int64_t max_syllables) {
    GeneratorDraws draws{random_state};
    Slice word = literal_word(min_syllables, max_syllables, draws);
    random_state = draws.rng;
    return word;
}

int64_t make_words(int64_t min_syllables, int64_t max_syllables, Slice* words, int64_t capacity,
                   int64_t arena_budget) {
    GeneratorDraws draws{random_state};
    int64_t made = 0;
    while (made < capacity) {
        Slice word = literal_word(min_syllables, max_syllables, draws);
        if (concat_arena.exhausted) break;
        words[made++] = word;
        if (concat_arena.position > arena_budget || concat_arena.extra_count > 0) break;
    }
    random_state = draws.rng;
    return made;
}

WordLines make_word_lines(int64_t min_syllables, int64_t max_syllables, int64_t count, char* out, int64_t room) {
    LineRun run = {min_syllables, max_syllables, count, out, out + room, {}};
    random_block_start(draw_block);
    if (min_syllables < max_syllables) {
        put_lines<true>(run);
    } else {
        put_lines<false>(run);
    }
    random_block_finish(draw_block);
    run.lines.bytes = run.out - out;
    return run.lines;
}
