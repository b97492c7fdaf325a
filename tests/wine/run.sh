#!/usr/bin/env bash
# End-to-end test of the Windows program: builds kurvane.exe and the test
# driver with MinGW, checks the executable's imports and resources, then runs
# the real dialogs under Wine (private X display) scenario by scenario in
# scratch directories, and compares the files they leave (the .txt outputs,
# setting.dat) byte for byte. Every scenario runs twice: under ja_JP.UTF-8
# (code page 932) and under en_US.UTF-8 (code page 1252), each in a throw-away
# prefix of its own with the Japanese fonts. Last, in each locale, it runs
# kurvane-cli.exe on 64 MiB generated inputs and compares its output with the
# native kurvane's.
#
#   bash tests/wine/run.sh
#
# KURVANE_MINGW_BUILD  build directory (default build/mingw); built unless
#                      KURVANE_WINE_NO_BUILD=1
# KURVANE_NATIVE_BUILD the native build whose kurvane and kurvane_make_corpus
#                      give the large inputs and the expected output (default
#                      build/default, which scripts/test.sh has just built);
#                      built unless KURVANE_WINE_NO_BUILD=1
# KURVANE_WINE_LOCALES the locales to run (default: ja_JP.UTF-8 en_US.UTF-8)
# KURVANE_WINE_KEEP=1  keep the scratch directory (kept anyway on failure)
# KURVANE_WINEDEBUG    WINEDEBUG for the run (default -all)
# KURVANE_PREVIOUS_EXE a kurvane.exe of an earlier version: it must read a
#                      setting.dat that holds the block after the layout.
#                      Unset, it is built from this repository's history:
#                      the main line's last commit before the block, taken
#                      with git archive into <build>-previous (skipped
#                      without that history, as in a shallow clone, and
#                      with KURVANE_WINE_NO_BUILD=1 unless built before)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh

