// The traits of UTF-16 code units as bit masks, 64 units to a word: the
// first step of the UTF-16 scan, which reads every unit of both alignments.
// A scalar kernel, which is the reference and the fallback; one for AVX2
// that looks up 8 units at once with a gather; one for AVX-512 that classes
// 32 units at once by their high bytes and gathers only units of rows it
// does not hold. The best one the processor runs is chosen once, at run
// time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "isa.h"
#include "text/utf16.h"

namespace kurvane::text {

// The trait bits of a unit in the table the kernels read (ScanTables'
// unit traits): any of `unit_role_bits` where a run may go on, 1 for a
// kept character, unit_kana_bit for a kept kana, unit_high_bit for a high
// surrogate.
inline constexpr std::uint8_t unit_role_bits = 3;
inline constexpr std::uint8_t unit_kept_bit = 1;
inline constexpr std::uint8_t unit_kana_bit = 4;
inline constexpr std::uint8_t unit_high_bit = 8;

// The vector kernels read four bytes of the table at each unit's value, so
// the table holds this many bytes past its last unit, all zero.
inline constexpr std::size_t unit_table_padding = 3;
inline constexpr std::size_t unit_table_size = 0x10000 + unit_table_padding;

// What a kernel looks units up in: `table`, every unit's traits (with the
// padding above), and the same by rows of 256 units, for a kernel that
// classes a unit by its high byte first: row_traits[h] is the traits of
// every unit of row h where they are all alike, exact_row + k where row h
// is exact_rows[k], and look_up otherwise.
struct UnitRows {
    static constexpr std::uint8_t exact_row = 0x80;
    static constexpr std::uint8_t look_up = 0xC0;
    static constexpr std::size_t max_exact_rows = 3;
    std::uint8_t row_traits[256] = {};
    std::uint8_t exact_rows[max_exact_rows][256] = {};

    UnitRows() = default;
    // The rows of a table of unit traits, those that are not alike held
    // whole in preference order: kana and CJK punctuation, ASCII and
    // Latin-1, the full-width forms, where most text of such a row lies.
    explicit UnitRows(const std::uint8_t* units);
};
struct UnitLookup {
    const std::uint8_t* table;
    const UnitRows& rows;
};

// The words a kernel fills, bit k of word w for unit 64w + k.
struct UnitTraitWords {
    std::uint64_t* member;  // a role bit
    std::uint64_t* kept;
    std::uint64_t* kana;
    std::uint64_t* high;  // a high surrogate
};

// One instruction set's masks of the units at p (unit k at bytes
// p[2k, 2k + 2)), `units` of them, into `words` words of each mask: bits
// from `units` on are clear, and words * 64 >= units. Reads no byte of p
// past the units.
struct UnitMaskKernel {
    Isa isa;
    void (*fill[2])(const UnitLookup& look, const unsigned char* p, std::size_t units, std::size_t words,
                    UnitTraitWords out);  // by ByteOrder

    void operator()(ByteOrder order, const UnitLookup& look, const unsigned char* p, std::size_t units,
                    std::size_t words, UnitTraitWords out) const {
        fill[static_cast<std::size_t>(order)](look, p, units, words, out);
    }
};

// The fastest kernel this processor runs, chosen on the first call.
const UnitMaskKernel& unit_mask_kernel();
// The kernel for `isa`, or null when this build or processor lacks it.
const UnitMaskKernel* unit_mask_kernel_for(Isa isa);

namespace detail {

inline constexpr std::size_t unit_word_bits = 64;

// The masks of one word's units from their traits, `count` <= 64 of them.
inline void store_unit_word(const std::uint8_t* traits, std::size_t count, std::size_t w, UnitTraitWords out) {
    std::uint64_t member = 0, kept = 0, kana = 0, high = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint64_t t = traits[k];
        member |= std::uint64_t{(t & unit_role_bits) != 0} << k;
        kept |= (t & unit_kept_bit) << k;
        kana |= std::uint64_t{(t & unit_kana_bit) != 0} << k;
        high |= std::uint64_t{(t & unit_high_bit) != 0} << k;
    }
    out.member[w] = member;
    out.kept[w] = kept;
    out.kana[w] = kana;
    out.high[w] = high;
}

// Clears words [from, words) of every mask.
inline void clear_unit_words(std::size_t from, std::size_t words, UnitTraitWords out) {
    for (std::size_t w = from; w < words; ++w) out.member[w] = out.kept[w] = out.kana[w] = out.high[w] = 0;
}

}  // namespace detail
}  // namespace kurvane::text
