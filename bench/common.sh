# Sourced by the benchmarks. A step that fails names itself and its exit status, rather than
# ending the run in silence under `set -e`; `--quick` as the first argument asks for one short
# pass over small inputs (what CI runs), and MORVANE_BENCH_QUICK=1 tells the Python halves.
set -E
trap 'status=$?; echo "${0##*/}: failed (exit $status) at line $LINENO: $BASH_COMMAND" >&2' ERR
quick=0
if [ "${1:-}" = --quick ]; then
    quick=1
    shift
    export MORVANE_BENCH_QUICK=1
fi
