#include "engine/extract.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "engine/scan/extract_pass.h"
#include "os/file_names.h"
#include "os/file_replacement.h"
#include "engine/drive/overlapped_io.h"
#include "engine/drive/parallel_pass.h"
#include "text/text_encoding.h"

namespace kurvane {
namespace {

// The output name buffer of the dialog's pass holds 256 bytes: the part before
// the first '.' plus ".txt" and a terminator. The part is measured in code
// page 932 bytes, as a Japanese system always did; a character that code page
// lacks counts its UTF-16 units, so the output name stays within the 255
// units a Windows file name may have.
constexpr std::size_t max_base_length = 251;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

int errno_or(int fallback) { return errno != 0 ? errno : fallback; }

class FileSource final : public detail::ByteSource {
public:
    // `opened_here`: the stream was opened by the engine and nothing has
    // been read from it, so a regular file may also be read at any offset,
    // for the threaded pass.
    FileSource(std::FILE* f, bool opened_here) : file_(f) {
        if (opened_here) at_.emplace(f);
    }
    std::size_t read(unsigned char* dst, std::size_t n) override {
        // A program stopping on a signal ends the extraction here (see
        // stop_writing_files).
        if (stop_requested()) {
            error_ = EINTR;
            return 0;
        }
        errno = 0;
        const std::size_t got = std::fread(dst, 1, n, file_);
        if (got < n && std::ferror(file_)) error_ = errno_or(EIO);
        return got;
    }
    int error() const override { return error_; }

