#include "ui/main_dialog.h"

#include <algorithm>
#include <cerrno>
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
constexpr std::size_t extension_max_utf8 = extension_max_bytes * text::utf8_per_bound_unit;
// "*." + extension + terminator.
constexpr std::size_t pattern_buffer_size = 2 + extension_max_utf8 + 1;
static_assert(pattern_buffer_size == 36);
// A report names this many files, then counts the rest: a message box has
// room for a few lines.
constexpr std::size_t report_lines = 10;

#ifdef _WIN32
constexpr char path_separator = '\\';
constexpr bool backslash_separates = true;
#else
constexpr char path_separator = '/';
constexpr bool backslash_separates = false;
#endif

bool is_separator(char c) { return c == '/' || (backslash_separates && c == '\\'); }

// A bare name holds no separator (nor, on Windows, a drive's colon).
bool is_bare(std::string_view entry) {
    return std::none_of(entry.begin(), entry.end(),
                        [](char c) { return is_separator(c) || (backslash_separates && c == ':'); });
}

std::string join_path(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && !is_separator(path.back())) path += path_separator;
    path += name;
    return path;
}


const text::Texts& texts_of(const MainDialogViews& views) {
    return views.texts != nullptr ? *views.texts : text::japanese;
}

constexpr char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The name as the file system compares it: on Windows ASCII case is
// ignored; elsewhere names differing in case are different files.
std::string file_name_key(std::string_view name) {
#ifdef _WIN32
    return os::windows_path_key(name);
#else
    return std::string(name);
#endif
}

