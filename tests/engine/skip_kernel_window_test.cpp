#include "engine/scan/skip_kernel_window.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kurvane::scan {
namespace {

// Bit k: byte pos + k of b[0, n) is a member; nothing past n.
std::uint64_t expected_mask(const std::array<unsigned char, 256>& members,
                            const std::vector<unsigned char>& b, std::size_t n, std::size_t pos) {
    std::uint64_t m = 0;
    for (std::size_t k = 0; k < kernel_block && pos + k < n; ++k)
        m |= std::uint64_t{members[b[pos + k]] != 0} << k;
    return m;
}

// Ranges shorter than, as long as and a few windows longer than a window,
// asked at rising positions with short and long steps (a window that ends
// mid-mask, a jump past the window) and at random ones (going back).
TEST(skip_window, mask_at_any_position_agrees_with_the_definition) {
    std::mt19937 rng(5);
    for (Isa isa : all_isas) {
        const SkipKernel* kernel = skip_kernel_for(isa);
        if (kernel == nullptr) continue;
        for (std::size_t n : {0u, 1u, 63u, 64u, 65u, 1023u, 1024u, 1025u, 5000u}) {
            for (unsigned density : {1u, 40u, 128u, 255u}) {
                std::array<unsigned char, 256> members{};
                for (auto& m : members) m = rng() % 256 < density;
                const ByteSet set(members);
                // The padding holds bytes of every value, members among them.
                std::vector<unsigned char> b(n + kernel_overread);
                for (auto& v : b) v = static_cast<unsigned char>(rng());
                SkipWindow window(*kernel, set, PaddedBytes::padded<kernel_overread>(b.data(), n));
                const auto check = [&](std::size_t pos) {
                    ASSERT_EQ(window.mask_at(pos), expected_mask(members, b, n, pos))
                        << isa_name(isa) << " n=" << n << " density=" << density << " pos=" << pos;
                };
                for (std::size_t pos = 0; pos <= n; pos += 1 + rng() % (rng() % 8 == 0 ? 300 : 5))
                    check(pos);
                for (unsigned k = 0; k < 50; ++k) check(rng() % (n + 1));
                check(n);
            }
        }
    }
}

}  // namespace
}  // namespace kurvane::scan
