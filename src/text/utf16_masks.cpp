#include "text/utf16_masks.h"

namespace kurvane::text {
namespace {

template <ByteOrder order>
void scalar_fill(const std::uint8_t* table, const unsigned char* p, std::size_t units, std::size_t words,
                 UnitTraitWords out) {
    using detail::unit_word_bits;
    const std::size_t full = (units + unit_word_bits - 1) / unit_word_bits;
    for (std::size_t w = 0; w < full; ++w) {
        const std::size_t from = w * unit_word_bits;
        const std::size_t count = units - from < unit_word_bits ? units - from : unit_word_bits;
        std::uint8_t traits[unit_word_bits];
        for (std::size_t k = 0; k < count; ++k)
            traits[k] = table[detail::utf16_unit_at<order>(p + (from + k) * utf16_unit)];
        detail::store_unit_word(traits, count, w, out);
    }
    detail::clear_unit_words(full, words, out);
}

}  // namespace

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