build=${KURVANE_MINGW_BUILD:-$root/build/mingw}
case $build in /*) ;; *) build=$root/$build ;; esac
native=${KURVANE_NATIVE_BUILD:-$root/build/default}
case $native in /*) ;; *) native=$root/$native ;; esac
# Seconds since the start, one decimal (bash's clock; no external tools).
now_us() { local t=${EPOCHREALTIME/[.,]/}; echo "${t#0}"; }
seconds_since() { local d=$(($(now_us) - $1)); printf '%d.%d' $((d / 1000000)) $((d / 100000 % 10)); }
started=$(now_us)

kurvane_wine_setup
if [ "${KURVANE_WINE_NO_BUILD:-}" != 1 ]; then
  kurvane_wine_build "$build" >/dev/null
  kurvane_ensure_packages $native_packages
  if [ ! -f "$native/CMakeCache.txt" ]; then
    cmake --preset default -B "$native" >/dev/null
  fi
  cmake --build "$native" -j2 --target kurvane kurvane_make_corpus >/dev/null
fi
# The previous version, for the scenario in which it reads our setting.dat.
previous_exe=${KURVANE_PREVIOUS_EXE:-}
if [ -z "$previous_exe" ]; then
  # The main line's commit that brought the block; the one before it is the
  # last version without it.
  block_commit=$(git -C "$root" log --first-parent --format=%H -S KVX1 -- src/settings/settings_file.h 2>/dev/null |
    tail -n 1 || true)
  if [ -n "$block_commit" ] && git -C "$root" cat-file -e "$block_commit^" 2>/dev/null; then
    previous_commit=$(git -C "$root" rev-parse --short "$block_commit^")
    previous_src=$build-previous/$previous_commit
    previous_built=$previous_src/build/mingw/src/app/kurvane.exe
    if [ "${KURVANE_WINE_NO_BUILD:-}" != 1 ]; then
      echo "previous build ($previous_commit)"
      if [ ! -f "$previous_src/CMakePresets.json" ]; then
        rm -rf "$build-previous"
        mkdir -p "$previous_src"
        git -C "$root" archive "$previous_commit" | tar -x -C "$previous_src"
      fi
      (cd "$previous_src" && { [ -f build/mingw/CMakeCache.txt ] || cmake --preset mingw; } &&
        cmake --build build/mingw -j2 --target kurvane_gui) >"$build-previous/build.log" 2>&1 ||
        { echo "kurvane: the previous build failed, see $build-previous/build.log" >&2; exit 1; }
    fi
    [ -f "$previous_built" ] && previous_exe=$previous_built
  fi
fi

exe=$build/src/app/kurvane.exe
cli=$build/src/app/kurvane-cli.exe
driver=$build/tests/wine/kurvane_wine_driver.exe
native_cli=$native/src/app/kurvane
make_corpus=$native/bench/kurvane_make_corpus
for f in "$exe" "$cli" "$driver" "$native_cli" "$make_corpus"; do
  [ -f "$f" ] || { echo "kurvane: $f is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kurvane-wine.XXXXXX")
failures=0
cleanup() {
  kurvane_wine_stop
  if [ "$failures" -eq 0 ] && [ "${KURVANE_WINE_KEEP:-}" != 1 ]; then
    rm -rf "$work"
  else
    echo "scratch directory kept: $work"
  fi
}
trap cleanup EXIT

locale_now=
fail() {
  echo "FAIL${locale_now:+ [$locale_now]}: $*"
  failures=$((failures + 1))
}

# ---- the executable: imports and resources

check_executable() {
  local headers dlls rc
  headers=$(x86_64-w64-mingw32-objdump -p "$exe")
  dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$headers" | tr 'a-z' 'A-Z' | sort)
  [ -n "$dlls" ] || fail "kurvane.exe: no imports found"
  for dll in $dlls; do
    case $dll in
      KERNEL32.DLL | USER32.DLL | MSVCRT.DLL | GDI32.DLL | ADVAPI32.DLL | COMCTL32.DLL | SHELL32.DLL | OLE32.DLL) ;;
      *) fail "kurvane.exe imports $dll (not a system DLL)" ;;
    esac
  done
  grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" ||
    fail "kurvane.exe is not a GUI program"

  rc=$(x86_64-w64-mingw32-windres -i "$exe" -O rc)
  expect_rc() {
    [ "$(grep -cF -- "$1" <<<"$rc")" -eq "$2" ] || fail "resources: expected $2 x '$1'"
  }
  # Each dialog in Japanese and in English, of one size.
  expect_rc '101 DIALOGEX 0, 0, 138, 175' 2
  expect_rc '103 DIALOGEX 0, 0, 243, 322' 2
  expect_rc 'CAPTION "Kurvane ver0.84"' 2
  expect_rc 'LANGUAGE 17, 1' 3
  expect_rc 'LANGUAGE 9, 1' 2
  expect_rc '14 /* RT_GROUP_ICON */' 1
  expect_rc '1 24 /* RT_MANIFEST */' 1
  expect_rc 'BLOCK "041104B0"' 1
  expect_rc 'VALUE "Translation", 0x411, 1200' 1
  expect_rc 'VALUE "FileVersion", "0, 8, 4, 0"' 1
  expect_rc 'VALUE "ProductVersion", "0, 8, 4, 0"' 1
  expect_rc 'FILEVERSION 0, 8, 4, 0' 1
  expect_rc 'STYLE 0x80c808c0' 4
}

# ---- expected bytes

zeros() { head -c "$1" /dev/zero; }

# One table entry: printf-escaped bytes, padded with zeros to the width.
entry() { { printf "$2"; zeros "$1"; } | head -c "$1"; }

le32() {
  printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"
  printf '\0\0'
}

# setting.dat: text auto_newline min_length xor_value excluded_pairs[0]
# exempt_strings[0] half-flags (5 digits) full-flags (9 digits); the other
# table entries are empty.
settings_bytes() {
  local flags=$7$8 i
  printf '%s\0' "$1"
  le32 "$2"; le32 "$3"; le32 "$4"
  entry 3 "$5"; zeros 33
  entry 21 "$6"; zeros 105
  for ((i = 0; i < 14; i++)); do le32 "${flags:i:1}"; done
}

