// File names and paths. Paths are UTF-8 throughout the program; on Windows
// they reach the file system through the wide (UTF-16) interfaces, never
// through the ANSI code page, so that any name opens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#ifdef _WIN32
#include <mutex>
#endif
#include <string>
#include <string_view>

namespace kurvane::os {

// Index of the first byte of the last component of the UTF-8 `path`. '/'
// separates components; with `backslash_too` (Windows) '\\' does as well.
// No byte of a multi-byte UTF-8 character is either (表 is E8 A1 A8).
std::size_t last_component_start(std::string_view path, bool backslash_too);

// A UTF-8 path as Windows compares it: ASCII letters in lower case and '\\'
// as '/'; every other character is kept as it is.
std::string windows_path_key(std::string_view path);

// The file-system path of UTF-8 text (on Windows its UTF-16 form).
std::filesystem::path path_from_utf8(std::string_view utf8);
// The UTF-8 text of a file-system path.
std::string utf8_from_path(const std::filesystem::path& path);

// std::fopen and std::remove over a UTF-8 path (_wfopen and _wremove on
// Windows). `mode` is ASCII.
std::FILE* open_file(const std::string& utf8_path, const char* mode);
int remove_file(const std::string& utf8_path);
// A new file for writing in binary mode, created only if nothing has the
// name (errno EEXIST otherwise, also for a dangling link): nothing existing
// is opened or truncated.
std::FILE* create_new_file(const std::string& utf8_path);

// Reads at any offset of a stream that is a regular file, from several
// threads at once, without moving the stream: pread where there is one. The
// Windows C library has none; there a seek and a read are made under a lock,
// which holds as long as nothing else reads the stream meanwhile.
class OffsetReader {
public:
    // `f` must be unbuffered or not read from yet, so that its descriptor's
    // offset is the stream's. Offsets count from that offset.
    explicit OffsetReader(std::FILE* f);
    OffsetReader(const OffsetReader&) = delete;
    OffsetReader& operator=(const OffsetReader&) = delete;

    // False when the stream is not a regular file (a pipe, a device).
    bool available() const { return fd_ >= 0; }
    // The bytes from the stream's offset to the end, as the file's size
    // said when this was made.
    std::uint64_t size() const { return size_; }
    // Up to n bytes at `offset`; fewer only at the end of the file or on an
    // error, which then sets `error` (an errno value).
    std::size_t read_at(std::uint64_t offset, unsigned char* dst, std::size_t n, int& error);

private:
    int fd_ = -1;
    std::uint64_t base_ = 0;
    std::uint64_t size_ = 0;
#ifdef _WIN32
    std::mutex mutex_;
#endif
};

}  // namespace kurvane::os
