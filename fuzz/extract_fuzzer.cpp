// Extraction pass fuzzer: the input is an ExtractionSettings record (any bit
// pattern, as a loaded setting.dat may hold), two bytes choosing the piece and
// output-buffer sizes, then the data. The streaming pass must give exactly
// the bytes of the whole-file reference pass; any difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "engine/extract_pass.h"
#include "pass_test_util.h"
#include "reference_extract.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t record = sizeof(kurvane::ExtractionSettings);
    if (size < record + 2) return 0;
    kurvane::ExtractionSettings settings;
    std::memcpy(&settings, data, record);
    // Small pieces put piece boundaries everywhere; a small output buffer
    // flushes often.
    const std::size_t piece = 1 + data[record] % 67;
    const std::size_t output_buffer = 1 + std::size_t{data[record + 1]} * 23;
    const std::span<const unsigned char> input(data + record + 2, size - record - 2);

    const auto want = kurvane::test::reference_extract(input, settings);
    const auto streamed = kurvane::test::run_pass_on(input, settings, piece, output_buffer);
    // One piece holding the whole input, as with the default piece size.
    const auto whole = kurvane::test::run_pass_on(input, settings, std::size_t{1} << 16, std::size_t{1} << 16);
    if (streamed != want || whole != want) {
        std::fprintf(stderr, "mismatch: piece %zu, output buffer %zu\n  want %s\n  streamed %s\n  whole %s\n",
                     piece, output_buffer, kurvane::test::hex(want).c_str(),
                     kurvane::test::hex(streamed).c_str(), kurvane::test::hex(whole).c_str());
        std::abort();
    }
    return 0;
}
