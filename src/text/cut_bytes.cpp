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

using ByteSet = std::array<bool, 256>;

ByteSet utf8_starts_taken(const Taken& taken) {
    ByteSet starts{};
    for (unsigned b = 0; b < 256; ++b) {
        const auto c = static_cast<unsigned char>(b);
        const detail::Utf8Lead l = detail::utf8_leads[c];
        if (l.length == 1) {
            starts[b] = taken.one(c);
        } else if (l.length > 1) {
            const LeadRange r = utf8_lead_range(c);
            starts[b] = taken.any(r.first, r.last);
        }
    }
    return starts;
}

bool any_taken(const Taken& taken, const std::uint16_t (&cells)[detail::euc_jp_cells]) {
    for (const std::uint16_t u : cells)
        if (u != 0 && taken.one(u)) return true;
    return false;
}

ByteSet euc_jp_starts_taken(const Taken& taken) {
    using namespace detail;
    ByteSet starts{};
    for (unsigned b = 0; b < 256; ++b) {
        const auto c = static_cast<unsigned char>(b);
        if (c == euc_jp_ss2) {
            starts[b] = taken.any(half_katakana_first, half_katakana_first + (euc_jp_kana_last - euc_jp_cell_first));
        } else if (c == euc_jp_ss3) {
            for (const auto& row : euc_jp_jis0212) starts[b] = starts[b] || any_taken(taken, row);
        } else if (euc_jp_cell(c)) {
            starts[b] = any_taken(taken, euc_jp_jis0208[c - euc_jp_cell_first]);
        } else {
            const Decoded d = decode_euc_jp(&c, 1);
            starts[b] = d.valid() && taken.one(d.value);
        }
    }
    return starts;
}

// The bytes that may be a later byte of a character.
ByteSet inside_bytes(InputEncoding encoding) {
    ByteSet inside{};
    for (unsigned b = 0; b < 256; ++b) {
        const auto c = static_cast<unsigned char>(b);
        inside[b] = encoding == InputEncoding::utf8 ? detail::utf8_continuation(c) : detail::euc_jp_cell(c);
    }
    return inside;
}

}  // namespace

std::array<bool, 256> starts_taken(InputEncoding encoding, ClassSet classes, std::span<const char32_t> excluded) {
    const Taken taken(classes, excluded);
    switch (encoding) {
        case InputEncoding::euc_jp: return euc_jp_starts_taken(taken);
        case InputEncoding::utf8: return utf8_starts_taken(taken);
        default: break;
    }
    ByteSet all;
    all.fill(true);
    return all;
}

CutRule cut_rule(InputEncoding encoding, ClassSet classes, std::span<const char32_t> excluded) {
    CutRule rule;
    switch (encoding) {
        case InputEncoding::cp932: break;
        case InputEncoding::euc_jp:
        case InputEncoding::utf8: {
            const ByteSet starts = starts_taken(encoding, classes, excluded);
            const ByteSet inside = inside_bytes(encoding);
            for (std::size_t b = 0; b < 256; ++b) rule.bytes[b] = !starts[b] && !inside[b];
            break;
        }
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
