// The scan of input in EUC-JP, UTF-8 or UTF-16: finds the runs of text under
// one setting and hands each to a sink, with its input offset and bytes.
// The sink is a template parameter, so a plain one costs nothing in the
// loop. Code page 932 has its own scan in the engine.
#pragma once

#include <span>

#include "text/bytewise_scan.h"
#include "text/scan_tables.h"
#include "text/utf16_scan.h"

namespace kurvane::text {

// Scans data, whose first byte is at input offset `base`, and calls
// sink(const FoundRun&) for each run written, in input order. The result
// is that of one scan of the whole input when data begins at a cut
// (cut_bytes.h) and ends at one or at the end of the input.
template <class Sink>
void scan_text(const ScanTables& tables, std::span<const unsigned char> data, std::uint64_t base, Sink&& sink) {
    const unsigned char* p = data.data();
    const std::size_t n = data.size();
    switch (tables.spec().encoding) {
        case InputEncoding::euc_jp: detail::scan_bytewise<InputEncoding::euc_jp>(tables, p, n, base, sink); break;
        case InputEncoding::utf8: detail::scan_bytewise<InputEncoding::utf8>(tables, p, n, base, sink); break;
        case InputEncoding::utf16le: detail::scan_utf16<decode_utf16le>(tables, p, n, base, sink); break;
        case InputEncoding::utf16be: detail::scan_utf16<decode_utf16be>(tables, p, n, base, sink); break;
        case InputEncoding::cp932: break;
    }
}

}  // namespace kurvane::text