// A folder as compared with a file's parent: separators at its end dropped.
std::string folder_key(std::string_view folder) {
    while (!folder.empty() && is_separator(folder.back())) folder.remove_suffix(1);
    return file_name_key(folder);
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
            return std::filesystem::equivalent(os::path_from_utf8(a), os::path_from_utf8(b), ec) && !ec;
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
            const text::Utf8Char c = text::next_utf8(name, pos);
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
    const text::Texts& texts = texts_of(views);
    // The list goes first, so that a refused search leaves it empty too.
    clear_list(views.list);

    // The bound is 11 bytes. A double-byte character whose trail byte
    // would be byte 12 is dropped whole: a pattern never ends in half a
    // character.
    const std::string field = views.extension.text();
    const std::string_view extension(field.data(), text::bounded_prefix(field, extension_max_bytes));

    if (extension.empty()) {
        views.messages.show_kind(texts.no_extension, texts.caption_oops, MessageKind::warning);
        return 0;
    }
    if (equals_ascii_nocase(extension, "txt")) {
        views.messages.show_kind(texts.txt_refused, texts.caption_oops, MessageKind::warning);
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
    // whole strings, so no name is ever cut. The search runs in the listed
    // folder; the message shows the pattern alone, as the folder is shown
    // beside the list.
    int position = views.list.count();
    const std::string where = views.folder != nullptr ? join_path(views.folder->folder(), pattern) : pattern;
    const bool found = views.files.search(where, [&](std::string_view name) {
        views.list.insert_at(position, name);
        ++position;
    });
    if (!found) {
        const text::Texts& texts = texts_of(views);
        views.messages.show_kind(text::format_one(texts.not_found_format, pattern), texts.caption_oops,
                                 MessageKind::warning);
        return 0;
    }
    return 1;
}

int delete_selected_file(MainDialogViews& views) {
    const text::Texts& texts = texts_of(views);
    const int n = views.list.count();
    if (n == 0) {
        views.messages.show_kind(texts.nothing_to_delete, texts.caption_oops, MessageKind::warning);
        return 0;
    }
    const int selected = views.list.selection();
    if (selected < 0 || selected >= n) {
        views.messages.show_kind(texts.nothing_selected, texts.caption_report, MessageKind::warning);
        return 0;
    }
    // Deleting the selected entry leaves nothing selected in the list.
    views.list.delete_at(selected);
    return 1;
}

std::string_view last_component(std::string_view path) {
    return path.substr(os::last_component_start(path, backslash_separates));
}

bool is_own_output(std::string_view name) {
    std::string output;
    return output_name_for(name, output) && equals_ascii_nocase(output, name);
}

std::string entry_path(const MainDialogViews& views, std::string_view entry) {
    if (views.folder == nullptr || !is_bare(entry)) return std::string(entry);
    return join_path(views.folder->folder(), entry);
}

std::string entry_text(const MainDialogViews& views, std::string_view path) {
    if (views.folder == nullptr) return std::string(path);
    const std::string_view name = last_component(path);
    const std::string_view parent = path.substr(0, path.size() - name.size());
    if (!name.empty() && folder_key(parent) == folder_key(views.folder->folder())) return std::string(name);
    return std::string(path);
}

void change_folder(MainDialogViews& views, std::string_view folder) {
    if (views.folder == nullptr) return;
    std::vector<std::string> paths;
    for (int i = 0; i < views.list.count(); ++i) paths.push_back(entry_path(views, views.list.text_at(i)));
    views.folder->set_folder(folder);
    // Rewritten in place, so that the order stays.
    for (int i = 0; i < static_cast<int>(paths.size()); ++i) {
        const std::string shown = entry_text(views, paths[static_cast<std::size_t>(i)]);
        if (shown == views.list.text_at(i)) continue;
        views.list.delete_at(i);
        views.list.insert_at(i, shown);
    }
    if (!views.extension.text().empty()) search_files(views);
}

int take_dropped(MainDialogViews& views, const std::vector<DroppedPath>& dropped) {
    const auto folder = std::find_if(dropped.begin(), dropped.end(), [](const DroppedPath& d) { return d.is_folder; });
    if (folder != dropped.end()) change_folder(views, folder->path);
    std::set<std::string> listed;
    for (int i = 0; i < views.list.count(); ++i) listed.insert(file_name_key(entry_path(views, views.list.text_at(i))));
    int added = 0;
    for (const DroppedPath& file : dropped) {
        if (file.is_folder || !listed.insert(file_name_key(file.path)).second) continue;
        views.list.insert_at(views.list.count(), entry_text(views, file.path));
        ++added;
    }
    return added;
}

std::string outputs_folder(const MainDialogViews& views, const std::vector<std::string>& written) {
    if (written.empty()) return views.folder != nullptr ? views.folder->folder() : std::string();
    const std::string& first = written.front();
    const std::string_view parent =
        std::string_view(first).substr(0, first.size() - last_component(first).size());
    if (parent.empty()) return views.folder != nullptr ? views.folder->folder() : std::string();
    return std::string(parent);
}

namespace {

// What the system said, for the errors the C library reports with a number.
std::string reason_of(const text::Texts& texts, int sys_errno) {
    if (sys_errno == 0) return {};
    const char* reason = nullptr;
    switch (sys_errno) {
    case EACCES:
    case EPERM: reason = texts.reason_access_denied; break;
    case ENOENT: reason = texts.reason_not_found; break;
    case ENOSPC: reason = texts.reason_disk_full; break;
    case EISDIR: reason = texts.reason_is_folder; break;
    default: break;
    }
    const std::string said =
        reason != nullptr ? std::string(reason) : text::format_one(texts.reason_error_format, std::to_string(sys_errno));
    return text::format_one(texts.reason_format, said);
}

// "first\nsecond ... \nand 3 more" after `intro`.
std::string report(const char* intro, const std::vector<std::string>& lines, const char* more_format) {
    std::string out = intro;
    for (std::size_t k = 0; k < lines.size() && k < report_lines; ++k) {
        out += '\n';
        out += lines[k];
    }
    if (lines.size() > report_lines) {
        out += '\n';
        out += text::format_one(more_format, std::to_string(lines.size() - report_lines));
    }
    return out;
}

}  // namespace

std::string failure_line(const text::Texts& texts, std::string_view entry, const ExtractStatus& status) {
    std::string cause;
    switch (status.error) {
    case ExtractError::none: break;
    case ExtractError::name_too_long: cause = texts.cause_name_too_long; break;
    case ExtractError::output_is_input: break;  // passed over before the extraction
    case ExtractError::open_input: cause = texts.cause_open_input; break;
    case ExtractError::not_regular: cause = texts.cause_not_regular; break;
    case ExtractError::read_input: cause = texts.cause_read_input; break;
    case ExtractError::create_output: {
        std::string output;
        output_path_for(entry, output);
        cause = text::format_one(texts.cause_create_output_format, last_component(output));
        break;
    }
    case ExtractError::write_output: cause = texts.cause_write_output; break;
    case ExtractError::no_memory: cause = texts.cause_no_memory; break;
    }
    // A directory needs no further word from the system.
    const std::string reason = status.error == ExtractError::not_regular ? std::string() : reason_of(texts, status.sys_errno);
    return std::string(entry) + ": " + cause + reason;
}

int extract_all_files(MainDialogViews& views, int* passed_over, WalkObserver* observer,
                      std::vector<std::string>* written_paths) {
    const text::Texts& texts = texts_of(views);
    const int n = views.list.count();
    if (n == 0) {
        views.messages.show_kind(texts.nothing_to_extract, texts.caption_oops, MessageKind::warning);
        return 0;
    }
    // A later name with the output of an earlier one (save.1.dat and
    // save.2.dat both give save.txt) would overwrite that file's text, so it
    // is passed over and named.
    WrittenOutputs written(views);
    std::vector<std::string> clashes;
    std::vector<std::string> failures;
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
        const std::string path = entry_path(views, name);
        const std::string_view bare = last_component(path);
        if (is_own_output(bare)) {
            continue;
        }
        std::string output;
        const bool named = output_path_for(path, output);
        if (named && written.contains(output)) {
            clashes.push_back(name + " → " + entry_text(views, output));
            continue;
        }
        bool ok;
        if (views.extract_status) {
            const ExtractStatus status = views.extract_status(path);
            ok = status.ok();
            // The folder itself and its parent come with a wildcard search;
            // they are no data file and need no word.
            if (!ok && bare != "." && bare != "..") failures.push_back(failure_line(texts, name, status));
        } else {
            // Without a cause a failed extraction shows nothing; the walk goes on.
            ok = views.extract(path.c_str()) == 1;
        }
        if (ok && named) {
            written.add(output);
            if (written_paths != nullptr) written_paths->push_back(output);
        }
    }
    if (stopped()) return 0;
    if (!clashes.empty())
        views.messages.show_kind(report(texts.clash_intro, clashes, texts.more_format), texts.caption_report,
                                 MessageKind::warning);
    if (!failures.empty())
        views.messages.show_kind(report(texts.failure_intro, failures, texts.more_format), texts.caption_report,
                                 MessageKind::warning);
    if (passed_over != nullptr) *passed_over = static_cast<int>(clashes.size());
    // Shown whatever the single extractions gave.
    views.messages.show_kind(texts.extract_done, texts.caption_done, MessageKind::information);
    return 1;
}

}  // namespace kurvane
