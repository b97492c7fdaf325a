#include "text/text_skip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "guarded_bytes.h"
#include "iconv_util.h"
#include "mixed_data.h"
#include "text/text_scan.h"

namespace kurvane {
namespace {

using test::Bytes;
using test::GuardedBytes;
using text::ClassSet;
using text::InputEncoding;
using text::SkipIsa;
using text::TextClass;
using text::TextSkip;

struct Encoding {
    InputEncoding encoding;
    const char* iconv_name;
};
constexpr Encoding encodings[] = {{InputEncoding::euc_jp, "EUC-JP"},
                                  {InputEncoding::utf8, "UTF-8"},
                                  {InputEncoding::utf16le, "UTF-16LE"},
                                  {InputEncoding::utf16be, "UTF-16BE"}};

bool utf16(InputEncoding e) { return e == InputEncoding::utf16le || e == InputEncoding::utf16be; }

std::uint32_t unit_at(InputEncoding e, const unsigned char* p) {
    return e == InputEncoding::utf16le ? p[0] | p[1] << 8 : p[0] << 8 | p[1];
}

// What may start a character, from the scan's own tables: a byte the scan
// does not pass over, or a code unit of a role other than none (a high
// surrogate's pair is decided by the scan).
bool starts(const text::ScanTables& t, std::uint32_t v) {
    if (!utf16(t.spec().encoding)) return t.may_start(static_cast<unsigned char>(v));
    return (v >= 0xD800 && v < 0xDC00) || t.role(v) != text::CharRole::none;
}

// The plain definition: step a unit at a time from i.
std::size_t plain_next(const text::ScanTables& t, const unsigned char* p, std::size_t n, std::size_t i) {
    const bool units = utf16(t.spec().encoding);
    const std::size_t w = units ? 2 : 1;
    for (; i < n && n - i >= w; i += w)
        if (starts(t, units ? unit_at(t.spec().encoding, p + i) : p[i])) return i;
    return i;
}

struct Setting {
    const char* name;
    ClassSet classes;
    std::vector<char32_t> excluded;
};

std::vector<Setting> settings() {
    ClassSet japanese;
    japanese.add(TextClass::hiragana).add(TextClass::katakana).add(TextClass::kanji);
    ClassSet digits;
    digits.add(TextClass::half_digit);
    return {{"japanese", japanese, {}},
            {"all", ClassSet::all(), {}},
            {"none", ClassSet{}, {}},
            // Few members far apart: more runs than one vector test takes,
            // so hits between them are checked.
            {"digits, scattered excluded", digits, {U'\t', U'A', U'~', 0x00E9, 0x0416, U'の', 0xFF5E, 0}},
            {"japanese, NUL and tab excluded", japanese, {0, U'\t'}}};
}

void put(InputEncoding e, Bytes& b, std::size_t at, std::uint32_t v) {
    if (!utf16(e)) {
        b[at] = static_cast<unsigned char>(v);
        return;
    }
    const bool little = e == InputEncoding::utf16le;
    b[at] = static_cast<unsigned char>(little ? v : v >> 8);
    b[at + 1] = static_cast<unsigned char>(little ? v >> 8 : v);
}

// Values on both sides of every edge of the members (v - 1 outside, v
// inside, or the other way), shuffled.
Bytes edge_values(const text::ScanTables& t, std::mt19937& rng) {
    const InputEncoding e = t.spec().encoding;
    const std::uint32_t end = utf16(e) ? 0x10000 : 0x100;
    std::vector<std::uint32_t> values;
    for (std::uint32_t v = 1; v < end; ++v)
        if (starts(t, v) != starts(t, v - 1)) values.insert(values.end(), {v - 1, v});
    std::shuffle(values.begin(), values.end(), rng);
    const std::size_t w = utf16(e) ? 2 : 1;
    Bytes out(values.size() * w);
    for (std::size_t k = 0; k < values.size(); ++k) put(e, out, k * w, values[k]);
    return out;
}

// Nothing that starts anything but one member, at each byte offset in
// turn: where a block begins, ends or is cut by the end of the range, and
// in UTF-16 in either alignment.
std::vector<Bytes> one_member_each(const text::ScanTables& t) {
    const InputEncoding e = t.spec().encoding;
    const std::uint32_t end = utf16(e) ? 0x10000 : 0x100;
    std::uint32_t member = end, other = end;
    for (std::uint32_t v = end; v-- > 0;) (starts(t, v) ? member : other) = v;
    std::vector<Bytes> out;
    if (member == end || other == end) return out;
    const std::size_t w = utf16(e) ? 2 : 1;
    constexpr std::size_t size = 72;
    for (std::size_t at = 0; at + w <= size; ++at) {
        Bytes b(size);
        for (std::size_t k = 0; k + w <= size; k += w) put(e, b, k, other);
        put(e, b, at, member);
        out.push_back(std::move(b));
    }
    return out;
}

// Every skip this machine runs stops where the plain definition does, from
// every offset, for every length around the block widths, in every
// encoding, under several settings, on text, noise and edge values.
TEST(text_skip, every_skip_stops_at_the_first_start) {
    std::mt19937 rng(19);
    GuardedBytes guarded;
    ASSERT_TRUE(guarded.ok());
    for (const Encoding& e : encodings) {
        for (const Setting& s : settings()) {
            const text::ScanTables tables({e.encoding, s.classes, 1, s.excluded, {}});
            const TextSkip& skip = tables.skip();
            std::vector<Bytes> inputs = one_member_each(tables);
            inputs.push_back(test::mixed_data(e.iconv_name, rng));
            inputs.push_back(edge_values(tables, rng));
            Bytes noise(300);
            for (unsigned char& b : noise) b = static_cast<unsigned char>(rng());
            inputs.push_back(noise);
            for (const Bytes& in : inputs) {
                // Offsets past the first block's width and lengths to past
                // the second, so each skip starts and ends inside a block.
                for (std::size_t i = 0; i < std::min<std::size_t>(in.size(), 40); ++i) {
                    for (std::size_t n = i; n <= std::min(in.size(), i + 72); ++n) {
                        const std::size_t want = plain_next(tables, in.data(), n, i);
                        // The range's end is the end of what may be read.
                        const unsigned char* p = guarded.place(in.data(), n);
                        for (const SkipIsa isa : text::all_skip_isas) {
                            if (!text::skip_isa_available(isa)) continue;
                            ASSERT_EQ(skip.next_with(isa, p, n, i), want)
                                << e.iconv_name << ", " << s.name << ", " << text::skip_isa_name(isa) << ", from "
                                << i << " to " << n << " of " << test::hex(in.data(), std::min<std::size_t>(in.size(), 80));
                        }
                    }
                }
                // The whole input, as the scan asks for it.
                ASSERT_EQ(skip.next(guarded.place(in.data(), in.size()), in.size(), 0),
                          plain_next(tables, in.data(), in.size(), 0))
                    << e.iconv_name << ", " << s.name;
            }
        }
    }
}

// The scan's skip holds exactly what may start a character; its ranges
// cover every member and, where there are few enough runs of members,
// nothing else, so the vector test needs no check.
TEST(text_skip, ranges_cover_the_members) {
    for (const Encoding& e : encodings) {
        for (const Setting& s : settings()) {
            const text::ScanTables tables({e.encoding, s.classes, 1, s.excluded, {}});
            const TextSkip& skip = tables.skip();
            const std::uint32_t end = utf16(e.encoding) ? 0x10000 : 0x100;
            std::size_t runs = 0, outside = 0;
            for (std::uint32_t v = 0; v < end; ++v) {
                const bool member = starts(tables, v);
                ASSERT_EQ(skip.member(v), member) << e.iconv_name << ", " << s.name << ", value " << v;
                runs += member && (v == 0 || !starts(tables, v - 1));
                const auto r = skip.ranges();
                const bool covered = std::any_of(r.begin(), r.end(), [&](const text::SkipRange& x) { return v >= x.first && v <= x.last; });
                ASSERT_TRUE(covered || !member) << e.iconv_name << ", " << s.name << ", value " << v;
                outside += covered && !member;
            }
            EXPECT_LE(skip.ranges().size(), text::skip_ranges);
            EXPECT_EQ(skip.exact(), runs <= text::skip_ranges) << e.iconv_name << ", " << s.name;
            if (skip.exact()) {
                EXPECT_EQ(outside, 0u) << e.iconv_name << ", " << s.name;
            }
        }
    }
}

// The way the skip was first built, a value at a time: the members as
// bools, their runs, then the widest skip_ranges - 1 gaps between runs
// kept (the earlier of equal ones, by a stable sort) and the others closed.
std::vector<text::SkipRange> old_ranges(const std::vector<bool>& members, bool& exact) {
    std::vector<text::SkipRange> runs;
    for (std::size_t v = 0; v < members.size(); ++v) {
        if (!members[v]) continue;
        const auto u = static_cast<std::uint16_t>(v);
        if (!runs.empty() && runs.back().last + 1u == v) runs.back().last = u;
        else runs.push_back({u, u});
    }
    exact = runs.size() <= text::skip_ranges;
    if (exact) return runs;
    std::vector<std::size_t> gaps(runs.size() - 1);
    for (std::size_t k = 0; k < gaps.size(); ++k) gaps[k] = k;
    const auto width = [&](std::size_t k) { return runs[k + 1].first - runs[k].last; };
    std::stable_sort(gaps.begin(), gaps.end(), [&](std::size_t a, std::size_t b) { return width(a) > width(b); });
    gaps.resize(text::skip_ranges - 1);
    std::sort(gaps.begin(), gaps.end());
    std::vector<text::SkipRange> merged;
    std::size_t from = 0;
    for (const std::size_t k : gaps) {
        merged.push_back({runs[from].first, runs[k].last});
        from = k + 1;
    }
    merged.push_back({runs[from].first, runs.back().last});
    return merged;
}

// Role bytes of many shapes: a few runs far apart, runs whose gaps tie,
// single values at random, dense noise, all and none, across word edges.
std::vector<std::vector<std::uint8_t>> role_shapes(std::size_t size, std::mt19937& rng) {
    std::vector<std::vector<std::uint8_t>> out;
    for (const unsigned density : {0u, 1u, 3u, 50u, 97u, 100u}) {
        std::vector<std::uint8_t> r(size);
        for (std::uint8_t& b : r) b = rng() % 100 < density ? static_cast<std::uint8_t>(1 + rng() % 255) : 0;
        out.push_back(std::move(r));
    }
    for (const std::size_t runs : {1u, 3u, 4u, 5u, 9u, 40u}) {
        std::vector<std::uint8_t> r(size);
        for (std::size_t k = 0; k < runs; ++k) {
            const std::size_t at = rng() % size, len = 1 + rng() % 130;
            for (std::size_t v = at; v < std::min(size, at + len); ++v) r[v] = 0x80;
        }
        out.push_back(std::move(r));
    }
    // Evenly spaced members: every gap ties, so the earliest are kept.
    for (const std::size_t step : {2u, 7u, 64u, 65u}) {
        std::vector<std::uint8_t> r(size);
        for (std::size_t v = step / 2; v < size; v += step) r[v] = 4;
        out.push_back(std::move(r));
    }
    return out;
}

// The skips built from role bytes a word at a time hold exactly the
// members and the ranges of the way they were first built, for every
// value, from tables of every length (a part of a word at the end).
TEST(text_skip, built_as_the_value_at_a_time_way) {
    std::mt19937 rng(23);
    for (const std::size_t size : {std::size_t{0x10000}, std::size_t{0x10000 + 64}, std::size_t{0xD7FF},
                                   std::size_t{300}, std::size_t{0}}) {
        for (const std::vector<std::uint8_t>& roles : role_shapes(std::max<std::size_t>(size, 1), rng)) {
            const std::span<const std::uint8_t> span(roles.data(), size);
            std::vector<bool> members(0x10000);
            for (std::size_t u = 0; u < members.size(); ++u)
                members[u] = (u >= 0xD800 && u < 0xDC00) || (u < size && roles[u] != 0);
            bool want_exact = false;
            const std::vector<text::SkipRange> want = old_ranges(members, want_exact);
            for (const text::ByteOrder order : {text::ByteOrder::little, text::ByteOrder::big}) {
                const TextSkip skip = TextSkip::of_units(order, span);
                std::size_t wrong = 0;
                for (std::uint32_t u = 0; u < members.size(); ++u) wrong += skip.member(u) != members[u];
                ASSERT_EQ(wrong, 0u) << "size " << size;
                ASSERT_EQ(skip.exact(), want_exact) << "size " << size;
                ASSERT_EQ(skip.ranges().size(), want.size()) << "size " << size;
                for (std::size_t k = 0; k < want.size(); ++k) {
                    EXPECT_EQ(skip.ranges()[k].first, want[k].first) << "size " << size << ", range " << k;
                    EXPECT_EQ(skip.ranges()[k].last, want[k].last) << "size " << size << ", range " << k;
                }
            }
        }
    }
    for (const std::vector<std::uint8_t>& roles : role_shapes(256, rng)) {
        std::array<bool, 256> starts{};
        for (std::size_t b = 0; b < 256; ++b) starts[b] = roles[b] != 0;
        const std::vector<bool> members(starts.begin(), starts.end());
        bool want_exact = false;
        const std::vector<text::SkipRange> want = old_ranges(members, want_exact);
        const TextSkip skip = TextSkip::of_bytes(starts);
        for (std::uint32_t b = 0; b < 256; ++b) ASSERT_EQ(skip.member(b), starts[b]) << b;
        ASSERT_EQ(skip.exact(), want_exact);
        ASSERT_EQ(skip.ranges().size(), want.size());
        for (std::size_t k = 0; k < want.size(); ++k) {
            EXPECT_EQ(skip.ranges()[k].first, want[k].first) << k;
            EXPECT_EQ(skip.ranges()[k].last, want[k].last) << k;
        }
    }
    // Every byte, as the skip that stops at once is made.
    const TextSkip all;
    for (std::uint32_t b = 0; b < 256; ++b) EXPECT_TRUE(all.member(b)) << b;
    EXPECT_TRUE(all.exact());
    ASSERT_EQ(all.ranges().size(), 1u);
    EXPECT_EQ(all.ranges()[0].last - all.ranges()[0].first, 255);
}

}  // namespace
}  // namespace kurvane
