#include "text/start_mask.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "guarded_bytes.h"
#include "iconv_util.h"
#include "mixed_data.h"
#include "text/text_scan.h"

namespace kurvane {
namespace {

using test::Bytes;
using text::ClassSet;
using text::InputEncoding;
using text::TextClass;
using text::start_block_bytes;
using text::start_block_reads;

struct Case {
    const char* name;
    InputEncoding encoding;
    const char* iconv_name;
    ClassSet classes;
    std::vector<char32_t> excluded;
};

std::vector<Case> cases() {
    ClassSet japanese;
    japanese.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    ClassSet digits;
    digits.add(TextClass::half_digit);
    std::vector<Case> out;
    for (const auto& [e, name] : {std::pair{InputEncoding::euc_jp, "EUC-JP"}, std::pair{InputEncoding::utf8, "UTF-8"}}) {
        out.push_back({"japanese", e, name, japanese, {}});
        out.push_back({"all", e, name, ClassSet::all(), {}});
        out.push_back({"none", e, name, ClassSet{}, {}});
        // Single bytes only, and an excluded character of two bytes.
        out.push_back({"digits, excluded", e, name, digits, {U'\t', 0x00E9, U'の'}});
    }
    return out;
}

// Every lead byte before every byte, then text and noise of the encoding:
// each block of it that the tests read holds some of each.
Bytes sweep_input(const char* iconv_name, std::mt19937& rng) {
    Bytes in;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) in.insert(in.end(), {static_cast<unsigned char>(a), static_cast<unsigned char>(b)});
    const Bytes mixed = test::mixed_data(iconv_name, rng);
    in.insert(in.end(), mixed.begin(), mixed.end());
    return in;
}

// Every kernel this machine runs gives the scalar kernel's mask for every
// block, reading no byte past the one after it.
TEST(start_mask, kernels_give_the_scalar_mask) {
    std::mt19937 rng(65);
    test::GuardedBytes guarded;
    ASSERT_TRUE(guarded.ok());
    for (const Case& c : cases()) {
        const text::ScanTables tables({c.encoding, c.classes, 1, c.excluded, {}});
        const Bytes in = sweep_input(c.iconv_name, rng);
        // Odd steps put each pair at every position of a block, the byte
        // after the block included.
        for (std::size_t at = 0; at + start_block_reads <= in.size(); at += 61) {
            const unsigned char* p = guarded.place(in.data() + at, start_block_reads);
            const std::uint64_t want = text::detail::scalar_start_mask_block(tables.start_classes(), p);
            for (const Isa isa : all_isas) {
                const text::StartMaskKernel* k = text::start_mask_kernel_for(isa);
                if (k == nullptr) continue;
                EXPECT_EQ(k->mask(tables.start_classes(), p), want)
                    << c.iconv_name << ", " << c.name << ", " << isa_name(isa) << ": " << test::hex(p, start_block_reads);
            }
        }
    }
}

// A position is marked wherever a kept or excluded character starts, and
// never where the byte starts none or is a lead byte not followed by a
// byte that may follow one: those the scan would read only to drop.
TEST(start_mask, marks_every_character_and_no_lone_lead) {
    std::mt19937 rng(66);
    for (const Case& c : cases()) {
        const text::ScanTables tables({c.encoding, c.classes, 1, c.excluded, {}});
        const Bytes in = sweep_input(c.iconv_name, rng);
        std::size_t marked = 0;
        for (std::size_t at = 0; at + start_block_reads <= in.size(); at += start_block_bytes) {
            const unsigned char* p = in.data() + at;
            const std::uint64_t m = text::detail::scalar_start_mask_block(tables.start_classes(), p);
            for (std::size_t k = 0; k < start_block_bytes; ++k) {
                const bool bit = (m >> k & 1) != 0;
                marked += bit;
                const auto step = c.encoding == InputEncoding::euc_jp
                                      ? text::detail::step_at<InputEncoding::euc_jp>(tables, p + k, in.size() - at - k)
                                      : text::detail::step_at<InputEncoding::utf8>(tables, p + k, in.size() - at - k);
                const std::string where = std::string(c.iconv_name) + ", " + c.name + ": " + test::hex(p + k, 2);
                EXPECT_TRUE(step.role == 0 || bit) << where;
                EXPECT_TRUE(tables.may_start(p[k]) || !bit) << where;
                const text::StartClasses& sc = tables.start_classes();
                const bool lone_lead = (sc.of(p[k]) & sc.lead) != 0 && (sc.of(p[k + 1]) & sc.trail) == 0;
                EXPECT_FALSE(lone_lead && bit) << where;
            }
        }
        // The sweep is not vacuous: each setting but "none" marks some.
        EXPECT_TRUE(std::string(c.name) == "none" || marked > 0) << c.iconv_name << ", " << c.name;
    }
}

}  // namespace
}  // namespace kurvane
