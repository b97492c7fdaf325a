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
                // Windows of every reach, from one block to a whole window.
                const auto check = [&](std::size_t pos) {
                    const std::size_t reach = kernel_block * (1 + rng() % 16);
                    ASSERT_EQ(window.mask_at(pos, reach), expected_mask(members, b, n, pos))
                        << isa_name(isa) << " n=" << n << " density=" << density << " pos=" << pos
                        << " reach=" << reach;
                };
                for (std::size_t pos = 0; pos <= n; pos += 1 + rng() % (rng() % 8 == 0 ? 300 : 5))
                    check(pos);
                for (unsigned k = 0; k < 50; ++k) check(rng() % (n + 1));
                check(n);
            }
        }
    }
}

// Marks of two planes, as a pair kernel writes them: a byte set's members
// and the bytes of another set.
struct TwoSets {
    static constexpr std::size_t planes = 2;
    const SkipKernel& kernel;
    const ByteSet& first;
    const ByteSet& second;
    void operator()(PaddedBytes part, std::uint64_t* masks) const {
        std::vector<std::uint64_t> a(mask_words(part.size())), c(mask_words(part.size()));
        kernel.member_masks(first, part, a.data());
        kernel.member_masks(second, part, c.data());
        for (std::size_t w = 0; w < a.size(); ++w) {
            masks[2 * w] = a[w];
            masks[2 * w + 1] = c[w];
        }
    }
};

// Each plane of a two-plane window answers as a window of its own would,
// at every shift and across window refills.
TEST(skip_window, planes_of_one_window_answer_apart) {
    std::mt19937 rng(11);
    std::array<unsigned char, 256> low{}, high{};
    for (unsigned v = 0; v < 256; ++v) (v < 0x90 ? low : high)[v] = v % 3 != 0;
    const ByteSet first(low), second(high);
    for (std::size_t n : {1u, 64u, 100u, 1024u, 3000u}) {
        std::vector<unsigned char> b(n + kernel_overread);
        for (auto& v : b) v = static_cast<unsigned char>(rng());
        MaskWindow<TwoSets> window(TwoSets{skip_kernel(), first, second},
                                   PaddedBytes::padded<kernel_overread>(b.data(), n));
        for (std::size_t pos = 0; pos <= n; pos += 1 + rng() % 70) {
            const auto m = window.masks_at(pos, kernel_block * (1 + rng() % 16));
            ASSERT_EQ(m[0], expected_mask(low, b, n, pos)) << "n=" << n << " pos=" << pos;
            ASSERT_EQ(m[1], expected_mask(high, b, n, pos)) << "n=" << n << " pos=" << pos;
        }
    }
}

}  // namespace
}  // namespace kurvane::scan
