// The stretches of EUC-JP text whose double-byte characters are all kept,
// found a block at a time: for each lead byte the kept characters of its
// row that open the row, as the highest trail byte of them, so a vector
// kernel tests 32 pairs by one byte permute and two compares instead of a
// table entry a pair. Each instruction set has a kernel; the scalar one
// beside them is the reference they are tested against.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "isa.h"

namespace kurvane::text {

// Entry b: for a lead byte b, the highest trail byte t such that every pair
// b, 0xA1 ... b, t is a kept character; below 0xA1 (0) where b leads none.
using PairLimits = std::array<std::uint8_t, 256>;
inline constexpr std::uint8_t first_trail = 0xA1;

struct WideRunKernel {
    Isa isa;
    // The bytes from p, within n, of the pairs back to back that the limits
    // say are kept: always whole pairs.
    std::size_t (*kept_pairs)(const PairLimits& limits, const unsigned char* p, std::size_t n);
};

// How many pairs a scan steps through one at a time before it calls a
// kernel.
inline constexpr std::size_t wide_first_steps = 4;

// The kernel of `isa`, or null where this build or processor has none.
const WideRunKernel* wide_run_kernel_for(Isa isa);
// The fastest this processor runs, chosen on the first call.
const WideRunKernel& best_wide_run_kernel();

namespace detail {

inline constexpr std::size_t euc_pair_bytes = 2;

inline bool kept_pair(const PairLimits& limits, const unsigned char* p) {
    return p[0] >= first_trail && p[1] >= first_trail && p[1] <= limits[p[0]];
}

// The plain kernel, one pair a step.
std::size_t scalar_kept_pairs(const PairLimits& limits, const unsigned char* p, std::size_t n);

// Defined in wide_runs_avx512.cpp, for x86-64.
const WideRunKernel* avx512_wide_run_kernel();

}  // namespace detail
}  // namespace kurvane::text
