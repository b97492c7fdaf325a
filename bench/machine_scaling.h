// What two threads give on this machine by themselves, without kurvane: the
// same work done by one thread and split between two at once, for a compute
// loop shaped like the scan, for reading a file from the page cache and for
// writing new files into it. The benchmark times these in each round beside
// the pass, so that the pass's all-cores/-j 1 ratio can be judged against
// what the machine gives two threads at the time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace kurvane::bench {

// One loop's figures: wall seconds of one thread doing all of the work and
// of two threads doing half each at once, and the CPU seconds the threads
// used in each case. Negative times: the loop failed (a read or a write).
struct Scaling {
    double one_seconds = -1;
    double two_seconds = -1;
    double one_cpu = -1;
    double two_cpu = -1;
    bool ok() const { return one_seconds > 0 && two_seconds > 0; }
    // Work per wall second of two threads over one's (2.00 on two free cores).
    double speedup() const { return ok() ? one_seconds / two_seconds : -1; }
    // CPU time per unit of work of two threads at once over one's alone
    // (1.00 when running beside another thread costs nothing).
    double cpu_per_work() const { return ok() && one_cpu > 0 ? two_cpu / one_cpu : -1; }
};

// The compute loop's work over data[0, size), rounded down to whole steps
// of compute_block bytes: each 32-byte block's single-byte text, lead and
// trail bytes as bit masks, combined into runs as the scan does, and the
// runs' starts and ends counted. `vectors`: the AVX2 version where the
// processor has it (the same sum as the scalar one).
inline constexpr std::size_t compute_block = 128;
std::uint64_t scan_shaped_sum(const unsigned char* data, std::size_t size, bool vectors);
bool has_vector_compute();

enum class ScalingLoop { compute, read, write };
const char* scaling_loop_name(ScalingLoop loop);
bool parse_scaling_loop(const char* name, ScalingLoop& loop);

// Runs `loop` on `threads` threads (1 or 2), splitting the work between them,
// and returns {wall seconds, CPU seconds of all threads}, or negatives when
// it failed:
//  - compute: `bytes` bytes of scan-shaped compares and mask arithmetic
//    over a 128 KiB buffer per thread (in the caches), many independent
//    chains;
//  - read: the regular file `input` (its first `bytes` bytes) by pread in
//    128 KiB chunks, as cat reads, each thread its part;
//  - write: `bytes` bytes in 128 KiB writes, each thread to a new file of
//    its own, `scratch` with the thread's number added (removed after).
struct LoopTime {
    double seconds = -1;
    double cpu = -1;
};
LoopTime time_loop(ScalingLoop loop, unsigned threads, std::uint64_t bytes,
                   const std::filesystem::path& input, const std::filesystem::path& scratch);

// time_loop with one thread and with two, twice each (the times added up),
// after an untimed run.
Scaling measure_scaling(ScalingLoop loop, std::uint64_t bytes, const std::filesystem::path& input,
                        const std::filesystem::path& scratch);

}  // namespace kurvane::bench
