#!/usr/bin/env bash
# Installs what building and testing Morvane needs on a Debian machine, where it is missing.
set -euo pipefail

packages=(cmake make clang clang-format libclang-rt-14-dev g++ python3 openssl
          mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
          wine wine64 wine32:i386 fonts-wine xvfb xauth x11-utils osslsigncode imagemagick
          googletest libgtest-dev libgif-dev)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
# 32-bit programs need the i386 Wine; it must be there before the first prefix is made.
$sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
