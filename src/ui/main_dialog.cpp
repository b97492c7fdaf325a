#include "ui/main_dialog.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/extract.h"
#include "os/file_names.h"
#include "text/text_encoding.h"
#include "ui/messages.h"

namespace kurvane {

namespace {

// Only the first 11 bytes of the extension field take part in a search (the
// whole text is still what the settings file saves). The bytes are those of
// code page 932, as a Japanese system counts them; the text itself is UTF-8,
// at most 3 bytes per counted byte.
constexpr std::size_t extension_max_bytes = 11;
constexpr std::size_t extension_max_utf8 = extension_max_bytes * detail::utf8_per_bound_unit;
// "*." + extension + terminator.
constexpr std::size_t pattern_buffer_size = 2 + extension_max_utf8 + 1;
// The longest pattern, then the not-found text (its terminator included).
constexpr std::size_t not_found_buffer_size =
    pattern_buffer_size - 1 + sizeof(text::not_found_format) - sizeof("%s") + 1;
static_assert(pattern_buffer_size == 36);
static_assert(sizeof(text::not_found_format) == 51, "the UTF-8 bytes of %sファイルは発見できませんでした。");
static_assert(not_found_buffer_size == 84);

constexpr char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The name as the file system compares it: on Windows ASCII case is
// ignored; elsewhere names differing in case are different files.
std::string file_name_key(std::string_view name) {
#ifdef _WIN32
    return detail::windows_path_key(name);
#else
    return std::string(name);
#endif
}

// The outputs a walk has written. A later output is one of them when its
// key is (ASCII case folded on Windows), or when the file system says the
// two are one file: Windows also folds the case of letters outside ASCII,
// which only it knows. That question is asked only of a name with the shape
// of one written before (the same ASCII letters, folded, and as many other
// characters at the same places), so a walk stays one lookup per name.
class WrittenOutputs {
public:
    explicit WrittenOutputs(const MainDialogViews& views) : same_file_(views.same_file) {
        if (!same_file_) same_file_ = [](const std::string& a, const std::string& b) {
            std::error_code ec;
            return std::filesystem::equivalent(detail::path_from_utf8(a), detail::path_from_utf8(b), ec) && !ec;
        };
    }
    bool contains(const std::string& output) const {
        if (keys_.contains(file_name_key(output))) return true;
        // A name of ASCII characters only is decided by its key.
        if (std::all_of(output.begin(), output.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return false;
        const auto [first, last] = shapes_.equal_range(shape(output));
        return std::any_of(first, last, [&](const auto& written) { return same_file_(written.second, output); });
    }
    void add(const std::string& output) {
        keys_.insert(file_name_key(output));
        shapes_.emplace(shape(output), output);
    }

private:
    // ASCII folded, every other character one '?' (no file name holds one).
    static std::string shape(std::string_view name) {
        std::string out;
        for (std::size_t pos = 0; pos < name.size();) {
            const detail::Utf8Char c = detail::next_utf8(name, pos);
            out += c.value < 0x80 ? ascii_lower(static_cast<char>(c.value)) : '?';
            pos += c.length;
        }
        return out;
    }

    std::function<bool(const std::string&, const std::string&)> same_file_;
    std::set<std::string> keys_;
    std::multimap<std::string, std::string> shapes_;
};

// Equal when only ASCII letters differ in case; every other byte must match
// exactly (no byte of a multi-byte UTF-8 character is an ASCII letter).
bool equals_ascii_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) {
            return false;
        }
    }
    return true;
}

void clear_list(FileListView& list) {
    const int n = list.count();
    for (int i = 0; i < n; ++i) {
        list.delete_at(0);
    }
}

}  // namespace

