#!/usr/bin/env bash
# Starts the Windows program kurvane.exe under Wine on your X display, working
# in a directory of your choice: the files it lists, setting.dat and the .txt
# outputs are that directory's. Builds the program first when needed.
#
#   bash scripts/run-dialogs.sh [directory [file or folder]...]
#
# The directory defaults to the current one. Files and folders after it are
# handed to the program as its arguments, as a drop on its icon does.
#
# The Wine prefix (Japanese fonts, code page 932) is made once and kept in
# build/wine-prefix, or in KURVANE_WINEPREFIX. KURVANE_WINE_LOCALE=en_US.UTF-8
# runs the program as on an English Windows (code page 1252) with the Japanese
# fonts, in build/wine-prefix-en_US.UTF-8. KURVANE_MINGW_BUILD selects the
# MinGW build directory (default build/mingw).
set -euo pipefail
dir=${1:-.}
[ $# -gt 0 ] && shift
# Windows paths (drive Z: is the root) of the arguments, resolved here.
arguments=()
for given in "$@"; do
  full=$(realpath -- "$given")
  arguments+=("Z:${full//\//\\}")
done
if [ ! -d "$dir" ]; then
  echo "kurvane: $dir is not a directory" >&2
  exit 1
fi
dir=$(cd "$dir" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh

if [ -z "${DISPLAY:-}" ]; then
  echo "kurvane: no X display (DISPLAY is not set); the dialogs need one" >&2
  exit 1
fi
build=${KURVANE_MINGW_BUILD:-$root/build/mingw}
case $build in /*) ;; *) build=$root/$build ;; esac
locale=${KURVANE_WINE_LOCALE:-ja_JP.UTF-8}
# A prefix keeps the code page it was booted with: one per locale.
default_prefix=$root/build/wine-prefix
[ "$locale" = ja_JP.UTF-8 ] || default_prefix=$root/build/wine-prefix-$locale
prefix=${KURVANE_WINEPREFIX:-$default_prefix}

kurvane_wine_setup
kurvane_wine_code_page "$locale" >/dev/null
kurvane_wine_locale "$locale"
kurvane_wine_build "$build" >/dev/null
if [ -f "$prefix/system.reg" ]; then
  export WINEPREFIX=$prefix
else
  echo "kurvane: preparing the Wine prefix $prefix" >&2
  # Windows managed by your window manager.
  kurvane_wine_prefix "$prefix" Y
fi

cd "$dir"
exec wine "$build/src/app/kurvane.exe" "${arguments[@]}"