expect_bytes() {  # file, printf format of the expected bytes
  local file=$1
  printf "$2" >"$work/expected"
  if [ ! -f "$file" ]; then
    fail "${file#"$work"/} is missing"
  elif ! cmp -s "$file" "$work/expected"; then
    fail "${file#"$work"/} differs: got $(od -An -tx1 "$file" | tr -s ' \n' ' '), expected $(od -An -tx1 "$work/expected" | tr -s ' \n' ' ')"
  fi
}

expect_settings_file() {  # file, then the fields of settings_bytes
  local file=$1
  shift
  settings_bytes "$@" >"$work/expected.dat"
  if [ ! -f "$file" ]; then
    fail "${file#"$work"/} is missing"
  elif ! cmp -s "$file" "$work/expected.dat"; then
    fail "${file#"$work"/} differs: got $(od -An -tx1 "$file" | tr -s ' \n' ' '), expected $(od -An -tx1 "$work/expected.dat" | tr -s ' \n' ' ')"
  fi
}

expect_listing() {  # directory, then every name it must hold
  local dir=$1 got want
  shift
  got=$(cd "$dir" && LC_ALL=C ls -A | tr '\n' ' ')
  want=$(printf '%s\n' "$@" | LC_ALL=C sort | tr '\n' ' ')
  [ "$got" = "$want" ] || fail "${dir#"$work"/} holds: $got; expected: $want"
}

# ---- scenarios

exe_windows="Z:${exe//\//\\}"

run_driver() {  # scenario, directory[, Windows path of the program]
  local status=0
  (cd "$2" && timeout 300 wine "$driver" "$1" "${3:-$exe_windows}" "$(kurvane_wine_code_page "$LANG")") ||
    status=$?
  [ "$status" -eq 0 ] || fail "driver scenario $1 (exit $status)"
}

# The scenarios of one locale work in $work/<locale>/<scenario>.
scenario_dir() { echo "$work/$locale_now/$1"; }

scenario_main() {
  local dir
  dir=$(scenario_dir main)
  mkdir -p "$dir/d.dat"
  printf '\0\x82\xa0\x82\xa2\x82\xa4\0ABC\0' >"$dir/a.dat"
  printf '\x8a\xbf\x8e\x9a' >"$dir/b.dat"
  printf '\x82\xa0' >"$dir/c.bin"
  printf '\x82\xa0\x83\x65' >"$dir/テスト.dat"
  run_driver main "$dir"
  expect_bytes "$dir/a.txt" '\x82\xa0\x82\xa2\x82\xa4\r\n'
  expect_bytes "$dir/テスト.txt" '\x82\xa0\x83\x65\r\n'
  # b.dat was taken off the list, d.dat is a directory, c.bin never listed.
  expect_listing "$dir" a.dat a.txt b.dat c.bin d.dat setting.dat テスト.dat テスト.txt
  [ -d "$dir/d.dat" ] || fail "main/d.dat is no longer a directory"
  expect_settings_file "$dir/setting.dat" dat 1 1 0 '' '' 00000 111111111
}

scenario_star() {
  local dir
  dir=$(scenario_dir star)
  mkdir -p "$dir/sub"
  printf 'xx\x82\xa0yy' >"$dir/a.txt"
  printf '\x83\x41' >"$dir/b.dat"
  run_driver star "$dir"
  expect_bytes "$dir/a.txt" 'xx\x82\xa0yy'
  expect_bytes "$dir/b.txt" '\x83\x41\r\n'
  expect_listing "$dir" a.txt b.dat b.txt setting.dat sub
  expect_settings_file "$dir/setting.dat" '*' 1 1 0 '' '' 00000 111111111
}

