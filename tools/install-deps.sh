#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, skipping what is there.
#
#   install-deps.sh [BUILD]
#
# What the 64-bit build and its tests need is required: where apt cannot install it, the
# install stops with apt's message and a line naming the package. 32-bit Wine is wanted
# only where this machine executes 32-bit code, and even there a package mirror whose i386
# side is out of step may put it out of reach: then one line says why, quoting apt, the
# reason is kept in BUILD/wine32-unavailable for the suites (tools/targets.sh), and the
# install goes on. Both Windows targets are always built: the cross compilers run anywhere.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/targets.sh"

REQUIRED=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libz-mingw-w64-dev wine wine64 xvfb
          xauth googletest cmake make clang-14 libclang-rt-14-dev zlib1g-dev python3 pigz imagemagick libpng-dev
          qpdf poppler-utils libjbig2dec0-dev mupdf-tools liblcms2-utils)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
RETRY_WAIT=${PAGOREX_APT_RETRY_WAIT:-20}

# apt's own last error in its output: the last "E:" line, else the last line said.
apt_last_error() {
  local e
  e=$(grep -E '^E: ' <<<"$1" | tail -n 1)
  [ -n "$e" ] || e=$(grep -v '^[[:space:]]*$' <<<"$1" | tail -n 1)
  echo "${e:-apt-get gave no reason}"
}

missing_of() {
  local p
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done
}

# Refreshes the package index, once more after a short wait when a source fails (mirrors
# in the middle of a sync come right again). A refresh that still fails does not end the
# install: what is needed may well be resolvable from the index there is, and the install
# itself tells. UPDATE_ERROR keeps the failure for the reasons given later.
UPDATE_ERROR=""
apt_update() {
  local out try
  for try in 1 2; do
    if out=$($SUDO apt-get update -qq 2>&1); then UPDATE_ERROR=""; return 0; fi
    UPDATE_ERROR=$(apt_last_error "$out")
    if [ $try = 1 ]; then
      echo "apt-get update failed ($UPDATE_ERROR); trying once more in $RETRY_WAIT s"
      sleep "$RETRY_WAIT"
    fi
  done
  echo "The package index could not be refreshed ($UPDATE_ERROR); going on with the index there is."
  return 1
}

# Installs the packages, showing apt's output; APT_ERROR keeps its last error.
APT_ERROR=""
apt_install() {
  local log rc
  log=$(mktemp)
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  APT_ERROR=$(apt_last_error "$(cat "$log")")
  rm -f "$log"
  return "$rc"
}

install_required() {
  local missing
  mapfile -t missing < <(missing_of "${REQUIRED[@]}")
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  apt_update
  apt_install "${missing[@]}" && return 0
  # Name the packages apt cannot place, not the whole list.
  local p culprits=()
  for p in "${missing[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 && continue
    $SUDO apt-get install -s -y --no-install-recommends "$p" >/dev/null 2>&1 || culprits+=("$p")
  done
  [ ${#culprits[@]} -gt 0 ] || culprits=("${missing[@]}")
  echo "Cannot go on: ${culprits[*]} could not be installed, and the 64-bit build and the tests need it ($APT_ERROR)." >&2
  return 1
}

# Answers false, with the reason in WINE32_ERROR, when 32-bit Wine cannot be had.
install_wine32() {
  dpkg -s wine32:i386 >/dev/null 2>&1 && return 0
  local out
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    if ! out=$($SUDO dpkg --add-architecture i386 2>&1); then
      WINE32_ERROR="the i386 architecture could not be added: $(apt_last_error "$out")"
      return 1
    fi
  fi
  echo "Installing: wine32:i386"
  apt_update
  apt_install wine32:i386 && return 0
  WINE32_ERROR=$APT_ERROR
  [ -n "$UPDATE_ERROR" ] && WINE32_ERROR="$WINE32_ERROR (the index refresh had failed: $UPDATE_ERROR)"
  return 1
}

main() {
  local build=${1:-build}
  install_required || return 1
  mkdir -p "$build"
  rm -f "$build/$WINE32_STATE"
  can_run_32bit || return 0
  WINE32_ERROR=""
  if ! install_wine32; then
    echo "32-bit Wine could not be installed: $WINE32_ERROR" >"$build/$WINE32_STATE"
    echo "$(cat "$build/$WINE32_STATE"); going on with the 64-bit suite (the 32-bit programs are still built)."
  fi
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  cd "$(dirname "$0")/.." && main "$@"
fi
