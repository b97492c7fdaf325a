# Sourced by the scripts that run kurvane.exe under Wine (tests/wine/run.sh,
# scripts/screenshots.sh, scripts/run-dialogs.sh). Gives:
#   kurvane_wine_setup [extra packages]  packages, the ja_JP.UTF-8 and
#                                        en_US.UTF-8 locales, the environment
#                                        (LANG=ja_JP.UTF-8: code page 932)
#   kurvane_wine_locale <locale>         LANG for the next prefix and runs
#   kurvane_wine_code_page <locale>      the ANSI code page Wine gives it
#   kurvane_xvfb_start <dir>             a private X display (sets DISPLAY)
#   kurvane_wine_prefix <dir>            a throw-away Wine prefix with Japanese
#                                        fonts, booted under DISPLAY and LANG
#   kurvane_wine_server_stop             ends the current prefix's wineserver
#   kurvane_wine_stop                    ends the prefix's wineserver and Xvfb
#   kurvane_wine_build <build dir>       configures and builds the MinGW targets
# shellcheck shell=bash

kurvane_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/deps.sh
. "$kurvane_root/scripts/deps.sh"

kurvane_xvfb_pid=
kurvane_wine_ready=

# The locales the Wine runs use: a Japanese system (code page 932) and an
# English one (code page 1252) with the Japanese fonts installed.
# KURVANE_WINE_LOCALES picks some of them.
kurvane_wine_locales=${KURVANE_WINE_LOCALES:-"ja_JP.UTF-8 en_US.UTF-8"}

kurvane_wine_setup() {
  kurvane_ensure_packages $windows_packages "$@"
  # Wine takes its ANSI code page from the glibc locale: a missing locale
  # gives 1252 whatever LANG says, and non-ASCII file names break.
  local available locale
  available=$(locale -a 2>/dev/null || true)
  for locale in $kurvane_wine_locales; do
    if ! grep -qix "${locale%%.*}.utf-\?8" <<<"$available"; then
      if [ "$(id -u)" -ne 0 ]; then
        echo "kurvane: the $locale locale is missing; as root run: localedef -i ${locale%%.*} -f UTF-8 $locale" >&2
        exit 1
      fi
      echo "kurvane: generating the $locale locale" >&2
      localedef -i "${locale%%.*}" -f UTF-8 "$locale"
    fi
  done
  kurvane_wine_locale ja_JP.UTF-8
  export WINEARCH=win64
  export WINEDEBUG=${KURVANE_WINEDEBUG:--all}
  # No Mono or Gecko installer prompts in a fresh prefix.
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

kurvane_wine_locale() {
  export LANG=$1
  unset LC_ALL LC_CTYPE LC_MESSAGES LC_COLLATE
}

kurvane_wine_code_page() {
  case $1 in
    ja_JP.*) echo 932 ;;
    en_US.*) echo 1252 ;;
    *) echo "kurvane: no code page known for $1" >&2; return 1 ;;
  esac
}

# Starts Xvfb on a display it picks itself (-displayfd), so that parallel runs
# never collide; KURVANE_XVFB_SCREEN sets its size (default 1024x768x24).
kurvane_xvfb_start() {
  local dir=$1 number='' _
  Xvfb -displayfd 3 -screen 0 "${KURVANE_XVFB_SCREEN:-1024x768x24}" -nolisten tcp 3>"$dir/xvfb-display" 2>"$dir/xvfb.log" &
  kurvane_xvfb_pid=$!
  for _ in $(seq 100); do
    number=$(cat "$dir/xvfb-display" 2>/dev/null || true)
    [ -n "$number" ] && break
    kill -0 "$kurvane_xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$number" ]; then
    echo "kurvane: Xvfb did not start:" >&2
    cat "$dir/xvfb.log" >&2
    return 1
  fi
  export DISPLAY=":$number"
}

# The registry settings of the prefix, as a UTF-16 .reg file:
# - no window manager runs, so windows must be unmanaged, or every hide and
#   destroy waits two seconds for one;
# - the dialogs' font and the message boxes' fallback map to IPA fonts.
kurvane_wine_registry() {
  local managed=$1
  printf '\xff\xfe'
  iconv -f UTF-8 -t UTF-16LE <<EOF
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="$managed"

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]
"ＭＳ Ｐゴシック"="IPAPGothic"
"MS PGothic"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS Gothic"="IPAGothic"
"MS UI Gothic"="IPAPGothic"

EOF
}

# Creates and boots a prefix under the current DISPLAY and LANG (a prefix
# keeps the code page it was booted with), then waits for the
# boot's background processes: a program started while they still run may
# never get its dialog. Wine's own messages go to wineboot.log beside the
# prefix. The second argument is Y for a desktop with a window manager.
kurvane_wine_prefix() {
  export WINEPREFIX=$1
  local log=$1.wineboot.log managed=${2:-N}
  mkdir -p "$WINEPREFIX"
  kurvane_wine_ready=1
  wineboot --init >"$log" 2>&1
  wineserver -w
  kurvane_wine_registry "$managed" >"$WINEPREFIX/drive_c/kurvane.reg"
  wine regedit /S 'C:\kurvane.reg' >>"$log" 2>&1
  # Without marlett the close box shows an "r".
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  wineserver -w
}

kurvane_wine_server_stop() {
  if [ -n "$kurvane_wine_ready" ]; then
    wineserver -k 2>/dev/null || true
    kurvane_wine_ready=
  fi
}

kurvane_wine_stop() {
  kurvane_wine_server_stop
  if [ -n "$kurvane_xvfb_pid" ]; then
    kill "$kurvane_xvfb_pid" 2>/dev/null || true
    wait "$kurvane_xvfb_pid" 2>/dev/null || true
    kurvane_xvfb_pid=
  fi
}

kurvane_wine_build() {
  local build=$1
  kurvane_ensure_packages cmake make
  if [ ! -f "$build/CMakeCache.txt" ]; then
    mkdir -p "$build"
    cmake --preset mingw -B "$build" >"$build/configure.log" 2>&1 || {
      cat "$build/configure.log" >&2
      return 1
    }
  fi
  cmake --build "$build" -j2 --target kurvane_gui kurvane-cli kurvane_wine_driver
}
