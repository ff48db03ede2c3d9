// The seven constant sound tables words are drawn from, and rows derived from them that
// map a draw's residue straight to its piece, so a weighted choice is one load. No state:
// everything here is constant and nothing writes into it.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/text/slice.h"
#include "synthesis/random.h"

// The sound tables, in the order pick_weighted walks them.
extern const WeightedTable onset_table;         // 88 entries, total weight 521
extern const WeightedTable nucleus_kind_table;  // 4 weights only, total 18: the kind is the index
extern const WeightedTable vowel_table_a;       // a o u, total 8
extern const WeightedTable vowel_table_e;       // e i y, total 7
extern const WeightedTable tail_table_a;        // m n l r j, total 5
extern const WeightedTable tail_table_e;        // m n l r, total 10
extern const WeightedTable coda_table;          // 20 entries, total 137

// The totals, the bounds of the draws; the source checks them against the weights.
inline constexpr uint64_t onset_total = 521;
inline constexpr uint64_t nucleus_kind_total = 18;
inline constexpr uint64_t vowel_a_total = 8;
inline constexpr uint64_t vowel_e_total = 7;
inline constexpr uint64_t tail_a_total = 5;
inline constexpr uint64_t tail_e_total = 10;
inline constexpr uint64_t coda_total = 137;

// An onset or a coda as a draw finds it: its one or two letters and how many of them are an
// s or a k, the letters the clean-up may replace at the cost of a draw each.
struct ConsonantPiece {
    char letters[2];  // the second is 0 for a single letter
    uint8_t length;
    uint8_t replaceable;
};

// Entry i of a table covers the draws [sum of the weights before i, sum through i): these
// rows hold, for every draw below the total, the piece pick_weighted's walk chooses.
extern const std::array<ConsonantPiece, onset_total> onset_by_draw;
extern const std::array<ConsonantPiece, coda_total> coda_by_draw;

// A nucleus kind as a draw finds it. The two vowel tables are kept by residue modulo 56,
// a multiple of both their totals (8 and 7), and the two tail tables modulo 10 (of 5 and
// 10), so every kind draws its vowel and tail the same way: the letters are found by the
// kind's draw and the residue.
inline constexpr uint64_t vowel_residues = vowel_a_total * vowel_e_total;
inline constexpr uint64_t tail_residues = tail_e_total;

struct NucleusKind {
    bool with_tail;  // kinds 2 and 3
    bool e_class;    // kinds 1 and 3: the e tables, whose totals bound their draws
};

extern const std::array<NucleusKind, nucleus_kind_total> nucleus_kind_by_draw;
extern const std::array<std::array<char, vowel_residues>, nucleus_kind_total> vowel_by_kind_draw;
extern const std::array<std::array<char, tail_residues>, nucleus_kind_total> tail_by_kind_draw;

// The kind draws from this one up choose a kind with a tail, the rare kinds 2 and 3.
inline constexpr uint64_t first_tailed_kind_draw = 16;
