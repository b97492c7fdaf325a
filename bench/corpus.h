// Generated input that looks like game data files, for the benchmark, the
// large-input tests and sample files: compressed (random) blobs, zero
// padding, little-endian record tables, message tables of Shift-JIS strings,
// ASCII script text and long runs of text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/extraction_settings.h"

namespace kurvane::bench {

enum class CorpusKind {
    mixed,      // an archive of assets: mostly binary, a sixth text
    text,       // scenario and message files: mostly text between small headers
    binary,     // compressed blobs, record tables and padding; hardly any text
    long_runs,  // text runs of hundreds to thousands of bytes: double-byte,
                // single-byte and both mixed, and short labels; see corpus_settings
};

inline constexpr CorpusKind all_corpus_kinds[] = {CorpusKind::mixed, CorpusKind::text,
                                                  CorpusKind::binary, CorpusKind::long_runs};

// "mixed", "text", "binary", "long-runs".
std::optional<CorpusKind> corpus_kind_from_name(std::string_view name);
std::string_view corpus_kind_name(CorpusKind kind);

// The settings a kind is meant to be extracted with: the built-in defaults,
// except for long_runs, whose data is shaped around its own settings (the
// single-byte classes on, excluded pairs and exempt strings that occur in the
// data, a minimum length the exempt strings fall below).
ExtractionSettings corpus_settings(CorpusKind kind);

// Produces the corpus a block at a time; the same kind and seed always give
// the same bytes.
class CorpusGenerator {
public:
    explicit CorpusGenerator(CorpusKind kind, std::uint64_t seed = 1);
    // Appends at least one block (at most 64 KiB) to `out`.
    void next_block(std::vector<unsigned char>& out);

private:
    std::uint64_t next();
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

    void random_blob(std::vector<unsigned char>& out);
    void zero_padding(std::vector<unsigned char>& out);
    void record_table(std::vector<unsigned char>& out);
    void message_table(std::vector<unsigned char>& out);
    void script_text(std::vector<unsigned char>& out);
    void sentence(std::vector<unsigned char>& out);
    void double_byte_run(std::vector<unsigned char>& out);
    void single_byte_run(std::vector<unsigned char>& out);
    void mixed_width_run(std::vector<unsigned char>& out);
    void label_table(std::vector<unsigned char>& out);
    void separator(std::vector<unsigned char>& out);

    CorpusKind kind_;
    std::uint64_t state_;
    std::size_t emitted_ = 0;      // bytes produced before the current block
    std::size_t block_start_ = 0;  // where the current block begins in `out`
};

// Exactly `size` bytes of corpus.
std::vector<unsigned char> make_corpus(CorpusKind kind, std::size_t size, std::uint64_t seed = 1);

// Writes exactly `size` bytes of corpus to `path`; false on any I/O error.
bool write_corpus(CorpusKind kind, std::uint64_t size, const char* path, std::uint64_t seed = 1);

}  // namespace kurvane::bench
