#include "synthesis/word.h"

#include <array>
#include <utility>

#include "synthesis/arena.h"

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

// random_below(n) rejects exactly the draws from 2^64 - (2^64 mod n) up; (0 - n) % n is
// 2^64 mod n in 64-bit arithmetic. This is the largest draw it accepts.
constexpr uint64_t largest_accepted(uint64_t n) { return 0 - (0 - n) % n - 1; }

// random_below with a bound known at compile time, on a local copy of the generator:
// the modulo becomes a multiplication, and the rejection test a constant compare on the
// draw itself, which needs no residue and so never waits for one.
template <uint64_t N>
[[gnu::always_inline]] inline uint64_t draw_below(RandomState& rng) {
    uint64_t x = random_step(rng);
    while (x > largest_accepted(N)) [[unlikely]] x = random_step(rng);
    return x % N;
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

// Bit i is set when letter i of a piece is an s or a k: the letters the clean-up may
// replace, each at the cost of a draw.
constexpr uint32_t replaceable_marks(Slice piece) {
    uint32_t marks = 0;
    for (int64_t i = 0; i < piece.length; ++i) {
        if (piece.data[i] == 's' || piece.data[i] == 'k') marks |= uint32_t{1} << i;
    }
    return marks;
}

// A consonant piece as a draw finds it: its letters and the marks of its replaceable
// letters, side by side so one lookup serves both.
struct MarkedPiece {
    Slice text;
    uint64_t marks;
};

template <size_t Total>
constexpr std::array<MarkedPiece, Total> marked_by_draw(const std::array<Slice, Total>& pieces) {
    std::array<MarkedPiece, Total> marked{};
    for (size_t r = 0; r < Total; ++r) marked[r] = MarkedPiece{pieces[r], replaceable_marks(pieces[r])};
    return marked;
}

constexpr auto onsets_by_draw = marked_by_draw(onset_by_draw);
constexpr auto codas_by_draw = marked_by_draw(coda_by_draw);

// Nuclei are vowels and the tails m n l r j: never an s or a k, never the start of a
// coda, so two equal letters can only meet where a tail is followed by an onset.
template <size_t N>
constexpr bool any_letter_in(const std::array<Slice, N>& pieces, const char* letters) {
    for (const Slice& piece : pieces) {
        for (int64_t i = 0; i < piece.length; ++i) {
            for (const char* l = letters; *l; ++l) {
                if (piece.data[i] == *l) return true;
            }
        }
    }
    return false;
}
static_assert(!any_letter_in(vowel_a_entries, "skptxf") && !any_letter_in(vowel_e_entries, "skptxf"));
static_assert(!any_letter_in(tail_a_entries, "skptxf") && !any_letter_in(tail_e_entries, "skptxf"));

// A table's pieces by residue modulo a multiple of its total. Both vowel tables, and both
// tail tables, then share one residue (56 and 10), so the nucleus kind picks a row
// instead of a branch on the class of its vowel.
template <uint64_t Residues, size_t Total>
constexpr std::array<Slice, Residues> pieces_by_residue(const std::array<Slice, Total>& by_draw) {
    static_assert(Residues % Total == 0);
    std::array<Slice, Residues> row{};
    for (uint64_t r = 0; r < Residues; ++r) row[r] = by_draw[r % Total];
    return row;
}

constexpr uint64_t vowel_residues = vowel_a_total * vowel_e_total;
constexpr auto vowel_a_by_residue = pieces_by_residue<vowel_residues>(vowel_a_by_draw);
constexpr auto vowel_e_by_residue = pieces_by_residue<vowel_residues>(vowel_e_by_draw);
constexpr uint64_t tail_residues = tail_e_total;
constexpr auto tail_a_by_residue = pieces_by_residue<tail_residues>(tail_a_by_draw);
constexpr auto tail_e_by_residue = pieces_by_residue<tail_residues>(tail_e_by_draw);

// What a nucleus kind draws: the vowel row and the largest vowel draw its table accepts,
// and the same of its class's tails, which kinds 2 and 3 draw.
struct NucleusKind {
    const Slice* vowels;
    uint64_t largest_vowel_draw;
    const Slice* tails;
    uint64_t largest_tail_draw;
    bool with_tail;
};

constexpr NucleusKind a_class_kind(bool with_tail) {
    return {vowel_a_by_residue.data(), largest_accepted(vowel_a_total), tail_a_by_residue.data(),
            largest_accepted(tail_a_total), with_tail};
}
constexpr NucleusKind e_class_kind(bool with_tail) {
    return {vowel_e_by_residue.data(), largest_accepted(vowel_e_total), tail_e_by_residue.data(),
            largest_accepted(tail_e_total), with_tail};
}
constexpr NucleusKind nucleus_kinds[] = {a_class_kind(false), e_class_kind(false), a_class_kind(true),
                                         e_class_kind(true)};

// The kind each draw chooses, as the record itself, so one lookup finds it.
constexpr std::array<NucleusKind, kind_total> nucleus_kinds_of() {
    std::array<NucleusKind, kind_total> kinds{};
    for (int64_t r = 0; r < kind_total; ++r) kinds[r] = nucleus_kinds[kind_by_draw[r]];
    return kinds;
}
constexpr auto kinds_by_draw = nucleus_kinds_of();

static_assert(onset_entries.size() == 88 && onset_total == 521);
static_assert(kind_total == 18 && vowel_a_total == 8 && vowel_e_total == 7);
static_assert(tail_a_total == 5 && tail_e_total == 10);
static_assert(coda_entries.size() == 20 && coda_total == 137);

// One in three for the first-onset and coda flags; one in 64 for each s or k.
constexpr uint64_t flag_odds = 3;
constexpr uint64_t replacement_odds = 64;

constexpr Slice empty_slice = {nullptr, 0};

// The replaceable letters of a word are tracked as bits of one 64-bit mask; longer words
// take the letter-by-letter clean-up.
constexpr int64_t mark_bits = 64;

// A piece drawn from a table has one or two letters; saying so lets concat's emptiness tests
// fold away where a table piece is joined.
[[gnu::always_inline]] inline Slice table_piece(Slice piece) {
    if (piece.length <= 0 || piece.length > 2) __builtin_unreachable();
    return piece;
}

// A drawn nucleus and its last letter, which a following onset may repeat.
struct Nucleus {
    Slice text;
    char last;
};

// The kind, its vowel and, for kinds 2 and 3, its tail. The class of the vowel is a
// coin toss that no branch predictor learns, so the kind's rows and limits are looked
// up, and one residue serves both totals: modulo 56 for vowels, 10 for tails.
[[gnu::always_inline]] inline Nucleus draw_nucleus(RandomState& rng) {
    const NucleusKind& kind = kinds_by_draw[draw_below<kind_total>(rng)];
    uint64_t x = random_step(rng);
    while (x > kind.largest_vowel_draw) [[unlikely]] x = random_step(rng);
    Slice vowel = table_piece(kind.vowels[x % vowel_residues]);
    if (!kind.with_tail) [[likely]] return Nucleus{vowel, vowel.data[0]};
    uint64_t t = random_step(rng);
    while (t > kind.largest_tail_draw) [[unlikely]] t = random_step(rng);
    Slice tail = kind.tails[t % tail_residues];
    return Nucleus{table_piece(concat(vowel, table_piece(tail))), tail.data[0]};
}

[[gnu::always_inline]] inline MarkedPiece draw_onset(RandomState& rng) {
    const MarkedPiece& onset = onsets_by_draw[draw_below<onset_total>(rng)];
    return MarkedPiece{table_piece(onset.text), onset.marks};
}

// Ranges of up to this many syllables draw with a divisor known at compile time; the
// jump on the range size is the same for every word of a run, so it predicts perfectly.
constexpr uint64_t max_fixed_range = 16;

template <uint64_t... N>
[[gnu::always_inline]] inline uint64_t draw_small_range(uint64_t size, RandomState& rng,
                                                        std::integer_sequence<uint64_t, N...>) {
    uint64_t r = 0;
    ((size == N + 1 ? (r = draw_below<N + 1>(rng), true) : false) || ...);
    return r;
}

[[gnu::always_inline]] inline int64_t draw_syllable_count(int64_t min_syllables, int64_t max_syllables,
                                                          RandomState& rng) {
    if (min_syllables >= max_syllables) return min_syllables;
    // The range size wraps to 0 for the full 64-bit range; random_below takes 0 as that.
    uint64_t size = static_cast<uint64_t>(max_syllables) - static_cast<uint64_t>(min_syllables) + 1;
    uint64_t offset;
    if (size - 1 < max_fixed_range) {
        offset = draw_small_range(size, rng, std::make_integer_sequence<uint64_t, max_fixed_range>{});
    } else {
        random_state = rng;
        offset = random_below(size);
        rng = random_state;
    }
    return static_cast<int64_t>(static_cast<uint64_t>(min_syllables) + offset);
}

// Collapses runs of one letter and turns each kept s into c, and k into q, one time in 64.
[[gnu::always_inline]] inline Slice clean_up_letters(Slice word, RandomState& rng) {
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
            if (draw_below<replacement_odds>(rng) == 0) letters[kept - 1] = letter == 's' ? 'c' : 'q';
        }
    }
    return Slice{letters, kept};
}

