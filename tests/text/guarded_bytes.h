// Memory for tests of kernels that must not read past their range.
#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace kurvane::test {

// Bytes placed so that the last one is followed by a page that cannot be
// read: a skip that reads past the end of its range faults.
class GuardedBytes {
public:
    static constexpr std::size_t capacity = 64 * 1024;

    GuardedBytes() : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))), room_(capacity / page_ * page_ + page_) {
        void* m = mmap(nullptr, room_ + page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = m == MAP_FAILED ? nullptr : static_cast<unsigned char*>(m);
        if (base_ != nullptr && mprotect(base_ + room_, page_, PROT_NONE) != 0) {
            munmap(base_, room_ + page_);
            base_ = nullptr;
        }
    }
    ~GuardedBytes() {
        if (base_ != nullptr) munmap(base_, room_ + page_);
    }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    bool ok() const { return base_ != nullptr; }

    // The first n bytes of `from` (n at most capacity), ending at the guard.
    const unsigned char* place(const unsigned char* from, std::size_t n) {
        EXPECT_LE(n, capacity);
        n = std::min(n, capacity);
        unsigned char* at = base_ + room_ - n;
        if (n != 0) std::memcpy(at, from, n);  // from may be null then
        return at;
    }

private:
    std::size_t page_;
    std::size_t room_;  // readable bytes before the guard page
    unsigned char* base_;
};

}  // namespace kurvane::test
