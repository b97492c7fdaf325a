#include "settings/settings_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <type_traits>

#include "os/file_names.h"
#include "os/file_replacement.h"
#include "text/text_encoding.h"

namespace kurvane {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t text_max = settings_text_buffer - 1;  // 255 bytes and a zero
constexpr std::size_t word_size = 4;
constexpr std::size_t flag_count = 14;
constexpr std::size_t scalar_count = 3;
// The longest prefix of a file the loader can use: 255 bytes of text, the
// terminator and the settings. Anything after it is never looked at.
constexpr std::size_t file_max = settings_text_buffer + settings_layout_size;
// With the block after the layout.
constexpr std::size_t file_read_max = file_max + settings_block_max;
constexpr std::size_t signature_size = sizeof(settings_block_signature) - 1;
static_assert(signature_size == 4);

// The block's records (see settings_file.h), in the order they are written.
// Each is a 4-byte word; `take` stores a word read from a file and returns
// false, storing nothing, for a value this version does not know.
struct BlockRecord {
    std::uint16_t tag;
    std::uint32_t (*word)(const ExtendedSettings&);
    bool (*take)(ExtendedSettings&, std::uint32_t);
};

constexpr std::uint16_t record_value_size = 4;
constexpr std::uint32_t input_encoding_count = 5;
static_assert(static_cast<std::uint32_t>(text::InputEncoding::utf16be) + 1 == input_encoding_count,
              "every input encoding has its stored number");

constexpr BlockRecord block_records[] = {
    {1, [](const ExtendedSettings& e) { return e.output_encoding == TextEncoding::utf8 ? 1u : 0u; },
     [](ExtendedSettings& e, std::uint32_t v) {
         if (v > 1) return false;
         e.output_encoding = v == 1 ? TextEncoding::utf8 : TextEncoding::cp932;
         return true;
     }},
    {2, [](const ExtendedSettings& e) { return e.text_filter ? 1u : 0u; },
     [](ExtendedSettings& e, std::uint32_t v) {
         if (v > 1) return false;
         e.text_filter = v == 1;
         return true;
     }},
    {3, [](const ExtendedSettings& e) { return static_cast<std::uint32_t>(e.min_score); },
     [](ExtendedSettings& e, std::uint32_t v) {
         if (v > static_cast<std::uint32_t>(min_score_high)) return false;
         e.min_score = static_cast<int>(v);
         return true;
     }},
    {4, [](const ExtendedSettings& e) { return static_cast<std::uint32_t>(e.input_encoding); },
     [](ExtendedSettings& e, std::uint32_t v) {
         if (v >= input_encoding_count) return false;
         e.input_encoding = static_cast<text::InputEncoding>(v);
         return true;
     }},
};

static_assert((scalar_count + flag_count) * word_size + sizeof(ExtractionSettings::excluded_pairs) +
                      sizeof(ExtractionSettings::exempt_strings) ==
                  settings_layout_size,
              "the file layout after the text must stay 230 bytes");

// The fields after the text's terminator, in file order: the three scalars,
// the two tables whole, then the fourteen class flags in the record's order.
// Encoder and decoder both walk this one list so they cannot disagree.
template <class Settings, class Word, class Table>
void visit_layout(Settings& s, Word&& word, Table&& table) {
    word(s.auto_newline);
    word(s.min_length);
    word(s.xor_value);
    table(&s.excluded_pairs[0][0], sizeof s.excluded_pairs);
    table(&s.exempt_strings[0][0], sizeof s.exempt_strings);
    word(s.half_digits);
    word(s.half_upper);
    word(s.half_lower);
    word(s.half_katakana);
    word(s.half_symbols);
    word(s.full_hiragana);
    word(s.full_katakana);
    word(s.full_kanji);
    word(s.full_digits);
    word(s.full_upper);
    word(s.full_lower);
    word(s.full_cyrillic);
    word(s.full_greek);
    word(s.full_symbols);
}

// The text as the dialog's 256-byte buffer would hold it: up to its first
// zero byte (a std::string may carry one, the edit control cannot) and at
// most 255 bytes. A zero inside the saved text would end it early on load and
// shift every field after it.
std::string_view savable_text(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    return text.substr(0, text_max);
}

// Closes on every path; close() reports whether buffered data reached the file.
class File {
public:
    File(const char* path, const char* mode) : f_(os::open_file(path, mode)) {}
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() {
        if (f_ != nullptr) std::fclose(f_);
    }
    explicit operator bool() const { return f_ != nullptr; }
    std::FILE* get() const { return f_; }
    bool close() {
        std::FILE* f = f_;
        f_ = nullptr;
        return std::fclose(f) == 0;
    }

private:
    std::FILE* f_;
};

}  // namespace

