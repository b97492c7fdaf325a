// The bytes at which code page 932 input may be cut into stretches that
// are scanned on their own: a cut there splits no character and no run, so
// the scans of the stretches together give the scan of the whole input.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "engine/classes/scan_table.h"
#include "engine/extraction_settings.h"

namespace kurvane::detail {

// Marks the bytes at which the input may be cut under `table`: no pair
// that starts with one is text or excluded (a run reaching it ends there),
// and no pair that ends with one is a double-byte character or excluded
// (no run steps over it). Only the table decides, so a class or an excluded
// pair that takes a byte in clears its mark.
void find_split_bytes(const ScanTable& table, std::array<bool, 256>& split);

// The position after the last byte of b[0, n) that `stored_split` marks,
// or 0 when there is none.
inline std::size_t cut_after(const std::array<bool, 256>& stored_split, const unsigned char* b,
                             std::size_t n) {
    for (std::size_t k = n; k > 0; --k)
        if (stored_split[b[k - 1]]) return k;
    return 0;
}

// The scan table for `settings`, or null when there is no memory for it, and
// the split bytes as stored, before the settings' XOR: the input is cut
// where a stored byte decodes to a split byte.
std::unique_ptr<ScanTable> make_cut_table(const ExtractionSettings& settings,
                                          std::array<bool, 256>& stored_split);

}  // namespace kurvane::detail
