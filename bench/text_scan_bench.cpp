// kurvane_text_scan_bench: the scan of each other input encoding in memory,
// one thread, beside the code page 932 pass over the same corpus, measured
// in the same run.
//
//   kurvane_text_scan_bench [--size BYTES] [Google Benchmark options]
//
// The corpora are the generated mixed, text and binary data (corpus.h) and
// data tables with some text (table_corpus) in code page 932, and the same data with each stretch of Japanese text
// re-encoded in EUC-JP, UTF-8, UTF-16LE or UTF-16BE (the bytes between
// stretches stay as they are), scanned with the classes and minimum length
// of the corpus's settings. The code page 932 figure is the whole pass
// (piece reads and the written lines, to a sink that drops them); the other
// encodings' figure is the scan with a sink that counts the runs. Before the
// timed runs, each scan's runs over the first check_size bytes are checked
// against the plain reference scan of the test suites; a benchmark whose result is wrong reports an error
// instead of its figure and the program exits with 1.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "corpus.h"
#include "engine/drive/pass.h"
#include "reference/reference_scan.h"
#include "text/text_encoding.h"
#include "text/text_scan.h"
#include "text/utf16_masks.h"
#include "text/unicode_class.h"

namespace {

using kurvane::Isa;
using kurvane::bench::CorpusKind;
using kurvane::text::InputEncoding;
using Bytes = std::vector<unsigned char>;

std::size_t corpus_size = std::size_t{16} << 20;
bool check_failed = false;

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Appends in[0, n) converted to out; false (and out as it was) when any
    // of it does not convert.
    bool append(const unsigned char* in, std::size_t n, Bytes& out) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
        const std::size_t before = out.size();
        out.resize(before + 4 * n);
        char* in_p = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
        char* out_p = reinterpret_cast<char*>(out.data() + before);
        std::size_t in_left = n;
        std::size_t out_left = 4 * n;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        const bool ok = iconv(cd_, &in_p, &in_left, &out_p, &out_left) != static_cast<std::size_t>(-1) && in_left == 0;
        out.resize(ok ? out.size() - out_left : before);
        return ok;
    }

private:
    iconv_t cd_;
};

// The length of the code page 932 text character at p (printable ASCII,
// half-width katakana, or a double-byte character of some class), 0 when
// there is none; `wide` tells a double-byte one.
std::size_t text_char(const unsigned char* p, std::size_t n, bool& wide) {
    wide = false;
    if ((p[0] >= 0x20 && p[0] < 0x7F) || (p[0] >= 0xA1 && p[0] <= 0xDF)) return 1;
    if (n < 2 || !kurvane::text::is_cp932_lead(p[0])) return 0;
    const char32_t u = kurvane::text::cp932_double_char(p[0], p[1]);
    wide = true;
    return u != 0 && kurvane::text::unicode_class(u) != kurvane::text::TextClass::none ? 2 : 0;
}

// The code page 932 corpus with each stretch of text (at least four
// characters, one of them double-byte) converted to `iconv_name`, where
// glibc converts all of it.
Bytes reencode(const Bytes& cp932, const char* iconv_name) {
    Iconv convert(iconv_name, "CP932");
    Bytes out;
    out.reserve(cp932.size() * 3 / 2);
    const std::size_t n = cp932.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t end = i, chars = 0;
        bool any_wide = false, wide = false;
        for (std::size_t len; end < n && (len = text_char(cp932.data() + end, n - end, wide)) != 0; end += len) {
            ++chars;
            any_wide = any_wide || wide;
        }
        if (chars >= 4 && any_wide && convert.append(cp932.data() + i, end - i, out)) {
            i = end;
            continue;
        }
        const std::size_t raw = std::max(end, i + 1);
        out.insert(out.end(), cp932.begin() + static_cast<std::ptrdiff_t>(i), cp932.begin() + static_cast<std::ptrdiff_t>(raw));
        i = raw;
    }
    return out;
}

kurvane::text::ClassSet classes_of(const kurvane::ExtractionSettings& s) {
    using kurvane::text::TextClass;
    const std::pair<std::int32_t, TextClass> flags[] = {
        {s.half_digits, TextClass::half_digit},   {s.half_upper, TextClass::half_upper},
        {s.half_lower, TextClass::half_lower},    {s.half_katakana, TextClass::half_kana},
        {s.half_symbols, TextClass::half_symbol}, {s.full_hiragana, TextClass::hiragana},
        {s.full_katakana, TextClass::katakana},   {s.full_kanji, TextClass::kanji},
        {s.full_digits, TextClass::full_digit},   {s.full_upper, TextClass::full_upper},
        {s.full_lower, TextClass::full_lower},    {s.full_cyrillic, TextClass::cyrillic},
        {s.full_greek, TextClass::greek},         {s.full_symbols, TextClass::full_symbol}};
    kurvane::text::ClassSet set;
    for (const auto& [on, c] : flags)
        if (on != 0) set.add(c);
    return set;
}

