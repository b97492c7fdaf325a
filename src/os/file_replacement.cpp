#include "os/file_replacement.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <optional>
#include <filesystem>
#include <system_error>
#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <random>
#endif

#include "os/file_identity.h"
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

#ifdef _WIN32
// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9, with any extension, name
// devices in every directory; std::filesystem reports them as absent.
bool is_device_name(std::string_view path) {
    std::string_view name = path.substr(os::last_component_start(path, true));
    name = name.substr(0, name.find('.'));
    const std::string lower = os::windows_path_key(name);
    if (lower == "con" || lower == "prn" || lower == "aux" || lower == "nul") return true;
    return lower.size() == 4 && (lower.starts_with("com") || lower.starts_with("lpt")) &&
           lower[3] >= '1' && lower[3] <= '9';
}
#endif

// A path that exists and is not a regular file (a directory, a device, a
// FIFO), links followed by the system itself: a link in /proc that leads to
// a pipe has no name to follow by hand.
bool exists_but_not_regular(const std::string& path) {
#ifdef _WIN32
    if (is_device_name(path)) return true;
#endif
    std::error_code ec;
    const fs::file_status st = fs::status(os::path_from_utf8(path), ec);
    return !ec && fs::exists(st) && !fs::is_regular_file(st);
}

// The file an output path ends at: symbolic links are followed, the last one
// possibly to a name that does not exist yet, so an output reached through a
// link is replaced where it lies and the link kept, as writing through it
// did. A chain too long to follow is left for the open to report.
std::string link_target(const std::string& path) {
    constexpr int max_links = 40;  // what Linux follows in one lookup
    fs::path at = os::path_from_utf8(path);
    for (int k = 0; k < max_links; ++k) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(at, ec)) || ec) return k == 0 ? path : os::utf8_from_path(at);
        const fs::path link = fs::read_symlink(at, ec);
        if (ec) return path;
        at = link.is_absolute() ? link : at.parent_path() / link;
    }
    return path;
}

// A stream of its own over a descriptor the process has open: the copy
// shares the descriptor's offset and append mode, and closing it leaves the
// original open.
std::FILE* reopen_descriptor(int fd) {
#ifdef _WIN32
    (void)fd;
    errno = EBADF;
    return nullptr;
#else
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return nullptr;
    std::FILE* file = ::fdopen(copy, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(copy);
        errno = error;
    }
    return file;
#endif
}

}  // namespace

int OutputFile::open(const std::string& path) {
    discard();
    errno = 0;
    if (const std::optional<int> fd = os::descriptor_named(path)) {
        file_ = reopen_descriptor(*fd);
        return file_ != nullptr ? 0 : errno_or(EBADF);
    }
    if (exists_but_not_regular(path)) {
        file_ = os::open_file(path, "wb");
        return file_ != nullptr ? 0 : errno_or(EACCES);
    }
    const std::string target = link_target(path);
    if (std::FILE* existing = os::open_file(target, "r+b")) {
        std::fclose(existing);
    } else if (errno != ENOENT) {
        return errno_or(EACCES);
    }
    if (const int error = replacement_.open(target); error != 0) return error;
    replacing_ = true;
    return 0;
}

int OutputFile::commit() {
    if (replacing_) {
        replacing_ = false;
        return replacement_.commit();
    }
    if (file_ == nullptr) return EBADF;
    std::FILE* file = file_;
    file_ = nullptr;
    errno = 0;
    return std::fclose(file) == 0 ? 0 : errno_or(EIO);
}

void OutputFile::discard() noexcept {
    replacement_.discard();
    replacing_ = false;
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

int FileReplacement::open(std::string_view target) {
    discard();
    target_.assign(target);
#ifdef _WIN32
    const std::size_t start = os::last_component_start(target, true);
#else
    const std::size_t start = os::last_component_start(target, false);
#endif
    constexpr unsigned attempts = 8;
    for (unsigned attempt = 0; attempt < attempts; ++attempt) {
        std::string temporary = temporary_name(target.substr(0, start), attempt);
        // A name in use is not claimed: a stop between the claim and the
        // creation below would remove the file of whoever has it.
        std::error_code ec;
        if (fs::symlink_status(os::path_from_utf8(temporary), ec).type() != fs::file_type::not_found) continue;
        const int slot = claim_slot(temporary);
        if (slot == -2) return EINTR;
        // Created only if the name is free: another process's temporary file
        // is never taken over. (Nor is anything truncated, which on some file
        // systems would make the close wait for the whole file to be written.)
        errno = 0;
        file_ = os::create_new_file(temporary);
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
        const fs::file_status old = fs::status(os::path_from_utf8(target_), ec);
        if (!ec && fs::is_regular_file(old))
            fs::permissions(os::path_from_utf8(temporary_), old.permissions(), ec);
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
    fs::rename(os::path_from_utf8(temporary_), os::path_from_utf8(target_), ec);
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
        os::remove_file(temporary_);
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
