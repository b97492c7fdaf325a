// setting.dat: the extension field's text and the whole ExtractionSettings
// record in one flat little-endian binary file.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extraction_settings.h"
#include "engine/output_format.h"

namespace kurvane {

inline constexpr const char* settings_file_name = "setting.dat";
inline constexpr std::size_t settings_text_buffer = 256;  // text + terminator
inline constexpr std::size_t settings_layout_size = 230;  // bytes after the terminator

// The options stored after the settings layout, in a block that versions
// reading only the layout never look at. A file without the block gives
// these defaults; the block is written only when an option differs from its
// default, so that a file of someone who never changes them stays byte for
// byte what every version writes.
//
// Block layout, right after the last class flag:
//   4 bytes  the signature "KVX1"
//   records, to the end of the file, each:
//     2 bytes  tag (little-endian), never 0
//     2 bytes  size of the value in bytes (little-endian)
//     size     the value
// A reader skips a record whose tag it does not know, and takes the default
// for a record that is cut short or holds a value it does not know, so a
// later version can add records (or widen one) without breaking this one.
// Only the records whose option differs from its default are written.
// Records of this version, each value 4 bytes (little-endian):
//   tag 1: output encoding, 0 code page 932, 1 UTF-8 (no BOM)
//   tag 2: the text filter (keep only the runs that read as text), 0 off, 1 on
//   tag 3: the filter's least score, 0 to 100
//   tag 4: input encoding, 0 code page 932, 1 EUC-JP, 2 UTF-8, 3 UTF-16LE,
//          4 UTF-16BE
// Any other value of these records is one this version does not know.
struct ExtendedSettings {
    TextEncoding output_encoding = TextEncoding::cp932;
    bool text_filter = false;
    int min_score = default_min_score;
    text::InputEncoding input_encoding = text::InputEncoding::cp932;
    bool operator==(const ExtendedSettings&) const = default;
};

// The least score the filter takes.
inline constexpr int min_score_low = 0;
inline constexpr int min_score_high = 100;
static_assert(default_min_score >= min_score_low && default_min_score <= min_score_high);

inline constexpr char settings_block_signature[] = "KVX1";
// The most of a block the loader reads; records beyond it are not looked at.
inline constexpr std::size_t settings_block_max = 1024;

// The extension field of the main dialog, as the settings store sees it:
// UTF-8 text in and out (the file itself stores code page 932 bytes). The
// Win32 dialog, the command line and the tests each provide one.
class ExtensionField {
public:
    virtual ~ExtensionField() = default;
    virtual std::string text() const = 0;
    virtual void set_text(std::string_view text) = 0;
};

// Pure codec. The extension is UTF-8 on the caller's side and code page 932
// in the bytes. encode_settings converts the text (a character code page 932
// lacks is stored as '?'), cuts it at a zero byte and to 255 bytes and
// returns exactly L + 231 bytes, L the stored length. decode_settings gives
// the stored text as UTF-8 (a byte that starts no character as U+FFFD).
std::vector<unsigned char> encode_settings(std::string_view extension,
                                           const ExtractionSettings& settings);
// The same, followed by the block of `extended` when it is not the defaults.
std::vector<unsigned char> encode_settings(std::string_view extension, const ExtractionSettings& settings,
                                           const ExtendedSettings& extended);

// Decodes a whole file's bytes over `settings` and `extension` as the loader
// does, including short files: fields not reached keep their previous value
// (tables not reached become zero). Never reads outside `bytes`.
void decode_settings(std::span<const unsigned char> bytes, std::string& extension,
                     ExtractionSettings& settings);
// The same, and `extended` from the block after the layout: the defaults
// when there is none.
void decode_settings(std::span<const unsigned char> bytes, std::string& extension,
                     ExtractionSettings& settings, ExtendedSettings& extended);

// Paths are UTF-8.
// Loads `path` into `settings` and the field: 1 when there is no such file or
// it was read, 0 when the name exists but is not a regular file that can be
// opened and read; then the record is untouched. The field is emptied first
// and holds the stored text after a successful load.
int load_settings(ExtensionField& field, ExtractionSettings& settings,
                  const char* path = settings_file_name);
// The same with the block after the layout; `extended` is left as it was
// when the load fails.
int load_settings(ExtensionField& field, ExtractionSettings& settings, ExtendedSettings& extended,
                  const char* path = settings_file_name);

// Saves the field's text and `settings` to `path`, written as an extraction
// output is (see OutputFile): a regular file is replaced only once the new
// content is completely written, a device or a FIFO is written in place. 1
// on success, 0 otherwise with errno set to the cause.
int save_settings(const ExtensionField& field, const ExtractionSettings& settings,
                  const char* path = settings_file_name);
// The same with the block of `extended` (see encode_settings).
int save_settings(const ExtensionField& field, const ExtractionSettings& settings,
                  const ExtendedSettings& extended, const char* path = settings_file_name);

}  // namespace kurvane
