// How the text runs are written: the encoding, the line break and an
// optional prefix (file name, input offset) on each line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/classes/text_score.h"
#include "text/input_encoding.h"

namespace kurvane {

// Keeps only the runs that read as Japanese text, trimmed to the part that
// does (see classes/text_score.h). The settings' minimum length then applies
// to the part kept, not to the runs found.
struct TextFilter {
    bool on = false;
    int min_score = default_min_score;  // 0-100
    // Each line's text starts with its score (3 columns and a space); JSON
    // objects carry it as a field whenever the filter is on.
    bool show_score = false;
};

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
    TextFilter text;

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
    // alone.
    unsigned jobs = 0;
    // The encoding the input's text is in. Code page 932 is the scan of
    // the settings record's bytes; the others decode characters first.
    text::InputEncoding input_encoding = text::InputEncoding::cp932;
};

}  // namespace kurvane
