// Code page 932 to UTF-8 for the printers, as cp932_to_utf8 converts it:
// a scalar kernel, which is the reference and the fallback, a kernel for
// SSSE3 on x86-64 that converts sixteen input bytes at a time where they
// are ASCII, half-width katakana or double-byte characters, and the same
// blocks for AVX-512, whose ASCII and katakana, and blocks where the two
// kinds mix, are packed by a byte compress. The best one the processor runs is chosen once, at run time.
// (Gathers measured slower than independent loads: an AVX2 gather of a
// block's eight entries, and an AVX-512 gather of sixteen, so there is no
// AVX2 kernel and the AVX-512 one looks its pairs up eight at a time.)
#pragma once

#include <cstddef>

#include "isa.h"
#include "text/text_encoding.h"

namespace kurvane::detail {

// The conversion by lookup: what each byte is alone, and what each pair
// lead << 8 | trail is (0: no character, the lead stands alone). The pair
// table is whole, so a block's pairs index it with their bytes alone.
struct Utf8Tables {
    text::Utf8Entry single[256];
    text::Utf8Entry pair[256 * 256];
};
const Utf8Tables& utf8_tables();

// The vector kernels convert a block of 16 input bytes at a time, and the
// last bytes of a run as a block too: they read utf8_block bytes from src
// when n is less (the bytes past n never count as text). The printers'
// runs have that much readable: copy_extent(n) >= utf8_block.
inline constexpr std::size_t utf8_block = 16;
// A block's stores reach past its own room where the block is the last and
// holds few bytes: up to two 16-byte stores of packed characters, the
// second at most 12 bytes in, behind the 2 bytes of one character.
inline constexpr std::size_t utf8_store_overrun = 2 * utf8_block;
static_assert(12 + 16 <= 2 * text::utf8_per_cp932_byte + utf8_store_overrun);

// One instruction set's conversion of src[0, n): returns the bytes of
// UTF-8 stored at dst, and stores nothing beyond
// dst + utf8_per_cp932_byte * n + utf8_store_overrun.
struct Utf8Kernel {
    Isa isa;
    std::size_t (*print)(const Utf8Tables& t, const unsigned char* src, std::size_t n,
                         unsigned char* dst);
};

// The fastest kernel this processor runs, chosen on the first call.
const Utf8Kernel& utf8_kernel();
// The kernel for `isa`, or null when this build or processor lacks it.
const Utf8Kernel* utf8_kernel_for(Isa isa);

}  // namespace kurvane::detail