// What the clean-up must know of a word, gathered from its pieces while they are joined,
// so that it need not read back the letters just written.
struct WordMarks {
    uint64_t replaceable;  // bit i: letter i is an s or a k (for the first 64 letters)
    bool doubled;          // two equal letters meet
};

// Notes the replaceable letters of a piece about to be joined at `position`. Positions
// past the mask wrap harmlessly: such words take the letter-by-letter clean-up.
[[gnu::always_inline]] inline void mark_piece(WordMarks& marks, int64_t position, uint64_t piece_marks) {
    marks.replaceable |= piece_marks << (position & (mark_bits - 1));
}

// The clean-up, visiting only the s and k of a word without doubled letters (nearly
// every word), in order, each with its draw.
[[gnu::always_inline]] inline Slice clean_up(Slice word, const WordMarks& marks, RandomState& rng) {
    if (marks.doubled || word.length > mark_bits) [[unlikely]] return clean_up_letters(word, rng);
    char* letters = const_cast<char*>(word.data);
    for (uint64_t rest = marks.replaceable; rest != 0; rest &= rest - 1) {
        int i = __builtin_ctzll(rest);
        if (draw_below<replacement_odds>(rng) == 0) letters[i] = letters[i] == 's' ? 'c' : 'q';
    }
    return word;
}

