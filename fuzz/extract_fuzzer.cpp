// Extraction pass fuzzer: the input is an ExtractionSettings record (any bit
// pattern, as a loaded setting.dat may hold), three bytes choosing the piece
// size with the thread count, the output-buffer size, and the kind of input
// with the output format, then the data. The streaming pass must give exactly the bytes of the
// whole-file reference pass, formatted as asked; any difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>
#include <vector>

#include "engine/drive/pass.h"
#include "pass_test_util.h"
#include "reference_extract.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t record = sizeof(kurvane::ExtractionSettings);
    constexpr std::size_t choices = 3;
    if (size < record + choices) return 0;
    kurvane::ExtractionSettings settings;
    std::memcpy(&settings, data, record);
    // Small pieces put piece boundaries everywhere; a small output buffer
    // flushes often.
    const std::uint8_t* const choice = data + record;
    const std::size_t piece = 1 + choice[0] % 67;
    // Several threads take stretches of at most `piece` bytes each.
    const unsigned thread_counts[] = {1, 2, 3, 8};
    const unsigned threads = thread_counts[choice[0] / 67 % std::size(thread_counts)];
    const std::size_t output_buffer = 1 + std::size_t{choice[1]} * 23;
    const auto& kinds = kurvane::test::both_inputs;
    const kurvane::test::Input kind = kinds[choice[2] % std::size(kinds)];
    // The same byte picks the output format: the plain one (the block scan)
    // or one of the formats that take the annotated byte scan.
    kurvane::OutputFormat format;
    switch (choice[2] / std::size(kinds) % 5) {
    case 1: format.encoding = kurvane::TextEncoding::utf8; break;
    case 2: format.radix = kurvane::OffsetRadix::hex; break;
    case 3:
        format.eol = kurvane::LineEnd::lf;
        format.radix = kurvane::OffsetRadix::octal;
        format.file_name = "f";
        break;
    case 4:
        format.encoding = kurvane::TextEncoding::utf8;
        format.radix = kurvane::OffsetRadix::decimal;
        break;
    default: break;
    }
    const std::span<const unsigned char> input(data + record + choices, size - record - choices);

    std::vector<kurvane::test::ReferenceWrite> writes;
    const auto plain = kurvane::test::reference_extract(input, settings, &writes);
    const auto want = format.plain() ? plain
                                     : kurvane::test::formatted_reference(writes, format, settings.auto_newline != 0);
    kurvane::ExtractStatus status;
    kurvane::detail::PassOptions options{piece, output_buffer};
    options.format = &format;
    options.threads = threads;
    const auto streamed = kurvane::test::run_pass_through(kind, input, settings, options, &status);
    // One piece holding the whole input, as with the default piece size.
    const auto whole = kurvane::test::run_pass_on(input, settings, std::size_t{1} << 16, std::size_t{1} << 16);
    if (!status.ok() || streamed != want || whole != plain) {
        std::fprintf(stderr, "mismatch: input %s, format %u, threads %u, piece %zu, output buffer %zu\n  want %s\n  streamed %s\n  whole %s\n",
                     kurvane::test::name_of(kind), static_cast<unsigned>(choice[2] / std::size(kinds) % 5),
                     threads, piece, output_buffer, kurvane::test::hex(want).c_str(),
                     kurvane::test::hex(streamed).c_str(), kurvane::test::hex(whole).c_str());
        std::abort();
    }
    return 0;
}
