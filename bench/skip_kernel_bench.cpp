// kurvane_kernel_bench: the skip kernels in memory, one core, beside the
// scanner's SSE2 range test and memchr, measured in the same run.
//
//   kurvane_kernel_bench [--size BYTES] [Google Benchmark options]
//
// Each kernel is timed three ways over the bytes that can start text with
// each corpus's settings: a skip over a buffer holding no such byte (the
// kernel's top speed; memchr over the same buffer is the machine's floor),
// and over the mixed and text corpora: walking every candidate with
// find_member, walking them through a SkipWindow's masks (for the scanner's
// range test, its mask of the 64 bytes from each stop), and marking them
// all with member_masks in batches. The pair kernels mark, in the same
// batches, the positions whose pair is a double-byte character, beside one
// table lookup per position, the scanner's way without them. Every result is
// checked against the plain definition; a benchmark whose result is wrong
// reports an error instead of its figure and the program exits with 1.
#include <benchmark/benchmark.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "corpus.h"
#include "engine/scan/pair_kernel.h"
#include "engine/scan/skip_kernel.h"
#include "engine/scan/skip_kernel_window.h"
#include "engine/classes/scan_table.h"

namespace {

using kurvane::bench::CorpusKind;
using kurvane::scan::ByteSet;
using kurvane::scan::kernel_block;
using kurvane::scan::kernel_overread;
using kurvane::scan::PaddedBytes;
using kurvane::scan::SkipKernel;

std::size_t corpus_size = std::size_t{16} << 20;
constexpr std::size_t batch = 4096;  // bytes marked per member_masks call
constexpr std::size_t empty_size = std::size_t{256} << 10;  // stays in the cache
bool check_failed = false;

struct Input {
    std::vector<unsigned char> bytes;  // the data, then kernel_overread zeros
    std::size_t size;
    kurvane::detail::ScanTable table;
    std::size_t members;  // bytes of the data that can start text
};

Input make_input(std::vector<unsigned char> data, const kurvane::ExtractionSettings& settings) {
    Input in{std::move(data), 0, {}, 0};
    in.size = in.bytes.size();
    in.bytes.resize(in.size + kernel_overread);
    kurvane::detail::build_scan_table(settings, in.table);
    for (std::size_t k = 0; k < in.size; ++k) in.members += in.table.can_start[in.bytes[k]] != 0;
    return in;
}

const Input& corpus(CorpusKind kind) {
    static Input mixed = make_input(kurvane::bench::make_corpus(CorpusKind::mixed, corpus_size),
                                    kurvane::bench::corpus_settings(CorpusKind::mixed));
    static Input text = make_input(kurvane::bench::make_corpus(CorpusKind::text, corpus_size),
                                   kurvane::bench::corpus_settings(CorpusKind::text));
    return kind == CorpusKind::mixed ? mixed : text;
}

// Zeros, which never start text.
const Input& empty_input() {
    static Input empty = make_input(std::vector<unsigned char>(empty_size),
                                    kurvane::bench::corpus_settings(CorpusKind::mixed));
    return empty;
}

PaddedBytes padded(const Input& in) {
    return PaddedBytes::padded<kernel_overread>(in.bytes.data(), in.size);
}

void finish(benchmark::State& state, const Input& in, std::size_t counted,
            std::size_t expected) {
    if (counted != expected) {
        state.SkipWithError("wrong count of candidates");
        check_failed = true;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size));
    state.counters["candidates"] = static_cast<double>(counted);
}

// Steps from one candidate to the next the way the scanner skips.
template <class Find>
std::size_t walk(const Input& in, Find find) {
    std::size_t count = 0;
    const PaddedBytes all = padded(in);
    for (std::size_t i = find(all); i < in.size; i += 1 + find(all.from(i + 1))) ++count;
    return count;
}

void kernel_find(benchmark::State& state, const SkipKernel* kernel, const Input* in) {
    const ByteSet set(in->table.can_start);
    std::size_t count = 0;
    for (auto _ : state) {
        count = walk(*in, [&](PaddedBytes b) { return kernel->find_member(set, b); });
        benchmark::DoNotOptimize(count);
    }
    finish(state, *in, count, in->members);
}

