// The skip over bytes that cannot start text: given any set of byte values,
// find the first byte of a range that is in it, or mark every member of a
// range in a bitmap. Each kernel has a scalar version, which is the
// reference and the fallback, and vector versions for SSSE3, AVX2 and
// AVX-512 on x86-64; the best one the processor runs is chosen once, at run time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "isa.h"

namespace kurvane::scan {

// The vector kernels test kernel_block bytes at once, loaded from any
// position before the end of the range, so they read up to kernel_overread
// bytes past it. What those bytes hold never changes a result.
inline constexpr std::size_t kernel_block = 64;
inline constexpr std::size_t kernel_overread = kernel_block - 1;
static_assert(kernel_block == 64, "one bit of a std::uint64_t mask per byte of a block");

// A range of bytes followed by at least kernel_overread readable bytes. It
// is made only through padded<Padding>(), where the caller names the padding
// its buffer has, so a buffer with too little fails to compile.
class PaddedBytes {
public:
    template <std::size_t Padding>
    static constexpr PaddedBytes padded(const unsigned char* data, std::size_t size) {
        static_assert(Padding >= kernel_overread, "the kernels read past the range");
        return PaddedBytes(data, size);
    }

    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    // The bytes from `offset` (at most size()) on, and the first `n` bytes
    // (at most all of them): the bytes after either are still readable.
    PaddedBytes from(std::size_t offset) const { return {data_ + offset, size_ - offset}; }
    PaddedBytes first(std::size_t n) const { return {data_, n < size_ ? n : size_}; }

private:
    constexpr PaddedBytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    const unsigned char* data_;
    std::size_t size_;
};

// A set of byte values, held both as a 256-entry table (for the scalar
// kernels), as nibble tables for a byte-shuffle lookup (for the low nibble
// l of a value, bit h % 8 of the row says whether the value with high
// nibble h is a member, in low_rows for h < 8 and high_rows for h >= 8) and
// as a bitmap for a byte-permute lookup (bit v % 8 of bits[v / 8]).
struct ByteSet {
    // The set of every v with membership[v] != 0.
    explicit ByteSet(const std::array<unsigned char, 256>& membership);
    ByteSet() : ByteSet(std::array<unsigned char, 256>{}) {}

    bool contains(unsigned char v) const { return member[v] != 0; }

    std::array<unsigned char, 256> member;  // 1 for a member, else 0
    alignas(16) std::array<unsigned char, 16> low_rows;
    alignas(16) std::array<unsigned char, 16> high_rows;
    alignas(32) std::array<unsigned char, 32> bits;
};

// One instruction set's kernels.
struct SkipKernel {
    Isa isa;
    // The index of the first byte of `bytes` that is in `set`, or
    // bytes.size() when none is.
    std::size_t (*find_member)(const ByteSet& set, PaddedBytes bytes);
    // Bit k % 64 of masks[k / 64] is set when byte k of `bytes` is in `set`.
    // Writes mask_words(bytes.size()) words; the bits from bytes.size() on
    // are clear.
    void (*member_masks)(const ByteSet& set, PaddedBytes bytes, std::uint64_t* masks);
};

constexpr std::size_t mask_words(std::size_t size) {
    return (size + kernel_block - 1) / kernel_block;
}

// The fastest kernel this processor runs, chosen on the first call.
const SkipKernel& skip_kernel();
// The kernel for `isa`, or null when this build or processor lacks it.
const SkipKernel* skip_kernel_for(Isa isa);

}  // namespace kurvane::scan