struct Corpus {
    Bytes data;
    kurvane::ExtractionSettings settings;
};

// Uncompressed data tables: records of small little-endian integers and
// zero padding, with a stretch of the text corpus every 64 KiB. Here most
// bytes start nothing in any encoding.
Bytes table_corpus(std::size_t size) {
    const Bytes text = kurvane::bench::make_corpus(CorpusKind::text, size / 16 + 1);
    Bytes out;
    out.reserve(size);
    std::uint32_t value = 1;
    for (std::size_t block = 0; out.size() < size; ++block) {
        for (std::size_t k = 0; k < 12 * 1024; ++k) {
            value = value * 1103515245u + 12345u;
            for (unsigned b = 0; b < 4; ++b) out.push_back(b == 0 ? static_cast<unsigned char>(value >> 16) : b == 1 ? static_cast<unsigned char>(value >> 24 & 3) : 0);
        }
        out.insert(out.end(), 12 * 1024, 0);
        const std::size_t from = block * 4096 % (text.size() - 4096);
        out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(from), text.begin() + static_cast<std::ptrdiff_t>(from + 4096));
    }
    out.resize(size);
    return out;
}

// The corpora by name: the generated kinds, and "tables".
const Corpus& cp932_corpus(const std::string& name) {
    static std::map<std::string, Corpus> made;
    if (const auto it = made.find(name); it != made.end()) return it->second;
    const auto kind = kurvane::bench::corpus_kind_from_name(name);
    Corpus c{kind ? kurvane::bench::make_corpus(*kind, corpus_size) : table_corpus(corpus_size),
             kurvane::bench::corpus_settings(kind.value_or(CorpusKind::mixed))};
    return made.emplace(name, std::move(c)).first->second;
}

struct Encoded {
    Bytes data;
    kurvane::text::ScanTables tables;
    std::string check_failure;
};

const char* iconv_name(InputEncoding e) {
    switch (e) {
        case InputEncoding::euc_jp: return "EUC-JP";
        case InputEncoding::utf8: return "UTF-8";
        case InputEncoding::utf16le: return "UTF-16LE";
        case InputEncoding::utf16be: return "UTF-16BE";
        case InputEncoding::cp932: break;
    }
    return "CP932";
}

// The scan's runs against the reference scan's, once, over the first
// check_size bytes: the reference settles UTF-16 overlaps slowly, and the
// test suites sweep the scan in depth.
constexpr std::size_t check_size = std::size_t{64} << 10;

std::string check_scan(const Encoded& in) {
    const std::span<const unsigned char> part(in.data.data(), std::min(in.data.size(), check_size));
    kurvane::test::ScanSettings ref;
    const kurvane::text::ScanSpec& spec = in.tables.spec();
    ref.encoding = spec.encoding;
    ref.classes = spec.classes;
    ref.min_length = spec.min_length;
    const std::vector<kurvane::test::ReferenceRun> want = kurvane::test::reference_scan(part, ref);
    std::size_t k = 0;
    std::string failure;
    kurvane::text::scan_text(in.tables, part, 0, [&](const kurvane::text::FoundRun& run) {
        if (!failure.empty()) return;
        if (k == want.size() || want[k].offset != run.offset || want[k].length != run.bytes.size())
            failure = "the scan differs from the reference at run " + std::to_string(k);
        ++k;
    });
    if (failure.empty() && k != want.size()) failure = "the scan found fewer runs than the reference";
    return failure;
}

const Encoded& encoded(const std::string& kind, InputEncoding e) {
    static std::map<std::pair<std::string, InputEncoding>, Encoded> made;
    if (const auto it = made.find({kind, e}); it != made.end()) return it->second;
    const Corpus& c = cp932_corpus(kind);
    Encoded in{reencode(c.data, iconv_name(e)),
               kurvane::text::ScanTables({e, classes_of(c.settings), c.settings.min_length, {}, {}}), {}};
    in.check_failure = check_scan(in);
    return made.emplace(std::pair(kind, e), std::move(in)).first->second;
}

