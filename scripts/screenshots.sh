#!/usr/bin/env bash
# PNG pictures of kurvane.exe's windows as Wine draws them with the Japanese
# fonts: the main dialog with a file list, the settings dialog and the
# completion message. The test driver opens each window and holds it while
# ImageMagick's import takes the picture from a private Xvfb display.
#
#   bash scripts/screenshots.sh [output directory]   (default build/screenshots)
#
# KURVANE_MINGW_BUILD selects the MinGW build directory (default build/mingw).
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
kurvane_wine_prefix "$work/prefix"

files=$work/files
mkdir -p "$files"
printf '\0\x82\xa0\x82\xa2\x82\xa4\0' >"$files/a.dat"
printf '\x8a\xbf\x8e\x9a' >"$files/b.dat"
printf '\x82\xa0' >"$files/テスト.dat"

status=0
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
    mv "$work/new.png" "$out/$name.png"
    rm -f "$work/last.png"
    echo "$out/$name.png"
    touch "$files/shot-taken"
  else
    echo "$word $name $x $y $width $height"
  fi
done < <(cd "$files" && timeout 120 wine "$driver" screens "Z:${exe//\//\\}") || status=$?
wait $! || status=$?
exit "$status"
