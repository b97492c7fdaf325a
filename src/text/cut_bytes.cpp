#include "text/cut_bytes.h"

#include <algorithm>
#include <cstdint>

#include "text/euc_jp.h"
#include "text/unicode_class.h"
#include "text/utf8_decode.h"

namespace kurvane::text {
namespace {

// The classes present in each distinct block of the class table.
class BlockClasses {
public:
    BlockClasses() {
        std::size_t blocks = 0;
        for (const std::uint8_t b : detail::unicode_class_index) blocks = std::max<std::size_t>(blocks, b + 1u);
        for (std::size_t k = 0; k < blocks; ++k) {
            for (const std::uint8_t c : detail::unicode_class_blocks[k])
                masks_[k] = static_cast<std::uint16_t>(masks_[k] | 1u << c);
        }
    }
    std::uint16_t of(char32_t block_start) const {
        return masks_[detail::unicode_class_index[block_start / detail::unicode_class_block_size]];
    }

private:
    std::array<std::uint16_t, 256> masks_{};
};

class Taken {
public:
    Taken(ClassSet classes, std::span<const char32_t> excluded) : classes_(classes), excluded_(excluded) {}

    bool any(char32_t first, char32_t last) const {
        for (const char32_t e : excluded_)
            if (e >= first && e <= last) return true;
        static const BlockClasses blocks;
        constexpr char32_t block = detail::unicode_class_block_size;
        for (char32_t u = first; u <= last;) {
            if (u % block == 0 && last - u >= block - 1) {
                if ((blocks.of(u) & classes_.bits()) != 0) return true;
                u += block;
            } else {
                if (classes_.contains(unicode_class(u))) return true;
                ++u;
            }
        }
        return false;
    }
    bool one(char32_t u) const { return any(u, u); }

private:
    ClassSet classes_;
    std::span<const char32_t> excluded_;
};

// The code points of the characters a UTF-8 lead byte starts.
struct LeadRange {
    char32_t first;
    char32_t last;
};
LeadRange utf8_lead_range(unsigned char lead) {
    const detail::Utf8Lead l = detail::utf8_leads[lead];
    const unsigned tail_bits = 6u * (l.length - 1u);
    const char32_t base = static_cast<char32_t>(lead & (0x7Fu >> l.length)) << tail_bits;
    const char32_t span = char32_t{1} << (tail_bits - 6u);
    return {base + (l.second_first & 0x3Fu) * span, base + (l.second_last & 0x3Fu) * span + span - 1};
}

void utf8_rule(const Taken& taken, CutRule& rule) {
    for (unsigned b = 0; b < 256; ++b) {
        const auto c = static_cast<unsigned char>(b);
        const detail::Utf8Lead l = detail::utf8_leads[c];
        if (detail::utf8_continuation(c)) continue;
        if (l.length == 0) {
            rule.bytes[b] = true;  // starts nothing and is inside nothing
        } else if (l.length == 1) {
            rule.bytes[b] = !taken.one(c);
        } else {
            const LeadRange r = utf8_lead_range(c);
            rule.bytes[b] = !taken.any(r.first, r.last);
        }
    }
}

// Only bytes below 0xA1 can be cuts: every byte 0xA1-0xFE may be a second
// or third byte.
void euc_jp_rule(const Taken& taken, CutRule& rule) {
    using namespace detail;
    for (unsigned b = 0; b < euc_jp_cell_first; ++b) {
        const auto c = static_cast<unsigned char>(b);
        if (c == euc_jp_ss2) {
            rule.bytes[b] = !taken.any(half_katakana_first, half_katakana_first + (euc_jp_kana_last - euc_jp_cell_first));
        } else if (c == euc_jp_ss3) {
            bool any = false;
            for (const auto& row : euc_jp_jis0212)
                for (const std::uint16_t u : row) any = any || (u != 0 && taken.one(u));
            rule.bytes[b] = !any;
        } else {
            const Decoded d = decode_euc_jp(&c, 1);
            rule.bytes[b] = !d.valid() || !taken.one(d.value);
        }
    }
    rule.bytes[0xFF] = true;
}

}  // namespace

CutRule cut_rule(InputEncoding encoding, ClassSet classes, std::span<const char32_t> excluded) {
    CutRule rule;
    const Taken taken(classes, excluded);
    switch (encoding) {
        case InputEncoding::cp932: break;
        case InputEncoding::euc_jp: euc_jp_rule(taken, rule); break;
        case InputEncoding::utf8: utf8_rule(taken, rule); break;
        case InputEncoding::utf16le:
        case InputEncoding::utf16be:
            rule.zero_triples = std::find(excluded.begin(), excluded.end(), char32_t{0}) == excluded.end();
            break;
    }
    return rule;
}

bool is_cut(const CutRule& rule, const unsigned char* data, std::size_t size, std::size_t pos) {
    if (rule.bytes[data[pos]]) return true;
    return rule.zero_triples && pos + 1 < size && data[pos - 1] == 0 && data[pos] == 0 && data[pos + 1] == 0;
}

}  // namespace kurvane::text