class VectorSource final : public kurvane::detail::ByteSource {
public:
    explicit VectorSource(const Bytes& data) : data_(data) {}
    std::size_t read(unsigned char* dst, std::size_t n) override {
        const std::size_t got = std::min(n, data_.size() - pos_);
        std::memcpy(dst, data_.data() + pos_, got);
        pos_ += got;
        return got;
    }
    int error() const override { return 0; }

private:
    const Bytes& data_;
    std::size_t pos_ = 0;
};

class DiscardSink final : public kurvane::detail::ByteSink {
public:
    bool write(const unsigned char*, std::size_t) override { return true; }
    int error() const override { return 0; }
};

void fail(benchmark::State& state, const std::string& why) {
    check_failed = true;
    state.SkipWithError(why.c_str());
}

void cp932_pass(benchmark::State& state, const std::string& kind) {
    const Corpus& c = cp932_corpus(kind);
    {
        VectorSource source(c.data);
        DiscardSink sink;
        if (!kurvane::detail::run_pass(source, sink, c.settings).ok()) return fail(state, "the pass failed");
    }
    for (auto _ : state) {
        VectorSource source(c.data);
        DiscardSink sink;
        benchmark::DoNotOptimize(kurvane::detail::run_pass(source, sink, c.settings));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.data.size()));
}

void encoded_scan(benchmark::State& state, const std::string& kind, InputEncoding e) {
    const Encoded& in = encoded(kind, e);
    if (!in.check_failure.empty()) return fail(state, in.check_failure);
    std::uint64_t runs = 0;
    for (auto _ : state) {
        runs = 0;
        kurvane::text::scan_text(in.tables, in.data, 0, [&](const kurvane::text::FoundRun&) { ++runs; });
        benchmark::DoNotOptimize(runs);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(in.data.size()));
    state.counters["runs"] = static_cast<double>(runs);
    // The re-encoded corpus is larger or smaller than the code page 932 one.
    state.counters["size_vs_cp932"] = static_cast<double>(in.data.size()) / static_cast<double>(cp932_corpus(kind).data.size());
}

// The unit masks alone, both alignments, by each kernel this processor
// runs: the first step of the UTF-16 scan.
void unit_masks(benchmark::State& state, const std::string& kind, InputEncoding e, const kurvane::text::UnitMaskKernel* kernel) {
    const Encoded& in = encoded(kind, e);
    const std::size_t words = (in.data.size() / 2 + 63) / 64;
    std::vector<std::uint64_t> masks[4];
    for (auto& m : masks) m.resize(words);
    const kurvane::text::UnitTraitWords out{masks[0].data(), masks[1].data(), masks[2].data(), masks[3].data()};
    const auto order = e == InputEncoding::utf16le ? kurvane::text::ByteOrder::little : kurvane::text::ByteOrder::big;
    for (auto _ : state) {
        for (std::size_t a = 0; a < 2; ++a)
            (*kernel)(order, in.tables.unit_lookup(), in.data.data() + a, (in.data.size() - a) / 2, words, out);
        benchmark::DoNotOptimize(masks[0].data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(in.data.size()));
}

void register_all() {
    const InputEncoding others[] = {InputEncoding::euc_jp, InputEncoding::utf8, InputEncoding::utf16le,
                                    InputEncoding::utf16be};
    for (const std::string name : {"mixed", "text", "binary", "tables"}) {
        benchmark::RegisterBenchmark(("cp932_pass/" + name).c_str(), cp932_pass, name)->Unit(benchmark::kMillisecond);
        for (const InputEncoding e : others)
            benchmark::RegisterBenchmark(
                (std::string(kurvane::text::input_encoding_name(e)) + "_scan/" + name).c_str(), encoded_scan, name, e)
                ->Unit(benchmark::kMillisecond);
        for (const Isa isa : kurvane::all_isas)
            if (const kurvane::text::UnitMaskKernel* k = kurvane::text::unit_mask_kernel_for(isa))
                benchmark::RegisterBenchmark(("utf-16le_masks_" + std::string(kurvane::isa_name(isa)) + "/" + name).c_str(),
                                             unit_masks, name, InputEncoding::utf16le, k)
                    ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest{argv[0]};
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--size") == 0 && k + 1 < argc) corpus_size = std::strtoull(argv[++k], nullptr, 10);
        else rest.push_back(argv[k]);
    }
    int rest_argc = static_cast<int>(rest.size());
    benchmark::Initialize(&rest_argc, rest.data());
    register_all();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (check_failed) std::fprintf(stderr, "kurvane_text_scan_bench: a scan's result was wrong\n");
    return check_failed ? 1 : 0;
}
