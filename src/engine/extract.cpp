#include "engine/extract.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "os/file_names.h"
#include "os/file_replacement.h"
#include "engine/drive/pass.h"
#include "text/text_encoding.h"
#include "os/file_identity.h"

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
    std::optional<os::OffsetReader> at_;
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

using os::path_from_utf8;

bool is_directory(const char* path) {
    std::error_code ec;
    return std::filesystem::is_directory(os::path_from_utf8(path), ec) && !ec;
}

// A path that exists but is not a regular file (a directory, a device, a pipe).
bool exists_but_not_regular(const char* path) {
    std::error_code ec;
    const auto st = std::filesystem::status(os::path_from_utf8(path), ec);
    return !ec && std::filesystem::exists(st) && !std::filesystem::is_regular_file(st);
}

// True when writing output_path would destroy the input: the output is the
// regular file that `in` reads, by whatever name it is reached (a hard or
// symbolic link, /dev/stdout, "./a.dat"). Only a regular input is lost; a
// device or a pipe read and written (/dev/null to /dev/null) is not.
bool output_is_input(std::FILE* in, std::string_view input_path, const char* output_path) {
    const std::optional<os::FileIdentity> input = os::identity_of(in);
    if (!input || !input->regular) return false;
#ifdef _WIN32
    if (os::windows_path_key(input_path) == os::windows_path_key(output_path)) return true;
#else
    (void)input_path;
#endif
    const std::optional<os::FileIdentity> output = os::identity_of(std::string(output_path));
    return output && output->same_file(*input);
}

// Opens the input after refusing a directory (reading one fails late, after
// the output was created); on success `in` holds it. Anything else that
// opens for reading (a pipe, a FIFO, a device) is read as a stream to its end.
ExtractStatus open_input(const char* input_path, FilePtr& in) {
    if (is_directory(input_path)) return failure(ExtractError::not_regular);
    errno = 0;
    in.reset(os::open_file(input_path, "rb"));
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
    pass.input_encoding = options.input_encoding;
    std::atomic<std::uint64_t> substituted{0};
    pass.substituted = &substituted;
    ExtractStatus status = detail::run_pass(source, sink, settings, pass);
    status.substituted = substituted.load();
    return status;
}

// Writes the text into `output_path` as every output is written (see
// OutputFile): on any failure a replaced file stays exactly as it was; two
// runs writing one output at once each replace it whole, the last one
// winning.
ExtractStatus extract_to_output(std::FILE* in, bool opened_here, const char* output_path,
                                const ExtractionSettings& settings, const ExtractOptions& options) {
    OutputFile out;
    if (const int error = out.open(output_path); error != 0) return failure(ExtractError::create_output, error);
    // The pass hands over large blocks; a stream buffer would only add a copy.
    std::setvbuf(out.stream(), nullptr, _IONBF, 0);
    ExtractStatus status = run_files(in, opened_here, out.stream(), settings, options);
    if (!status.ok()) return status;  // out removes a temporary file
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
    if (text::bound_width(base) > max_base_length) return false;
    output.assign(base);
    output += ".txt";
    return true;
}

bool output_path_for(std::string_view path, std::string& output) {
#ifdef _WIN32
    const std::size_t start = os::last_component_start(path, true);
#else
    const std::size_t start = os::last_component_start(path, false);
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
    if (output_is_input(in.get(), input_path, output_path)) return failure(ExtractError::output_is_input);
    return extract_to_output(in.get(), true, output_path, settings, options);
}

ExtractStatus extract_stream_to_path(std::FILE* input, const char* output_path, const ExtractionSettings& settings,
                                     const ExtractOptions& options) {
    if (output_is_input(input, {}, output_path)) return failure(ExtractError::output_is_input);
    return extract_to_output(input, true, output_path, settings, options);
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

int extract_file(const char* name, const ExtractionSettings& settings) { return extract_file(name, settings, {}); }

int extract_file(const char* name, const ExtractionSettings& settings,
                 const std::function<void(std::uint64_t bytes_read)>& progress) {
    ExtractOptions options;
    options.progress = progress;
    return extract_beside(name, settings, options).ok() ? 1 : 0;
}

ExtractStatus extract_beside(const char* path, const ExtractionSettings& settings, const ExtractOptions& options) {
    std::string output;
    if (!output_path_for(path, output)) return failure(ExtractError::name_too_long);
    // The dialog converts the files of a directory listing: a FIFO or a
    // device that happens to match the pattern would block it, so only
    // regular files are read here.
    if (exists_but_not_regular(path)) return failure(ExtractError::not_regular);
    return extract_to_path(path, output.c_str(), settings, options);
}

}  // namespace kurvane
