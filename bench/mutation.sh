#!/usr/bin/env bash
# The mutation bench (bench/mutation.py): how many single faults in the portable rule files
# the native tests catch, per file. Needs universalmutator: installed with pip when it can be,
# otherwise --tool PATH to a checkout of its repository (or MORVANE_UNIVERSALMUTATOR=PATH).
# usage: bench/mutation.sh [--tool PATH] [--sample N] [--timeout S] [--report] [FILE...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exec nice -n 10 python3 "$root/bench/mutation.py" "$@"
