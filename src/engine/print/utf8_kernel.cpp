// The lookup tables, the scalar UTF-8 kernel and the choice of kernel at
// run time.
#include "engine/print/utf8_kernel.h"

#include <bit>
#include <memory>

#include "engine/print/utf8_kernel_steps.h"

namespace kurvane::detail {

const Utf8Tables& utf8_tables() {
    // Built once from the text library's tables, on the first call from any
    // thread; 256 KiB, of which the rows of the lead bytes are ever read.
    static const std::unique_ptr<const Utf8Tables> tables = [] {
        const text::Cp932Utf8Tables& from = text::cp932_utf8_tables();
        auto made = std::make_unique<Utf8Tables>();
        for (unsigned lead = 0; lead < 256; ++lead) {
            made->single[lead] = from.single[lead];
            for (unsigned trail = 0; trail < 256; ++trail)
                made->pair[lead << 8 | trail] = from.pair[from.row[lead]][trail];
        }
        return std::unique_ptr<const Utf8Tables>(std::move(made));
    }();
    return *tables;
}

namespace {

constexpr std::size_t double_block = utf8_block / 2;  // characters

// The reference the vector kernels are tested against, and the fallback.
std::size_t scalar_print(const Utf8Tables& t, const unsigned char* src, std::size_t n,
                         unsigned char* dst) {
    unsigned char* const start = dst;
    std::size_t k = 0;
    while (k + 2 <= n) {
        if (k + utf8_block <= n && text::all_ascii16(src + k)) {
            std::memcpy(dst, src + k, utf8_block);
            dst += utf8_block;
            k += utf8_block;
            continue;
        }
        if (k + utf8_block <= n) {
            // Eight lookups that do not wait for each other, as a character
            // at a time would on where the last one ended. The characters
            // before the first pair that is none are stored, and the steps
            // below take that pair, so no byte is looked up twice as a lead.
            text::Utf8Entry e[double_block];
            unsigned whole = 0;
            for (std::size_t c = 0; c < double_block; ++c) {
                e[c] = t.pair[src[k + 2 * c] << 8 | src[k + 2 * c + 1]];
                whole |= unsigned{e[c] != 0} << c;
            }
            const auto taken = static_cast<std::size_t>(std::countr_one(whole));
            for (std::size_t c = 0; c < taken; ++c) store_entry(dst, e[c]);
            k += 2 * taken;
            if (taken == double_block) continue;
        }
        single_steps(t, src, k, n, dst, double_block);
    }
    last_single(t, src, k, n, dst);
    return static_cast<std::size_t>(dst - start);
}

}  // namespace

const Utf8Kernel scalar_utf8_kernel{Isa::scalar, scalar_print};
#if defined(__x86_64__) || defined(_M_X64)
extern const Utf8Kernel ssse3_utf8_kernel;
extern const Utf8Kernel avx512_utf8_kernel;
#endif

const Utf8Kernel* utf8_kernel_for(Isa isa) {
    if (!isa_supported(isa)) return nullptr;
    switch (isa) {
    case Isa::scalar: return &scalar_utf8_kernel;
#if defined(__x86_64__) || defined(_M_X64)
    case Isa::ssse3: return &ssse3_utf8_kernel;
    case Isa::avx512: return &avx512_utf8_kernel;
#endif
    default: break;
    }
    return nullptr;
}

const Utf8Kernel& utf8_kernel() {
    static const Utf8Kernel& best = best_kernel(utf8_kernel_for, scalar_utf8_kernel);
    return best;
}

}  // namespace kurvane::detail
