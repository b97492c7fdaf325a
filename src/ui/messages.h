// Every text the main dialog shows, named once so that the Win32 dialog, the
// command line and the tests use the same bytes. Literals are UTF-8 (see
// utf8_literals.h); the two formats are printf formats.
#pragma once

#include "utf8_literals.h"

namespace kurvane::text {

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

}  // namespace kurvane::text
