// The word loop the vector unit-mask kernels share: whole words are read
// where they lie, the last, short one from a copy padded with zero units,
// whose bits past the units are then cleared (a zero unit may be a member
// when U+0000 is excluded). `Word` is a class made from the UnitLookup,
// once for the call, with
//   void masks(const unsigned char* p, std::uint64_t (&m)[4]) const
// filling member, kept, kana and high for the 64 units at p.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "text/utf16_masks.h"

namespace kurvane::text::detail {

inline constexpr std::size_t unit_word_bytes = unit_word_bits * utf16_unit;

template <class Word>
inline void fill_unit_words(const UnitLookup& look, const unsigned char* p, std::size_t units, std::size_t words,
                            UnitTraitWords out) {
    const std::size_t full = units / unit_word_bits;
    const Word word(look);
    std::uint64_t m[4];
    for (std::size_t w = 0; w < full; ++w) {
        word.masks( p + w * unit_word_bytes, m);
        out.member[w] = m[0];
        out.kept[w] = m[1];
        out.kana[w] = m[2];
        out.high[w] = m[3];
    }
    std::size_t done = full;
    if (const std::size_t left = units % unit_word_bits; left != 0) {
        alignas(64) unsigned char last[unit_word_bytes] = {};
        std::memcpy(last, p + full * unit_word_bytes, left * utf16_unit);
        word.masks( last, m);
        const std::uint64_t keep = (std::uint64_t{1} << left) - 1;
        out.member[full] = m[0] & keep;
        out.kept[full] = m[1] & keep;
        out.kana[full] = m[2] & keep;
        out.high[full] = m[3] & keep;
        done = full + 1;
    }
    clear_unit_words(done, words, out);
}

}  // namespace kurvane::text::detail
