#include "synthesis/sound_tables.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int64_t total_of(const WeightedTable& table) {
    int64_t sum = 0;
    for (int64_t i = 0; i < table.count; ++i) sum += table.weights[i];
    return sum;
}

// The entry pick_weighted's walk chooses for a residue r below the total.
int64_t walk_choice(const WeightedTable& table, int64_t r) {
    int64_t sum = 0;
    for (int64_t i = 0; i < table.count; ++i) {
        sum += table.weights[i];
        if (r < sum) return i;
    }
    return -1;
}

std::string text(Slice s) { return std::string(s.data, static_cast<size_t>(s.length)); }
std::string text(const ConsonantPiece& piece) { return std::string(piece.letters, piece.length); }

TEST(SoundTablesTest, TablesHaveTheirTotals) {
    struct Case {
        const WeightedTable& table;
        int64_t count;
        uint64_t total;
    };
    const Case cases[] = {
        {onset_table, 88, onset_total},       {nucleus_kind_table, 4, nucleus_kind_total},
        {vowel_table_a, 3, vowel_a_total},    {vowel_table_e, 3, vowel_e_total},
        {tail_table_a, 5, tail_a_total},      {tail_table_e, 4, tail_e_total},
        {coda_table, 20, coda_total},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.table.count, c.count);
        EXPECT_EQ(total_of(c.table), static_cast<int64_t>(c.total));
    }
    EXPECT_EQ(onset_total, 521u);
    EXPECT_EQ(coda_total, 137u);
}

TEST(SoundTablesTest, ConsonantRowsAreTheWalksChoices) {
    struct Case {
        const WeightedTable& table;
        const ConsonantPiece* row;
        uint64_t total;
    };
    const Case cases[] = {{onset_table, onset_by_draw.data(), onset_total}, {coda_table, coda_by_draw.data(), coda_total}};
    for (const Case& c : cases) {
        for (uint64_t r = 0; r < c.total; ++r) {
            Slice entry = c.table.entries[walk_choice(c.table, static_cast<int64_t>(r))];
            const ConsonantPiece& piece = c.row[r];
            ASSERT_EQ(text(piece), text(entry)) << "draw " << r;
            int replaceable = 0;
            for (char letter : text(entry)) replaceable += letter == 's' || letter == 'k';
            ASSERT_EQ(piece.replaceable, replaceable) << text(entry);
        }
    }
}

TEST(SoundTablesTest, NucleusRowsAreTheWalksChoices) {
    // Every kind draw gives its kind's class and tail, and every residue its vowel and
    // tail: the residue's remainder by the class's own total, walked in its own table.
    for (uint64_t k = 0; k < nucleus_kind_total; ++k) {
        int64_t kind = walk_choice(nucleus_kind_table, static_cast<int64_t>(k));
        NucleusKind found = nucleus_kind_by_draw[k];
        ASSERT_EQ(found.e_class, kind % 2 == 1) << "draw " << k;
        ASSERT_EQ(found.with_tail, kind >= 2) << "draw " << k;
        ASSERT_EQ(found.with_tail, k >= first_tailed_kind_draw) << "draw " << k;
        const WeightedTable& vowels = found.e_class ? vowel_table_e : vowel_table_a;
        const WeightedTable& tails = found.e_class ? tail_table_e : tail_table_a;
        for (uint64_t r = 0; r < vowel_residues; ++r) {
            Slice vowel = vowels.entries[walk_choice(vowels, static_cast<int64_t>(r % static_cast<uint64_t>(total_of(vowels))))];
            ASSERT_EQ(vowel_by_kind_draw[k][r], vowel.data[0]) << "draw " << k << " residue " << r;
        }
        for (uint64_t r = 0; r < tail_residues; ++r) {
            Slice tail = tails.entries[walk_choice(tails, static_cast<int64_t>(r % static_cast<uint64_t>(total_of(tails))))];
            ASSERT_EQ(tail_by_kind_draw[k][r], tail.data[0]) << "draw " << k << " residue " << r;
        }
    }
}

}  // namespace