// Steps from one candidate to the next through the masks of a window, as a
// scanner that stops at every candidate would.
template <class MaskAt>
std::size_t walk_masks(const Input& in, MaskAt mask_at) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < in.size;) {
        const std::uint64_t m = mask_at(pos);
        if (m == 0) {
            pos += kernel_block;
            continue;
        }
        pos += static_cast<std::size_t>(std::countr_zero(m)) + 1;
        ++count;
    }
    return count;
}

void kernel_window(benchmark::State& state, const SkipKernel* kernel, const Input* in) {
    const ByteSet set(in->table.can_start);
    std::size_t count = 0;
    for (auto _ : state) {
        kurvane::scan::SkipWindow window(*kernel, set, padded(*in));
        count = walk_masks(*in, [&](std::size_t pos) { return window.mask_at(pos); });
        benchmark::DoNotOptimize(count);
    }
    finish(state, *in, count, in->members);
}

// The kernel marks the candidates of each batch; counting them is left out
// of the time, as a scanner reads few of the bits it gets.
// Times fill(bytes, masks) over the input a batch at a time, then counts
// the bits it set against `expected`.
template <class Fill>
void time_masks(benchmark::State& state, const Input& in, std::size_t expected, Fill fill) {
    std::uint64_t masks[kurvane::scan::mask_words(batch)];
    const auto mark = [&](auto&& use) {
        for (std::size_t i = 0; i < in.size; i += batch) {
            const PaddedBytes b = padded(in).from(i);
            const std::size_t n = std::min(batch, b.size());
            fill(PaddedBytes::padded<kernel_overread>(b.data(), n), masks);
            use(n);
        }
    };
    for (auto _ : state) mark([&](std::size_t) { benchmark::DoNotOptimize(masks); });
    std::size_t count = 0;
    mark([&](std::size_t n) {
        for (std::size_t w = 0; w < kurvane::scan::mask_words(n); ++w)
            count += static_cast<std::size_t>(std::popcount(masks[w]));
    });
    finish(state, in, count, expected);
}

void kernel_masks(benchmark::State& state, const SkipKernel* kernel, const Input* in) {
    const ByteSet set(in->table.can_start);
    time_masks(state, *in, in->members,
               [&](PaddedBytes b, std::uint64_t* masks) { kernel->member_masks(set, b, masks); });
}

// The positions whose pair the ranges hold, by their plain definition.
std::size_t pair_members(const Input& in) {
    std::size_t count = 0;
    for (std::size_t k = 0; k < in.size; ++k)
        count += in.table.pair_ranges.in_ranges(in.bytes[k], in.bytes[k + 1]);
    return count;
}

void pair_masks(benchmark::State& state, const kurvane::scan::PairKernel* kernel, const Input* in) {
    if (!in->table.pair_ranges.usable) return state.SkipWithError("the table has no pair ranges");
    time_masks(state, *in, pair_members(*in), [&](PaddedBytes b, std::uint64_t* masks) {
        kernel->double_masks(in->table.pair_ranges, b, masks);
    });
}

// The same positions from the scan table, one load per position; the count
// of its double-byte pairs is the ranges' where no group is inexact.
void pair_lookups(benchmark::State& state, const Input* in) {
    const unsigned char* const pairs = in->table.pair_class.data();
    const unsigned char* const b = in->bytes.data();
    constexpr auto double_byte = static_cast<unsigned char>(kurvane::CharClass::Double);
    std::size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (std::size_t k = 0; k < in->size; ++k)
            count += pairs[kurvane::detail::ScanTable::index(b[k], b[k + 1])] == double_byte;
        benchmark::DoNotOptimize(count);
    }
    std::size_t expected = 0;
    for (std::size_t k = 0; k < in->size; ++k)
        expected += in->table.at(b[k], b[k + 1]) == kurvane::CharClass::Double;
    finish(state, *in, count, expected);
}

// memchr over the candidate-free buffer for a byte it lacks.
void memchr_floor(benchmark::State& state) {
    const Input& in = empty_input();
    const unsigned char* data = in.bytes.data();
    const void* found = nullptr;
    for (auto _ : state) {
        // memchr is pure: without this it would be called once.
        benchmark::DoNotOptimize(data);
        found = std::memchr(data, 1, in.size);
        benchmark::DoNotOptimize(found);
    }
    finish(state, in, found == nullptr ? 0 : 1, 0);
}

