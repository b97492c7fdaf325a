#include "reference/reference_scan.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>
#include <tuple>

#include "text/unicode_class.h"

namespace kurvane::test {
namespace {

enum class Role { none, kept, excluded };

struct Char {
    std::uint64_t offset;
    std::uint32_t length;
    char32_t value;
    bool kept;  // else excluded

    std::uint64_t end() const { return offset + length; }
};

// The characters of one run before the length test, back to back.
using Chain = std::vector<Char>;

std::uint64_t chain_start(const Chain& c) { return c.front().offset; }
std::uint64_t chain_end(const Chain& c) { return c.back().end(); }

bool is_kana(const Char& c) {
    const text::TextClass k = text::unicode_class(c.value);
    return c.kept && (k == text::TextClass::hiragana || k == text::TextClass::katakana || k == text::TextClass::half_kana);
}

std::uint64_t kept_bytes(const Chain& c) {
    std::uint64_t n = 0;
    for (const Char& ch : c) n += ch.kept ? ch.length : 0;
    return n;
}

// The chains of one alignment: positions first, first + step, ... are
// examined, and a chain takes whole characters from where it starts.
std::vector<Chain> scan_from(const std::vector<unsigned char>& data, const ScanSettings& settings,
                             text::Decoder decode, std::size_t first, std::size_t step) {
    const std::size_t size = data.size();
    auto at = [&](std::size_t i, text::Decoded& d) {
        d = decode(data.data() + i, size - i);
        if (!d.valid()) return Role::none;
        const auto& ex = settings.excluded;
        if (std::find(ex.begin(), ex.end(), d.value) != ex.end()) return Role::excluded;
        return settings.classes.contains(text::unicode_class(d.value)) ? Role::kept : Role::none;
    };
    std::vector<Chain> chains;
    std::size_t i = first;
    while (i < size) {
        text::Decoded d;
        if (at(i, d) == Role::none) {
            i += step;
            continue;
        }
        Chain chain;
        for (Role role; i < size && (role = at(i, d)) != Role::none; i += d.length)
            chain.push_back({i, d.length, d.value, role == Role::kept});
        chains.push_back(std::move(chain));
    }
    return chains;
}

// Two chains of the two UTF-16 alignments that overlap: the one with more
// kana where they overlap keeps its characters, then the one with more kept
// bytes, then the earlier; the other loses every character that touches
// the winner and may fall into a part before and a part after it.
void resolve(std::vector<Chain>& chains, std::size_t a, std::size_t b) {
    const std::uint64_t lo = std::max(chain_start(chains[a]), chain_start(chains[b]));
    const std::uint64_t hi = std::min(chain_end(chains[a]), chain_end(chains[b]));
    auto key = [&](const Chain& c) {
        const auto kana = std::count_if(c.begin(), c.end(),
                                        [&](const Char& ch) { return is_kana(ch) && ch.offset < hi && ch.end() > lo; });
        return std::tuple(kana, kept_bytes(c), ~chain_start(c));
    };
    const bool a_wins = key(chains[a]) > key(chains[b]);
    const Chain winner = chains[a_wins ? a : b];
    const Chain loser = chains[a_wins ? b : a];
    Chain before, after;
    for (const Char& ch : loser) {
        if (ch.end() <= chain_start(winner)) before.push_back(ch);
        else if (ch.offset >= chain_end(winner)) after.push_back(ch);
    }
    chains.erase(chains.begin() + static_cast<std::ptrdiff_t>(a_wins ? b : a));
    for (Chain* part : {&before, &after})
        if (!part->empty()) chains.push_back(std::move(*part));
}

void settle_overlaps(std::vector<Chain>& chains) {
    for (;;) {
        std::stable_sort(chains.begin(), chains.end(),
                         [](const Chain& x, const Chain& y) { return chain_start(x) < chain_start(y); });
        bool found = false;
        for (std::size_t a = 0; a < chains.size() && !found; ++a) {
            for (std::size_t b = a + 1; b < chains.size() && chain_start(chains[b]) < chain_end(chains[a]); ++b) {
                resolve(chains, a, b);
                found = true;
                break;
            }
        }
        if (!found) return;
    }
}

}  // namespace

std::vector<ReferenceRun> reference_scan(std::span<const unsigned char> input, const ScanSettings& settings) {
    const text::Decoder decode = text::decoder_for(settings.encoding);
    if (decode == nullptr) throw std::invalid_argument("reference_scan: no decoder for code page 932");
    std::vector<unsigned char> data(input.begin(), input.end());
    for (unsigned char& b : data) b = static_cast<unsigned char>(b ^ settings.xor_value);

    const std::size_t step = text::character_step(settings.encoding);
    std::vector<Chain> chains;
    for (std::size_t first = 0; first < step; ++first) {
        std::vector<Chain> more = scan_from(data, settings, decode, first, step);
        chains.insert(chains.end(), more.begin(), more.end());
    }
    settle_overlaps(chains);

    std::vector<ReferenceRun> runs;
    for (const Chain& chain : chains) {
        ReferenceRun run{chain_start(chain), chain_end(chain) - chain_start(chain), {}};
        for (const Char& ch : chain)
            if (ch.kept) run.text += ch.value;
        if (kept_bytes(chain) >= settings.min_length) {
            runs.push_back(run);
            continue;
        }
        for (const std::u32string& e : settings.exempt) {
            if (!e.empty() && run.text.find(e) != std::u32string::npos) {
                run.text = e;
                runs.push_back(run);
                break;
            }
        }
    }
    return runs;
}

void PrintTo(const ReferenceRun& run, std::ostream* out) {
    *out << "{offset " << run.offset << ", length " << run.length << ", text" << std::hex;
    for (const char32_t u : run.text) *out << " U+" << static_cast<unsigned>(u);
    *out << std::dec << "}";
}

}  // namespace kurvane::test
