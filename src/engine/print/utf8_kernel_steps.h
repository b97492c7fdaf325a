// The character-at-a-time steps every UTF-8 kernel finishes with. Each
// kernel file includes this inside its own instruction-set region, and the
// functions have internal linkage, so no file links another's copy.
#pragma once

#include <cstddef>
#include <cstring>

#include "engine/print/utf8_kernel.h"

namespace kurvane::detail {
namespace {

// Stores entry e whole (the kernels have the room) and moves past its bytes.
inline void store_entry(unsigned char*& dst, text::Utf8Entry e) {
    std::memcpy(dst, &e, sizeof e);
    dst += e >> text::utf8_length_shift;
}

// Characters from src[k] one at a time, up to and including the first
// double-byte one and at most `steps` of them, while two bytes are left:
// single-byte text does not pay for a block's work at every character.
inline void single_steps(const Utf8Tables& t, const unsigned char* src, std::size_t& k, std::size_t n,
                         unsigned char*& dst, std::size_t steps) {
    for (; steps > 0 && k + 2 <= n; --steps) {
        const unsigned char c = src[k];
        const text::Utf8Entry e = t.pair[c << 8 | src[k + 1]];
        // A lead byte whose trail does not complete a character is
        // replaced alone; the trail is then read as a character itself.
        if (e != 0) {
            store_entry(dst, e);
            k += 2;
            return;
        }
        store_entry(dst, t.single[c]);
        ++k;
    }
}

// The last byte, when one is left after the pairs: a character alone.
inline void last_single(const Utf8Tables& t, const unsigned char* src, std::size_t& k, std::size_t n,
                        unsigned char*& dst) {
    if (k + 1 == n) {
        store_entry(dst, t.single[src[k]]);
        ++k;
    }
}

}  // namespace
}  // namespace kurvane::detail
