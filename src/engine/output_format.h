// How the text runs are written: the encoding, the line break and an
// optional prefix (file name, input offset) on each line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kurvane {

enum class TextEncoding { cp932, utf8 };
enum class LineEnd { crlf, lf };
enum class OffsetRadix { none, decimal, octal, hex };

struct OutputFormat {
    TextEncoding encoding = TextEncoding::cp932;
    LineEnd eol = LineEnd::crlf;
    OffsetRadix radix = OffsetRadix::none;
    // Non-empty: each line starts with this name and ": ", before any
    // offset. The bytes are written as given.
    std::string file_name;
    // JSON Lines instead of text: one object per run with its input offset,
    // its length in input bytes and its text in UTF-8, and the file name
    // when there is one. The encoding, line break and radix do not apply.
    bool json = false;

    // True for the defaults: code page 932 bytes ended by CR LF with no
    // prefix.
    bool plain() const {
        return encoding == TextEncoding::cp932 && eol == LineEnd::crlf &&
               radix == OffsetRadix::none && file_name.empty() && !json;
    }
};

struct ExtractOptions {
    OutputFormat format;
    // Called on the extracting thread now and then (at least every few MiB,
    // and once at the end) with the input bytes read so far. Left empty, it
    // costs nothing.
    std::function<void(std::uint64_t bytes_read)> progress;
    // Scanning threads for one file: 0 one per core, 1 the calling thread
    // alone (reading ahead and writing behind on two helpers).
    unsigned jobs = 0;
};

}  // namespace kurvane
