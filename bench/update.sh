#!/usr/bin/env bash
# Update benchmark under Wine, side by side in one run on loopback, with a ~40 MB signed
# package: the dialog's longest answer and its answers over 100 ms from Yes to the end of the
# clean-up while a 40-frame 640x480 GIF animates (the UI driver's watch); Yes to the new wizard
# by step; Morvane's peak private memory during the download and the check, and while the large
# GIF animates; the download against a plain URLDownloadToFileW caller (http and https, ratio of
# medians) and the bytes a resumed download fetches after a cut at 90%.
#   bench/update.sh [--quick] [BUILD_DIR] [RUNS]   (default build/windows, 3; about 40 s a run;
#                                                  --quick: one run with a 4 MB package)
# The build must be configured with a loopback MORVANE_SUPPORT_URL (scripts/build.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
build=${1:-build/windows}
runs=${2:-3}
if [ "$quick" = 1 ]; then runs=1; fi
cmake --build "$build" -j2 --target Morvane download_floor stub_wizard launcher ui_driver \
      morvane-sfx morvane-pack pki download_host install_root >/dev/null
scripts/wine.sh setup "$build"
python3 bench/update.py "$build" "$runs"
