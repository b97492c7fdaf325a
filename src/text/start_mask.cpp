#include "text/start_mask.h"

namespace kurvane::text {

StartClasses::StartClasses(const std::array<bool, byte_values>& starts, const std::array<bool, byte_values>& leads,
                           const std::array<bool, byte_values>& trails) {
    const std::array<bool, byte_values>* sets[class_count] = {&starts, &leads, &trails};
    constexpr std::size_t nibble = 16;
    for (std::size_t v = 0; v < byte_values; ++v) {
        for (std::size_t c = 0; c < class_count; ++c) {
            if (!(*sets[c])[v]) continue;
            table_[v] = static_cast<std::uint8_t>(table_[v] | 1u << c);
            const std::size_t high = v / nibble;
            auto& row = rows_[c][high / 8][v % nibble];
            row = static_cast<std::uint8_t>(row | 1u << high % 8);
        }
    }
}

namespace detail {

std::uint64_t scalar_start_mask_block(const StartClasses& classes, const unsigned char* p) {
    std::uint64_t m = 0;
    for (std::size_t k = 0; k < start_block_bytes; ++k) m |= std::uint64_t{classes.starts_at(p[k], p + k + 1)} << k;
    return m;
}

#if !defined(KURVANE_X86)
const StartMaskKernel* avx2_start_mask_kernel() { return nullptr; }
const StartMaskKernel* avx512_start_mask_kernel() { return nullptr; }
#endif

}  // namespace detail

const StartMaskKernel* start_mask_kernel_for(Isa isa) {
    if (!isa_supported(isa)) return nullptr;
    static constexpr StartMaskKernel scalar{Isa::scalar, detail::scalar_start_mask_block};
    switch (isa) {
    case Isa::scalar: return &scalar;
    case Isa::avx2: return detail::avx2_start_mask_kernel();
    case Isa::avx512: return detail::avx512_start_mask_kernel();
    case Isa::ssse3: break;
    }
    return nullptr;
}

const StartMaskKernel& best_start_mask_kernel() {
    static const StartMaskKernel& best = best_kernel(start_mask_kernel_for, *start_mask_kernel_for(Isa::scalar));
    return best;
}

}  // namespace kurvane::text
