// What counts as text under one setting, in EUC-JP, UTF-8 or UTF-16, and
// the lookups made from it once and shared by every thread; the run found
// and the length test that every scan of these encodings shares.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "text/byte_roles.h"
#include "text/input_encoding.h"
#include "text/start_mask.h"
#include "text/text_class.h"
#include "text/text_skip.h"
#include "text/unicode_class.h"
#include "text/utf16.h"
#include "text/utf16_masks.h"

namespace kurvane::text {

// What counts as text.
struct ScanSpec {
    InputEncoding encoding = InputEncoding::utf8;
    ClassSet classes;
    std::uint32_t min_length = 1;  // bytes of the input encoding a run keeps
    std::vector<char32_t> excluded;
    std::vector<std::u32string> exempt;  // written for a shorter run that holds one
    // Runs of the two UTF-16 alignments that overlap are reported whole,
    // both of them, rather than settled: for a printer that reads each run
    // and keeps only the parts that read best as text. Settling by kana
    // cuts a line's last character, or the ASCII word that opens it, where
    // the other alignment's run over the bytes beside it is longer.
    bool keep_overlaps = false;
};

enum class CharRole : std::uint8_t { none, kept, excluded };

// The lookups of one setting, made once and shared by every thread.
class ScanTables {
public:
    // Throws std::invalid_argument for code page 932.
    explicit ScanTables(ScanSpec spec);

    const ScanSpec& spec() const { return spec_; }
    CharRole role(char32_t u) const { return static_cast<CharRole>(traits(u) & role_mask); }
    // Whether u is kept and hiragana, katakana or half-width katakana: the
    // kana that decide which UTF-16 alignment keeps an overlap.
    bool kept_kana(char32_t u) const { return (traits(u) & kana_flag) != 0; }

    // The traits of a UTF-16 code unit in one byte, for a walk over units:
    // its role in the bits of unit_role, unit_kana for a kept kana, and
    // unit_pair alone for a high surrogate, whose pair is decoded; a low
    // surrogate has none, as alone it is no character.
    static constexpr std::uint8_t unit_role = 3;
    static constexpr std::uint8_t unit_kana = 4;
    static constexpr std::uint8_t unit_pair = 8;
    std::uint8_t unit_traits(char16_t unit) const { return bmp_traits_[unit]; }
    // Every unit's traits, with the padding the vector kernels read past
    // the last (utf16_masks.h).
    const std::uint8_t* unit_table() const { return bmp_traits_.data(); }
    UnitLookup unit_lookup() const { return {bmp_traits_.data(), unit_rows_}; }
    // False for a byte that starts no kept or excluded character.
    bool may_start(unsigned char b) const { return starts_[b]; }
    // The skip over what starts no kept or excluded character.
    const TextSkip& skip() const { return skip_; }
    // The roles read from the bytes, for EUC-JP and UTF-8.
    const ByteRoles& byte_roles() const { return byte_roles_; }
    // EUC-JP and UTF-8: the bytes that may start a character, exactly the
    // lead bytes of longer characters, and every byte that may follow one:
    // a lead not followed by one of those starts no character. All clear
    // elsewhere.
    const StartClasses& start_classes() const { return start_classes_; }

private:
    static constexpr char32_t bmp_end = 0x10000;
    // A character's traits in one byte: its role, and kana_flag for a kept
    // kana, so the scan learns both from one lookup.
    static constexpr std::uint8_t role_mask = unit_role;
    static constexpr std::uint8_t kana_flag = unit_kana;
    static_assert(static_cast<std::uint8_t>(CharRole::excluded) <= role_mask && (role_mask & kana_flag) == 0 &&
                  ((role_mask | kana_flag) & unit_pair) == 0);
    static_assert(unit_role == unit_role_bits && static_cast<std::uint8_t>(CharRole::kept) == unit_kept_bit &&
                      unit_kana == unit_kana_bit && unit_pair == unit_high_bit,
                  "the unit mask kernels read these traits");
    std::uint8_t traits(char32_t u) const { return u < bmp_end ? bmp_traits_[u] : traits_of(u); }
    std::uint8_t traits_of(char32_t u) const;  // computed, for any u
    void fill_bmp_traits();                     // traits_of for each of the BMP, at once

