// setting.dat: the extension field's text and the whole ExtractionSettings
// record in one flat little-endian binary file.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/extraction_settings.h"

namespace kurvane {

inline constexpr const char* settings_file_name = "setting.dat";
inline constexpr std::size_t settings_text_buffer = 256;  // text + terminator
inline constexpr std::size_t settings_layout_size = 230;  // bytes after the terminator

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

// Decodes a whole file's bytes over `settings` and `extension` as the loader
// does, including short files: fields not reached keep their previous value
// (tables not reached become zero). Never reads outside `bytes`.
void decode_settings(std::span<const unsigned char> bytes, std::string& extension,
                     ExtractionSettings& settings);

// Paths are UTF-8.
// Loads `path` into `settings` and the field: 1 when there is no such file or
// it was read, 0 when the name exists but is not a regular file that can be
// opened and read; then the record is untouched. The field is emptied first
// and holds the stored text after a successful load.
int load_settings(ExtensionField& field, ExtractionSettings& settings,
                  const char* path = settings_file_name);

// Saves the field's text and `settings` to `path`, written as an extraction
// output is (see OutputFile): a regular file is replaced only once the new
// content is completely written, a device or a FIFO is written in place. 1
// on success, 0 otherwise with errno set to the cause.
int save_settings(const ExtensionField& field, const ExtractionSettings& settings,
                  const char* path = settings_file_name);

}  // namespace kurvane
