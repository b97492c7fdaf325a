// Generated input that looks like game data files, for the benchmark and for
// sample files: compressed (random) blobs, zero padding, little-endian record
// tables, message tables of Shift-JIS strings and ASCII script text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kurvane::bench {

enum class CorpusKind {
    mixed,  // an archive of assets: mostly binary, a sixth text
    text,   // scenario and message files: mostly text between small headers
};

std::optional<CorpusKind> corpus_kind_from_name(std::string_view name);

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
