#!/usr/bin/env bash
# Builds the three presets. The 32-bit build's ctest also runs the other two builds' tests.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 -j "$jobs"
cmake --preset windows -DMORVANE_ALSO_TEST="build/native;build/windows-x64" >/dev/null
cmake --build --preset windows -j "$jobs"