scenario_settings_and_restart() {
  local dir
  dir=$(scenario_dir settings)
  mkdir -p "$dir"
  printf 'AB\0C\0\x82\xa0\x82\xa2\x82\xa4\0XYZ\0' >"$dir/x.dat"
  # The same bytes XORed with 0x55.
  printf '\x14\x17\x55\x16\x55\xd7\xf5\xd7\xf7\xd7\xf1\x55\x0d\x0c\x0f\x55' >"$dir/y.xor"

  run_driver settings "$dir"
  # Minimum 2, upper-case letters on, い excluded.
  expect_bytes "$dir/x.txt" 'AB\r\n\x82\xa0\x82\xa4\r\nXYZ\r\n'
  expect_listing "$dir" setting.dat x.dat x.txt y.xor
  expect_settings_file "$dir/setting.dat" abcdefghijklmn 1 2 0 '\x82\xa2' ABCDEFGHIJKLMNOPQRST 01000 111111111

  run_driver restart "$dir"
  # The same settings, line breaks off, XOR 0x55.
  expect_bytes "$dir/y.txt" 'AB\x82\xa0\x82\xa4XYZ'
  expect_bytes "$dir/x.txt" 'AB\r\n\x82\xa0\x82\xa4\r\nXYZ\r\n'
  expect_listing "$dir" setting.dat x.dat x.txt y.txt y.xor
  expect_settings_file "$dir/setting.dat" xor 0 2 85 '\x82\xa2' ABCDEFGHIJKLMNOPQRST 01000 111111111
}

# Names beyond any one code page, one with a 0x5C trail byte in code page
# 932 (表): each is listed and extracted beside itself.
scenario_names() {
  local dir name i=0 listing=(setting.dat)
  dir=$(scenario_dir names)
  mkdir -p "$dir"
  local names=(plain 台本 表示 café 한국어 絵文字😀)
  # あ い う え お か, one per file, so that no output is another's.
  local texts=('\x82\xa0' '\x82\xa2' '\x82\xa4' '\x82\xa6' '\x82\xa8' '\x82\xa9')
  for name in "${names[@]}"; do
    printf "\0${texts[i]}\0" >"$dir/$name.dat"
    listing+=("$name.dat" "$name.txt")
    i=$((i + 1))
  done
  run_driver names "$dir"
  i=0
  for name in "${names[@]}"; do
    expect_bytes "$dir/$name.txt" "${texts[i]}\r\n"
    i=$((i + 1))
  done
  expect_listing "$dir" "${listing[@]}"
}

# save.1.dat and save.2.dat both give save.txt, and Été.1.dat and été.2.dat
# one file, as Windows folds the case of É: the first one's text stays.
scenario_clash() {
  local dir
  dir=$(scenario_dir clash)
  mkdir -p "$dir"
  printf '\x82\xa0' >"$dir/save.1.dat"
  printf '\x82\xa2' >"$dir/save.2.dat"
  printf '\x82\xa4' >"$dir/Été.1.dat"
  printf '\x82\xa6' >"$dir/été.2.dat"
  run_driver clash "$dir"
  expect_bytes "$dir/save.txt" '\x82\xa0\r\n'
  expect_bytes "$dir/Été.txt" '\x82\xa4\r\n'
  expect_listing "$dir" save.1.dat save.2.dat save.txt setting.dat Été.1.dat Été.txt été.2.dat
}

# A walk over a large generated file (and a small one after it; .bin, as
# setting.dat must not be listed) under the
# settings the corpus is made for; its output must be the native kurvane's.
# The driver closes the window during a second walk: big.txt must still be
# whole, small.txt never written, no temporary file left behind.
walk_size=256M
walk_input=
scenario_walk() {
  local dir
  dir=$(scenario_dir walk)
  mkdir -p "$dir"
  if [ -z "$walk_input" ]; then
    walk_input=$work/walk-input
    mkdir -p "$walk_input"
    "$make_corpus" --settings "$walk_input/setting.dat" mixed "$walk_size" "$walk_input/big.dat"
    "$native_cli" -s "$walk_input/setting.dat" -o "$walk_input/big.txt" "$walk_input/big.dat" ||
      { fail "native kurvane on the walk input"; return; }
  fi
  ln "$walk_input/big.dat" "$dir/big.bin"
  cp "$walk_input/setting.dat" "$dir/setting.dat"
  printf '\x82\xa0' >"$dir/small.bin"
  run_driver walk "$dir"
  if ! cmp -s "$dir/big.txt" "$walk_input/big.txt"; then
    fail "walk/big.txt is not the native output ($(stat -c %s "$dir/big.txt" 2>/dev/null || echo no) bytes, expected $(stat -c %s "$walk_input/big.txt"))"
  fi
  expect_listing "$dir" big.bin big.txt setting.dat small.bin
  # Saved at the close: the extension, then the settings as loaded.
  if ! cmp -s <(printf 'bin\0'; tail -c 230 "$walk_input/setting.dat") "$dir/setting.dat"; then
    fail "walk/setting.dat is not the extension bin and the corpus settings"
  fi
  # The next locale makes its own copy.
  if [ "$failures" -eq 0 ]; then rm -f "$dir/big.bin" "$dir/big.txt"; fi
}

