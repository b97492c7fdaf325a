// The positions of a 64-byte block of EUC-JP or UTF-8 at which a character
// may start, as one 64-bit mask: a byte that may start one and is no lead
// byte, or a lead byte followed by a byte that may follow a lead. Among
// noise most lead bytes are followed by none, and each would be a start the
// scan reads and drops. The classes of every byte value sit in one table, so
// a block costs one lookup of its bytes; each instruction set has a kernel,
// the scalar one beside them is the reference they are tested against.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "isa.h"

namespace kurvane::text {

inline constexpr std::size_t start_block_bytes = 64;
// A kernel reads the byte after its block too: whether a lead at the last
// position is followed by a trail.
inline constexpr std::size_t start_block_reads = start_block_bytes + 1;
static_assert(start_block_bytes == 8 * sizeof(std::uint64_t), "one bit of a mask per byte of a block");

class StartClasses {
public:
    static constexpr std::uint8_t start = 1;  // may start a kept or excluded character
    static constexpr std::uint8_t lead = 2;   // starts a character only with a trail after it
    static constexpr std::uint8_t trail = 4;  // may follow a lead
    static constexpr std::size_t byte_values = 256;

    StartClasses() = default;
    // From the three sets, indexed by byte value.
    StartClasses(const std::array<bool, byte_values>& starts, const std::array<bool, byte_values>& leads,
                 const std::array<bool, byte_values>& trails);

    std::uint8_t of(unsigned char b) const { return table_[b]; }
    // Whether the byte at p[0], followed by `next` (null at the end of the
    // data), may start a character.
    bool starts_at(unsigned char b, const unsigned char* next) const {
        const std::uint8_t c = table_[b];
        return (c & start) != 0 && ((c & lead) == 0 || (next != nullptr && (table_[*next] & trail) != 0));
    }

    // The table, for a kernel's lookups.
    const std::uint8_t* table() const { return table_.data(); }
    // For a byte-shuffle lookup of one class (start, lead, trail: 0, 1, 2):
    // for a value's low nibble l, bit h % 8 of the row says whether the value
    // with high nibble h has the class, in low_rows for h < 8 and high_rows
    // for h >= 8.
    static constexpr std::size_t class_count = 3;
    const std::uint8_t* low_rows(std::size_t c) const { return rows_[c][0].data(); }
    const std::uint8_t* high_rows(std::size_t c) const { return rows_[c][1].data(); }

private:
    alignas(64) std::array<std::uint8_t, byte_values> table_{};
    alignas(16) std::array<std::array<std::array<std::uint8_t, 16>, 2>, class_count> rows_{};
};

// One instruction set's kernel: bit k set where a character may start at
// p[k], k < start_block_bytes. Reads p[0, start_block_reads).
struct StartMaskKernel {
    Isa isa;
    std::uint64_t (*mask)(const StartClasses& classes, const unsigned char* p);
};

// The kernel of `isa`, or null where this build or processor has none.
const StartMaskKernel* start_mask_kernel_for(Isa isa);
// The fastest this processor runs, chosen on the first call.
const StartMaskKernel& best_start_mask_kernel();

namespace detail {
// The plain kernel: one byte at a time.
std::uint64_t scalar_start_mask_block(const StartClasses& classes, const unsigned char* p);
// Defined in start_mask_avx2.cpp and start_mask_avx512.cpp, for x86-64.
const StartMaskKernel* avx2_start_mask_kernel();
const StartMaskKernel* avx512_start_mask_kernel();
}  // namespace detail

}  // namespace kurvane::text
