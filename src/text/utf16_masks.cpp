#include "text/utf16_masks.h"

#include <algorithm>
#include <iterator>

namespace kurvane::text {
namespace {

template <ByteOrder order>
void scalar_fill(const UnitLookup& look, const unsigned char* p, std::size_t units, std::size_t words,
                 UnitTraitWords out) {
    using detail::unit_word_bits;
    const std::size_t full = (units + unit_word_bits - 1) / unit_word_bits;
    for (std::size_t w = 0; w < full; ++w) {
        const std::size_t from = w * unit_word_bits;
        const std::size_t count = units - from < unit_word_bits ? units - from : unit_word_bits;
        std::uint8_t traits[unit_word_bits];
        for (std::size_t k = 0; k < count; ++k)
            traits[k] = look.table[detail::utf16_unit_at<order>(p + (from + k) * utf16_unit)];
        detail::store_unit_word(traits, count, w, out);
    }
    detail::clear_unit_words(full, words, out);
}

}  // namespace

UnitRows::UnitRows(const std::uint8_t* units) {
    constexpr std::size_t row = 256;
    constexpr unsigned preferred[] = {0x30, 0x00, 0xFF};
    static_assert(std::size(preferred) == max_exact_rows);
    std::size_t exact = 0;
    for (std::size_t h = 0; h < row; ++h) row_traits[h] = units[h * row];
    for (std::size_t h = 0; h < row; ++h) {
        bool alike = true;
        for (std::size_t l = 1; l < row && alike; ++l) alike = units[h * row + l] == units[h * row];
        if (!alike) row_traits[h] = look_up;
    }
    // A uniform row's traits never read as either flag.
    static_assert((unit_role_bits | unit_kana_bit | unit_high_bit) < exact_row);
    for (const unsigned h : preferred) {
        if (row_traits[h] != look_up) continue;
        row_traits[h] = static_cast<std::uint8_t>(exact_row + exact);
        std::copy(units + h * row, units + (h + 1) * row, exact_rows[exact]);
        ++exact;
    }
}

const UnitMaskKernel scalar_unit_mask_kernel{Isa::scalar, {scalar_fill<ByteOrder::little>, scalar_fill<ByteOrder::big>}};
#if defined(__x86_64__) || defined(_M_X64)
extern const UnitMaskKernel avx2_unit_mask_kernel;
extern const UnitMaskKernel avx512_unit_mask_kernel;
#endif

const UnitMaskKernel* unit_mask_kernel_for(Isa isa) {
    if (!isa_supported(isa)) return nullptr;
    switch (isa) {
    case Isa::scalar: return &scalar_unit_mask_kernel;
#if defined(__x86_64__) || defined(_M_X64)
    case Isa::avx2: return &avx2_unit_mask_kernel;
    case Isa::avx512: return &avx512_unit_mask_kernel;
#endif
    default: break;
    }
    return nullptr;
}

const UnitMaskKernel& unit_mask_kernel() {
    static const UnitMaskKernel& best = best_kernel(unit_mask_kernel_for, scalar_unit_mask_kernel);
    return best;
}

}  // namespace kurvane::text
