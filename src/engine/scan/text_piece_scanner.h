// The pass over input in the decoded encodings (EUC-JP, UTF-8, UTF-16) as a
// PieceScanner, so every driver runs it as it runs the code page 932 scan:
// pieces are XORed, scanned up to their last cut (text/cut_bytes.h) and the
// runs found handed to the printer; the bytes after the last cut wait for
// the next piece, or for the end of the stretch.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/extraction_settings.h"
#include "engine/output_format.h"
#include "engine/scan/extract_pass.h"
#include "text/cut_bytes.h"
#include "text/text_scan.h"

namespace kurvane::detail {

// What the settings record takes as text, read in `encoding`: the classes
// of its flags, its minimum length, its excluded pairs and exempt strings
// as the characters code page 932 gives them (an entry that is no
// character there is left out). `text_filter`: the score applies the
// minimum length to what it keeps, so the scan takes every run.
text::ScanSpec scan_spec_for(const ExtractionSettings& settings, text::InputEncoding encoding, bool text_filter);

// The cut rule of the settings read in `encoding`.
text::CutRule cut_rule_for(const ExtractionSettings& settings, text::InputEncoding encoding);

// Bytes that wait for a cut are scanned as they are once there are this
// many: a run longer than this with no cut in it may be cut there.
inline constexpr std::size_t max_uncut = std::size_t{16} << 20;

// The scanner of `encoding` (not code page 932) for the format (null: the
// plain one); null when the memory for it is not to be had. Each flush adds
// the characters written as '?' since the last to `substituted`, if given.
std::unique_ptr<PieceScanner> make_text_piece_scanner(text::InputEncoding encoding,
                                                      const ExtractionSettings& settings,
                                                      const OutputFormat* format,
                                                      std::atomic<std::uint64_t>* substituted, ByteSink& sink,
                                                      std::size_t output_buffer_size);

}  // namespace kurvane::detail