int search_files(MainDialogViews& views) {
    // The list goes first, so that a refused search leaves it empty too.
    clear_list(views.list);

    // The bound is 11 bytes. A double-byte character whose trail byte
    // would be byte 12 is dropped whole: a pattern never ends in half a
    // character.
    const std::string field = views.extension.text();
    const std::string_view extension(field.data(), detail::bounded_prefix(field, extension_max_bytes));

    if (extension.empty()) {
        views.messages.show(text::no_extension, text::caption_oops);
        return 0;
    }
    if (equals_ascii_nocase(extension, "txt")) {
        views.messages.show(text::txt_refused, text::caption_oops);
        return 0;
    }

    const std::string extension_text(extension);
    char pattern[pattern_buffer_size];
    std::snprintf(pattern, sizeof pattern, text::search_pattern_format, extension_text.c_str());
    fill_file_list(views, pattern);
    return 1;
}

int fill_file_list(MainDialogViews& views, const char* pattern) {
    // Names go in exactly as the search yields them, in its order, with
    // nothing filtered. A platform name is at most 259 bytes (MAX_PATH less
    // the terminator on Windows, NAME_MAX elsewhere), and the list holds
    // whole strings, so no name is ever cut.
    int position = views.list.count();
    const bool found = views.files.search(pattern, [&](std::string_view name) {
        views.list.insert_at(position, name);
        ++position;
    });
    if (!found) {
        // A pattern longer than search_files ever builds is cut here to fit
        // the buffer; snprintf never writes past it.
        char message[not_found_buffer_size];
        std::snprintf(message, sizeof message, text::not_found_format, pattern);
        views.messages.show(message, text::caption_oops);
        return 0;
    }
    return 1;
}

int delete_selected_file(MainDialogViews& views) {
    const int n = views.list.count();
    if (n == 0) {
        views.messages.show(text::nothing_to_delete, text::caption_oops);
        return 0;
    }
    const int selected = views.list.selection();
    if (selected < 0 || selected >= n) {
        views.messages.show(text::nothing_selected, text::caption_report);
        return 0;
    }
    // Deleting the selected entry leaves nothing selected in the list.
    views.list.delete_at(selected);
    return 1;
}

bool is_own_output(std::string_view name) {
    std::string output;
    return output_name_for(name, output) && equals_ascii_nocase(output, name);
}

int extract_all_files(MainDialogViews& views, int* passed_over, WalkObserver* observer) {
    const int n = views.list.count();
    if (n == 0) {
        views.messages.show(text::nothing_to_extract, text::caption_oops);
        return 0;
    }
    // A later name with the output of an earlier one (save.1.dat and
    // save.2.dat both give save.txt) would overwrite that file's text, so it
    // is passed over and named.
    WrittenOutputs written(views);
    std::vector<std::string> clashes;
    // Asked between two files, never inside one, so an output is written
    // whole; also after the last, as the messages would hold up a closing.
    const auto stopped = [observer] { return observer != nullptr && observer->stop_requested(); };
    for (int i = 0; i < n; ++i) {
        if (stopped()) return 0;
        const std::string name = views.list.text_at(i);
        if (observer != nullptr) observer->file_started(i, n, name);
        // base.txt (brought in by an extension such as * or t?t) would be
        // truncated by opening its own output; pass it over. Directories,
        // "." and ".." are refused by the extraction itself.
        if (is_own_output(name)) {
            continue;
        }
        std::string output;
        const bool named = output_name_for(name, output);
        if (named && written.contains(output)) {
            clashes.push_back(name + " → " + output);
            continue;
        }
        // A failed extraction shows nothing; the walk goes on.
        if (views.extract(name.c_str()) == 1 && named) written.add(output);
    }
    if (stopped()) return 0;
    if (!clashes.empty()) {
        std::string report = text::clash_intro;
        constexpr std::size_t shown = 10;  // a message box has room for a few lines
        for (std::size_t k = 0; k < clashes.size() && k < shown; ++k) report += "\n" + clashes[k];
        if (clashes.size() > shown) {
            char more[64];
            std::snprintf(more, sizeof more, text::clash_more_format,
                          static_cast<int>(clashes.size() - shown));
            report += "\n";
            report += more;
        }
        views.messages.show(report, text::caption_report);
    }
    if (passed_over != nullptr) *passed_over = static_cast<int>(clashes.size());
    // Shown whatever the single extractions gave.
    views.messages.show(text::extract_done, text::caption_done);
    return 1;
}

}  // namespace kurvane