#if defined(__SSE2__)
// The scanner's present skip: a range test per range of can_start (ranges a
// few bytes apart merged) over 64-byte blocks, the range count a template
// argument so the tests unroll and stay in registers.
constexpr std::size_t max_ranges = kurvane::detail::ScanTable::max_ranges;

template <std::size_t N>
class RangeSkip {
public:
    RangeSkip(const unsigned* first, const unsigned* last) {
        for (std::size_t r = 0; r < N; ++r) {
            first_byte_[r] = first[r];
            last_byte_[r] = last[r];
            first_[r] = _mm_set1_epi8(static_cast<char>(first[r]));
            width_[r] = _mm_set1_epi8(static_cast<char>(last[r] - first[r]));
        }
    }

    std::uint64_t mask(const unsigned char* p) const {
        std::uint64_t m = 0;
        for (unsigned k = 0; k < 4; ++k) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
            __m128i hit = _mm_setzero_si128();
            for (std::size_t r = 0; r < N; ++r) {
                const __m128i above = _mm_subs_epu8(_mm_sub_epi8(x, first_[r]), width_[r]);
                hit = _mm_or_si128(hit, _mm_cmpeq_epi8(above, _mm_setzero_si128()));
            }
            m |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hit))} << 16 * k;
        }
        return m;
    }

    std::size_t find(PaddedBytes b) const {
        for (std::size_t k = 0; k < b.size(); k += kernel_block)
            if (const std::uint64_t m = mask(b.data() + k); m != 0)
                return std::min(b.size(), k + static_cast<std::size_t>(std::countr_zero(m)));
        return b.size();
    }

    bool contains(unsigned char v) const {
        for (std::size_t r = 0; r < N; ++r)
            if (v >= first_byte_[r] && v <= last_byte_[r]) return true;
        return false;
    }

private:
    unsigned first_byte_[N + 1] = {};
    unsigned last_byte_[N + 1] = {};
    __m128i first_[N + 1];
    __m128i width_[N + 1];
};

// Calls body(RangeSkip<N>) for the merged ranges of `table`; false when it
// has more than the range test takes.
template <class Body>
bool with_range_skip(const kurvane::detail::ScanTable& table, Body body) {
    if (table.range_count > max_ranges) return false;
    constexpr unsigned max_gap = 4;
    unsigned first[max_ranges] = {};
    unsigned last[max_ranges] = {};
    std::size_t n = 0;
    for (std::size_t r = 0; r < table.range_count; ++r) {
        if (n > 0 && table.range_first[r] - last[n - 1] <= max_gap) {
            last[n - 1] = table.range_last[r];
        } else {
            first[n] = table.range_first[r];
            last[n++] = table.range_last[r];
        }
    }
    const auto run = [&]<std::size_t N>(std::integral_constant<std::size_t, N>) {
        body(RangeSkip<N>(first, last));
    };
    [&]<std::size_t... N>(std::index_sequence<N...>) {
        ((n == N ? run(std::integral_constant<std::size_t, N>{}) : void()), ...);
    }(std::make_index_sequence<max_ranges + 1>{});
    return true;
}

// Candidates of the merged ranges: the bytes between ranges that were merged
// count too, and the scanner's pair lookup then drops them.
template <std::size_t N>
std::size_t range_members(const RangeSkip<N>& skip, const Input& in) {
    std::size_t count = 0;
    for (std::size_t k = 0; k < in.size; ++k) count += skip.contains(in.bytes[k]);
    return count;
}

void range_find(benchmark::State& state, const Input* in) {
    std::size_t count = 0;
    std::size_t expected = 0;
    const bool usable = with_range_skip(in->table, [&](const auto& skip) {
        for (auto _ : state) {
            count = walk(*in, [&](PaddedBytes b) { return skip.find(b); });
            benchmark::DoNotOptimize(count);
        }
        expected = range_members(skip, *in);
    });
    if (!usable) return state.SkipWithError("more ranges than the range test takes");
    finish(state, *in, count, expected);
}