    ScanSpec spec_;
    // Also the units' traits (no character is a surrogate), and
    // unit_table_padding zero bytes after them.
    std::vector<std::uint8_t> bmp_traits_;
    UnitRows unit_rows_;  // of bmp_traits_
    std::array<bool, 256> starts_;
    TextSkip skip_;
    ByteRoles byte_roles_;
    StartClasses start_classes_;
};

// A run found: `bytes` are the input from its first kept or excluded
// character to its end, at input offset `offset`; `kept_bytes` counts its
// kept characters' bytes. exempt is -1 when the run is written as it is,
// else the index of the exempt string written in its place. `ascii`: every
// byte is a kept character below 0x80, which EUC-JP and UTF-8 write as its
// own byte in either output encoding (false says nothing).
struct FoundRun {
    std::uint64_t offset;
    std::span<const unsigned char> bytes;
    std::uint64_t kept_bytes;
    int exempt;
    bool ascii = false;
};

// Runs of kept ASCII in one block of the data, all of them that the scan
// finds there up to some point: bit k of `opens` is set where a run starts
// at data[block + k], bit k of `ends` where one has its last byte, as many
// of each and in input order. Each is a run marked ascii.
struct AsciiRuns {
    std::size_t block;
    std::uint64_t opens;
    std::uint64_t ends;
    std::uint32_t min_length;
};

// Calls f(start, end), offsets of the data, for each run of a block whose
// first bytes are the bits of `opens` and last bytes those of `ends`, in
// order.
template <class F>
[[gnu::always_inline]] inline void for_each_block_run(std::size_t block, std::uint64_t opens, std::uint64_t ends,
                                                      F&& f) {
    for (; opens != 0; opens &= opens - 1, ends &= ends - 1)
        f(block + static_cast<std::size_t>(std::countr_zero(opens)),
          block + static_cast<std::size_t>(std::countr_zero(ends)) + 1);
}

// Calls f(start, end), offsets of the data, for each of the runs in order.
template <class F>
[[gnu::always_inline]] inline void for_each_ascii_run(const AsciiRuns& runs, F&& f) {
    for_each_block_run(runs.block, runs.opens, runs.ends, f);
}

// A sink that takes such runs a block at a time, with its output state in
// registers: sink.ascii_runs(data, base, runs, one) writes each run of at
// least min_length bytes as the sink would the run reported, and hands
// each other to one(start, end), offsets of the data, which reports it.
template <class Sink>
concept takes_ascii_runs = requires(Sink& sink, const unsigned char* data, std::uint64_t base, const AsciiRuns& runs,
                                    void (*one)(std::size_t, std::size_t)) { sink.ascii_runs(data, base, runs, one); };

// Runs of UTF-16 in one block of the data, each of whole characters, all
// kept, and none longer than the block: bit k of `opens` is set where a run
// starts at data[block + k], bit k of `ends` where one has its last byte,
// as many of each and in input order. Each is a run whose kept bytes are
// all its bytes.
struct Utf16Runs {
    std::size_t block;
    std::uint64_t opens;
    std::uint64_t ends;
    std::uint32_t min_length;
};
inline constexpr std::size_t utf16_runs_block = 64;

// A sink that takes such runs a block at a time: sink.utf16_runs(data,
// base, runs, one) writes each run of at least min_length bytes as the sink
// would the run reported, and hands each other, or any it does not take,
// to one(start, end), offsets of the data, which reports it.
template <class Sink>
concept takes_utf16_runs = requires(Sink& sink, const unsigned char* data, std::uint64_t base, const Utf16Runs& runs,
                                    void (*one)(std::size_t, std::size_t)) { sink.utf16_runs(data, base, runs, one); };

// The characters a run writes: its kept characters, or its exempt string.
std::u32string run_text(const ScanTables& tables, const FoundRun& run);

namespace detail {

// A run's span before the length test: [start, end) of the data. In UTF-16
// `kana` is at least the number of kept kana it holds, 0 only when it holds
// none.
struct Span {
    std::size_t start;
    std::size_t end;
    std::uint64_t kept_bytes;
    std::uint64_t kana = 0;
    bool ascii = false;  // as FoundRun::ascii
};

// The exempt rule for a run shorter than the minimum: whether it holds an
// exempt string, the first of which it sets `exempt` to.
bool exempt_passes(const ScanTables& tables, const unsigned char* data, Span span, int& exempt);

// The span goes by reference: a copy made in two 8-byte stores and read
// back as one 16-byte load stalls on the store forwarding, once a run.
template <class Sink>
[[gnu::always_inline]] inline void report(const ScanTables& tables, const unsigned char* data, std::uint64_t base,
                                          const Span& span, Sink& sink) {
    int exempt = -1;
    const ScanSpec& spec = tables.spec();
    if (span.kept_bytes >= spec.min_length || (!spec.exempt.empty() && exempt_passes(tables, data, span, exempt)))
        sink(FoundRun{base + span.start, {data + span.start, span.end - span.start}, span.kept_bytes, exempt,
                      span.ascii && exempt < 0});
}

}  // namespace detail
}  // namespace kurvane::text
