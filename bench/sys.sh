#!/usr/bin/env bash
# System-service benchmarks, side by side in one run (figures in seconds, ratio ours/theirs):
#   CopyDirectoryTree of 2,000 small files in 50 folders, into an empty and a half-full folder,
#   against Wine's xcopy /E /I /D of the same tree (goal: ratio <= 1.0);
#   VerifyPackage of a 50 MB signed package under Wine against osslsigncode verify natively.
# usage: bench/sys.sh [BUILD_DIR]   (a 32-bit Windows build; default build/windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/windows}" && pwd)
cmake --build "$build" -j2 --target sys_bench pki >/dev/null
wine() { "$root/scripts/wine.sh" run "$build" "$@"; }
"$root/scripts/wine.sh" setup "$build"

work=$(mktemp -d "$build/sys-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
winwork="Z:${work//\//\\}"

# 50 folders of 40 small files each.
for d in $(seq -w 1 50); do
    mkdir -p "$work/src/folder$d"
    for f in $(seq -w 1 40); do head -c $((200 + 10#$f * 37)) /dev/urandom > "$work/src/folder$d/file$f.dat"; done
done
echo "tree: $(find "$work/src" -type f | wc -l) files in $(find "$work/src" -mindepth 1 -type d | wc -l) folders"
wine "$build/bench/sys_bench.exe" copy "$winwork\\src" "$winwork" | tr -d '\r' | grep -v 'copied$'

# A 50 MB package: the signing image with 50 MB of data after it, all of it under the signature.
pki="$build/fixtures/pki"
{ cat "$build/fixtures/pki-input/signee.exe"; head -c 52428800 /dev/urandom; } > "$work/big.exe"
osslsigncode sign -certs "$pki/dekavroline.crt" -key "$pki/dekavroline.key" -h sha256 \
    -in "$work/big.exe" -out "$work/big-signed.exe" >/dev/null
theirs=999
for _ in 1 2 3; do
    start=$(date +%s.%N)
    osslsigncode verify -CAfile "$pki/root.crt" -in "$work/big-signed.exe" >/dev/null
    end=$(date +%s.%N)
    theirs=$(echo "t = $end - $start; if (t < $theirs) t else $theirs" | bc -l)
done
ours=$(wine "$build/bench/sys_bench.exe" verify "$winwork\\big-signed.exe" 3 | tr -d '\r' | awk '/verify_ours_s/ {print $2}')
printf 'verify_ours_s %.3f\nverify_osslsigncode_s %.3f (best of 3, natively)\nverify_ratio %.2f\n' \
    "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
