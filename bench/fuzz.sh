#!/usr/bin/env bash
# Longer fuzzing on demand: runs each libFuzzer target of tests/fuzz for MINUTES minutes from
# a corpus of its own under the build folder, seeded by the tests' own inputs (the seed folders
# kept in tests/fuzz and the ones the build writes from the tests' builders) and with the
# target's dictionary when it has one. Prints runs, coverage and findings per target; a finding
# is an input libFuzzer saved (crash, leak, timeout, out-of-memory), left in the target's
# artifacts folder. CI runs each target for a few seconds only (tests/fuzz/CMakeLists.txt).
# usage: bench/fuzz.sh MINUTES [BUILD_DIR] [PARALLEL] [TARGET...]
#   BUILD_DIR: a native build (default build/native); PARALLEL: targets at once (default 1)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:?usage: bench/fuzz.sh MINUTES [BUILD_DIR] [PARALLEL] [TARGET...]}
build=$(cd "${2:-$root/build/native}" && pwd)
parallel=${3:-1}
shift $(( $# < 3 ? $# : 3 ))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in "$root"/tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
seconds=$(awk -v m="$minutes" 'BEGIN { print int(m * 60) }')
# Each target depends on its seed folder, so this writes the seeds too.
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

out="$build/fuzz-bench"
run_one() {
    local target=$1 dir="$out/$1"
    mkdir -p "$dir/corpus" "$dir/artifacts"
    local seeds=()
    for s in "$root/tests/fuzz/${target%_fuzz}_seeds" "$build/tests/fuzz/$target-seeds" \
             "$build/tests/fuzz/$target-corpus"; do
        [ -d "$s" ] && seeds+=("$s")
    done
    local options=(-max_total_time=$seconds -rss_limit_mb=1024 -print_final_stats=1
                   -artifact_prefix="$dir/artifacts/")
    [ -f "$root/tests/fuzz/$target.dict" ] && options+=(-dict="$root/tests/fuzz/$target.dict")
    # Longer inputs than the default, as under ctest, so tables past the headers are tried.
    [ "$target" = pe_certificate_fuzz ] && options+=(-max_len=16384)
    "$build/tests/fuzz/$target" "${options[@]}" "$dir/corpus" "${seeds[@]}" >"$dir/log" 2>&1 \
        && echo 0 >"$dir/status" || echo $? >"$dir/status"
}

rm -rf "$out"/*/artifacts "$out"/*/log
running=0
for t in "${targets[@]}"; do
    run_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$parallel" ]; then wait -n || true; running=$((running - 1)); fi
done
wait

printf '%-24s %8s %12s %8s %8s %8s %9s\n' target minutes runs cov ft corpus findings
for t in "${targets[@]}"; do
    dir="$out/$t"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
    last=$(grep -E '^#[0-9]+.*cov: ' "$dir/log" | tail -1)
    cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$last")
    corpus=$(find "$dir/corpus" -type f | wc -l)
    findings=$(find "$dir/artifacts" -type f | wc -l)
    printf '%-24s %8s %12s %8s %8s %8s %9s\n' "$t" "$minutes" "${runs:-?}" "${cov:-?}" \
        "${ft:-?}" "$corpus" "$findings"
    [ "$(cat "$dir/status")" = 0 ] || echo "  $t stopped with status $(cat "$dir/status"): $dir/log"
done
[ -z "$(find "$out" -path '*/artifacts/*' -type f)" ]
