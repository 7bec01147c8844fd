#!/usr/bin/env bash
# Sets up a fresh Debian machine if needed, builds everything and runs every test tier:
# native (ASan/UBSan), fuzz, Windows (Wine, 32- and 64-bit) and end-to-end, in one ctest run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
ctest --test-dir build/windows --output-on-failure "$@"
