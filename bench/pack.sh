#!/usr/bin/env bash
# Package extraction against xcopy, side by side in one run under Wine (figures in seconds,
# ratio ours/xcopy; goal: ratio <= 1.1 for both trees). xcopy /E /I of the same folder is the
# floor for writing those files; both start through launch.exe, so process start-up is paid
# alike. The extractor also hashes the payload as it writes (SHA-256) and renames each file
# from a temporary name once the digest matched, which xcopy does not.
# Two trees: one 100 MB file with a few small ones, and 2,000 small files in 50 folders.
# usage: bench/pack.sh [--quick] [BUILD_DIR] [RUNS]   (a Windows build; default build/windows,
#        5 runs; --quick: one run over an 8 MB file and 200 small files)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
build=$(cd "${1:-$root/build/windows}" && pwd)
runs=${2:-5}
large_bytes=104857600 folders=50 files=40
if [ "$quick" = 1 ]; then runs=1 large_bytes=8388608 folders=10 files=20; fi
cmake --build "$build" -j2 --target morvane-pack morvane-sfx launcher >/dev/null
wine() { "$root/scripts/wine.sh" run "$build" "$@"; }
"$root/scripts/wine.sh" setup "$build"

work=$(mktemp -d "$build/pack-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
win() { local p="Z:$1"; echo "${p//\//\\}"; }
mkdir -p "$work/temp"

mkdir -p "$work/large/res"
head -c "$large_bytes" /dev/urandom > "$work/large/data.bin"
for f in 1 2 3; do head -c 4000 /dev/urandom > "$work/large/res/small$f.dat"; done
for d in $(seq -w 1 "$folders"); do
    mkdir -p "$work/many/folder$d"
    for f in $(seq -w 1 "$files"); do head -c $((200 + 10#$f * 37)) /dev/urandom > "$work/many/folder$d/file$f.dat"; done
done

# seconds PROGRAM ARGS...: wall time of one run through the launcher, its exit code checked.
seconds() {
    local start end
    start=$(date +%s.%N)
    wine "$build/fixtures/launch.exe" --temp "$(win "$work/temp")" --tmp "$(win "$work/temp")" \
        -- "$@" >/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

declare -A ratio
for tree in large many; do
    # The packer says why when it refuses; its section and revision are any valid ones.
    wine "$build/morvane-pack.exe" --from "$(win "$work/$tree")" --folder "KV$tree" \
        --out "$(win "$work/$tree.exe")" --stub "$(win "$build/morvane-sfx.exe")" \
        --section "KV Bench" --revision 1 >/dev/null
    ours=() theirs=()
    for _ in $(seq "$runs"); do
        rm -rf "$work/temp/KV$tree" "$work/copy"
        ours+=("$(seconds "$(win "$work/$tree.exe")")")
        diff -r "$work/$tree" "$work/temp/KV$tree" >/dev/null || { echo "$tree: extraction differs" >&2; exit 1; }
        theirs+=("$(seconds 'C:\windows\system32\xcopy.exe' "$(win "$work/$tree")" "$(win "$work/copy")" /E /I /Q /Y)")
        diff -r "$work/$tree" "$work/copy" >/dev/null || { echo "$tree: xcopy differs" >&2; exit 1; }
    done
    o=$(printf '%s\n' "${ours[@]}" | median)
    t=$(printf '%s\n' "${theirs[@]}" | median)
    printf '%s: %s files, %s bytes\n' "$tree" "$(find "$work/$tree" -type f | wc -l)" \
        "$(du -sb "$work/$tree" | cut -f1)"
    ratio[$tree]=$(echo "$o / $t" | bc -l)
    printf '  extract_s %.3f\n  xcopy_s %.3f (median of %d)\n  ratio %.2f\n' "$o" "$t" "$runs" \
        "${ratio[$tree]}"
done
printf 'ratio (goal <= 1.10): one large file %.2f | %d small files %.2f\n' "${ratio[large]}" \
    $((folders * files)) "${ratio[many]}"
