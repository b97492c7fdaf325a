#include "os/file_identity.h"

#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kurvane::os {

#ifdef _WIN32

namespace {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::optional<FileIdentity> identity_of_handle(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) return std::nullopt;
    FileIdentity id;
    // The 128-bit id where the file system has one (NTFS, ReFS); it is also
    // what Wine answers for a handle inherited from its Unix parent, whose
    // BY_HANDLE_FILE_INFORMATION it refuses. The two numberings are never
    // mixed: both names of one file are on one file system.
    FILE_ID_INFO file_id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &file_id, sizeof file_id)) {
        static_assert(sizeof file_id.FileId.Identifier == 2 * sizeof id.index);
        std::memcpy(&id.index, file_id.FileId.Identifier, sizeof id.index);
        std::memcpy(&id.index_high, file_id.FileId.Identifier + sizeof id.index, sizeof id.index_high);
        id.volume = file_id.VolumeSerialNumber;
    } else if (GetFileInformationByHandle(handle, &info)) {
        id.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
        id.volume = info.dwVolumeSerialNumber;
    } else {
        return std::nullopt;
    }
    id.volume_known = id.volume != 0;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return std::nullopt;
    id.regular = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return id;
}

}  // namespace

std::optional<FileIdentity> identity_of(const std::string& path) {
    const std::wstring name = wide(path);
    if (name.empty()) return std::nullopt;
    // No access asked for: only the attributes are read, and a file that
    // another program holds open is examined all the same. Directories open
    // only with backup semantics.
    const HANDLE handle = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const std::optional<FileIdentity> id = identity_of_handle(handle);
    CloseHandle(handle);
    return id;
}

std::optional<FileIdentity> identity_of(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0) return std::nullopt;
    return identity_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}

std::optional<int> descriptor_named(const std::string&) { return std::nullopt; }

#else

namespace {

FileIdentity identity_from(const struct stat& info) {
    FileIdentity id;
    id.volume = static_cast<std::uint64_t>(info.st_dev);
    id.index = static_cast<std::uint64_t>(info.st_ino);
    id.regular = S_ISREG(info.st_mode);
    return id;
}

// The descriptor number a file name in a descriptor directory stands for.
std::optional<int> descriptor_number(std::string_view name) {
    constexpr std::size_t max_digits = 9;  // keeps the number within an int
    if (name.empty() || name.size() > max_digits) return std::nullopt;
    int fd = 0;
    for (const char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        fd = fd * 10 + (c - '0');
    }
    return fd;
}

}  // namespace

std::optional<FileIdentity> identity_of(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return identity_from(info);
}

std::optional<FileIdentity> identity_of(std::FILE* stream) {
    struct stat info;
    const int fd = ::fileno(stream);
    if (fd < 0 || ::fstat(fd, &info) != 0) return std::nullopt;
    return identity_from(info);
}

std::optional<int> descriptor_named(const std::string& path) {
    namespace fs = std::filesystem;
    // Linux lists a process's descriptors in /proc/PID/fd (/dev/fd and
    // /proc/self/fd lead there); other systems have /dev/fd itself.
    const fs::path own = fs::path("/proc") / std::to_string(::getpid()) / "fd";
    const fs::path dev_fd = "/dev/fd";
    constexpr int max_links = 40;  // what Linux follows in one lookup
    fs::path at = path;
    for (int k = 0; k < max_links; ++k) {
        std::error_code ec;
        // Only the directory is resolved: the entry itself is a link to the
        // file the descriptor has open, which may have no name at all.
        const fs::path directory = fs::canonical(at.has_parent_path() ? at.parent_path() : ".", ec);
        if (!ec && (directory == own || directory == dev_fd)) {
            const std::optional<int> fd = descriptor_number(at.filename().native());
            if (fd && ::fcntl(*fd, F_GETFD) != -1) return fd;
            return std::nullopt;
        }
        if (!fs::is_symlink(fs::symlink_status(at, ec)) || ec) return std::nullopt;
        const fs::path link = fs::read_symlink(at, ec);
        if (ec) return std::nullopt;
        at = link.is_absolute() ? link : at.parent_path() / link;
    }
    return std::nullopt;
}

#endif

}  // namespace kurvane::os
