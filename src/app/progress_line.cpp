#include "app/progress_line.h"

#include "app/terminal_text.h"

#include <memory>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <time.h>
#include <unistd.h>
#endif

namespace kurvane::cli {
namespace {

constexpr std::int64_t first_print_ns = 1'000'000'000;  // short runs show nothing
constexpr std::int64_t print_interval_ns = 250'000'000;

// A monotonic clock. (<chrono> is avoided: GCC 12's C++20 <chrono> holds a
// literal that code page 932 cannot represent.)
std::int64_t monotonic_ns() {
#ifdef _WIN32
    return static_cast<std::int64_t>(GetTickCount64()) * 1'000'000;
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
#endif
}

std::string clock_text(double seconds) {
    const auto total = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

}  // namespace

std::string byte_count_text(std::uint64_t bytes) {
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
        return text;
    }
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string progress_text(Language language, std::uint64_t done, std::uint64_t total, double seconds) {
    const double speed = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const std::string speed_text = byte_count_text(static_cast<std::uint64_t>(speed));
    if (total == 0 || done > total) {
        return format_message(language, msg::progress_running, {byte_count_text(done), speed_text});
    }
    const double left = speed > 0 ? static_cast<double>(total - done) / speed : 0;
    return format_message(language, msg::progress_left,
                          {byte_count_text(done), byte_count_text(total), speed_text, clock_text(left)});
}

ProgressLine::ProgressLine(std::FILE* err, bool enabled, std::uint64_t total, Language language)
    : err_(err),
      enabled_(enabled),
      total_(total),
      language_(language),
      start_ns_(monotonic_ns()),
      next_print_ns_(first_print_ns) {}

std::function<void(std::uint64_t)> ProgressLine::for_input() {
    if (!enabled_) return {};
    // Each input reports its own running count on one thread; the shared
    // count takes the differences.
    auto last = std::make_shared<std::uint64_t>(0);
    return [this, last](std::uint64_t bytes_read) {
        if (bytes_read > *last) add(bytes_read - *last);
        *last = bytes_read;
    };
}

void ProgressLine::add(std::uint64_t bytes) {
    const std::uint64_t done = done_.fetch_add(bytes) + bytes;
    const std::int64_t now = monotonic_ns() - start_ns_;
    std::int64_t due = next_print_ns_.load();
    // One thread wins each print; the other goes back to its work.
    if (now < due || !next_print_ns_.compare_exchange_strong(due, now + print_interval_ns)) return;
    if (printing_.exchange(true)) return;
    std::string line = progress_text(language_, done, total_, static_cast<double>(now) / 1e9);
    const std::size_t width = line.size();
    if (width < shown_width_) line.append(shown_width_ - width, ' ');  // cover the longer line before
    write_terminal(err_, "\r" + line);
    std::fflush(err_);
    shown_width_ = width;
    printing_.store(false);
}

void ProgressLine::finish() {
    if (!enabled_) return;
    while (printing_.exchange(true)) {
    }
    if (shown_width_ > 0) {
        std::string blank(shown_width_ + 2, ' ');  // "\r", spaces over the line, "\r"
        blank.front() = '\r';
        blank.back() = '\r';
        write_terminal(err_, blank);
        std::fflush(err_);
        shown_width_ = 0;
    }
    next_print_ns_.store(INT64_MAX);  // nothing more after the end
    printing_.store(false);
}

bool is_terminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

}  // namespace kurvane::cli
