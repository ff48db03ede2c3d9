#include "synthesis/word.h"

#include <array>

#include "driver/arena.h"

namespace {

// ---- The tables, in walking order -------------------------------------------------

constexpr std::array onset_entries = {
    slice_literal("z"), slice_literal("zm"), slice_literal("zn"), slice_literal("zl"),
    slice_literal("zj"), slice_literal("zw"),
    slice_literal("s"), slice_literal("sm"), slice_literal("sn"), slice_literal("sl"),
    slice_literal("sj"), slice_literal("sw"), slice_literal("sp"), slice_literal("st"),
    slice_literal("sk"), slice_literal("sf"), slice_literal("sx"),
    slice_literal("m"), slice_literal("n"), slice_literal("l"), slice_literal("r"),
    slice_literal("j"), slice_literal("w"), slice_literal("h"),
    slice_literal("b"), slice_literal("bl"), slice_literal("br"), slice_literal("bj"),
    slice_literal("bw"),
    slice_literal("p"), slice_literal("pl"), slice_literal("pr"), slice_literal("pj"),
    slice_literal("pw"), slice_literal("ps"), slice_literal("pm"), slice_literal("pn"),
    slice_literal("d"), slice_literal("dl"), slice_literal("dr"), slice_literal("dj"),
    slice_literal("dw"),
    slice_literal("t"), slice_literal("tl"), slice_literal("tr"), slice_literal("tj"),
    slice_literal("tw"), slice_literal("ts"), slice_literal("tm"), slice_literal("tn"),
    slice_literal("g"), slice_literal("gl"), slice_literal("gr"), slice_literal("gj"),
    slice_literal("gw"), slice_literal("gm"), slice_literal("gn"),
    slice_literal("k"), slice_literal("kl"), slice_literal("kr"), slice_literal("kj"),
    slice_literal("kw"), slice_literal("ks"), slice_literal("km"), slice_literal("kn"),
    slice_literal("kf"),
    slice_literal("x"), slice_literal("xl"), slice_literal("xr"), slice_literal("xj"),
    slice_literal("xw"), slice_literal("xs"), slice_literal("xm"), slice_literal("xn"),
    slice_literal("v"), slice_literal("vl"), slice_literal("vr"), slice_literal("vj"),
    slice_literal("vm"), slice_literal("vn"),
    slice_literal("f"), slice_literal("fl"), slice_literal("fr"), slice_literal("fj"),
    slice_literal("fw"), slice_literal("fs"), slice_literal("fm"), slice_literal("fn"),
};
constexpr std::array<int64_t, onset_entries.size()> onset_weights = {
    36, 2, 2, 2, 2, 2,                       // z
    16, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,        // s
    16, 16, 16, 16, 22, 33, 38,              // m n l r j w h
    36, 2, 2, 2, 2,                          // b
    16, 1, 1, 1, 1, 1, 1, 1,                 // p
    36, 2, 2, 2, 2,                          // d
    16, 1, 1, 1, 1, 1, 1, 1,                 // t
    36, 1, 1, 1, 1, 1, 1,                    // g
    16, 1, 1, 1, 1, 1, 1, 1, 1,              // k
    20, 1, 1, 1, 1, 1, 1, 1,                 // x
    32, 2, 2, 2, 2, 2,                       // v
    16, 1, 1, 1, 1, 1, 1, 1,                 // f
};

constexpr std::array<int64_t, 4> nucleus_kind_weights = {8, 8, 1, 1};

constexpr std::array vowel_a_entries = {slice_literal("a"), slice_literal("o"), slice_literal("u")};
constexpr std::array<int64_t, 3> vowel_a_weights = {3, 3, 2};
constexpr std::array vowel_e_entries = {slice_literal("e"), slice_literal("i"), slice_literal("y")};
constexpr std::array<int64_t, 3> vowel_e_weights = {3, 3, 1};

constexpr std::array tail_a_entries = {slice_literal("m"), slice_literal("n"), slice_literal("l"),
                                       slice_literal("r"), slice_literal("j")};
constexpr std::array<int64_t, 5> tail_a_weights = {1, 1, 1, 1, 1};
constexpr std::array tail_e_entries = {slice_literal("m"), slice_literal("n"), slice_literal("l"),
                                       slice_literal("r")};
constexpr std::array<int64_t, 4> tail_e_weights = {3, 2, 3, 2};

constexpr std::array coda_entries = {
    slice_literal("s"), slice_literal("sp"), slice_literal("st"), slice_literal("sk"),
    slice_literal("sf"), slice_literal("sx"),
    slice_literal("p"), slice_literal("ps"), slice_literal("pt"),
    slice_literal("t"), slice_literal("ts"),
    slice_literal("k"), slice_literal("ks"), slice_literal("kt"),
    slice_literal("x"), slice_literal("xs"), slice_literal("xt"),
    slice_literal("f"), slice_literal("fs"), slice_literal("ft"),
};
constexpr std::array<int64_t, coda_entries.size()> coda_weights = {
    9, 1, 1, 1, 1, 1,  // s
    24, 2, 2,          // p
    24, 3,             // t
    24, 2, 2,          // k
    12, 1, 1,          // x
    22, 2, 2,          // f
};

// ---- Draws with the tables' constant totals -----------------------------------------

template <size_t N>
constexpr int64_t total_of(const std::array<int64_t, N>& weights) {
    int64_t total = 0;
    for (int64_t w : weights) total += w;
    return total;
}

// What pick_weighted's walk chooses for each r below the total, worked out at compile
// time: entry i covers [sum of the weights before i, sum through i).
template <int64_t Total, size_t N>
constexpr std::array<uint8_t, Total> walk_results(const std::array<int64_t, N>& weights) {
    std::array<uint8_t, Total> result{};
    int64_t r = 0;
    for (size_t i = 0; i < N; ++i) {
        for (int64_t k = 0; k < weights[i]; ++k) result[r++] = static_cast<uint8_t>(i);
    }
    return result;
}

// The entry each r chooses, so a draw maps to its piece with one load.
template <int64_t Total, size_t N>
constexpr std::array<Slice, Total> pieces_by_draw(const std::array<Slice, N>& entries,
                                                  const std::array<int64_t, N>& weights) {
    std::array<Slice, Total> pieces{};
    auto index = walk_results<Total>(weights);
    for (int64_t r = 0; r < Total; ++r) pieces[r] = entries[index[r]];
    return pieces;
}

// random_below with a bound known at compile time: the modulo becomes a multiplication.
template <uint64_t N>
inline uint64_t draw_below() {
    for (;;) {
        uint64_t x = next_random();
        uint64_t r = x % N;
        if (x - r <= 0 - N) [[likely]] return r;
    }
}

constexpr int64_t onset_total = total_of(onset_weights);
constexpr int64_t kind_total = total_of(nucleus_kind_weights);
constexpr int64_t vowel_a_total = total_of(vowel_a_weights);
constexpr int64_t vowel_e_total = total_of(vowel_e_weights);
constexpr int64_t tail_a_total = total_of(tail_a_weights);
constexpr int64_t tail_e_total = total_of(tail_e_weights);
constexpr int64_t coda_total = total_of(coda_weights);

constexpr auto onset_by_draw = pieces_by_draw<onset_total>(onset_entries, onset_weights);
constexpr auto kind_by_draw = walk_results<kind_total>(nucleus_kind_weights);
constexpr auto vowel_a_by_draw = pieces_by_draw<vowel_a_total>(vowel_a_entries, vowel_a_weights);
constexpr auto vowel_e_by_draw = pieces_by_draw<vowel_e_total>(vowel_e_entries, vowel_e_weights);
constexpr auto tail_a_by_draw = pieces_by_draw<tail_a_total>(tail_a_entries, tail_a_weights);
constexpr auto tail_e_by_draw = pieces_by_draw<tail_e_total>(tail_e_entries, tail_e_weights);
constexpr auto coda_by_draw = pieces_by_draw<coda_total>(coda_entries, coda_weights);

static_assert(onset_entries.size() == 88 && onset_total == 521);
static_assert(kind_total == 18 && vowel_a_total == 8 && vowel_e_total == 7);
static_assert(tail_a_total == 5 && tail_e_total == 10);
static_assert(coda_entries.size() == 20 && coda_total == 137);

// One in three for the first-onset and coda flags; one in 64 for each s or k.
constexpr uint64_t flag_odds = 3;
constexpr uint64_t replacement_odds = 64;
constexpr int64_t kind_with_tail = 2;

constexpr Slice empty_slice = {nullptr, 0};

// The word being built, and whether it is already a copy in the arena rather than a
// table entry handed back unchanged by concat.
struct Word {
    Slice text;
    bool in_arena;
};

void join(Word& word, Slice piece, bool piece_in_arena) {
    if (piece.length > 0) word.in_arena = word.text.length > 0 || piece_in_arena;
    word.text = concat(word.text, piece);
}

Slice draw_nucleus() {
    int64_t kind = kind_by_draw[draw_below<kind_total>()];
    bool e_class = kind & 1;  // kinds 1 and 3 take the e vowels
    Slice vowel = e_class ? vowel_e_by_draw[draw_below<vowel_e_total>()]
                          : vowel_a_by_draw[draw_below<vowel_a_total>()];
    if (kind < kind_with_tail) return vowel;
    Slice tail = e_class ? tail_e_by_draw[draw_below<tail_e_total>()]
                         : tail_a_by_draw[draw_below<tail_a_total>()];
    return concat(vowel, tail);
}

int64_t draw_syllable_count(int64_t min_syllables, int64_t max_syllables) {
    if (min_syllables >= max_syllables) return min_syllables;
    // The range size wraps to 0 for the full 64-bit range; random_below takes 0 as that.
    uint64_t size = static_cast<uint64_t>(max_syllables) - static_cast<uint64_t>(min_syllables) + 1;
    return static_cast<int64_t>(static_cast<uint64_t>(min_syllables) + random_below(size));
}

// Collapses runs of one letter and turns each kept s into c, and k into q, one time in 64.
Slice clean_up(Slice word) {
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
            if (draw_below<replacement_odds>() == 0) letters[kept - 1] = letter == 's' ? 'c' : 'q';
        }
    }
    return Slice{letters, kept};
}

}  // namespace

