#include "text/utf16_masks.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "text/text_scan.h"

namespace kurvane {
namespace {

using text::ByteOrder;
using text::UnitMaskKernel;

constexpr std::size_t word_bits = 64;

struct Masks {
    std::vector<std::uint64_t> member, kept, kana, high;
    explicit Masks(std::size_t words, std::uint64_t fill)
        : member(words, fill), kept(words, fill), kana(words, fill), high(words, fill) {}
    text::UnitTraitWords words() { return {member.data(), kept.data(), kana.data(), high.data()}; }
    bool operator==(const Masks&) const = default;
};

// The definition: bit k of each mask from the traits of unit k.
Masks plain_masks(const std::uint8_t* table, ByteOrder order, const unsigned char* p, std::size_t units,
                  std::size_t words) {
    Masks m(words, 0);
    for (std::size_t k = 0; k < units; ++k) {
        const unsigned v = order == ByteOrder::little ? p[2 * k] | p[2 * k + 1] << 8 : p[2 * k] << 8 | p[2 * k + 1];
        const std::uint8_t t = table[v];
        const std::uint64_t bit = std::uint64_t{1} << k % word_bits;
        if ((t & text::unit_role_bits) != 0) m.member[k / word_bits] |= bit;
        if ((t & text::unit_kept_bit) != 0) m.kept[k / word_bits] |= bit;
        if ((t & text::unit_kana_bit) != 0) m.kana[k / word_bits] |= bit;
        if ((t & text::unit_high_bit) != 0) m.high[k / word_bits] |= bit;
    }
    return m;
}

std::vector<const UnitMaskKernel*> kernels() {
    std::vector<const UnitMaskKernel*> out;
    for (const Isa isa : all_isas)
        if (const UnitMaskKernel* k = text::unit_mask_kernel_for(isa)) out.push_back(k);
    return out;
}

// Tables to read: the scan's own for two settings (one where U+0000 is
// excluded, so a zero unit is a member), and random trait bytes.
std::vector<std::vector<std::uint8_t>> tables() {
    std::vector<std::vector<std::uint8_t>> out;
    const text::ClassSet all = text::ClassSet::all();
    const text::ScanSpec specs[] = {{text::InputEncoding::utf16le, all, 1, {}, {}},
                                    {text::InputEncoding::utf16be, all, 1, {U'\0', U'あ'}, {}}};
    for (const text::ScanSpec& spec : specs) {
        const text::ScanTables t(spec);
        out.emplace_back(t.unit_table(), t.unit_table() + text::unit_table_size);
    }
    // Every row unlike (three held whole, the rest looked up), and every
    // row alike but the one looked up.
    std::mt19937 rng(7);
    std::vector<std::uint8_t> random(text::unit_table_size, 0), by_row(text::unit_table_size, 0);
    for (std::size_t u = 0; u < 0x10000; ++u) {
        random[u] = static_cast<std::uint8_t>(rng() & 0x0F);
        by_row[u] = static_cast<std::uint8_t>((u >> 8) % 16);
    }
    by_row[0x4E41] = 0x0F;
    out.push_back(std::move(random));
    out.push_back(std::move(by_row));
    return out;
}

TEST(Utf16Masks, EveryKernelMatchesTheDefinitionForEveryLengthAndOrder) {
    const auto all_tables = tables();
    std::mt19937 rng(19);
    // Units from the ranges the tables tell apart: ASCII, kana, kanji,
    // surrogates, zero, and any value.
    const unsigned highs[] = {0x00, 0x03, 0x20, 0x30, 0x4E, 0x9F, 0xD8, 0xDC, 0xFF};
    std::vector<unsigned char> data(2 * 3 * word_bits + 1);
    for (std::size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<unsigned char>(k % 3 == 0 ? highs[rng() % std::size(highs)] : rng());
    for (const UnitMaskKernel* kernel : kernels()) {
        for (std::size_t t = 0; t < all_tables.size(); ++t) {
            const text::UnitRows rows(all_tables[t].data());
            const text::UnitLookup look{all_tables[t].data(), rows};
            for (const ByteOrder order : {ByteOrder::little, ByteOrder::big}) {
                for (std::size_t first = 0; first < 2; ++first) {
                    for (std::size_t units = 0; 2 * units + first <= data.size(); ++units) {
                        // One word more than the units need, to be cleared.
                        const std::size_t words = (units + word_bits - 1) / word_bits + 1;
                        Masks got(words, 0xA5A5A5A5A5A5A5A5u);
                        (*kernel)(order, look, data.data() + first, units, words, got.words());
                        ASSERT_TRUE(got == plain_masks(all_tables[t].data(), order, data.data() + first, units, words))
                            << isa_name(kernel->isa) << " table " << t << " order " << static_cast<int>(order)
                            << " first " << first << " units " << units;
                    }
                }
            }
        }
    }
}

TEST(Utf16Masks, NoKernelReadsPastTheLastUnit) {
    // Units that end where an unreadable page begins.
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    auto* base = static_cast<unsigned char*>(map);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    std::memset(base, 0x4E, page);
    const text::ScanTables t({text::InputEncoding::utf16le, text::ClassSet().add(text::TextClass::kanji), 1, {}, {}});
    for (const UnitMaskKernel* kernel : kernels()) {
        for (const std::size_t units : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65}, std::size_t{200}}) {
            const std::size_t words = (units + word_bits - 1) / word_bits;
            Masks got(words, 0);
            const unsigned char* p = base + page - 2 * units;
            (*kernel)(ByteOrder::little, t.unit_lookup(), p, units, words, got.words());
            EXPECT_TRUE(got == plain_masks(t.unit_table(), ByteOrder::little, p, units, words))
                << isa_name(kernel->isa) << " units " << units;
        }
    }
    munmap(map, 2 * page);
}

}  // namespace
}  // namespace kurvane