// The syllables, coda and clean-up of one word, drawing from `rng`.
[[gnu::always_inline]] inline Slice assemble(int64_t count, RandomState& rng) {
    bool first_without_onset = draw_below<flag_odds>(rng) == 0;
    bool with_coda = draw_below<flag_odds>(rng) == 0;
    MarkedPiece coda = {empty_slice, 0};
    if (with_coda) {
        coda = codas_by_draw[draw_below<coda_total>(rng)];
        coda.text = table_piece(coda.text);
    }

    Slice word = empty_slice;
    WordMarks marks = {};
    char nucleus_last = 0;
    if (count >= 1) {
        MarkedPiece onset = first_without_onset ? MarkedPiece{empty_slice, 0} : draw_onset(rng);
        Nucleus nucleus = draw_nucleus(rng);
        marks.replaceable = onset.marks;
        word = concat(onset.text, nucleus.text);
        nucleus_last = nucleus.last;
    }
    for (int64_t j = 1; j < count; ++j) {
        MarkedPiece onset = draw_onset(rng);
        Nucleus nucleus = draw_nucleus(rng);
        marks.doubled |= onset.text.data[0] == nucleus_last;
        mark_piece(marks, word.length, onset.marks);
        word = concat(concat(word, onset.text), nucleus.text);
        nucleus_last = nucleus.last;
        // Only an exhausted arena hands back an empty join.
        if (word.length == 0) [[unlikely]] return empty_slice;
    }
    mark_piece(marks, word.length, coda.marks);
    word = concat(word, coda.text);
    // Every join of two pieces lands in the arena, and so does a two-letter nucleus; what
    // is left as a table entry is a lone vowel or a lone coda. It is copied so the
    // clean-up never writes into a table.
    bool table_entry = word.length == 1 || (count <= 0 && word.length > 0);
    if (table_entry) word = arena_copy(word);
    if (concat_arena.exhausted) [[unlikely]] return empty_slice;
    return clean_up(word, marks, rng);
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
    RandomState rng = random_state;
    int64_t count = draw_syllable_count(min_syllables, max_syllables, rng);
    Slice word = assemble(count, rng);
    random_state = rng;
    return word;
}

int64_t make_words(int64_t min_syllables, int64_t max_syllables, Slice* words, int64_t capacity,
                   int64_t arena_budget) {
    RandomState rng = random_state;
    int64_t made = 0;
    while (made < capacity) {
        int64_t count = draw_syllable_count(min_syllables, max_syllables, rng);
        Slice word = assemble(count, rng);
        if (concat_arena.exhausted) break;
        words[made++] = word;
        if (concat_arena.position > arena_budget || concat_arena.extra_count > 0) break;
    }
    random_state = rng;
    return made;
}

