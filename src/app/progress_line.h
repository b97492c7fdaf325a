// The progress line shown on a terminal's standard error while the inputs
// are read: bytes done, speed and, when the total is known, time left. It is
// rewritten in place with \r, appears only once the work has taken about a
// second, and is cleared when the work ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "app/cli_messages.h"

namespace kurvane::cli {

// "812 B", "12.3 KiB", "4.0 MiB", "1.5 GiB".
std::string byte_count_text(std::uint64_t bytes);

// The line's text: done and total bytes (total 0: unknown), seconds since
// the start.
std::string progress_text(Language language, std::uint64_t done, std::uint64_t total, double seconds);

class ProgressLine {
public:
    // With `enabled` false nothing is ever printed and the callbacks are empty.
    ProgressLine(std::FILE* err, bool enabled, std::uint64_t total, Language language);
    ~ProgressLine() { finish(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // The callback for one input, called on the thread extracting it with
    // that input's bytes read so far. Empty when not enabled.
    std::function<void(std::uint64_t)> for_input();

    // Clears the line if one was printed. Call before printing messages.
    void finish();

private:
    void add(std::uint64_t bytes);

    std::FILE* err_;
    bool enabled_;
    std::uint64_t total_;
    Language language_;
    std::int64_t start_ns_;
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::int64_t> next_print_ns_;  // since start_
    std::atomic<bool> printing_{false};
    std::size_t shown_width_ = 0;               // bytes of the line on screen; 0: none
};

// True when `stream` is a terminal.
bool is_terminal(std::FILE* stream);

}  // namespace kurvane::cli
