#!/usr/bin/env bash
# Every benchmark once in its quick mode (one short pass over small inputs), against the Windows
# build this machine runs: what CI runs, so that no benchmark stops working unnoticed. The
# figures are printed, not judged; a benchmark that fails, or ends without its figures, fails
# this run, which names it.
#   bench/quick.sh [WINDOWS_BUILD_DIR] [NATIVE_BUILD_DIR]   (default build/windows, build/native)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$(realpath -m "${1:-build/windows}")
native=$(realpath -m "${2:-build/native}")
# Where no 32-bit program runs, the 64-bit build stands in for the 32-bit one, as in the tiers.
if [ "$(basename "$build")" = windows ] &&
    { [ "${MORVANE_NO_32BIT:-}" = 1 ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; }; then
    build=$(dirname "$build")/windows-x64
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
failed=()

# run SCRIPT FIGURE ARGS...: the benchmark's quick pass; FIGURE is a line its figures end with.
run() {
    local script=$1 figure=$2
    shift 2
    local began=$SECONDS
    echo "== bench/$script --quick $*"
    if ! bash "bench/$script" --quick "$@" 2>&1 | tee "$log"; then
        failed+=("$script (it failed)")
    elif ! grep -q "$figure" "$log"; then
        failed+=("$script (no \"$figure\" line)")
    fi
    echo "   ($((SECONDS - began)) s)"
}

run pack.sh "ratio (goal <= 1.10)" "$build"
run sys.sh "verify_ratio" "$build"
run startup.sh "ratio Morvane/floor" "$build"
run update.sh "benchmark_s" "$build"
run picture.sh "longest message the window thread handled" "$native" "$build"

if [ ${#failed[@]} -gt 0 ]; then
    printf 'benchmark without figures: %s\n' "${failed[@]}" >&2
    exit 1
fi
echo "every benchmark printed its figures"