# Started with a folder and files as arguments: outputs beside each input,
# setting.dat in the folder the program started in.
scenario_folder() {
  local dir
  dir=$(scenario_dir folder)
  mkdir -p "$dir/start" "$dir/data" "$dir/other"
  printf '\x82\xa0' >"$dir/data/a.dat"
  printf '\x82\xa2' >"$dir/data/extra.bin"
  printf '\x82\xa4' >"$dir/other/o.dat"
  run_driver folder "$dir/start"
  expect_bytes "$dir/data/a.txt" '\x82\xa0\r\n'
  expect_bytes "$dir/data/extra.txt" '\x82\xa2\r\n'
  expect_bytes "$dir/other/o.txt" '\x82\xa4\r\n'
  expect_listing "$dir/start" setting.dat
  expect_listing "$dir/data" a.dat a.txt extra.bin extra.txt
  expect_settings_file "$dir/start/setting.dat" dat 1 1 0 '' '' 00000 111111111
}

# Files and folders dropped on the window; the folder picker.
scenario_drop() {
  local dir
  dir=$(scenario_dir drop)
  mkdir -p "$dir/start" "$dir/there"
  printf '\x82\xa0' >"$dir/start/p.dat"
  printf '\x82\xa2' >"$dir/start/q.bin"
  printf '\x82\xa4' >"$dir/there/x.dat"
  run_driver drop "$dir/start"
  expect_bytes "$dir/start/p.txt" '\x82\xa0\r\n'
  expect_bytes "$dir/there/x.txt" '\x82\xa4\r\n'
  expect_listing "$dir/start" p.dat p.txt q.bin setting.dat
  expect_listing "$dir/there" x.dat x.txt
  rm -f "$dir/start/setting.dat"
  run_driver browse "$dir/start"
  expect_listing "$dir/there" x.dat x.txt
}

# A folder named dir.dat and blocked.dat whose output is a folder are
# reported; good.dat is converted.
scenario_failure() {
  local dir
  dir=$(scenario_dir failure)
  mkdir -p "$dir/dir.dat" "$dir/blocked.txt"
  printf '\x82\xa0' >"$dir/blocked.dat"
  printf '\x82\xa2' >"$dir/good.dat"
  run_driver failure "$dir"
  expect_bytes "$dir/good.txt" '\x82\xa2\r\n'
  [ -d "$dir/blocked.txt" ] && [ -z "$(ls -A "$dir/blocked.txt")" ] || fail "failure/blocked.txt was touched"
  expect_listing "$dir" blocked.dat blocked.txt dir.dat good.dat good.txt setting.dat
}

# UTF-8 output from the settings dialog, stored in the block after the
# layout; this build reads it back; the previous build reads the layout,
# writes code page 932 and saves without the block; this build then reads
# the file without the block.
scenario_utf8() {
  local dir
  dir=$(scenario_dir utf8)
  mkdir -p "$dir"
  # AB\0C\0あいう\0XYZ\0 XORed with 0x55: with minimum 2 only あいう is text.
  printf '\x14\x17\x55\x16\x55\xd7\xf5\xd7\xf7\xd7\xf1\x55\x0d\x0c\x0f\x55' >"$dir/y.xor"
  run_driver utf8 "$dir"
  expect_bytes "$dir/y.txt" '\xe3\x81\x82\xe3\x81\x84\xe3\x81\x86\r\n'
  settings_bytes xor 1 2 85 '' '' 00000 111111111 >"$work/layout.dat"
  { cat "$work/layout.dat"; printf 'KVX1\1\0\4\0\1\0\0\0'; } >"$work/with-block.dat"
  cmp -s "$dir/setting.dat" "$work/with-block.dat" ||
    fail "utf8/setting.dat is not the layout and the block: $(od -An -tx1 "$dir/setting.dat" | tr -s ' \n' ' ')"
  run_driver reread-utf8 "$dir"
  cmp -s "$dir/setting.dat" "$work/with-block.dat" || fail "utf8/setting.dat changed on a save by this build"
  if [ -z "$previous_exe" ]; then
    echo "  (the previous build's reading skipped: no KURVANE_PREVIOUS_EXE and no history to build it from)"
    return
  fi
  run_driver previous "$dir" "Z:${previous_exe//\//\\}"
  expect_bytes "$dir/y.txt" '\x82\xa0\x82\xa2\x82\xa4\r\n'
  cmp -s "$dir/setting.dat" "$work/layout.dat" || fail "utf8/setting.dat is not the layout after the previous build"
  run_driver reread-plain "$dir"
  cmp -s "$dir/setting.dat" "$work/layout.dat" || fail "utf8/setting.dat gained a block without the option"
}

