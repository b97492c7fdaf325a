// Every text the main dialog shows, named once so that the Win32 dialog, the
// command line and the tests use the same bytes. Literals are UTF-8 (see
// utf8_literals.h); the formats are printf formats. The Japanese texts are
// the program's own; the English ones are shown where Windows is not set to
// Japanese.
#pragma once

#include <string>
#include <string_view>

#include "utf8_literals.h"

namespace kurvane::text {

// `format` with its one %s or %d replaced by `value`; no buffer to outgrow.
inline std::string format_one(const char* format, std::string_view value) {
    std::string out(format);
    for (const char* placeholder : {"%s", "%d"}) {
        const std::size_t at = out.find(placeholder);
        if (at != std::string::npos) return out.replace(at, 2, value);
    }
    return out;
}

inline constexpr char caption_oops[] = "おおっと";
inline constexpr char caption_report[] = "結果報告";
inline constexpr char caption_done[] = "終了";

inline constexpr char no_extension[] = "検索する拡張子が入力されていない。";
inline constexpr char txt_refused[] = "拡張子がtxtはこちらの都合上無理です。";
inline constexpr char nothing_to_delete[] = "削除するファイルがありません。";
inline constexpr char nothing_selected[] = "選択されていません。";
inline constexpr char nothing_to_extract[] = "変換するファイルがありません。";
inline constexpr char extract_done[] = "変換が終了しました。";
// Before the completion message when names of one walk share an output: the
// intro, then one line per passed-over name ("save.2.dat → save.txt"), and
// the count of those not shown.
inline constexpr char clash_intro[] =
    "次のファイルは、先に変換したファイルと出力ファイル名が同じになるため変換しませんでした。";
inline constexpr char clash_more_format[] = "ほか %d 件";

// The search pattern made from the extension, and the message shown when the
// search finds nothing (the pattern, then the text).
inline constexpr char search_pattern_format[] = "*.%s";
inline constexpr char not_found_format[] = "%sファイルは発見できませんでした。";

// The texts one display language shows. A format holds exactly one %s or %d
// where the Japanese one does.
struct Texts {
    const char* caption_oops;
    const char* caption_report;
    const char* caption_done;
    const char* no_extension;
    const char* txt_refused;
    const char* nothing_to_delete;
    const char* nothing_selected;
    const char* nothing_to_extract;
    const char* extract_done;
    const char* clash_intro;
    const char* more_format;      // "and %d more" after the first ten lines of a report
    const char* not_found_format; // %s: the search pattern
    // The report of the files a walk could not convert: the intro, then one
    // line per file, "name: cause".
    const char* failure_intro;
    const char* cause_name_too_long;
    const char* cause_open_input;
    const char* cause_not_regular;
    const char* cause_read_input;
    const char* cause_create_output_format;  // %s: the output's name
    const char* cause_write_output;
    const char* cause_no_memory;
    // What the operating system said, after the cause: "（%s）".
    const char* reason_format;
    const char* reason_access_denied;
    const char* reason_not_found;
    const char* reason_disk_full;
    const char* reason_is_folder;
    const char* reason_error_format;  // %d: the C library's error number
    // While a walk ends after its current file: the status line and the label
    // over the list, which then holds the files left undone.
    const char* stopping;
    const char* left_undone;
    // The About entry of the system menu and its message (%s: the version).
    const char* about_entry;
    const char* about_caption;
    const char* about_format;
    const char* browse_title;  // the folder picker's title
    // The settings dialog's Auto button for the XOR value: no file listed,
    // the first listed file cannot be read (%s: its name), no key clearly
    // better than none (%s: its name).
    const char* xor_no_file;
    const char* xor_unreadable_format;
    const char* xor_none_format;
};

inline constexpr Texts japanese = {
    caption_oops,
    caption_report,
    caption_done,
    no_extension,
    txt_refused,
    nothing_to_delete,
    nothing_selected,
    nothing_to_extract,
    extract_done,
    clash_intro,
    clash_more_format,
    not_found_format,
    "次のファイルは変換できませんでした。",
    "拡張子の前の名前が長すぎます",
    "開けません",
    "フォルダです",
    "読み込みに失敗しました",
    "出力ファイル %s を作成できません",
    "書き込みに失敗しました",
    "メモリが足りません",
    "（%s）",
    "アクセスが拒否されました",
    "見つかりません",
    "ディスクの空きが足りません",
    "フォルダです",
    "エラー %d",
    "停止中…",
    "変換しないファイル",
    "バージョン情報(&A)...",
    "バージョン情報",
    "Kurvane バージョン %s",
    "検索するフォルダ",
    "XORの値を調べるファイルがありません。先にメイン画面の一覧にファイルを入れてください。",
    "%s を読み込めません。",
    "%s では、XORなしよりはっきり多く文字が読めるXORの値は見つかりませんでした。",
};

inline constexpr Texts english = {
    "Kurvane",
    "Results",
    "Done",
    "Type the extension of the files to search for.",
    "The extension txt cannot be searched: the outputs are .txt files.",
    "There is no file to remove from the list.",
    "No file is selected.",
    "There is no file to convert.",
    "The conversion has finished.",
    "These files were not converted, as a file converted before them has the same output name.",
    "and %d more",
    "No file matches %s.",
    "These files could not be converted.",
    "the name before the extension is too long",
    "cannot be opened",
    "is a folder",
    "cannot be read",
    "cannot create the output %s",
    "cannot be written",
    "out of memory",
    " (%s)",
    "access denied",
    "not found",
    "disk full",
    "is a folder",
    "error %d",
    "Stopping...",
    "Not converted",
    "&About Kurvane...",
    "About Kurvane",
    "Kurvane version %s",
    "Folder to search",
    "There is no file to find the XOR value in. List a file in the main window first.",
    "%s cannot be read.",
    "No XOR value makes %s read clearly better than none.",
};

}  // namespace kurvane::text
