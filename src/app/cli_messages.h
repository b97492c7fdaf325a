// The command line's own messages in English and Japanese. The language
// follows the locale's message category; texts are UTF-8 literals (see
// utf8_literals.h) and are converted for the terminal when printed.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "engine/extract.h"
#include "ui/messages.h"
#include "utf8_literals.h"

namespace kurvane::cli {

enum class Language { english, japanese };

// Japanese when the first of LC_ALL, LC_MESSAGES and LANG that is set and
// not empty starts with "ja"; English otherwise. `getenv` is a seam for tests.
Language message_language(const char* (*getenv)(const char*) = nullptr);

// One message in both languages. "{0}", "{1}" ... stand for the arguments,
// which are inserted as they are (file names and option words are already
// in the terminal's encoding).
struct Message {
    const char* english;
    const char* japanese;
};

std::string format_message(Language language, const Message& message,
                           std::initializer_list<std::string_view> args = {});
std::string format_message(Language language, const Message& message, std::span<const std::string_view> args);

// The engine's error descriptions in the chosen language.
std::string describe_error(Language language, ExtractError error);

namespace msg {
inline constexpr Message invalid_option{"invalid option -- '{0}'", "無効なオプションです -- '{0}'"};
inline constexpr Message unrecognized_option{"unrecognized option '{0}'", "認識できないオプションです: '{0}'"};
inline constexpr Message ambiguous_option{"option '{0}' is ambiguous", "オプション '{0}' は曖昧です"};
inline constexpr Message short_needs_argument{"option requires an argument -- '{0}'",
                                              "オプションには引数が必要です -- '{0}'"};
inline constexpr Message long_needs_argument{"option '{0}' requires an argument",
                                             "オプション '{0}' には引数が必要です"};
inline constexpr Message no_argument_allowed{"option '{0}' doesn't allow an argument",
                                             "オプション '{0}' は引数を取りません"};
inline constexpr Message invalid_argument{"invalid argument '{1}' for '{0}'", "'{0}' の引数 '{1}' は無効です"};
inline constexpr Message min_length_range{"--min-length must be a whole number from 1 to 4294967295: '{0}'",
                                          "--min-length には 1 から 4294967295 までの整数を指定してください: '{0}'"};
inline constexpr Message xor_range{"--xor must be 0 to 255 (decimal or 0x hex): '{0}'",
                                   "--xor には 0 から 255 まで（10進数または 0x で始まる16進数）を指定してください: '{0}'"};
inline constexpr Message min_score_range{"--min-score must be a whole number from 0 to 100: '{0}'",
                                         "--min-score には 0 から 100 までの整数を指定してください: '{0}'"};
inline constexpr Message xor_key_found{"{0}: XOR key 0x{1}", "{0}: XOR キー 0x{1}"};
inline constexpr Message xor_key_none{"{0}: no XOR key reads clearly better than none; no XOR is used",
                                      "{0}: XOR なしより明らかによく読める XOR キーはありません。XOR は使いません"};
inline constexpr Message xor_auto_needs_file{"{0}: --xor=auto needs a regular file, which it samples at offsets",
                                             "{0}: --xor=auto には途中を読める通常のファイルが必要です"};
inline constexpr Message input_encoding_found{"{0}: {1} text", "{0}: {1} のテキスト"};
inline constexpr Message input_encoding_none{
    "{0}: no text found in any encoding; read as {1}",
    "{0}: どのエンコーディングでもテキストが見つかりません。{1} として読みます"};
inline constexpr Message input_auto_needs_file{
    "{0}: --input-encoding=auto needs a regular file, which it samples at offsets",
    "{0}: --input-encoding=auto には途中を読める通常のファイルが必要です"};
inline constexpr Message substituted_note{"{0}: characters that code page 932 lacks, written as '?': {1}",
                                          "{0}: コードページ 932 にないため '?' として書き出した文字: {1} 個"};
inline constexpr Message unknown_class{"unknown character class '{0}'", "不明な文字種です: '{0}'"};
inline constexpr Message not_convertible{"{0} '{1}' cannot be converted to code page 932",
                                         "{0} '{1}' はコードページ 932 に変換できません"};
inline constexpr Message exclude_not_one_character{
    "--exclude takes one double-byte character or two bytes written 0xHHHH: '{0}'",
    "--exclude には全角文字 1 文字か、0xHHHH と書いた 2 バイトを指定してください: '{0}'"};
inline constexpr Message exclude_zero_byte{"--exclude cannot hold a zero byte: '{0}'",
                                           "--exclude に 0 のバイトは使えません: '{0}'"};
inline constexpr Message too_many_excludes{"--exclude can be given at most 12 times",
                                           "--exclude は 12 個までしか指定できません"};
inline constexpr Message keep_empty{"--keep needs a non-empty text", "--keep には空でない文字列を指定してください"};
inline constexpr Message keep_too_long{"--keep text '{0}' is {1} bytes in code page 932; at most 20 fit",
                                       "--keep の文字列 '{0}' はコードページ 932 で {1} バイトあります（20 バイトまで）"};
inline constexpr Message too_many_keeps{"--keep can be given at most 6 times",
                                        "--keep は 6 個までしか指定できません"};
inline constexpr Message ext_with_files{"--ext takes no FILE operands", "--ext には FILE を指定できません"};
inline constexpr Message ext_with_output{"--ext cannot be combined with --output",
                                         "--ext と --output は同時に指定できません"};
inline constexpr Message output_needs_one_file{"--output needs exactly one FILE",
                                               "--output には FILE をちょうど 1 つ指定してください"};
inline constexpr Message output_dir_with_output{"--output-dir cannot be combined with --output",
                                                "--output-dir と --output は同時に指定できません"};
inline constexpr Message try_help{"Try '{0} --help' for more information.",
                                  "詳しくは '{0} --help' を実行してください。"};
inline constexpr Message write_error{"write error", "書き込みエラー"};
inline constexpr Message cannot_read_settings{"cannot read settings {0}", "設定ファイル {0} を読めません"};
inline constexpr Message cannot_save_settings{"cannot save settings {0}", "設定ファイル {0} を保存できません"};
inline constexpr Message not_regular_file{"not a regular file", "通常のファイルではありません"};
inline constexpr Message standard_output{"standard output", "標準出力"};
inline constexpr Message standard_input{"standard input", "標準入力"};
inline constexpr Message same_output{"{0} and {1} would both be written to {2}; nothing was extracted",
                                     "{0} と {1} はどちらも {2} に書き出されることになります。何も抜き出していません"};
inline constexpr Message output_is_other_input{"{0} would be written to {1}, which is the input {2}; nothing was extracted",
                                              "{0} の出力先 {1} は入力ファイル {2} です。何も抜き出していません"};
inline constexpr Message input_is_output{"{0}: input file is output file ({1}); nothing was extracted",
                                         "{0}: 入力ファイルが出力先（{1}）と同じファイルです。何も抜き出していません"};
inline constexpr Message settings_onto_input{
    "--save-settings={0} is the input {1}; nothing was saved or extracted",
    "--save-settings={0} は入力ファイル {1} です。何も保存も抜き出しもしていません"};
inline constexpr Message settings_onto_output{
    "--save-settings={0} is where {1} would be written; nothing was saved or extracted",
    "--save-settings={0} は {1} の出力先です。何も保存も抜き出しもしていません"};
inline constexpr Message progress_left{"{0} of {1}  {2}/s  {3} left", "{0} / {1}  {2}/秒  残り {3}"};
inline constexpr Message progress_running{"{0}  {1}/s", "{0}  {1}/秒"};

// The messages of the dialog's search and extract walk (-e), each with the
// dialog's own text as its Japanese. A line of the walk's report on names it
// passed over ("save.2.dat → save.txt") is the same in both languages.
inline constexpr Message walk_no_extension{"no extension to search for was given", text::no_extension};
inline constexpr Message walk_txt_refused{"the extension txt cannot be searched: it is the outputs' own",
                                          text::txt_refused};
inline constexpr Message walk_nothing_to_extract{"there are no files to convert", text::nothing_to_extract};
inline constexpr Message walk_done{"conversion finished", text::extract_done};
inline constexpr Message walk_passed_over{
    "not converted, as their output has the name of one converted before them:", text::clash_intro};
inline constexpr Message walk_not_found{"no file matches {0}", "{0}ファイルは発見できませんでした。"};
}  // namespace msg

}  // namespace kurvane::cli