    bool positional(std::uint64_t& size) override {
        if (!at_ || !at_->available()) return false;
        size = at_->size();
        return true;
    }
    std::size_t read_at(std::uint64_t offset, unsigned char* dst, std::size_t n,
                        int& error) override {
        // A stop request ends the threads' reads as it ends read().
        if (stop_requested()) {
            error = EINTR;
            return 0;
        }
        return at_->read_at(offset, dst, n, error);
    }

private:
    std::FILE* file_;
    int error_ = 0;
    std::optional<detail::OffsetReader> at_;
};

class FileSink final : public detail::ByteSink {
public:
    explicit FileSink(std::FILE* f) : file_(f) {}
    bool write(const unsigned char* data, std::size_t n) override {
        if (stop_requested()) {
            error_ = EINTR;
            return false;
        }
        errno = 0;
        if (std::fwrite(data, 1, n, file_) == n) return true;
        error_ = errno_or(EIO);
        return false;
    }
    int error() const override { return error_; }

private:
    std::FILE* file_;
    int error_ = 0;
};

ExtractStatus failure(ExtractError error, int sys_errno = 0) {
    ExtractStatus status;
    status.error = error;
    status.sys_errno = sys_errno;
    return status;
}

using detail::path_from_utf8;

bool is_directory(const char* path) {
    std::error_code ec;
    return std::filesystem::is_directory(path_from_utf8(path), ec) && !ec;
}

bool is_regular(const char* path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path_from_utf8(path), ec) && !ec;
}

// A path that exists but is not a regular file (a directory, a device, a pipe).
bool exists_but_not_regular(const char* path) {
    std::error_code ec;
    const auto st = std::filesystem::status(path_from_utf8(path), ec);
    return !ec && std::filesystem::exists(st) && !std::filesystem::is_regular_file(st);
}


// True when opening output_path for writing would truncate the input.
bool output_is_input(const char* input_path, const char* output_path) {
#ifdef _WIN32
    if (detail::windows_path_key(input_path) == detail::windows_path_key(output_path)) return true;
#endif
    std::error_code ec;
    const std::filesystem::path output = path_from_utf8(output_path);
    if (!std::filesystem::exists(output, ec)) return false;
    return std::filesystem::equivalent(path_from_utf8(input_path), output, ec) && !ec;
}

// Opens the input after refusing a directory (reading one fails late, after
// the output was created); on success `in` holds it. Anything else that
// opens for reading (a pipe, a FIFO, a device) is read as a stream to its end.
ExtractStatus open_input(const char* input_path, FilePtr& in) {
    if (is_directory(input_path)) return failure(ExtractError::not_regular);
    errno = 0;
    in.reset(detail::open_file(input_path, "rb"));
    if (!in) return failure(ExtractError::open_input, errno_or(ENOENT));
    // The pass reads in large pieces; a stream buffer would only add a copy.
    std::setvbuf(in.get(), nullptr, _IONBF, 0);
    return {};
}

// A failure of the output after a pass that itself succeeded.
void fail_write(ExtractStatus& status, int sys_errno) {
    if (!status.ok()) return;
    status.error = ExtractError::write_output;
    status.sys_errno = sys_errno;
}

ExtractStatus run_files(std::FILE* in, bool opened_here, std::FILE* out,
                        const ExtractionSettings& settings, const ExtractOptions& options) {
    FileSource source(in, opened_here);
    FileSink sink(out);
    detail::PassOptions pass;
    pass.format = &options.format;
    pass.progress = &options.progress;
    pass.threads = detail::useful_threads(options.jobs);
#if KURVANE_ENGINE_THREADS
    // Several scanning threads over a regular file: each reads and writes
    // its own stretches. Over anything else the calling thread reads and
    // cuts the input for them. One: the next piece is read ahead while the
    // scan goes on. Except where the threads write themselves, the output,
    // in order, goes to a helper that writes it. Each helper is used only if
    // it started; one that did not has touched nothing, so its side runs on
    // this thread.
    const bool threaded = pass.threads > 1;
    if (!threaded) pass.threads = 1;
    std::uint64_t size = 0;
    const bool positional = threaded && source.positional(size);
    detail::PrefetchSource ahead(source, detail::default_piece_size);
    detail::WriteBehindSink behind(sink, detail::default_output_buffer_size);
    const bool reading_ahead = !threaded && ahead.start();
    const bool writing_behind = !positional && behind.start();
    detail::ByteSource& input = reading_ahead ? static_cast<detail::ByteSource&>(ahead) : source;
    detail::ByteSink& output = writing_behind ? static_cast<detail::ByteSink&>(behind) : sink;
    ExtractStatus status = detail::run_pass(input, output, settings, pass);
    // The pass counts a block as written once the helper has it; the last
    // one may still fail.
    if (writing_behind && !behind.finish()) fail_write(status, behind.error());
    return status;
#else
    return detail::run_pass(source, sink, settings, pass);
#endif
}

#ifdef _WIN32
// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9, with any extension, name
// devices in every directory; std::filesystem reports them as absent.
bool is_device_name(std::string_view path) {
    std::string_view name = path.substr(detail::last_component_start(path, true));
    name = name.substr(0, name.find('.'));
    const std::string lower = detail::windows_path_key(name);
    if (lower == "con" || lower == "prn" || lower == "aux" || lower == "nul") return true;
    return lower.size() == 4 && (lower.starts_with("com") || lower.starts_with("lpt")) &&
           lower[3] >= '1' && lower[3] <= '9';
}
#endif

// The file an output path ends at: symbolic links are followed, the last one
// possibly to a name that does not exist yet, so an output reached through a
// link is replaced where it lies and the link kept, as writing through it
// did. A chain too long to follow is left for the open to report.
std::string link_target(const char* output_path) {
    namespace fs = std::filesystem;
    constexpr int max_links = 40;  // what Linux follows in one lookup
    fs::path path = path_from_utf8(output_path);
    for (int k = 0; k < max_links; ++k) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec)) || ec)
            return k == 0 ? output_path : detail::utf8_from_path(path);
        const fs::path link = fs::read_symlink(path, ec);
        if (ec) return output_path;
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    return output_path;
}

// An output that exists and is not a regular file (/dev/null, a pipe, a
// terminal) is written where it is: there is no file to replace. A
// directory is too, and fails to open as it always did.
bool written_in_place(const std::string& target) {
#ifdef _WIN32
    if (is_device_name(target)) return true;
#endif
    return exists_but_not_regular(target.c_str());
}

ExtractStatus extract_in_place(std::FILE* in, const char* output_path, const ExtractionSettings& settings,
                               const ExtractOptions& options) {
    errno = 0;
    FilePtr out(detail::open_file(output_path, "wb"));
    if (!out) return failure(ExtractError::create_output, errno_or(EACCES));
    // The pass hands over large blocks; a stream buffer would only add a copy.
    std::setvbuf(out.get(), nullptr, _IONBF, 0);
    ExtractStatus status = run_files(in, true, out.get(), settings, options);
    // A failing close is a failed write (a full disk shows here).
    errno = 0;
    if (std::fclose(out.release()) != 0) fail_write(status, errno_or(EIO));
    return status;
}

