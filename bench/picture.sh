#!/usr/bin/env bash
# Builds and runs the picture control's benchmarks: the native GIF split against giflib, then
# under Wine the dialog thread's time in LoadFile + StartAnimation, the peak private bytes of
# an animation past the decoded-frame budget, and the animation thread's processor time.
#   bench/picture.sh [--quick] [native-build-dir] [windows-build-dir]
# PICTURE_BENCH_PRESET=windows-x64 builds the x64 flavour (for hosts that run no 32-bit code).
# A folder that is configured already is built as it is (--quick: only the drawn animation's
# walk is left out).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
native=$(realpath -m "${1:-$root/build/bench-native}")
win=$(realpath -m "${2:-$root/build/bench-win}")
cd "$root"

[ -f "$native/CMakeCache.txt" ] || cmake --preset native -B "$native" >/dev/null
cmake --build "$native" -j2 --target gif_walk_bench >/dev/null
echo "== GIF walk and frame extraction (native) against giflib"
"$native/bench/gif_walk_bench"
if [ "$quick" = 0 ] && command -v convert >/dev/null; then
    # The same comparison on a file with real LZW compression, drawn by ImageMagick.
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    convert -limit thread 1 -size 200x150 -delay 10 -loop 0 gradient:red-blue \
        \( +clone -roll +10+0 \) \( +clone -roll +10+0 \) \( +clone -roll +10+0 \) \
        -duplicate 99,0--1 "$tmp/magick.gif"
    echo "== the same on an ImageMagick animation"
    "$native/bench/gif_walk_bench" "$tmp/magick.gif"
fi

[ -f "$win/CMakeCache.txt" ] ||
    cmake --preset "${PICTURE_BENCH_PRESET:-windows}" -B "$win" -DMORVANE_ALLOW_UNPINNED_SIGNER=ON >/dev/null
cmake --build "$win" -j2 --target picture_bench >/dev/null
echo "== the picture control under Wine"
scripts/wine.sh setup "$win"
scripts/wine.sh run "$win" "$win/bench/picture_bench.exe"
if [ -f "${tmp:-}/magick.gif" ]; then
    echo "== the same on the ImageMagick animation"
    # Wine's Z: drive is the Unix root (winepath itself is the 32-bit loader on some machines).
    magick="Z:$tmp/magick.gif"
    scripts/wine.sh run "$win" "$win/bench/picture_bench.exe" "${magick//\//\\}"
fi
scripts/wine.sh teardown "$win"