// The extension as the file stores it: code page 932 bytes, as a Japanese
// system has always written them. A text that code page cannot hold whole
// (café, 한국어) keeps every character it can, and each character it cannot
// becomes '?', the wildcard for one character: loaded again, the extension
// still finds the files the typed one found (* and ? are how the search reads
// it). Malformed UTF-8 becomes '?' the same way.
std::string stored_extension(std::string_view utf8) {
    std::string out;
    text::utf8_to_cp932(utf8, out, '?');
    return out;
}

namespace {

void put_le(std::vector<unsigned char>& out, std::uint32_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>((value >> (8 * i)) & 0xFFu));
}

std::uint32_t get_le(std::span<const unsigned char> bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) value = (value << 8) | bytes[i];
    return value;
}

}  // namespace

std::vector<unsigned char> encode_settings(std::string_view extension, const ExtractionSettings& settings,
                                           const ExtendedSettings& extended) {
    std::vector<unsigned char> out = encode_settings(extension, settings);
    if (extended == ExtendedSettings{}) return out;
    out.insert(out.end(), settings_block_signature, settings_block_signature + signature_size);
    const ExtendedSettings defaults;
    for (const BlockRecord& record : block_records) {
        const std::uint32_t word = record.word(extended);
        if (word == record.word(defaults)) continue;
        put_le(out, record.tag, 2);
        put_le(out, record_value_size, 2);
        put_le(out, word, record_value_size);
    }
    return out;
}

namespace {

// The block's records from `block`, which starts after the last class flag.
// Anything that is not a block of this shape leaves the defaults.
ExtendedSettings decode_block(std::span<const unsigned char> block) {
    ExtendedSettings extended;
    if (block.size() < signature_size ||
        !std::equal(block.begin(), block.begin() + signature_size, settings_block_signature))
        return extended;
    std::size_t pos = signature_size;
    while (block.size() - pos >= 4) {
        const auto tag = static_cast<std::uint16_t>(get_le(block.subspan(pos, 2)));
        const std::size_t size = get_le(block.subspan(pos + 2, 2));
        pos += 4;
        if (tag == 0 || size > block.size() - pos) break;  // no record, or one cut short
        const auto value = block.subspan(pos, size);
        pos += size;
        if (size != record_value_size) continue;  // a later version's wider value
        for (const BlockRecord& record : block_records)
            if (record.tag == tag) record.take(extended, get_le(value));
    }
    return extended;
}

}  // namespace

std::vector<unsigned char> encode_settings(std::string_view extension,
                                           const ExtractionSettings& settings) {
    const std::string stored = stored_extension(extension);
    const std::string_view text = savable_text(stored);
    std::vector<unsigned char> out;
    out.reserve(text.size() + 1 + settings_layout_size);
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    visit_layout(
        settings,
        [&out](auto word) {
            // Little-endian whatever the host: the file is shared by both builds.
            const auto bits = static_cast<std::uint32_t>(word);
            for (std::size_t i = 0; i < word_size; ++i)
                out.push_back(static_cast<unsigned char>((bits >> (8 * i)) & 0xFFu));
        },
        [&out](const unsigned char* table, std::size_t size) { out.insert(out.end(), table, table + size); });
    return out;
}

