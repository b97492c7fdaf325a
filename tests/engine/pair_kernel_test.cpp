// The pair kernels and the pair ranges they test, which share the settings
// their tests sweep.
#include "engine/scan/pair_kernel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/classes/scan_table.h"
#include "engine/scan/extract_pass.h"

namespace kurvane::scan {
namespace {

// The scanner hands the kernel positions in its piece buffers.
static_assert(pair_block_reach <= detail::piece_padding);

using S = ExtractionSettings;
using Flag = std::int32_t S::*;

constexpr Flag all_flags[] = {&S::half_digits,   &S::half_upper,    &S::half_lower,
                              &S::half_katakana, &S::half_symbols,  &S::full_hiragana,
                              &S::full_katakana, &S::full_kanji,    &S::full_digits,
                              &S::full_upper,    &S::full_lower,    &S::full_cyrillic,
                              &S::full_greek,    &S::full_symbols};

struct NamedSettings {
    std::string name;
    ExtractionSettings settings;
    bool common;  // settings users run with, which must take the vector path
};

ExtractionSettings with_all(std::int32_t value) {
    ExtractionSettings s;
    for (Flag f : all_flags) s.*f = value;
    return s;
}

ExtractionSettings with_excluded(ExtractionSettings s, std::initializer_list<unsigned> pairs) {
    std::size_t k = 0;
    for (unsigned p : pairs) {
        s.excluded_pairs[k][0] = static_cast<unsigned char>(p >> 8);
        s.excluded_pairs[k][1] = static_cast<unsigned char>(p);
        ++k;
    }
    return s;
}

// The tables the scan meets: the defaults and all classes, each class
// alone, excluded pairs at the edges of ranges (their first and last trail,
// either side of the gap) and inside them, so many that the groups run out,
// and random class sets with random excluded pairs.
std::vector<NamedSettings> test_settings() {
    ExtractionSettings long_runs = with_all(1);
    long_runs = with_excluded(long_runs, {0x8140, 0x5C6E, 0x8145});
    std::vector<NamedSettings> list{
        {"defaults", ExtractionSettings{}, true},
        {"all classes", with_all(1), true},
        {"no classes", with_all(0), false},
        {"all classes, three excluded", long_runs, true},
        {"edges excluded",
         with_excluded(S{}, {0x889F, 0x9FFC, 0x897E, 0x8980, 0x8940, 0xE0FC, 0x82F1, 0x829F}), false},
        {"inside excluded", with_excluded(S{}, {0x93FA, 0x8250, 0x8396}), false},
        {"a group per row",
         with_excluded(S{}, {0x8940, 0x8A41, 0x8B42, 0x8C43, 0x8D44, 0x8E45, 0x8F46, 0x9047,
                             0x9148, 0x9249, 0x934A, 0x944B}),
         false},
    };
    for (Flag f : all_flags) {
        ExtractionSettings s = with_all(0);
        s.*f = 1;
        list.push_back({"one class", s, false});
    }
    std::mt19937 rng(932);
    for (int k = 0; k < 24; ++k) {
        ExtractionSettings s = with_all(0);
        for (Flag f : all_flags) s.*f = rng() % 2 == 0;
        for (auto& e : s.excluded_pairs) {
            if (rng() % 3 != 0) continue;
            e[0] = static_cast<unsigned char>(0x81 + rng() % 0x7C);
            e[1] = static_cast<unsigned char>(0x40 + rng() % 0xBD);
        }
        list.push_back({"random " + std::to_string(k), s, false});
    }
    return list;
}

std::string pair_text(unsigned lead, unsigned trail) {
    char text[32];
    std::snprintf(text, sizeof text, "c=0x%02x t=0x%02x", lead, trail);
    return text;
}

std::vector<const PairKernel*> available_kernels() {
    std::vector<const PairKernel*> kernels;
    for (Isa isa : all_isas)
        if (const PairKernel* k = pair_kernel_for(isa)) kernels.push_back(k);
    return kernels;
}

bool is_double(const detail::ScanTable& table, unsigned lead, unsigned trail) {
    return table.at(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)) ==
           CharClass::Double;
}

// Every one of the 65,536 pairs: the ranges say what the table says, except
// that for a lead of an inexact group they may only leave a pair out.
TEST(pair_ranges, answer_as_the_table_for_every_pair) {
    for (const NamedSettings& ns : test_settings()) {
        SCOPED_TRACE(ns.name);
        detail::ScanTable table;
        detail::build_scan_table(ns.settings, table);
        const PairRanges& r = table.pair_ranges;
        if (ns.common) {
            EXPECT_TRUE(r.usable);
        }
        for (unsigned lead = 0; lead < 256; ++lead) {
            for (unsigned trail = 0; trail < 256; ++trail) {
                const bool want = is_double(table, lead, trail);
                const bool got = r.in_ranges(static_cast<unsigned char>(lead),
                                             static_cast<unsigned char>(trail));
                if (r.usable && r.inexact[lead] == 0) {
                    ASSERT_EQ(got, want) << pair_text(lead, trail);
                } else {
                    ASSERT_TRUE(!got || want) << pair_text(lead, trail) << " is no double-byte pair";
                }
            }
        }
    }
    // Hiragana, katakana and kanji, the bulk of ordinary text, need no
    // lookups under the defaults.
    detail::ScanTable table;
    detail::build_scan_table(ExtractionSettings{}, table);
    for (unsigned lead : {0x82u, 0x83u, 0x88u, 0x89u, 0x98u, 0x9Fu, 0xE0u, 0xEAu})
        EXPECT_EQ(table.pair_ranges.inexact[lead], 0) << pair_text(lead, 0);
}

// Data whose pairs are mostly in the set, so that blocks are often all
// members, with bytes that stop a span at random positions.
std::vector<unsigned char> mostly_pairs(const detail::ScanTable& table, std::mt19937& rng,
                                        std::size_t n, unsigned stop_rarity) {
    std::vector<unsigned> pairs;
    for (unsigned lead = 0x80; lead < 256; ++lead)
        for (unsigned trail = 0; trail < 256; ++trail)
            if (is_double(table, lead, trail)) pairs.push_back(lead << 8 | trail);
    std::vector<unsigned char> d;
    while (d.size() < n) {
        if (pairs.empty() || rng() % stop_rarity == 0) {
            d.push_back(static_cast<unsigned char>(rng()));
            continue;
        }
        const unsigned p = pairs[rng() % pairs.size()];
        d.push_back(static_cast<unsigned char>(p >> 8));
        d.push_back(static_cast<unsigned char>(p));
    }
    d.resize(n);
    return d;
}

// Both kernels' masks, the double-byte ones and then the two planes of
// unit_masks.
std::vector<std::uint64_t> masks_of(const PairKernel& kernel, const PairRanges& r,
                                    const unsigned char* b, std::size_t n) {
    // Exactly the words promised, so a sanitizer build catches one more.
    std::vector<std::uint64_t> masks(mask_words(n));
    std::vector<std::uint64_t> units(2 * mask_words(n));
    kernel.double_masks(r, PaddedBytes::padded<kernel_overread>(b, n), masks.data());
    kernel.unit_masks(r, PaddedBytes::padded<kernel_overread>(b, n), units.data());
    masks.insert(masks.end(), units.begin(), units.end());
    return masks;
}

// What a scan by masks relies on: at a lead that is not looked up, the
// ranges and always_single class every pair as the table does, and at one
// that is, a pair in the ranges is still a double-byte character.
TEST(pair_kernel, unlooked_leads_are_classed_by_ranges_and_single_bytes) {
    for (const NamedSettings& ns : test_settings()) {
        detail::ScanTable table;
        detail::build_scan_table(ns.settings, table);
        const PairRanges& r = table.pair_ranges;
        if (!r.usable) continue;
        for (unsigned lead = 0; lead < 256; ++lead) {
            if (table.can_start[lead] == 0) continue;
            for (unsigned trail = 0; trail < 256; ++trail) {
                const auto l = static_cast<unsigned char>(lead);
                const auto t = static_cast<unsigned char>(trail);
                const CharClass told = r.in_ranges(l, t)            ? CharClass::Double
                                       : table.always_single[l] != 0 ? CharClass::Single
                                                                     : CharClass::None;
                if (r.looked_up[l] != 0 && told != CharClass::Double) continue;
                char pair[16];
                std::snprintf(pair, sizeof pair, "c=0x%02x t=0x%02x", lead, trail);
                ASSERT_EQ(table.at(l, t), told) << ns.name << " " << pair;
            }
        }
    }
}

// The vector kernel against the scalar one: every pair, at even and at odd
// positions, and data of mostly pairs in the set, in ranges of every length
// around the block widths at every alignment, followed by exactly the bytes
// a kernel may read (a sanitizer build catches one more) and those not zero.
TEST(pair_kernel, every_kernel_agrees_with_the_scalar_one) {
    const auto kernels = available_kernels();
    ASSERT_FALSE(kernels.empty());
    ASSERT_EQ(kernels.front()->isa, Isa::scalar);
    std::mt19937 rng(17);
    for (const NamedSettings& ns : test_settings()) {
        detail::ScanTable table;
        detail::build_scan_table(ns.settings, table);
        const PairRanges& r = table.pair_ranges;
        std::vector<unsigned char> all(2 * 65536 + kernel_overread);
        for (unsigned k = 0; k < 65536; ++k) {
            all[2 * k] = static_cast<unsigned char>(k >> 8);
            all[2 * k + 1] = static_cast<unsigned char>(k);
        }
        const std::size_t n_all = all.size() - kernel_overread;
        const auto want_all = masks_of(*kernels.front(), r, all.data(), n_all);
        for (const PairKernel* k : kernels)
            ASSERT_EQ(masks_of(*k, r, all.data(), n_all), want_all) << ns.name << " " << isa_name(k->isa);
        for (unsigned rarity : {8u, 60u, 1000u}) {
            std::vector<unsigned char> d = mostly_pairs(table, rng, 400, rarity);
            for (std::size_t n = 0; n <= 130; ++n) {
                const std::size_t at = (n * 7 + rarity) % 64;
                std::vector<unsigned char> b(d.begin() + static_cast<std::ptrdiff_t>(at),
                                             d.begin() + static_cast<std::ptrdiff_t>(at + n + kernel_overread));
                const auto want = masks_of(*kernels.front(), r, b.data(), n);
                for (const PairKernel* k : kernels)
                    ASSERT_EQ(masks_of(*k, r, b.data(), n), want)
                        << ns.name << " " << isa_name(k->isa) << " rarity " << rarity << " n=" << n;
            }
        }
    }
}

TEST(pair_kernel, the_vector_kernel_is_chosen_where_the_processor_runs_it) {
#if defined(__x86_64__)
    for (Isa isa : {Isa::avx2, Isa::avx512})
        EXPECT_EQ(pair_kernel_for(isa) != nullptr, isa_supported(isa)) << isa_name(isa);
    EXPECT_EQ(pair_kernel_for(Isa::avx512) != nullptr, __builtin_cpu_supports("avx512vbmi") != 0);
#endif
    EXPECT_EQ(pair_kernel_for(Isa::ssse3), nullptr);
    // The widest level that has a kernel, else the scalar one.
    Isa want = Isa::scalar;
    for (Isa isa : {Isa::avx2, Isa::avx512})
        if (pair_kernel_for(isa) != nullptr) want = isa;
    EXPECT_EQ(pair_kernel().isa, want);
}

}  // namespace
}  // namespace kurvane::scan
