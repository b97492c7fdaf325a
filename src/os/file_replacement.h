// Replacing a file whole: the new content goes to a temporary file beside the
// target and is renamed over it only once complete and closed, so a reader
// (or a run that dies half-way) finds the old file or the new one, never a
// part of either. Used for extraction outputs and for setting.dat.
//
// Also the table through which a program's signal handler finds the
// temporary files in progress. The engine installs no handler itself: it is
// a library, and the program decides what a signal does.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace kurvane {

class FileReplacement {
public:
    FileReplacement() = default;
    ~FileReplacement() { discard(); }
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Creates a new temporary file in target's directory, open for binary
    // writing, with the permissions of the target when that is a regular
    // file. Returns 0, or the errno value of the failure (EINTR once a stop
    // has been requested).
    int open(std::string_view target);
    std::FILE* stream() const { return file_; }
    // Closes the temporary file and renames it over the target. Returns 0,
    // or the errno value of the failure; the temporary file is gone either
    // way.
    int commit();
    // Closes and removes the temporary file; the target stays as it was.
    // The destructor does this unless commit() was called.
    void discard() noexcept;

private:
    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    int slot_ = -1;  // index in the table of temporary files, or -1
};

// Every output the program writes, extracted text and setting.dat alike, is
// opened through this one routine, so that each is written the same way:
// - a path that names a descriptor the process has open (/dev/stdout, a
//   shell's `>> log`, /dev/fd/3) is written through that descriptor, keeping
//   its offset and append mode;
// - an existing file that is not a regular file (a device such as /dev/null
//   or /dev/full, a FIFO, a terminal; on Windows NUL, CON ...) is written in
//   place, as there is no file to replace; a directory fails to open;
// - a regular file, or a name that does not exist yet, is replaced whole
//   through a FileReplacement. Symbolic links are followed, so the file a
//   link leads to is replaced where it lies and the link is kept.
// A device or a FIFO is therefore never replaced by a regular file.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens `path` (UTF-8) for binary writing. Returns 0, or the errno value
    // of the failure; an existing regular file that may not be written is
    // refused, as opening it would be, although a rename would need only
    // the directory.
    int open(const std::string& path);
    std::FILE* stream() const { return replacing_ ? replacement_.stream() : file_; }
    // Closes the stream; a replacement then takes the target's place.
    // Returns 0, or the errno value of the failure (a full disk shows here).
    int commit();
    // Closes the stream; a replacement is removed and the target stays as it
    // was (what was written in place stays written).
    void discard() noexcept;

private:
    FileReplacement replacement_;
    bool replacing_ = false;
    std::FILE* file_ = nullptr;  // written in place
};

// --- For a program's signal handler -----------------------------------------
//
// Every temporary file a FileReplacement writes is entered in a fixed table
// before it is created and leaves it only once it has been renamed or
// removed. At most `tracked_temporary_files` can be entered at once (a program
// that writes more files at the same time leaves the others untracked), each
// path with its terminator in `temporary_path_capacity` bytes (a longer one
// is left untracked too; no system the program runs on opens such a path).
inline constexpr std::size_t tracked_temporary_files = 8;
inline constexpr std::size_t temporary_path_capacity = 4096;

// A handler may touch only lock-free atomics; the table holds nothing else
// that a writer and the handler share.
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the temporary-file table is read from signal handlers");

// Async-signal-safe (lock-free atomics and fixed buffers only). Marks the
// process as stopping and calls `remove_file` with the path of each temporary
// file in progress. From then on no temporary file is created, and the file
// front ends' reads and writes fail with EINTR, so an extraction in progress
// ends and removes its own temporary file. Where the handler runs on the
// thread it interrupted (POSIX) only `remove_file` can clear the files; where
// it runs beside the extraction (a Windows console Ctrl-C), an open file
// cannot be removed and the handler waits for temporary_files_pending() to
// turn false instead.
//
// A file that a writer creates while the handler runs may escape both: the
// window is the one call that creates it.
void stop_writing_files(void (*remove_file)(const char* path)) noexcept;

// Async-signal-safe: true while any tracked temporary file is in progress.
bool temporary_files_pending() noexcept;

// True once stop_writing_files() has been called.
bool stop_requested() noexcept;

}  // namespace kurvane
