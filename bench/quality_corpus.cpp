#include "quality_corpus.h"

#include <algorithm>
#include <iterator>
#include <random>
#include <set>

#include "text/text_encoding.h"

namespace kurvane::quality {
namespace {

void append(Bytes& out, std::string_view bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

void append_le(Bytes& out, std::uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) out.push_back(static_cast<unsigned char>(value >> (8 * k)));
}

void plant(PlantedInput& input, std::string_view line) {
    input.planted.push_back({input.bytes.size(), line.size()});
    append(input.bytes, line);
}

unsigned uniform(std::mt19937_64& rng, unsigned first, unsigned last) {
    return std::uniform_int_distribution<unsigned>(first, last)(rng);
}

void random_bytes(Bytes& out, std::mt19937_64& rng, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) out.push_back(static_cast<unsigned char>(rng()));
}

bool is_word_char(char32_t u) {
    return (u >= 0x4E00 && u <= 0x9FFF) || u == 0x3005 || (u >= 0x30A1 && u <= 0x30FA) || u == 0x30FC;
}

}  // namespace

PlantedInput plant_in(std::span<const unsigned char> host, const std::vector<std::string>& lines,
                      std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<std::size_t> at(lines.size());
    for (std::size_t& a : at) a = std::uniform_int_distribution<std::size_t>(0, host.size())(rng);
    std::sort(at.begin(), at.end());
    PlantedInput input;
    input.bytes.reserve(host.size() + lines.size() * 64);
    std::size_t copied = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        input.bytes.insert(input.bytes.end(), host.begin() + static_cast<std::ptrdiff_t>(copied),
                           host.begin() + static_cast<std::ptrdiff_t>(at[k]));
        copied = at[k];
        plant(input, lines[k]);
    }
    input.bytes.insert(input.bytes.end(), host.begin() + static_cast<std::ptrdiff_t>(copied), host.end());
    return input;
}

PlantedInput script_shape(const std::vector<std::string>& lines, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    static constexpr const char* tags[] = {"@msg %04u ", "[name=C%02u]", "#voice v%05u ", "<w %u>",
                                           "\\r%u:", "@sel %u "};
    PlantedInput input;
    for (const std::string& line : lines) {
        // Commands without text: an opcode and a few bytes of arguments.
        for (unsigned c = uniform(rng, 0, 3); c > 0; --c) {
            input.bytes.push_back(static_cast<unsigned char>(uniform(rng, 0x01, 0x1F)));
            random_bytes(input.bytes, rng, uniform(rng, 2, 8));
        }
        input.bytes.push_back(static_cast<unsigned char>(uniform(rng, 0x01, 0x1F)));
        append_le(input.bytes, line.size() + 1, 2);
        char tag[32];
        std::snprintf(tag, sizeof tag, tags[uniform(rng, 0, std::size(tags) - 1)], uniform(rng, 0, 9999));
        append(input.bytes, tag);
        plant(input, line);
        input.bytes.push_back(0);
    }
    return input;
}

std::vector<std::string> short_words(const std::vector<std::string>& lines) {
    std::vector<std::string> words;
    std::set<std::string> seen;
    constexpr std::size_t min_chars = 2, max_chars = 4;
    for (const std::string& line : lines) {
        const auto* b = reinterpret_cast<const unsigned char*>(line.data());
        std::size_t start = 0, chars = 0;
        const auto finish = [&](std::size_t end) {
            if (chars >= min_chars && chars <= max_chars) {
                std::string word = line.substr(start, end - start);
                if (seen.insert(word).second) words.push_back(word);
            }
            chars = 0;
        };
        for (std::size_t k = 0; k < line.size();) {
            const char32_t u = k + 1 < line.size() ? text::cp932_double_char(b[k], b[k + 1]) : 0;
            if (u != 0 && is_word_char(u)) {
                if (chars == 0) start = k;
                ++chars;
                k += 2;
            } else {
                finish(k);
                k += u != 0 ? 2 : 1;
            }
        }
        finish(line.size());
    }
    return words;
}

PlantedInput word_table(const std::vector<std::string>& words, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    constexpr std::size_t name_width = 12;  // four double-byte characters and padding
    PlantedInput input;
    std::uint32_t id = 1000;
    for (const std::string& word : words) {
        append_le(input.bytes, id++, 4);
        plant(input, word);
        input.bytes.resize(input.bytes.size() + (name_width - std::min(name_width, word.size())), 0);
        for (int k = 0; k < 4; ++k) append_le(input.bytes, uniform(rng, 0, 999), 2);
        random_bytes(input.bytes, rng, 4);  // flags
        append_le(input.bytes, uniform(rng, 0, 99999), 4);
    }
    return input;
}

namespace {

void sort_by_offset(std::vector<Range>& lines) {
    std::sort(lines.begin(), lines.end(), [](const Range& a, const Range& b) { return a.offset < b.offset; });
}

// The last of the sorted `lines` that starts at or before `at`, or end.
std::vector<Range>::const_iterator last_starting_by(const std::vector<Range>& lines, std::uint64_t at) {
    auto after = std::upper_bound(lines.begin(), lines.end(), at,
                                  [](std::uint64_t v, const Range& r) { return v < r.offset; });
    return after == lines.begin() ? lines.end() : std::prev(after);
}

}  // namespace

Tally tally(std::vector<Range> lines, const std::vector<Range>& planted) {
    sort_by_offset(lines);
    Tally t;
    t.lines = lines.size();
    for (const Range& p : planted) {
        // Lines of one extraction do not overlap, so only the last line that
        // starts at or before the planted one can hold it.
        const auto holder = last_starting_by(lines, p.offset);
        if (holder != lines.end() && holder->end() >= p.end()) ++t.found;
    }
    for (const Range& line : lines) {
        auto p = std::upper_bound(planted.begin(), planted.end(), line.offset,
                                  [](std::uint64_t v, const Range& r) { return v < r.end(); });
        std::uint64_t overlap = 0;
        for (; p != planted.end() && p->offset < line.end(); ++p)
            overlap += std::min(p->end(), line.end()) - std::max(p->offset, line.offset);
        if (2 * overlap >= line.size && line.size > 0) ++t.text;
    }
    return t;
}

const char* miss_name(MissKind kind) {
    constexpr const char* names[] = {"dropped whole", "start cut", "end cut", "both ends cut", "split"};
    static_assert(std::size(names) == miss_kinds);
    return names[static_cast<std::size_t>(kind)];
}

std::vector<Miss> misses(std::vector<Range> lines, const std::vector<Range>& planted) {
    sort_by_offset(lines);
    std::vector<Miss> out;
    for (const Range& p : planted) {
        const auto holder = last_starting_by(lines, p.offset);
        if (holder != lines.end() && holder->end() >= p.end()) continue;
        Miss m{p, MissKind::dropped, {}};
        // A line that starts before the planted one and reaches into it comes
        // first; then every line that starts inside it.
        auto l = holder != lines.end() ? holder : lines.begin();
        for (; l != lines.end() && l->offset < p.end(); ++l)
            if (l->end() > p.offset) m.written.push_back(*l);
        if (m.written.size() > 1) {
            m.kind = MissKind::split;
        } else if (m.written.size() == 1) {
            const bool start = m.written[0].offset > p.offset, end = m.written[0].end() < p.end();
            m.kind = start && end ? MissKind::both_cut : start ? MissKind::start_cut : MissKind::end_cut;
        }
        out.push_back(std::move(m));
    }
    return out;
}

}  // namespace kurvane::quality
