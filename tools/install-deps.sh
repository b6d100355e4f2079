#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, skipping what is there.
set -eu
packages=(g++-mingw-w64-i686 mingw-w64-tools libz-mingw-w64-dev wine wine32:i386 xvfb xauth
          googletest cmake make clang-14 libclang-rt-14-dev zlib1g-dev python3)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