# Data for the settings dialog's options: Japanese lines, code page 932,
# among random double-byte noise (text) or among record fields and XORed
# with a key (xor KEY). The same bytes on every run.
options_data() {  # text | xor HEX
  local lines
  lines=$(printf '%s\n' '村の長老に話を聞いてみよう。' '宿屋に泊まりますか？一泊十ゴールドです。' \
    'このアイテムは売ることができません' '扉の向こうから誰かの声が聞こえる……' | iconv -f UTF-8 -t CP932)
  LINES=$lines perl -e '
    my ($kind, $key) = ($ARGV[0], hex($ARGV[1] // "0"));
    my @lines = split /\n/, $ENV{LINES};
    my $seed = 7;
    sub rnd { $seed = ($seed * 1103515245 + 12345) % 2147483648; return $seed >> 8; }
    my $out = "";
    for my $i (0 .. 1499) {
      if ($kind eq "text") {
        $out .= "\0\0";
        if ($i % 3 == 0) { $out .= $lines[$i / 3 % @lines]; next; }
        for (1 .. 2 + rnd() % 4) {
          my $trail = 0x40 + rnd() % 0xBC;
          $trail++ if $trail >= 0x7F;
          $out .= chr(0x89 + rnd() % 0x16) . chr($trail);
        }
      } else {
        $out .= chr(rnd() % 4 == 0 ? rnd() % 256 : 0) for 1 .. 12;
        $out .= $lines[$i % @lines];
      }
    }
    $out =~ s/(.)/chr(ord($1) ^ $key)/gse if $key;
    binmode STDOUT;
    print $out;' "$@"
}

# The text filter at threshold 70: the output is the native kurvane's with
# --text under the dialog's classes, which drops the noise; the filter and
# the threshold are stored in the block and read back.
scenario_text() {
  local dir
  dir=$(scenario_dir text)
  mkdir -p "$dir"
  options_data text >"$dir/t.dat"
  "$native_cli" --defaults -c full --text --min-score=70 -o "$work/text-expected.txt" "$dir/t.dat"
  "$native_cli" --defaults -o "$work/text-plain.txt" "$dir/t.dat"
  if cmp -s "$work/text-expected.txt" "$work/text-plain.txt" || [ ! -s "$work/text-expected.txt" ]; then
    fail "text: the filter's expected output is empty or the plain one"
  fi
  run_driver text "$dir"
  cmp -s "$dir/t.txt" "$work/text-expected.txt" ||
    fail "text/t.txt is not the native kurvane --text --min-score=70 output"
  { settings_bytes dat 1 1 0 '' '' 00000 111111111; printf 'KVX1\2\0\4\0\1\0\0\0\3\0\4\0\x46\0\0\0'; } \
    >"$work/text-settings.dat"
  cmp -s "$dir/setting.dat" "$work/text-settings.dat" ||
    fail "text/setting.dat is not the layout and the filter's records: $(od -An -tx1 "$dir/setting.dat" | tr -s ' \n' ' ')"
  run_driver reread-text "$dir"
  cmp -s "$dir/setting.dat" "$work/text-settings.dat" || fail "text/setting.dat changed on a save by this build"
  expect_listing "$dir" setting.dat t.dat t.txt
}

# The Auto button finds the key of an XORed file; the output is the native
# kurvane's under that key, and setting.dat holds it (no block).
scenario_xor_auto() {
  local dir
  dir=$(scenario_dir xor-auto)
  mkdir -p "$dir"
  options_data xor 5A >"$dir/x.dat"
  "$native_cli" --defaults -x 0x5A -o "$work/xor-expected.txt" "$dir/x.dat"
  run_driver xor-auto "$dir"
  cmp -s "$dir/x.txt" "$work/xor-expected.txt" || fail "xor-auto/x.txt is not the native kurvane -x 0x5A output"
  expect_settings_file "$dir/setting.dat" dat 1 1 90 '' '' 00000 111111111
  expect_listing "$dir" setting.dat x.dat x.txt
}

# The input encoding chosen is stored as its record and read back.
scenario_input_encoding() {
  local dir
  dir=$(scenario_dir input-encoding)
  mkdir -p "$dir"
  run_driver input-encoding "$dir"
  { settings_bytes '' 1 1 0 '' '' 00000 111111111; printf 'KVX1\4\0\4\0\3\0\0\0'; } >"$work/input-settings.dat"
  cmp -s "$dir/setting.dat" "$work/input-settings.dat" ||
    fail "input-encoding/setting.dat is not the layout and the UTF-16LE record: $(od -An -tx1 "$dir/setting.dat" | tr -s ' \n' ' ')"
  run_driver reread-input-encoding "$dir"
  cmp -s "$dir/setting.dat" "$work/input-settings.dat" || fail "input-encoding/setting.dat changed on a reread"
}

# ---- kurvane-cli.exe

# Two inputs whose outputs differ only in the case of É are one file on
# Windows: kurvane-cli.exe refuses them before writing anything (exit 2).
cli_clash() {
  local dir status=0
  dir=$(scenario_dir cli-clash)
  mkdir -p "$dir"
  printf '\x82\xa0' >"$dir/Été.1.dat"
  printf '\x82\xa2' >"$dir/été.2.dat"
  (cd "$dir" && timeout 60 wine "$cli" Été.1.dat été.2.dat) >"$dir/out.log" 2>&1 || status=$?
  if [ "$status" -ne 2 ]; then
    echo "FAIL [$locale_now] [cli clash]: exit $status, expected 2: $(tr -d '\r' <"$dir/out.log")"
    failures=$((failures + 1))
    return
  fi
  local before=$failures
  expect_listing "$dir" Été.1.dat été.2.dat out.log
  [ "$failures" -eq "$before" ] && echo "ok [cli clash]"
}

# ---- kurvane-cli.exe: what it writes and what it says

# Nothing the user names is destroyed, and every message is one line in the
# message language: an input redirected into its own output and settings
# saved onto an input are refused (exit 2) with the file as it was; NUL is
# written as the device it is; a name with a line break stays on one line;
# the -e walk speaks English outside a Japanese locale.
cli_safety() {
  local dir status before=$failures
  dir=$(scenario_dir cli-safety)
  mkdir -p "$dir"
  printf '\0\x82\xa0\0' >"$dir/x.dat"
  local case_name script expected_status
  while IFS='|' read -r case_name expected_status script; do
    status=0
    (cd "$dir" && cli=$cli eval "$script") >"$dir/err.log" 2>&1 || status=$?
    if [ "$status" -ne "$expected_status" ]; then
      fail "[cli safety] $case_name: exit $status, expected $expected_status: $(tr -d '\r' <"$dir/err.log")"
    elif [ "$(tr -d '\r' <"$dir/err.log" | wc -l)" -gt 1 ]; then
      fail "[cli safety] $case_name: more than one line: $(tr -d '\r' <"$dir/err.log")"
    fi
    expect_bytes "$dir/x.dat" '\0\x82\xa0\0'
  done <<'CASES'
appended to its own output|2|timeout 60 wine "$cli" -o - x.dat >>x.dat
standard input appended to itself|2|timeout 60 wine "$cli" <x.dat >>x.dat
settings saved onto the input|2|timeout 60 wine "$cli" --save-settings=x.dat x.dat
settings saved onto the output|2|timeout 60 wine "$cli" --save-settings=x.txt x.dat
settings saved to NUL|0|timeout 60 wine "$cli" --save-settings=NUL
a name with a line break|1|timeout 60 wine "$cli" "$(printf 'nl\nmissing.dat')"
CASES
  expect_listing "$dir" x.dat err.log
  status=0
  (cd "$dir" && timeout 60 wine "$cli" -e xyz) >"$dir/err.log" 2>&1 || status=$?
  case $locale_now in
    ja_*) expect_bytes "$dir/err.log" 'kurvane: *.xyz\x83t\x83@\x83C\x83\x8b\x82\xcd\x94\xad\x8c\xa9\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81\x42\r\n' ;;
    *) expect_bytes "$dir/err.log" 'kurvane: no file matches *.xyz\r\n' ;;
  esac
  [ "$failures" -eq "$before" ] && echo "ok [cli safety]"
}

