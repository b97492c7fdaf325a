#include "os/file_replacement.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <system_error>
#ifdef _WIN32
#include <process.h>
#else
#include <random>
#endif

#include "os/file_names.h"

namespace kurvane {
namespace {

namespace fs = std::filesystem;

// The temporary file's own name: fixed-length, so that a target whose name
// is already as long as a file name may be still has a temporary beside it.
constexpr char temporary_prefix[] = "kurvane-";
constexpr char temporary_suffix[] = ".tmp";
constexpr std::size_t temporary_name_length = sizeof temporary_prefix - 1 + 8 + sizeof temporary_suffix - 1;
static_assert(temporary_name_length < temporary_path_capacity, "a bare temporary name fits a table slot");

// A slot is taken (free -> claimed) before its path is written and published
// (claimed -> ready) after: a handler reads the path only of a ready slot.
enum SlotState : int { slot_free, slot_claimed, slot_ready };

struct Slot {
    std::atomic<int> state{slot_free};
    char path[temporary_path_capacity];
};

Slot slots[tracked_temporary_files];
std::atomic<bool> stopping{false};
std::atomic<std::uint64_t> names_made{0};

int errno_or(int fallback) { return errno != 0 ? errno : fallback; }

// The errno value behind a std::filesystem failure.
int errno_of(const std::error_code& ec) {
    const std::error_condition condition = ec.default_error_condition();
    return condition.category() == std::generic_category() ? condition.value() : EIO;
}

// A name in `directory` (empty or ending in a separator) for new content.
// Random so that two processes writing in one directory at once never pick
// the same temporary file.
std::string temporary_name(std::string_view directory, unsigned attempt) {
    // <chrono> is avoided: GCC 12's C++20 <chrono> holds a literal that
    // code page 932 cannot represent.
    std::uint64_t seed = static_cast<std::uint64_t>(std::time(nullptr)) ^
                         static_cast<std::uint64_t>(std::clock());
#ifdef _WIN32
    // The C library's random source loads three more libraries on its first
    // use, which under Wine costs more than writing a small file: the
    // process id and where this frame lies (the address space is laid out
    // at random) tell two processes apart instead.
    seed ^= static_cast<std::uint64_t>(_getpid()) << 32;
    seed ^= static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&seed));
#else
    try {
        std::random_device device;
        seed ^= (std::uint64_t{device()} << 32) ^ device();
    } catch (...) {
        // No entropy source: the clock and the count still vary between calls.
    }
#endif
    seed += (names_made.fetch_add(1) + attempt) * 0x9E3779B97F4A7C15ull;
    char name[temporary_name_length + 1];
    std::snprintf(name, sizeof name, "%s%08x%s", temporary_prefix,
                  static_cast<unsigned>((seed ^ (seed >> 32)) & 0xFFFFFFFFu), temporary_suffix);
    std::string path(directory);
    path += name;
    return path;
}

// Enters `path` in the table. Returns the slot, -1 when the path is left
// untracked, or -2 when a stop has been requested.
int claim_slot(const std::string& path) {
    if (path.size() >= temporary_path_capacity) return -1;
    for (std::size_t k = 0; k < tracked_temporary_files; ++k) {
        int expected = slot_free;
        if (!slots[k].state.compare_exchange_strong(expected, slot_claimed)) continue;
        // Checked after the claim: a handler that saw this slot ready before
        // it was freed and claimed again has set `stopping` by now, and the
        // path it may still be reading is not overwritten.
        if (stopping.load()) {
            slots[k].state.store(slot_free);
            return -2;
        }
        path.copy(slots[k].path, path.size());
        slots[k].path[path.size()] = '\0';
        slots[k].state.store(slot_ready);
        // Checked again before the file exists: either the handler sees the
        // slot ready or this sees the stop.
        if (stopping.load()) {
            slots[k].state.store(slot_free);
            return -2;
        }
        return static_cast<int>(k);
    }
    return -1;
}

void release_slot(int slot) {
    if (slot >= 0) slots[slot].state.store(slot_free);
}

}  // namespace

int FileReplacement::open(std::string_view target) {
    discard();
    target_.assign(target);
#ifdef _WIN32
    const std::size_t start = detail::last_component_start(target, true);
#else
    const std::size_t start = detail::last_component_start(target, false);
#endif
    constexpr unsigned attempts = 8;
    for (unsigned attempt = 0; attempt < attempts; ++attempt) {
        std::string temporary = temporary_name(target.substr(0, start), attempt);
        // A name in use is not claimed: a stop between the claim and the
        // creation below would remove the file of whoever has it.
        std::error_code ec;
        if (fs::symlink_status(detail::path_from_utf8(temporary), ec).type() != fs::file_type::not_found) continue;
        const int slot = claim_slot(temporary);
        if (slot == -2) return EINTR;
        // Created only if the name is free: another process's temporary file
        // is never taken over. (Nor is anything truncated, which on some file
        // systems would make the close wait for the whole file to be written.)
        errno = 0;
        file_ = detail::create_new_file(temporary);
        if (file_ == nullptr) {
            const int error = errno_or(EACCES);
            release_slot(slot);
            if (error == EEXIST) continue;
            return error;
        }
        temporary_ = std::move(temporary);
        slot_ = slot;
        // The new file takes the old one's permissions: replacing a private
        // file must not make it readable to others.
        const fs::file_status old = fs::status(detail::path_from_utf8(target_), ec);
        if (!ec && fs::is_regular_file(old))
            fs::permissions(detail::path_from_utf8(temporary_), old.permissions(), ec);
        return 0;
    }
    return EEXIST;
}

int FileReplacement::commit() {
    if (file_ == nullptr) return EBADF;
    // Buffered data reaches the file only at close; a failing close is a
    // failed write (a full disk shows here).
    std::FILE* file = file_;
    file_ = nullptr;
    errno = 0;
    if (std::fclose(file) != 0) {
        const int error = errno_or(EIO);
        discard();
        return error;
    }
    // std::filesystem::rename replaces an existing file on POSIX (rename)
    // and on Windows (MoveFileExW with MOVEFILE_REPLACE_EXISTING).
    std::error_code ec;
    fs::rename(detail::path_from_utf8(temporary_), detail::path_from_utf8(target_), ec);
    if (ec) {
        discard();
        return errno_of(ec);
    }
    temporary_.clear();
    release_slot(slot_);
    slot_ = -1;
    return 0;
}

void FileReplacement::discard() noexcept {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        detail::remove_file(temporary_);
        temporary_.clear();
    }
    // Left only once the file is gone, so a handler never misses it.
    release_slot(slot_);
    slot_ = -1;
}

void stop_writing_files(void (*remove_file)(const char* path)) noexcept {
    stopping.store(true);
    for (Slot& slot : slots) {
        if (slot.state.load() == slot_ready) remove_file(slot.path);
    }
}

bool temporary_files_pending() noexcept {
    for (const Slot& slot : slots) {
        if (slot.state.load() != slot_free) return true;
    }
    return false;
}

bool stop_requested() noexcept { return stopping.load(std::memory_order_relaxed); }

}  // namespace kurvane
