#include "engine/scan/skip_kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/scan/extract_pass.h"

namespace kurvane::scan {
namespace {

// The scanner hands the kernels ranges of its piece buffers.
static_assert(kernel_overread <= detail::piece_padding);

using Membership = std::array<unsigned char, 256>;

struct NamedSet {
    std::string name;
    Membership members{};
};

NamedSet range_set(unsigned first, unsigned last) {
    char name[32];
    std::snprintf(name, sizeof name, "0x%02x-0x%02x", first, last);
    NamedSet s{name};
    for (unsigned v = first; v <= last; ++v) s.members[v] = 1;
    return s;
}

// Sets that stress each part of the nibble lookup: every single value (each
// row bit on its own), whole rows and columns of the nibble grid, the two
// halves split by the top bit and ranges across it, the lead bytes of the
// default text classes, and random sets of every density.
std::vector<NamedSet> test_sets() {
    std::vector<NamedSet> sets{range_set(1, 0), range_set(0, 255), range_set(0, 0x7F),
                               range_set(0x80, 0xFF), range_set(0x7F, 0x80),
                               range_set(0x20, 0x7E), range_set(0x81, 0x9F)};
    NamedSet leads{"default leads"};
    for (unsigned v : {0x81u, 0x82u, 0x83u, 0x84u})
        leads.members[v] = 1;
    for (unsigned v = 0x88; v <= 0x9F; ++v) leads.members[v] = 1;
    for (unsigned v = 0xE0; v <= 0xEA; ++v) leads.members[v] = 1;
    sets.push_back(leads);
    for (unsigned v = 0; v < 256; ++v) sets.push_back(range_set(v, v));
    for (unsigned h = 0; h < 16; ++h) sets.push_back(range_set(h << 4, h << 4 | 0x0F));
    for (unsigned l = 0; l < 16; ++l) {
        NamedSet s{"low nibble " + std::to_string(l)};
        for (unsigned v = l; v < 256; v += 16) s.members[v] = 1;
        sets.push_back(s);
    }
    std::mt19937 rng(17);
    for (unsigned k = 0; k < 64; ++k) {
        const unsigned density = k % 8 * 32 + 1;  // in 256ths
        NamedSet s{"random " + std::to_string(k) + " density " + std::to_string(density)};
        for (auto& m : s.members) m = rng() % 256 < density;
        sets.push_back(s);
    }
    return sets;
}

std::vector<const SkipKernel*> available_kernels() {
    std::vector<const SkipKernel*> kernels;
    for (Isa isa : all_isas)
        if (const SkipKernel* k = skip_kernel_for(isa)) kernels.push_back(k);
    return kernels;
}

// A range of `size` bytes at `offset` from the start of its buffer, with
// exactly kernel_overread bytes after it, so a sanitizer build catches any
// read further on.
class Range {
public:
    Range(std::size_t offset, std::size_t size)
        : offset_(offset), size_(size), buffer_(offset + size + kernel_overread) {}
    unsigned char* data() { return buffer_.data() + offset_; }
    std::size_t size() const { return size_; }
    std::size_t padded_size() const { return size_ + kernel_overread; }
    PaddedBytes bytes() const {
        return PaddedBytes::padded<kernel_overread>(buffer_.data() + offset_, size_);
    }

private:
    std::size_t offset_;
    std::size_t size_;
    std::vector<unsigned char> buffer_;
};

// The plain definitions, from the membership the set was made of.
std::size_t expected_find(const Membership& members, const unsigned char* b, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k)
        if (members[b[k]]) return k;
    return n;
}

std::vector<std::uint64_t> expected_masks(const Membership& members, const unsigned char* b,
                                          std::size_t n) {
    std::vector<std::uint64_t> masks(mask_words(n));
    for (std::size_t k = 0; k < n; ++k)
        if (members[b[k]]) masks[k / 64] |= std::uint64_t{1} << k % 64;
    return masks;
}

std::vector<std::uint64_t> masks_of(const SkipKernel& kernel, const ByteSet& set, Range& r) {
    // Exactly the words promised, so a sanitizer build catches one more.
    std::vector<std::uint64_t> masks(mask_words(r.size()));
    kernel.member_masks(set, r.bytes(), masks.data());
    return masks;
}

TEST(skip_kernel, every_kernel_agrees_with_the_definition_on_every_set) {
    const auto kernels = available_kernels();
    std::mt19937 rng(1);
    std::size_t case_no = 0;
    for (const NamedSet& s : test_sets()) {
        const ByteSet set(s.members);
        std::vector<unsigned char> in, out;
        for (unsigned v = 0; v < 256; ++v) (s.members[v] ? in : out).push_back(static_cast<unsigned char>(v));
        for (std::size_t n = 0; n <= 130; ++n, ++case_no) {
            Range r(case_no % kernel_block, n);
            // Members are rare in some ranges and common in others, so the
            // first one falls anywhere; the padding is all members.
            const unsigned rarity = 1u << case_no % 8;
            for (std::size_t k = 0; k < r.padded_size(); ++k) {
                const bool member = k >= n || rng() % rarity == 0;
                const auto& pool = (member && !in.empty()) || out.empty() ? in : out;
                r.data()[k] = pool[rng() % pool.size()];
            }
            const std::size_t want = expected_find(s.members, r.data(), n);
            const auto want_masks = expected_masks(s.members, r.data(), n);
            for (const SkipKernel* k : kernels) {
                SCOPED_TRACE(std::string(isa_name(k->isa)) + " set " + s.name + " n=" +
                             std::to_string(n) + " offset=" + std::to_string(case_no % 64));
                EXPECT_EQ(k->find_member(set, r.bytes()), want);
                EXPECT_EQ(masks_of(*k, set, r), want_masks);
            }
        }
    }
}

// One member anywhere in or after ranges of every length at every offset:
// the last byte, the first byte of a block and the padding are where a
// vector kernel goes wrong.
TEST(skip_kernel, finds_a_lone_member_at_every_position_and_none_in_the_padding) {
    const auto kernels = available_kernels();
    for (const NamedSet& s : {range_set(0, 0), range_set(0xFF, 0xFF), range_set(0x80, 0xFE),
                              range_set(0x01, 0xFF)}) {
        const ByteSet set(s.members);
        unsigned char member = 0;
        unsigned char other = 0;
        while (!s.members[member]) ++member;
        while (s.members[other]) ++other;
        for (std::size_t n = 0; n <= 100; ++n) {
            for (std::size_t offset = 0; offset < kernel_block; ++offset) {
                Range r(offset, n);
                std::fill_n(r.data(), r.padded_size(), other);
                for (std::size_t q = 0; q < r.padded_size(); ++q) {
                    r.data()[q] = member;
                    std::vector<std::uint64_t> want(mask_words(n));
                    if (q < n) want[q / 64] = std::uint64_t{1} << q % 64;
                    for (const SkipKernel* k : kernels) {
                        const auto where = [&] {
                            return std::string(isa_name(k->isa)) + " set " + s.name + " n=" +
                                   std::to_string(n) + " offset=" + std::to_string(offset) +
                                   " member at " + std::to_string(q);
                        };
                        ASSERT_EQ(k->find_member(set, r.bytes()), std::min(q, n)) << where();
                        ASSERT_EQ(masks_of(*k, set, r), want) << where();
                    }
                    r.data()[q] = other;
                }
            }
        }
    }
}

TEST(skip_kernel, the_chosen_kernel_is_the_widest_this_processor_runs) {
    const auto kernels = available_kernels();
    ASSERT_FALSE(kernels.empty());
    EXPECT_EQ(kernels.front()->isa, Isa::scalar);  // the fallback is always there
    for (Isa isa : all_isas) {
        if (const SkipKernel* k = skip_kernel_for(isa)) {
            EXPECT_EQ(k->isa, isa) << isa_name(isa);
        }
    }
    EXPECT_EQ(&skip_kernel(), kernels.back()) << "chose " << isa_name(skip_kernel().isa);
#if defined(__x86_64__)
    // Every level has a kernel on x86-64, reached wherever the processor runs it.
    for (Isa isa : all_isas)
        EXPECT_EQ(skip_kernel_for(isa) != nullptr, isa_supported(isa)) << isa_name(isa);
    EXPECT_EQ(skip_kernel_for(Isa::avx2) != nullptr, __builtin_cpu_supports("avx2") != 0);
    EXPECT_EQ(skip_kernel_for(Isa::avx512) != nullptr, __builtin_cpu_supports("avx512vbmi") != 0);
#endif
}

}  // namespace
}  // namespace kurvane::scan
