#!/usr/bin/env bash
# PNG pictures of kurvane.exe's windows as Wine draws them with the Japanese
# fonts: the main dialog with a file list, the settings dialog, the report
# of the files not converted and the completion message, once on a Japanese system (ja_JP.UTF-8, code page 932)
# and once on an English one with the Japanese fonts (en_US.UTF-8, code page
# 1252), each in a prefix of its own. The test driver opens each window and
# holds it while ImageMagick's import takes the picture from a private Xvfb
# display.
#
#   bash scripts/screenshots.sh [output directory]   (default build/screenshots)
#
# Writes <output directory>/<locale>/{main,settings,report,message}.png.
# KURVANE_MINGW_BUILD selects the MinGW build directory (default build/mingw).
# KURVANE_SHOT_DPI draws the windows at that many dots per inch (96 is 100%,
# 120 is 125%, 144 is 150%), to see that nothing clips at a larger scale
# (with KURVANE_XVFB_SCREEN=1280x1024x24 the settings dialog fits at 150%).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$root"
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh

build=${KURVANE_MINGW_BUILD:-$root/build/mingw}
case $build in /*) ;; *) build=$root/$build ;; esac
kurvane_wine_setup imagemagick
kurvane_wine_build "$build" >/dev/null
exe=$build/src/app/kurvane.exe
driver=$build/tests/wine/kurvane_wine_driver.exe

work=$(mktemp -d "${TMPDIR:-/tmp}/kurvane-shots.XXXXXX")
cleanup() {
  kurvane_wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

kurvane_xvfb_start "$work"

files=$work/files
mkdir -p "$files"
printf '\0\x82\xa0\x82\xa2\x82\xa4\0' >"$files/a.dat"
printf '\x8a\xbf\x8e\x9a' >"$files/b.dat"
printf '\x82\xa0' >"$files/テスト.dat"
printf '\x82\xa0' >"$files/台本.dat"
printf '\x82\xa0' >"$files/café.dat"
mkdir -p "$files/dir.dat"

# Takes the pictures the driver asks for into directory $1.
take_shots() {
  local to=$1 word name x y width height
  while read -r word name x y width height; do
    if [ "$word" = shot ]; then
      # Repainting runs in the program's own time: take pictures until two
      # in a row are the same.
      for _ in $(seq 50); do
        import -display "$DISPLAY" -window root -crop "${width}x${height}+${x}+${y}" +repage \
          "$work/new.png"
        if [ -f "$work/last.png" ] && cmp -s "$work/new.png" "$work/last.png"; then
          break
        fi
        mv "$work/new.png" "$work/last.png"
        sleep 0.1
      done
      [ -f "$work/new.png" ] || mv "$work/last.png" "$work/new.png"
      mv "$work/new.png" "$to/$name.png"
      rm -f "$work/last.png"
      echo "$to/$name.png"
      touch "$files/shot-taken"
    else
      echo "$word $name $x $y $width $height"
    fi
  done
}

status=0
for locale in $kurvane_wine_locales; do
  kurvane_wine_locale "$locale"
  kurvane_wine_prefix "$work/prefix-$locale"
  if [ -n "${KURVANE_SHOT_DPI:-}" ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$KURVANE_SHOT_DPI" /f >/dev/null 2>&1
    wineserver -w
  fi
  mkdir -p "$out/$locale"
  rm -f "$files"/*.txt "$files/setting.dat"
  take_shots "$out/$locale" < <(cd "$files" && timeout 120 wine "$driver" screens \
    "Z:${exe//\//\\}" "$(kurvane_wine_code_page "$locale")") || status=$?
  wait $! || status=$?
  kurvane_wine_server_stop
done
exit "$status"