# ---- large inputs through kurvane-cli.exe

# 64 MiB of a corpus kind under the settings it is made for: kurvane-cli.exe
# under Wine must write the bytes the native kurvane writes. The single-
# threaded Windows file front end and the 4 MiB pieces and 1 MiB output
# blocks of the pass all come into play.
large_input() {  # corpus kind
  local kind=$1 dir status=0 problem=
  dir=$(scenario_dir "large-$1")
  mkdir -p "$dir"
  "$make_corpus" --settings "$dir/setting.dat" "$kind" 64M "$dir/input.dat"
  "$native_cli" -s "$dir/setting.dat" -o "$dir/native.txt" "$dir/input.dat" || status=$?
  if [ "$status" -ne 0 ]; then
    problem="native kurvane exit $status"
  else
    (cd "$dir" && timeout 300 wine "$cli" -s setting.dat -o windows.txt input.dat) || status=$?
    if [ "$status" -ne 0 ]; then
      problem="kurvane-cli.exe exit $status"
    elif ! cmp "$dir/native.txt" "$dir/windows.txt"; then
      problem="kurvane-cli.exe wrote $(stat -c %s "$dir/windows.txt") bytes, kurvane $(stat -c %s "$dir/native.txt"), not the same"
    fi
  fi
  if [ -n "$problem" ]; then
    echo "FAIL [$locale_now] [large $kind]: $problem"
    failures=$((failures + 1))
  else
    echo "ok [large $kind]"
    rm -rf "$dir"
  fi
}