const WeightedTable onset_table = {onset_entries.data(), onset_weights.data(), onset_entries.size()};
const WeightedTable nucleus_kind_table = {nullptr, nucleus_kind_weights.data(), nucleus_kind_weights.size()};
const WeightedTable vowel_table_a = {vowel_a_entries.data(), vowel_a_weights.data(), vowel_a_entries.size()};
const WeightedTable vowel_table_e = {vowel_e_entries.data(), vowel_e_weights.data(), vowel_e_entries.size()};
const WeightedTable tail_table_a = {tail_a_entries.data(), tail_a_weights.data(), tail_a_entries.size()};
const WeightedTable tail_table_e = {tail_e_entries.data(), tail_e_weights.data(), tail_e_entries.size()};
const WeightedTable coda_table = {coda_entries.data(), coda_weights.data(), coda_entries.size()};

Slice make_word(int64_t min_syllables, int64_t max_syllables) {
    int64_t count = draw_syllable_count(min_syllables, max_syllables);
    bool first_without_onset = draw_below<flag_odds>() == 0;
    bool with_coda = draw_below<flag_odds>() == 0;
    Slice coda = with_coda ? coda_by_draw[draw_below<coda_total>()] : empty_slice;

    Word word = {};
    for (int64_t j = 0; j < count; ++j) {
        Slice onset = j == 0 && first_without_onset ? empty_slice : onset_by_draw[draw_below<onset_total>()];
        Slice nucleus = draw_nucleus();
        join(word, onset, false);
        // Vowels are single letters: a two-letter nucleus is a join of vowel and tail.
        join(word, nucleus, nucleus.length > 1);
        if (concat_arena.exhausted) return empty_slice;
    }
    join(word, coda, false);
    // A lone table entry is copied so the clean-up never writes into a table.
    if (word.text.length > 0 && !word.in_arena) word.text = arena_copy(word.text);
    if (concat_arena.exhausted) return empty_slice;
    return clean_up(word.text);
}
