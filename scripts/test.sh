#!/usr/bin/env bash
# Sets up a fresh Debian machine if needed, builds everything and runs every test tier:
# native (ASan/UBSan), fuzz, Windows (Wine, 32- and 64-bit), end-to-end and the benchmarks'
# quick pass, in one ctest run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
# The tiers run side by side where they share nothing: the native tier, each Windows build's
# prefix, and the end-to-end lanes (tests/e2e/lane.py); each of them runs its tests in turn.
ctest --test-dir build/windows --output-on-failure -j "${MORVANE_TEST_JOBS:-5}" "$@"
