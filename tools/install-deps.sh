#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, skipping what is there.
# Both Windows targets are always built (the cross compilers run on any 64-bit host);
# 32-bit Wine is installed only where this machine can execute 32-bit code.
set -eu
cd "$(dirname "$0")/.."
packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libz-mingw-w64-dev wine wine64 xvfb xauth
          googletest cmake make clang-14 libclang-rt-14-dev zlib1g-dev python3 pigz)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

install() {
  local missing=()
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
}

install "${packages[@]}"
. tools/targets.sh
if can_run_32bit; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -qq
  fi
  install wine32:i386
fi
