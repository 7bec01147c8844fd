#!/usr/bin/env bash
# Start-up benchmark under Wine: Morvane.exe's path to the local wizard (no newer revision)
# against a floor program that only opens the wizard, side by side in one run.
#   bench/startup.sh [--quick] [BUILD_DIR] [PAIRS] [HOSTILE_RUNS]  (default build/windows, 15, 3;
#                                                                  --quick: 2 pairs, 1 run)
# The build must be configured with a loopback MORVANE_SUPPORT_URL (scripts/build.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
build=${1:-build/windows}
pairs=${2:-15} hostile=${3:-3}
if [ "$quick" = 1 ]; then pairs=2 hostile=1; fi
scripts/wine.sh setup "$build"
python3 bench/startup.py "$build" "$pairs" "$hostile"
