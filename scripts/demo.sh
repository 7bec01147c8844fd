#!/usr/bin/env bash
# Builds Morvane.exe and shows it at work under Wine against a loopback control file: once with
# a newer revision on offer (it shows its dialog), once without (it starts the local wizard).
#   scripts/demo.sh [BUILD_DIR]        (default build/windows)
# The connectivity probe must reach a support server on loopback, which the demo serves on the
# port of MORVANE_SUPPORT_URL (default http://127.0.0.1:28731, the one scripts/build.sh uses).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/windows}
support=${MORVANE_SUPPORT_URL:-http://127.0.0.1:28731}
scripts/setup.sh
cmake --preset windows -B "$build" -DMORVANE_SUPPORT_URL="$support" >/dev/null
cmake --build "$build" -j 2 --target Morvane stub_wizard launcher ui_driver >/dev/null
scripts/wine.sh setup "$build"
status=0
python3 scripts/demo.py "$build" || status=$?
scripts/wine.sh teardown "$build"
exit $status
