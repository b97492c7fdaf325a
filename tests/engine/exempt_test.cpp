#include "engine/classes/exempt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace kurvane::detail {
namespace {

// The rule spelled out: the lowest-index pattern, at its first offset.
std::size_t naive_find(const ExtractionSettings& s, const std::vector<unsigned char>& run, std::size_t& at) {
    for (std::size_t k = 0; k < exempt_string_count; ++k) {
        std::size_t len = 0;
        while (len < exempt_string_max && s.exempt_strings[k][len] != 0) ++len;
        if (len == 0 || len > run.size()) continue;
        for (std::size_t j = 0; j + len <= run.size(); ++j) {
            if (std::memcmp(run.data() + j, s.exempt_strings[k], len) == 0) {
                at = j;
                return len;
            }
        }
    }
    return 0;
}

void set_pattern(ExtractionSettings& s, std::size_t k, const std::string& text) {
    std::memset(s.exempt_strings[k], 0, exempt_string_width);
    std::memcpy(s.exempt_strings[k], text.data(), std::min(text.size(), exempt_string_width));
}

// Pattern sets whose entries share first bytes, leave gaps, fill the whole
// width with no zero, or start with a byte the runs rarely hold; runs of a
// small alphabet so that near matches abound.
TEST(exempt, find_takes_the_lowest_pattern_at_its_first_offset) {
    struct Shape {
        const char* name;
        std::vector<std::string> patterns;  // by index; empty leaves the entry unset
    };
    const std::vector<Shape> shapes = {
        {"one", {"ab"}},
        {"shared first bytes", {"abc", "ab", "", "a", "ba", "bb"}},
        {"gaps and late entries", {"", "", "", "", "", "ca"}},
        {"full width", {std::string(20, 'a'), std::string(19, 'a') + "b", "c"}},
        {"one byte each", {"d", "c", "b", "a", "", "\x82"}},
        {"rare start", {"\x82\xa0", "zzz"}},
    };
    std::mt19937 rng(5);
    const std::string alphabet = "abcd\x82\xa0";
    for (const Shape& shape : shapes) {
        ExtractionSettings s;
        for (std::size_t k = 0; k < shape.patterns.size(); ++k) set_pattern(s, k, shape.patterns[k]);
        const ExemptPatterns patterns(s);
        for (int trial = 0; trial < 3000; ++trial) {
            std::vector<unsigned char> run(rng() % 26);
            for (auto& c : run) c = static_cast<unsigned char>(alphabet[rng() % alphabet.size()]);
            std::size_t want_at = 0;
            std::size_t got_at = 0;
            const std::size_t want = naive_find(s, run, want_at);
            const std::size_t got = patterns.find(run.data(), run.size(), got_at);
            ASSERT_EQ(got, want) << shape.name << ", trial " << trial;
            if (want != 0) {
                ASSERT_EQ(got_at, want_at) << shape.name << ", trial " << trial;
            }
        }
    }
}

}  // namespace
}  // namespace kurvane::detail