// How the text is found:
// - A zero within the first 256 bytes ends it; the settings start after it.
// - 256 bytes without a zero: the first 255 are the text and the 256th byte
//   stands where the terminator would be, so the settings are read from
//   offset 256 exactly as for a saved 255-byte text. The text buffer is never
//   overrun and a file with a damaged terminator still loads its settings.
// - The file ends within 255 bytes without a zero (an empty file included):
//   all of it is the text, and no setting is reached.
// Every field is then read as far as the file goes: a word reached in part
// takes the bytes present as its low-order bytes and keeps the rest of its
// value, a word not reached keeps its value, and the tables are cleared first
// so that what the file does not reach stays empty.
// Values are taken as they are, with no range check, and table entries are
// kept byte for byte even without a zero inside their width: every reader of
// the tables (the classifier, the exempt rule, the settings dialog) stops at
// the entry's width, and keeping the bytes lets a load and a save return the
// file unchanged.
void decode_settings(std::span<const unsigned char> bytes, std::string& extension,
                     ExtractionSettings& settings) {
    const auto window = bytes.first(std::min(bytes.size(), settings_text_buffer));
    const auto zero = std::find(window.begin(), window.end(), static_cast<unsigned char>(0));
    std::size_t text_size;
    std::size_t pos;
    if (zero != window.end()) {
        text_size = static_cast<std::size_t>(zero - window.begin());
        pos = text_size + 1;
    } else if (bytes.size() >= settings_text_buffer) {
        text_size = text_max;
        pos = settings_text_buffer;
    } else {
        text_size = bytes.size();
        pos = bytes.size();
    }
    extension = text::cp932_to_utf8(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), text_size));

    visit_layout(
        settings,
        [&](auto& word) {
            auto bits = static_cast<std::uint32_t>(word);
            for (std::size_t i = 0; i < word_size && pos < bytes.size(); ++i, ++pos) {
                const unsigned shift = static_cast<unsigned>(8 * i);
                bits = (bits & ~(std::uint32_t{0xFFu} << shift)) |
                       (static_cast<std::uint32_t>(bytes[pos]) << shift);
            }
            word = static_cast<std::remove_reference_t<decltype(word)>>(bits);
        },
        [&](unsigned char* table, std::size_t size) {
            std::fill(table, table + size, static_cast<unsigned char>(0));
            const std::size_t n = std::min(size, bytes.size() - pos);
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(pos), n, table);
            pos += n;
        });
}

void decode_settings(std::span<const unsigned char> bytes, std::string& extension,
                     ExtractionSettings& settings, ExtendedSettings& extended) {
    decode_settings(bytes, extension, settings);
    // The layout ends where the loader's text rule puts it: after the text
    // and its terminator, or at byte 256 when no zero came first.
    const auto window = bytes.first(std::min(bytes.size(), settings_text_buffer));
    const auto zero = std::find(window.begin(), window.end(), static_cast<unsigned char>(0));
    const std::size_t text_end = zero != window.end() ? static_cast<std::size_t>(zero - window.begin()) + 1
                                                      : settings_text_buffer;
    const std::size_t layout_end = text_end + settings_layout_size;
    extended = layout_end < bytes.size() ? decode_block(bytes.subspan(layout_end)) : ExtendedSettings{};
}

int load_settings(ExtensionField& field, ExtractionSettings& settings, const char* path) {
    ExtendedSettings ignored;
    return load_settings(field, settings, ignored, path);
}

int load_settings(ExtensionField& field, ExtractionSettings& settings, ExtendedSettings& extended,
                  const char* path) {
    field.set_text({});

    // "Exists" means the name is there at all, a dangling link included; only
    // a regular file (possibly behind a link) is opened. A directory, a
    // device or a pipe of that name, or a name that cannot be examined,
    // counts as present but unreadable.
    std::error_code ec;
    const fs::path file_path = os::path_from_utf8(path);
    const fs::file_status link = fs::symlink_status(file_path, ec);
    if (link.type() == fs::file_type::not_found) return 1;
    if (ec || fs::status(file_path, ec).type() != fs::file_type::regular) return 0;

    File file(path, "rb");
    if (!file) return 0;
    // The whole usable prefix is read before anything is applied, so a read
    // error leaves the record as it was.
    std::array<unsigned char, file_read_max> buffer;
    const std::size_t size = std::fread(buffer.data(), 1, buffer.size(), file.get());
    if (std::ferror(file.get()) != 0) return 0;
    file.close();

    std::string text;
    decode_settings(std::span(buffer).first(size), text, settings, extended);
    field.set_text(text);
    return 1;
}

// Written as every output is (see OutputFile): a regular file is replaced
// at once, so on any failure the previous file stays as it was; a link is
// followed and kept; a device or a FIFO is written in place, never replaced
// by a file.
int save_settings(const ExtensionField& field, const ExtractionSettings& settings, const char* path) {
    return save_settings(field, settings, ExtendedSettings{}, path);
}

int save_settings(const ExtensionField& field, const ExtractionSettings& settings,
                  const ExtendedSettings& extended, const char* path) {
    const std::vector<unsigned char> bytes = encode_settings(field.text(), settings, extended);
    OutputFile file;
    if (const int error = file.open(path); error != 0) {
        errno = error;
        return 0;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size()) return 0;
    if (const int error = file.commit(); error != 0) {
        errno = error;
        return 0;
    }
    return 1;
}

}  // namespace kurvane
