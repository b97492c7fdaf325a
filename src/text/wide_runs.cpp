#include "text/wide_runs.h"

namespace kurvane::text {
namespace detail {

std::size_t scalar_kept_pairs(const PairLimits& limits, const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    while (n - i >= euc_pair_bytes && kept_pair(limits, p + i)) i += euc_pair_bytes;
    return i;
}

#if !defined(KURVANE_X86)
const WideRunKernel* avx512_wide_run_kernel() { return nullptr; }
#endif

}  // namespace detail

const WideRunKernel* wide_run_kernel_for(Isa isa) {
    if (!isa_supported(isa)) return nullptr;
    static constexpr WideRunKernel scalar{Isa::scalar, detail::scalar_kept_pairs};
    switch (isa) {
    case Isa::scalar: return &scalar;
    case Isa::avx512: return detail::avx512_wide_run_kernel();
    case Isa::ssse3:
    case Isa::avx2: break;
    }
    return nullptr;
}

const WideRunKernel& best_wide_run_kernel() {
    static const WideRunKernel& best = best_kernel(wide_run_kernel_for, *wide_run_kernel_for(Isa::scalar));
    return best;
}

}  // namespace kurvane::text
