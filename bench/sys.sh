#!/usr/bin/env bash
# System-service benchmarks, side by side in one run (figures in seconds, ratio ours/theirs):
#   CopyDirectoryTree of 2,000 small files in 50 folders, into an empty and a half-full folder,
#   against Wine's xcopy /E /I /D of the same tree (goal: ratio <= 1.0);
#   VerifyPackage of a 50 MB signed package under Wine against osslsigncode verify natively.
# usage: bench/sys.sh [--quick] [BUILD_DIR]   (a Windows build; default build/windows;
#        --quick: 200 files, a 5 MB package, one pass)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
build=$(cd "${1:-$root/build/windows}" && pwd)
folders=50 files=40 package_bytes=52428800 passes=3
if [ "$quick" = 1 ]; then folders=10 files=20 package_bytes=5242880 passes=1; fi
cmake --build "$build" -j2 --target sys_bench pki >/dev/null
wine() { "$root/scripts/wine.sh" run "$build" "$@"; }
"$root/scripts/wine.sh" setup "$build"

work=$(mktemp -d "$build/sys-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
winwork="Z:${work//\//\\}"

# 50 folders of 40 small files each (10 of 20 when quick).
for d in $(seq -w 1 "$folders"); do
    mkdir -p "$work/src/folder$d"
    for f in $(seq -w 1 "$files"); do head -c $((200 + 10#$f * 37)) /dev/urandom > "$work/src/folder$d/file$f.dat"; done
done
echo "tree: $(find "$work/src" -type f | wc -l) files in $(find "$work/src" -mindepth 1 -type d | wc -l) folders"
wine "$build/bench/sys_bench.exe" copy "$winwork\\src" "$winwork" | tr -d '\r' | grep -v 'copied$'

# A 50 MB package (5 MB when quick): the signing image with the data after it, all of it under
# the signature.
pki="$build/fixtures/pki"
{ cat "$build/fixtures/pki-input/signee.exe"; head -c "$package_bytes" /dev/urandom; } > "$work/big.exe"
osslsigncode sign -certs "$pki/dekavroline.crt" -key "$pki/dekavroline.key" -h sha256 \
    -in "$work/big.exe" -out "$work/big-signed.exe" >/dev/null
theirs=999
for _ in $(seq "$passes"); do
    start=$(date +%s.%N)
    osslsigncode verify -CAfile "$pki/root.crt" -in "$work/big-signed.exe" >/dev/null
    end=$(date +%s.%N)
    theirs=$(echo "t = $end - $start; if (t < $theirs) t else $theirs" | bc -l)
done
ours=$(wine "$build/bench/sys_bench.exe" verify "$winwork\\big-signed.exe" "$passes" | tr -d '\r' | awk '/verify_ours_s/ {print $2}')
[ -n "$ours" ] || { echo "sys.sh: sys_bench printed no verify_ours_s" >&2; exit 1; }
printf 'verify_ours_s %.3f\nverify_osslsigncode_s %.3f (best of %d, natively)\nverify_ratio %.2f\n' \
    "$ours" "$theirs" "$passes" "$(echo "$ours / $theirs" | bc -l)"