// The text goes to a temporary file beside the target, which replaces it
// only once complete and closed. On any failure the temporary file is
// removed and a previous output stays exactly as it was; two runs writing
// one output at once each replace it whole, the last one winning.
ExtractStatus extract_replacing(std::FILE* in, const std::string& target, const ExtractionSettings& settings,
                                const ExtractOptions& options) {
    // An existing output that may not be written stays refused, as it was
    // when it was opened in place (a rename would need only the directory).
    errno = 0;
    if (std::FILE* existing = detail::open_file(target, "r+b")) {
        std::fclose(existing);
    } else if (errno != ENOENT) {
        return failure(ExtractError::create_output, errno_or(EACCES));
    }
    FileReplacement out;
    if (const int error = out.open(target); error != 0) return failure(ExtractError::create_output, error);
    std::setvbuf(out.stream(), nullptr, _IONBF, 0);
    ExtractStatus status = run_files(in, true, out.stream(), settings, options);
    if (!status.ok()) return status;  // out removes its temporary file
    if (const int error = out.commit(); error != 0) fail_write(status, error);
    return status;
}

ExtractStatus stream_to_stream(std::FILE* input, bool opened_here, std::FILE* output,
                               const ExtractionSettings& settings, const ExtractOptions& options) {
    ExtractStatus status = run_files(input, opened_here, output, settings, options);
    errno = 0;
    if (std::fflush(output) != 0) fail_write(status, errno_or(EIO));
    return status;
}

}  // namespace

const char* describe(ExtractError error) {
    switch (error) {
    case ExtractError::none: return "success";
    case ExtractError::name_too_long: return "name before the first '.' is longer than 251 bytes";
    case ExtractError::output_is_input: return "output file would be the input file itself";
    case ExtractError::open_input: return "cannot open input";
    case ExtractError::not_regular: return "is a directory";
    case ExtractError::read_input: return "read error";
    case ExtractError::create_output: return "cannot create output";
    case ExtractError::write_output: return "write error";
    case ExtractError::no_memory: return "out of memory";
    }
    return "unknown error";
}

bool output_name_for(std::string_view name, std::string& output) {
    const std::string_view base = name.substr(0, name.find('.'));
    if (detail::bound_width(base) > max_base_length) return false;
    output.assign(base);
    output += ".txt";
    return true;
}

bool output_path_for(std::string_view path, std::string& output) {
#ifdef _WIN32
    const std::size_t start = detail::last_component_start(path, true);
#else
    const std::size_t start = detail::last_component_start(path, false);
#endif
    std::string name;
    if (!output_name_for(path.substr(start), name)) return false;
    output.assign(path.substr(0, start));
    output += name;
    return true;
}

ExtractStatus extract_to_path(const char* input_path, const char* output_path,
                              const ExtractionSettings& settings, const ExtractOptions& options) {
    FilePtr in;
    if (ExtractStatus st = open_input(input_path, in); !st.ok()) return st;
    // Only a regular input is lost when the output is opened over it; a
    // device or a pipe read and written (/dev/null to /dev/null) is not.
    if (is_regular(input_path) && output_is_input(input_path, output_path))
        return failure(ExtractError::output_is_input);

    const std::string target = link_target(output_path);
    if (written_in_place(target)) return extract_in_place(in.get(), output_path, settings, options);
    return extract_replacing(in.get(), target, settings, options);
}

ExtractStatus extract_to_stream(const char* input_path, std::FILE* output,
                                const ExtractionSettings& settings, const ExtractOptions& options) {
    FilePtr in;
    if (ExtractStatus st = open_input(input_path, in); !st.ok()) return st;
    return stream_to_stream(in.get(), true, output, settings, options);
}

ExtractStatus extract_stream(std::FILE* input, std::FILE* output, const ExtractionSettings& settings,
                             const ExtractOptions& options) {
    return stream_to_stream(input, false, output, settings, options);
}

int extract_file(const char* name) { return extract_file(name, {}); }

int extract_file(const char* name, const std::function<void(std::uint64_t bytes_read)>& progress) {
    std::string output;
    if (!output_name_for(name, output)) return 0;
    // The dialog converts the files of a directory listing: a FIFO or a
    // device that happens to match the pattern would block it, so only
    // regular files are read here.
    if (exists_but_not_regular(name)) return 0;
    ExtractOptions options;
    options.progress = progress;
    return extract_to_path(name, output.c_str(), g_settings, options).ok() ? 1 : 0;
}

}  // namespace kurvane
