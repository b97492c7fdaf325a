#include "machine_scaling.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kurvane::bench {
namespace {

// cat's buffer size, and the size of the compute loop's buffer: past the
// first level cache, well inside the second, as a stretch's working set is.
constexpr std::size_t chunk = std::size_t{128} << 10;
constexpr std::size_t compute_buffer = std::size_t{128} << 10;
static_assert(compute_buffer % compute_block == 0);

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A compute loop's buffer: pseudo-random bytes of every value, the same
// for every thread.
std::unique_ptr<unsigned char[]> compute_data() {
    std::unique_ptr<unsigned char[]> data(new unsigned char[compute_buffer]);
    std::uint32_t x = 2463534242u;
    for (std::size_t k = 0; k < compute_buffer; ++k) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[k] = static_cast<unsigned char>(x >> 24);
    }
    return data;
}

// The run bits of one 32-byte block's class masks, as the scan combines
// them: single-byte text, or a lead byte followed by a trail byte (and that
// trail byte); the count of run starts and ends is what the loop adds up.
inline std::uint32_t run_edges(std::uint32_t single, std::uint32_t lead, std::uint32_t trail) {
    const std::uint32_t pair = lead & (trail >> 1);
    const std::uint32_t run = single | pair | (pair << 1);
    return static_cast<std::uint32_t>(__builtin_popcount(run ^ (run << 1)));
}

// The scalar version, for a processor without AVX2: a class table per byte.
std::uint64_t compute_scalar(const unsigned char* data, std::size_t size) {
    std::array<unsigned char, 256> cls{};
    for (unsigned v = 0; v < 256; ++v) {
        cls[v] = static_cast<unsigned char>(((v >= 0x20 && v <= 0x7e) || (v >= 0xa1 && v <= 0xdf) ? 1 : 0) |
                                            ((v >= 0x81 && v <= 0x9f) || (v >= 0xe0 && v <= 0xfc) ? 2 : 0) |
                                            (v >= 0x40 && v <= 0xfc && v != 0x7f ? 4 : 0));
    }
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < size; k += 32) {
        std::uint32_t single = 0, lead = 0, trail = 0;
        for (unsigned b = 0; b < 32; ++b) {
            const unsigned c = cls[data[k + b]];
            single |= (c & 1u) << b;
            lead |= ((c >> 1) & 1u) << b;
            trail |= ((c >> 2) & 1u) << b;
        }
        sum += run_edges(single, lead, trail);
    }
    return sum;
}

#if defined(__x86_64__) || defined(__i386__)
// v in [lo, hi], unsigned, as a byte mask.
__attribute__((target("avx2"))) inline __m256i in_range(__m256i v, __m256i lo, __m256i hi) {
    return _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(v, lo), v),
                            _mm256_cmpeq_epi8(_mm256_min_epu8(v, hi), v));
}

__attribute__((target("avx2"))) inline std::uint32_t bits(__m256i mask) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(mask));
}

// Four blocks per step, each its own chain of compares, mask arithmetic and
// sums, as the scan's kernels keep several blocks in flight.
__attribute__((target("avx2,popcnt"))) std::uint64_t compute_avx2(const unsigned char* data,
                                                                   std::size_t size) {
    const __m256i ascii_lo = _mm256_set1_epi8(0x20), ascii_hi = _mm256_set1_epi8(0x7e);
    const __m256i kana_lo = _mm256_set1_epi8(static_cast<char>(0xa1)),
                  kana_hi = _mm256_set1_epi8(static_cast<char>(0xdf));
    const __m256i lead1_lo = _mm256_set1_epi8(static_cast<char>(0x81)),
                  lead1_hi = _mm256_set1_epi8(static_cast<char>(0x9f));
    const __m256i lead2_lo = _mm256_set1_epi8(static_cast<char>(0xe0)),
                  lead2_hi = _mm256_set1_epi8(static_cast<char>(0xfc));
    const __m256i trail_lo = _mm256_set1_epi8(0x40), del = _mm256_set1_epi8(0x7f);
    std::uint64_t sum[4] = {0, 0, 0, 0};
    for (std::size_t k = 0; k < size; k += 4 * 32) {
        for (unsigned c = 0; c < 4; ++c) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + k + 32 * c));
            const __m256i single = _mm256_or_si256(in_range(v, ascii_lo, ascii_hi),
                                                   in_range(v, kana_lo, kana_hi));
            const __m256i lead = _mm256_or_si256(in_range(v, lead1_lo, lead1_hi),
                                                 in_range(v, lead2_lo, lead2_hi));
            const __m256i trail = _mm256_andnot_si256(_mm256_cmpeq_epi8(v, del),
                                                      in_range(v, trail_lo, lead2_hi));
            sum[c] += run_edges(bits(single), bits(lead), bits(trail));
        }
    }
    return sum[0] + sum[1] + sum[2] + sum[3];
}
#endif

// The loop's buffer passed over until `bytes` bytes are done. Every pass
// gives the same sum: the empty asm statement tells the compiler the
// buffer may have changed, so it computes each pass instead of one.
std::uint64_t compute(const unsigned char* data, std::uint64_t bytes) {
    const bool vectors = has_vector_compute();
    std::uint64_t sum = 0;
    for (std::uint64_t done = 0; done < bytes; done += compute_buffer) {
        __asm__ __volatile__("" : : "r"(data) : "memory");
        sum += scan_shaped_sum(data, compute_buffer, vectors);
    }
    return sum;
}

