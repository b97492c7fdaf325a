// The extraction pass: one data file in, one text file out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "engine/extraction_settings.h"
#include "engine/output_format.h"
#include "engine/pass_io.h"

namespace kurvane {


// A short English description of an error, for front ends that print one.
const char* describe(ExtractError error);

// Output name of a bare UTF-8 file name: the name up to its first '.', then
// ".txt" ("a.b.dat" gives "a.txt", ".dat" gives ".txt", "abc" gives
// "abc.txt"). Returns false when the part before the first '.' is longer than
// 251 bytes, counted in code page 932 bytes for the characters it has and in
// UTF-16 units for the others (see text::bound_width).
bool output_name_for(std::string_view name, std::string& output);

// The same rule applied to the last component of a path, keeping its
// directory ("dir/a.b.dat" gives "dir/a.txt").
bool output_path_for(std::string_view path, std::string& output);

// Paths are UTF-8 (see os/file_names.h).
// Extracts input_path into output_path under the given record, written as
// options.format says (the plain format takes the fast pass). Refuses,
// before anything is created, an output that is the input itself and an
// input that is a directory; any other input that opens for reading (a
// pipe, a FIFO, a character device) is read as a stream to its end. A
// regular (or new) output file is replaced whole: the text goes to a
// temporary file beside it that is renamed over it once complete, and on any
// failure the previous file stays as it was. An output that exists and is
// not a regular file (/dev/null, a pipe), or that names a descriptor the
// process has open (/dev/stdout), is written in place (see OutputFile).
ExtractStatus extract_to_path(const char* input_path, const char* output_path,
                              const ExtractionSettings& settings, const ExtractOptions& options = {});

// Extracts an already open binary stream that nothing has read from yet
// (standard input) into output_path, as extract_to_path does: the stream is
// read from its current offset, and an output that is the file it reads is
// refused.
ExtractStatus extract_stream_to_path(std::FILE* input, const char* output_path, const ExtractionSettings& settings,
                                     const ExtractOptions& options = {});

// Extracts input_path into an already open binary stream (standard output).
ExtractStatus extract_to_stream(const char* input_path, std::FILE* output,
                                const ExtractionSettings& settings, const ExtractOptions& options = {});

// Extracts an already open stream (standard input, a pipe), read to its
// end, into an already open stream. Both must be in binary mode (on Windows
// the caller sets that for the standard streams). Neither is closed.
ExtractStatus extract_stream(std::FILE* input, std::FILE* output, const ExtractionSettings& settings,
                             const ExtractOptions& options = {});

// The dialog's operation: extracts the bare UTF-8 name `name` beside itself under
// `settings`. Returns 1 when the output file has been written, 0 otherwise.
int extract_file(const char* name, const ExtractionSettings& settings);
// The same, telling `progress` the input bytes read so far now and then.
int extract_file(const char* name, const ExtractionSettings& settings,
                 const std::function<void(std::uint64_t bytes_read)>& progress);

// The dialog's operation with its cause: extracts the UTF-8 `path` (a bare
// name or a path) beside itself under `settings`, as `options` says. Only a
// regular file is read; anything else gives not_regular.
ExtractStatus extract_beside(const char* path, const ExtractionSettings& settings,
                             const ExtractOptions& options = {});

}  // namespace kurvane
