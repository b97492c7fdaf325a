#include "text/wide_runs.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "guarded_bytes.h"
#include "iconv_util.h"
#include "text/text_scan.h"

namespace kurvane {
namespace {

using test::Bytes;
using text::ClassSet;
using text::InputEncoding;
using text::PairLimits;
using text::TextClass;

std::vector<text::ScanTables> euc_tables() {
    ClassSet japanese;
    japanese.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    ClassSet symbols;
    symbols.add(TextClass::full_symbol).add(TextClass::full_digit);
    std::vector<text::ScanTables> t;
    t.emplace_back(text::ScanSpec{InputEncoding::euc_jp, ClassSet::all(), 1, {}, {}});
    // An excluded character cuts its row's limit short: it is not kept.
    t.emplace_back(text::ScanSpec{InputEncoding::euc_jp, japanese, 1, {U'の', 0x4E9C}, {}});
    t.emplace_back(text::ScanSpec{InputEncoding::euc_jp, symbols, 1, {}, {}});
    t.emplace_back(text::ScanSpec{InputEncoding::euc_jp, ClassSet{}, 1, {}, {}});
    return t;
}

// A row's limit is the end of the kept pairs that open it: every pair up to
// it is kept, and the one after it is not.
TEST(wide_runs, limits_end_the_kept_pairs_that_open_each_row) {
    for (const text::ScanTables& t : euc_tables()) {
        const text::ByteRoles& roles = t.byte_roles();
        const PairLimits& limits = roles.pair_limits();
        for (unsigned lead = 0; lead < 256; ++lead) {
            unsigned end = text::first_trail;
            for (; end < 256; ++end) {
                const unsigned char p[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(end)};
                if (roles.pair_role(p) != 1) break;
            }
            const unsigned want = end > text::first_trail ? end - 1 : 0;
            EXPECT_EQ(limits[lead], want) << "lead " << lead;
        }
    }
}

// Input that stops a block at every lane: kept pairs of several rows, with
// pairs past a row's limit, bytes below 0x80, odd bytes and lone bytes
// between them.
Bytes mixed_pairs(std::mt19937& rng, const PairLimits& limits, std::size_t n) {
    std::vector<unsigned> kept_leads;
    for (unsigned lead = text::first_trail; lead < 256; ++lead)
        if (limits[lead] >= text::first_trail) kept_leads.push_back(lead);
    Bytes b;
    while (b.size() < n) {
        const unsigned pick = rng() % 64;
        if (pick < 60 && !kept_leads.empty()) {
            const unsigned lead = kept_leads[rng() % kept_leads.size()];
            b.push_back(static_cast<unsigned char>(lead));
            b.push_back(static_cast<unsigned char>(text::first_trail + rng() % (limits[lead] - text::first_trail + 1u)));
        } else if (pick == 60) {
            b.push_back(static_cast<unsigned char>(rng() % 0x80));
        } else if (pick == 61 && !kept_leads.empty()) {
            const unsigned lead = kept_leads[rng() % kept_leads.size()];
            b.push_back(static_cast<unsigned char>(lead));
            b.push_back(static_cast<unsigned char>(limits[lead] + 1u));
        } else {
            b.push_back(static_cast<unsigned char>(rng()));
        }
    }
    b.resize(n);
    return b;
}

// Every kernel this machine runs takes the pairs the scalar kernel takes,
// from every position and for every length up to past two blocks, reading
// no byte past the end.
TEST(wide_runs, kernels_take_the_scalar_pairs) {
    std::mt19937 rng(19);
    test::GuardedBytes guarded;
    ASSERT_TRUE(guarded.ok());
    for (const text::ScanTables& t : euc_tables()) {
        const PairLimits& limits = t.byte_roles().pair_limits();
        for (int round = 0; round < 40; ++round) {
            const Bytes in = mixed_pairs(rng, limits, 160);
            for (std::size_t n = 0; n <= in.size(); ++n) {
                const unsigned char* p = guarded.place(in.data() + (in.size() - n), n);
                const std::size_t want = text::detail::scalar_kept_pairs(limits, p, n);
                for (const Isa isa : all_isas) {
                    const text::WideRunKernel* k = text::wide_run_kernel_for(isa);
                    if (k == nullptr) continue;
                    ASSERT_EQ(k->kept_pairs(limits, p, n), want) << isa_name(isa) << ": " << test::hex(p, n);
                }
            }
        }
    }
}

// The scalar kernel itself: whole pairs only, each within its lead's limit.
TEST(wide_runs, scalar_kernel_takes_whole_kept_pairs) {
    PairLimits limits{};
    limits[0xA4] = 0xF3;
    limits[0xB0] = 0xFE;
    struct Case {
        Bytes in;
        std::size_t want;
    };
    const Case cases[] = {
        {{}, 0},
        {{0xA4}, 0},
        {{0xA4, 0xA2, 0xB0}, 2},                  // a lone lead at the end
        {{0xA4, 0xF3, 0xB0, 0xFE, 0xA4, 0xF4}, 4},  // past the row's limit
        {{0xA4, 0xA0}, 0},                        // below the first trail
        {{0xA5, 0xA1}, 0},                        // a row with no limit
        {{0x24, 0xA2}, 0},                        // a byte below 0x80 as the lead
    };
    for (const Case& c : cases)
        EXPECT_EQ(text::detail::scalar_kept_pairs(limits, c.in.data(), c.in.size()), c.want) << test::hex(c.in.data(), c.in.size());
}

}  // namespace
}  // namespace kurvane
