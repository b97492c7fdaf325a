# Sourced by the project's scripts: makes sure the Debian packages a step needs
# are installed. As root it installs what is missing with apt-get; otherwise it
# names exactly what is missing and stops.

native_packages="cmake make g++ libgtest-dev libbenchmark-dev binutils groff-base python3 debian-reference-ja developers-reference-ja skkdic"
sanitizer_packages="clang libclang-rt-14-dev"
windows_packages="g++-mingw-w64-x86-64-posix wine wine64 fonts-wine xvfb xauth fonts-ipafont-gothic locales"

kurvane_ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "kurvane: missing Debian packages: ${missing[*]}" >&2
    echo "kurvane: install them with: sudo apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  echo "kurvane: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2 || true
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}