// The scanner's way today: the range test of the 64 bytes from each stop.
void range_window(benchmark::State& state, const Input* in) {
    std::size_t count = 0;
    std::size_t expected = 0;
    const bool usable = with_range_skip(in->table, [&](const auto& skip) {
        const auto mask_at = [&](std::size_t pos) {
            const std::uint64_t m = skip.mask(in->bytes.data() + pos);
            return in->size - pos < kernel_block ? m & ((std::uint64_t{1} << (in->size - pos)) - 1)
                                                 : m;
        };
        for (auto _ : state) {
            count = walk_masks(*in, mask_at);
            benchmark::DoNotOptimize(count);
        }
        expected = range_members(skip, *in);
    });
    if (!usable) return state.SkipWithError("more ranges than the range test takes");
    finish(state, *in, count, expected);
}

void range_masks(benchmark::State& state, const Input* in) {
    std::uint64_t masks[kurvane::scan::mask_words(batch)];
    std::size_t count = 0;
    std::size_t expected = 0;
    const bool usable = with_range_skip(in->table, [&](const auto& skip) {
        const auto mark = [&](auto&& use) {
            for (std::size_t i = 0; i < in->size; i += batch) {
                const std::size_t n = std::min(batch, in->size - i);
                for (std::size_t w = 0; w < kurvane::scan::mask_words(n); ++w)
                    masks[w] = skip.mask(in->bytes.data() + i + w * kernel_block);
                if (n % kernel_block != 0)
                    masks[n / kernel_block] &= (std::uint64_t{1} << n % kernel_block) - 1;
                use(n);
            }
        };
        for (auto _ : state) mark([&](std::size_t) { benchmark::DoNotOptimize(masks); });
        mark([&](std::size_t n) {
            for (std::size_t w = 0; w < kurvane::scan::mask_words(n); ++w)
                count += static_cast<std::size_t>(std::popcount(masks[w]));
        });
        expected = range_members(skip, *in);
    });
    if (!usable) return state.SkipWithError("more ranges than the range test takes");
    finish(state, *in, count, expected);
}
#endif

void register_all() {
    struct Case {
        const char* name;
        const Input* in;
    };
    const Case cases[] = {{"no_candidates", &empty_input()},
                          {"mixed", &corpus(CorpusKind::mixed)},
                          {"text", &corpus(CorpusKind::text)}};
    benchmark::RegisterBenchmark("memchr/no_candidates", memchr_floor);
    for (const Case& c : cases) {
        const std::string name = c.name;
#if defined(__SSE2__)
        benchmark::RegisterBenchmark(("sse2_ranges/find/" + name).c_str(), range_find, c.in);
        benchmark::RegisterBenchmark(("sse2_ranges/masks/" + name).c_str(), range_masks, c.in);
        benchmark::RegisterBenchmark(("sse2_ranges/window/" + name).c_str(), range_window, c.in);
#endif
        for (kurvane::Isa isa : kurvane::all_isas) {
            const SkipKernel* k = kurvane::scan::skip_kernel_for(isa);
            if (k == nullptr) continue;
            const std::string isa_name(kurvane::isa_name(isa));
            benchmark::RegisterBenchmark((isa_name + "/find/" + name).c_str(), kernel_find, k, c.in);
            benchmark::RegisterBenchmark((isa_name + "/masks/" + name).c_str(), kernel_masks, k,
                                         c.in);
            benchmark::RegisterBenchmark((isa_name + "/window/" + name).c_str(), kernel_window, k,
                                         c.in);
            if (const kurvane::scan::PairKernel* p = kurvane::scan::pair_kernel_for(isa))
                benchmark::RegisterBenchmark(("pairs/" + isa_name + "/masks/" + name).c_str(),
                                             pair_masks, p, c.in);
        }
        benchmark::RegisterBenchmark(("pairs/table/lookups/" + name).c_str(), pair_lookups, c.in);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest{argv[0]};
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--size") == 0 && k + 1 < argc)
            corpus_size = std::strtoull(argv[++k], nullptr, 10);
        else
            rest.push_back(argv[k]);
    }
    int rest_argc = static_cast<int>(rest.size());
    benchmark::Initialize(&rest_argc, rest.data());
    register_all();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (check_failed) std::fprintf(stderr, "kurvane_kernel_bench: a kernel's result was wrong\n");
    return check_failed ? 1 : 0;
}
