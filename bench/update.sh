#!/usr/bin/env bash
# Update benchmark under Wine, side by side in one run on loopback: Morvane's download of a
# 50 MB package against a plain URLDownloadToFileW caller (over http, and over https), the time
# from Yes to the new wizard split by step, Morvane's peak memory during the download and the
# check, and the bytes a resumed download fetches after a cut at 90%.
#   bench/update.sh [BUILD_DIR] [RUNS]     (default build/windows, 3)
# The build must be configured with a loopback MORVANE_SUPPORT_URL (scripts/build.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/windows}
cmake --build "$build" -j2 --target Morvane download_floor stub_wizard launcher ui_driver \
      morvane-sfx morvane-pack pki download_host install_root >/dev/null
scripts/wine.sh setup "$build"
exec python3 bench/update.py "$build" "${2:-3}"
