#!/usr/bin/env bash
# Start-up benchmark under Wine: Morvane.exe's path to the local wizard (no newer revision)
# against a floor program that only opens the wizard, side by side in one run.
#   bench/startup.sh [BUILD_DIR] [PAIRS] [HOSTILE_RUNS]     (default build/windows, 15, 3)
# The build must be configured with a loopback MORVANE_SUPPORT_URL (scripts/build.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/windows}
scripts/wine.sh setup "$build"
exec python3 bench/startup.py "$build" "${2:-15}" "${3:-3}"
