#include "synthesis/sound_tables.h"

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

// ---- Rows by draw, worked out at compile time ------------------------------------

template <size_t N>
constexpr int64_t total_of(const std::array<int64_t, N>& weights) {
    int64_t total = 0;
    for (int64_t w : weights) total += w;
    return total;
}

static_assert(onset_entries.size() == 88 && total_of(onset_weights) == onset_total);
static_assert(total_of(nucleus_kind_weights) == nucleus_kind_total);
static_assert(total_of(vowel_a_weights) == vowel_a_total && total_of(vowel_e_weights) == vowel_e_total);
static_assert(total_of(tail_a_weights) == tail_a_total && total_of(tail_e_weights) == tail_e_total);
static_assert(coda_entries.size() == 20 && total_of(coda_weights) == coda_total);

// The index pick_weighted's walk chooses for each draw below the total.
template <uint64_t Total, size_t N>
constexpr std::array<uint8_t, Total> walk_results(const std::array<int64_t, N>& weights) {
    std::array<uint8_t, Total> result{};
    uint64_t r = 0;
    for (size_t i = 0; i < N; ++i) {
        for (int64_t k = 0; k < weights[i]; ++k) result[r++] = static_cast<uint8_t>(i);
    }
    return result;
}

constexpr ConsonantPiece consonant_piece(Slice entry) {
    ConsonantPiece piece{{entry.data[0], entry.length > 1 ? entry.data[1] : '\0'},
                         static_cast<uint8_t>(entry.length), 0};
    for (int64_t i = 0; i < entry.length; ++i) piece.replaceable += entry.data[i] == 's' || entry.data[i] == 'k';
    return piece;
}

template <uint64_t Total, size_t N>
constexpr std::array<ConsonantPiece, Total> consonants_by_draw(const std::array<Slice, N>& entries,
                                                               const std::array<int64_t, N>& weights) {
    std::array<ConsonantPiece, Total> row{};
    auto index = walk_results<Total>(weights);
    for (uint64_t r = 0; r < Total; ++r) row[r] = consonant_piece(entries[index[r]]);
    return row;
}

// A one-letter table's letter for every residue modulo `Residues`, a multiple of its total.
template <size_t Residues, uint64_t Total, size_t N>
constexpr std::array<char, Residues> letters_by_residue(const std::array<Slice, N>& entries,
                                                        const std::array<int64_t, N>& weights) {
    static_assert(Residues % Total == 0);
    std::array<char, Residues> row{};
    auto index = walk_results<Total>(weights);
    for (uint64_t r = 0; r < Residues; ++r) row[r] = entries[index[r % Total]].data[0];
    return row;
}

// Whether any piece holds one of `letters`.
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

// Whether every onset that starts with a tail letter is that letter alone.
constexpr bool tail_letters_begin_only_single_onsets() {
    for (const Slice& onset : onset_entries) {
        if (onset.length > 1 && any_letter_in(std::array{Slice{onset.data, 1}}, "mnlrj")) return false;
    }
    return true;
}

// What word assembly relies on: table pieces have one or two letters; nuclei never hold an
// s or a k or a coda's letter, so two equal letters meet only where a tail is followed by
// an onset, which is then that same single letter.
static_assert(!any_letter_in(vowel_a_entries, "skptxf") && !any_letter_in(vowel_e_entries, "skptxf"));
static_assert(!any_letter_in(tail_a_entries, "skptxf") && !any_letter_in(tail_e_entries, "skptxf"));
static_assert(tail_letters_begin_only_single_onsets());
static_assert(!any_letter_in(onset_entries, "aeiouy") && !any_letter_in(coda_entries, "aeiouymnlrj"));

}  // namespace

const WeightedTable onset_table = {onset_entries.data(), onset_weights.data(), onset_entries.size()};
const WeightedTable nucleus_kind_table = {nullptr, nucleus_kind_weights.data(), nucleus_kind_weights.size()};
const WeightedTable vowel_table_a = {vowel_a_entries.data(), vowel_a_weights.data(), vowel_a_entries.size()};
const WeightedTable vowel_table_e = {vowel_e_entries.data(), vowel_e_weights.data(), vowel_e_entries.size()};
const WeightedTable tail_table_a = {tail_a_entries.data(), tail_a_weights.data(), tail_a_entries.size()};
const WeightedTable tail_table_e = {tail_e_entries.data(), tail_e_weights.data(), tail_e_entries.size()};
const WeightedTable coda_table = {coda_entries.data(), coda_weights.data(), coda_entries.size()};

const std::array<ConsonantPiece, onset_total> onset_by_draw =
    consonants_by_draw<onset_total>(onset_entries, onset_weights);
const std::array<ConsonantPiece, coda_total> coda_by_draw = consonants_by_draw<coda_total>(coda_entries, coda_weights);

namespace {

constexpr auto vowel_a_by_residue = letters_by_residue<vowel_residues, vowel_a_total>(vowel_a_entries, vowel_a_weights);
constexpr auto vowel_e_by_residue = letters_by_residue<vowel_residues, vowel_e_total>(vowel_e_entries, vowel_e_weights);
constexpr auto tail_a_by_residue = letters_by_residue<tail_residues, tail_a_total>(tail_a_entries, tail_a_weights);
constexpr auto tail_e_by_residue = letters_by_residue<tail_residues, tail_e_total>(tail_e_entries, tail_e_weights);

// Kinds 0 and 2 are of the a class, 1 and 3 of the e class; 2 and 3 have a tail.
constexpr std::array<NucleusKind, 4> nucleus_kinds = {{{false, false}, {false, true}, {true, false}, {true, true}}};
constexpr auto kind_of_draw = walk_results<nucleus_kind_total>(nucleus_kind_weights);

constexpr std::array<NucleusKind, nucleus_kind_total> kinds_by_draw() {
    std::array<NucleusKind, nucleus_kind_total> kinds{};
    for (uint64_t r = 0; r < nucleus_kind_total; ++r) kinds[r] = nucleus_kinds[kind_of_draw[r]];
    return kinds;
}

template <size_t Residues>
constexpr std::array<std::array<char, Residues>, nucleus_kind_total> rows_by_kind_draw(
    const std::array<char, Residues>& a_row, const std::array<char, Residues>& e_row) {
    std::array<std::array<char, Residues>, nucleus_kind_total> rows{};
    for (uint64_t r = 0; r < nucleus_kind_total; ++r) rows[r] = nucleus_kinds[kind_of_draw[r]].e_class ? e_row : a_row;
    return rows;
}

constexpr bool tailed_from(uint64_t first) {
    for (uint64_t r = 0; r < nucleus_kind_total; ++r) {
        if (nucleus_kinds[kind_of_draw[r]].with_tail != (r >= first)) return false;
    }
    return true;
}
static_assert(tailed_from(first_tailed_kind_draw));

}  // namespace

const std::array<NucleusKind, nucleus_kind_total> nucleus_kind_by_draw = kinds_by_draw();
const std::array<std::array<char, vowel_residues>, nucleus_kind_total> vowel_by_kind_draw =
    rows_by_kind_draw(vowel_a_by_residue, vowel_e_by_residue);
const std::array<std::array<char, tail_residues>, nucleus_kind_total> tail_by_kind_draw =
    rows_by_kind_draw(tail_a_by_residue, tail_e_by_residue);