step() {
  local t0
  t0=$(now_us)
  printf '%-30s\n' "$1"
  shift
  "$@"
  printf '  %s s\n' "$(seconds_since "$t0")"
}

before=$failures
check_executable
[ "$failures" -eq "$before" ] && echo "executable and resources   ok"

step "X display" kurvane_xvfb_start "$work"
for locale_now in $kurvane_wine_locales; do
  kurvane_wine_locale "$locale_now"
  mkdir -p "$work/$locale_now"
  echo "---- $locale_now (code page $(kurvane_wine_code_page "$locale_now"))"
  step "Wine prefix" kurvane_wine_prefix "$work/$locale_now/prefix"
  step "scenario main" scenario_main
  step "scenario star" scenario_star
  step "scenarios settings, restart" scenario_settings_and_restart
  step "scenario names" scenario_names
  step "scenario clash" scenario_clash
  step "scenario walk ($walk_size)" scenario_walk
  step "scenario folder" scenario_folder
  step "scenarios drop, browse" scenario_drop
  step "scenario failure" scenario_failure
  step "scenarios utf8, previous build" scenario_utf8
  step "scenarios text, reread-text" scenario_text
  step "scenario xor-auto" scenario_xor_auto
  step "scenarios input encoding" scenario_input_encoding
  step "kurvane-cli.exe clash" cli_clash
  step "kurvane-cli.exe safety" cli_safety
  step "large inputs, text" large_input text
  step "large inputs, long runs" large_input long-runs
  kurvane_wine_server_stop
done
locale_now=
if [ -n "$walk_input" ] && [ "$failures" -eq 0 ]; then rm -rf "$walk_input"; fi

if [ "$failures" -ne 0 ]; then
  echo "wine end-to-end: $failures failure(s), $(seconds_since "$started") s"
  exit 1
fi
echo "wine end-to-end: all passed, $(seconds_since "$started") s"