// Reads [from, to) of fd in chunks, as cat does; false on an error or an
// early end.
bool read_part(int fd, std::uint64_t from, std::uint64_t to, std::uint64_t& sum) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[chunk]);
    for (std::uint64_t at = from; at < to;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, to - at));
        const ssize_t got = ::pread(fd, buffer.get(), want, static_cast<off_t>(at));
        if (got <= 0) return false;
        sum += buffer[static_cast<std::size_t>(got) - 1];
        at += static_cast<std::uint64_t>(got);
    }
    return true;
}

// Writes `bytes` bytes to the new file `path` in chunks; false on an error.
bool write_new(const std::string& path, std::uint64_t bytes) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[chunk]);
    for (std::size_t k = 0; k < chunk; ++k) buffer[k] = static_cast<unsigned char>('A' + k % 26);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (std::uint64_t done = 0; ok && done < bytes;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, bytes - done));
        const ssize_t put = ::write(fd, buffer.get(), want);
        ok = put > 0;
        if (ok) done += static_cast<std::uint64_t>(put);
    }
    return ::close(fd) == 0 && ok;
}

std::string scratch_name(const std::filesystem::path& scratch, unsigned thread) {
    return scratch.string() + "-" + std::to_string(thread);
}

}  // namespace

bool has_vector_compute() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

std::uint64_t scan_shaped_sum(const unsigned char* data, std::size_t size, bool vectors) {
#if defined(__x86_64__) || defined(__i386__)
    if (vectors && has_vector_compute()) return compute_avx2(data, size - size % compute_block);
#endif
    static_cast<void>(vectors);
    return compute_scalar(data, size - size % compute_block);
}

const char* scaling_loop_name(ScalingLoop loop) {
    switch (loop) {
    case ScalingLoop::compute: return "compute";
    case ScalingLoop::read: return "read";
    case ScalingLoop::write: return "write";
    }
    return "?";
}

bool parse_scaling_loop(const char* name, ScalingLoop& loop) {
    for (const ScalingLoop l : {ScalingLoop::compute, ScalingLoop::read, ScalingLoop::write}) {
        if (std::strcmp(name, scaling_loop_name(l)) == 0) {
            loop = l;
            return true;
        }
    }
    return false;
}

LoopTime time_loop(ScalingLoop loop, unsigned threads, std::uint64_t bytes,
                   const std::filesystem::path& input, const std::filesystem::path& scratch) {
    LoopTime result;
    threads = std::clamp(threads, 1u, 2u);
    int fd = -1;
    if (loop == ScalingLoop::read) {
        fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0) ::close(fd);
            return result;
        }
        bytes = std::min<std::uint64_t>(bytes, static_cast<std::uint64_t>(st.st_size));
    }
    std::error_code ec;
    for (unsigned t = 0; t < threads; ++t) std::filesystem::remove(scratch_name(scratch, t), ec);
    // Each computing thread has its buffer in its own core's caches.
    std::vector<std::unique_ptr<unsigned char[]>> data(threads);
    if (loop == ScalingLoop::compute)
        for (auto& d : data) d = compute_data();

    // Thread t does [t * bytes / threads, (t + 1) * bytes / threads); the
    // compute loop rounds its share up to whole passes over its buffer.
    std::vector<double> cpu(threads, 0);
    std::vector<char> ok(threads, 0);
    std::atomic<std::uint64_t> sums{0};
    const auto body = [&](unsigned t) {
        const double cpu_start = thread_cpu_seconds();
        const std::uint64_t from = bytes * t / threads, to = bytes * (t + 1) / threads;
        std::uint64_t sum = 0;
        bool done = true;
        switch (loop) {
        case ScalingLoop::compute: sum = compute(data[t].get(), to - from); break;
        case ScalingLoop::read: done = read_part(fd, from, to, sum); break;
        case ScalingLoop::write: done = write_new(scratch_name(scratch, t), to - from); break;
        }
        sums.fetch_add(sum, std::memory_order_relaxed);
        cpu[t] = thread_cpu_seconds() - cpu_start;
        ok[t] = done ? 1 : 0;
    };
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(body, t);
    body(0);
    for (std::thread& h : helpers) h.join();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

    if (fd >= 0) ::close(fd);
    for (unsigned t = 0; t < threads; ++t) std::filesystem::remove(scratch_name(scratch, t), ec);
    if (sums.load() == 1) std::fputc(' ', stderr);  // keeps every sum, and so the work
    if (std::find(ok.begin(), ok.end(), 0) != ok.end()) return result;
    result.seconds = took.count();
    result.cpu = 0;
    for (const double c : cpu) result.cpu += c;
    return result;
}

Scaling measure_scaling(ScalingLoop loop, std::uint64_t bytes, const std::filesystem::path& input,
                        const std::filesystem::path& scratch) {
    // An untimed run first: the first write after the benchmark's runs costs
    // the one thread several times the CPU of the writes after it (the
    // kernel catching up with the files those runs left). Then one, two,
    // two, one: a drift in the machine's load weighs on both alike.
    Scaling s;
    if (time_loop(loop, 1, bytes, input, scratch).seconds < 0) return s;
    LoopTime one, two;
    one.seconds = one.cpu = two.seconds = two.cpu = 0;
    for (const unsigned threads : {1u, 2u, 2u, 1u}) {
        const LoopTime t = time_loop(loop, threads, bytes, input, scratch);
        if (t.seconds < 0) return s;
        LoopTime& sum = threads == 1 ? one : two;
        sum.seconds += t.seconds;
        sum.cpu += t.cpu;
    }
    s.one_seconds = one.seconds;
    s.one_cpu = one.cpu;
    s.two_seconds = two.seconds;
    s.two_cpu = two.cpu;
    return s;
}

}  // namespace kurvane::bench
