#include "os/file_names.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cwchar>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <share.h>
#else
#include <unistd.h>
#endif

namespace kurvane::os {

std::size_t last_component_start(std::string_view path, bool backslash_too) {
    std::size_t start = 0;
    for (std::size_t k = 0; k < path.size(); ++k) {
        if (path[k] == '/' || (backslash_too && path[k] == '\\')) start = k + 1;
    }
    return start;
}

std::string windows_path_key(std::string_view path) {
    std::string key(path);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        } else if (c == '\\') {
            c = '/';
        }
    }
    return key;
}

std::filesystem::path path_from_utf8(std::string_view utf8) {
    // A char8_t string is taken as UTF-8 on every platform; a char string
    // would go through the ANSI code page on Windows.
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8_from_path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::FILE* open_file(const std::string& utf8_path, const char* mode) {
#ifdef _WIN32
    const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path_from_utf8(utf8_path).c_str(), wide_mode.c_str());
#else
    return std::fopen(utf8_path.c_str(), mode);
#endif
}

int remove_file(const std::string& utf8_path) {
#ifdef _WIN32
    return _wremove(path_from_utf8(utf8_path).c_str());
#else
    return std::remove(utf8_path.c_str());
#endif
}

std::FILE* create_new_file(const std::string& utf8_path) {
#ifdef _WIN32
    const int fd = _wsopen(path_from_utf8(utf8_path).c_str(),
                           _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYNO,
                           _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _wfdopen(fd, L"wb");
    if (file == nullptr) {
        const int error = errno;
        _close(fd);
        errno = error;
    }
#else
    const int fd = ::open(utf8_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
#endif
    return file;
}

OffsetReader::OffsetReader(std::FILE* f) {
#ifdef _WIN32
    const int fd = _fileno(f);
    struct _stat64 st {};
    if (fd < 0 || _fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return;
    const long long at = _lseeki64(fd, 0, SEEK_CUR);
#else
    const int fd = fileno(f);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    const off_t at = lseek(fd, 0, SEEK_CUR);
#endif
    if (at < 0 || at > st.st_size) return;
    fd_ = fd;
    base_ = static_cast<std::uint64_t>(at);
    size_ = static_cast<std::uint64_t>(st.st_size - at);
}

std::size_t OffsetReader::read_at(std::uint64_t offset, unsigned char* dst, std::size_t n,
                                  int& error) {
    std::size_t done = 0;
#ifdef _WIN32
    std::lock_guard<std::mutex> lock(mutex_);
    if (_lseeki64(fd_, static_cast<long long>(base_ + offset), SEEK_SET) < 0) {
        error = errno != 0 ? errno : EIO;
        return 0;
    }
    while (done < n) {
        const auto want = static_cast<unsigned>(std::min<std::size_t>(n - done, INT_MAX));
        const int got = _read(fd_, dst + done, want);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else {
            if (got < 0) error = errno != 0 ? errno : EIO;
            break;
        }
    }
#else
    while (done < n) {
        const ssize_t got =
            pread(fd_, dst + done, n - done, static_cast<off_t>(base_ + offset + done));
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno != 0 ? errno : EIO;
            break;
        }
    }
#endif
    return done;
}

}  // namespace kurvane::os
