#!/usr/bin/env bash
# Builds the three presets. The 32-bit build's ctest also runs the other two builds' tests.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${MORVANE_BUILD_JOBS:-$(nproc)}
# The tests probe a support server on loopback; the shipped default is an https address.
# MORVANE_SUPPORT_PORT moves it, so two checkouts on one machine can run their scenarios at once.
# The tests sign with keys made at test time, so the test build cannot pin them.
port=${MORVANE_SUPPORT_PORT:-28731}
support="-DMORVANE_SUPPORT_URL=http://127.0.0.1:$port -DMORVANE_ALLOW_UNPINNED_SIGNER=ON"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
cmake --preset windows-x64 $support >/dev/null
cmake --build --preset windows-x64 -j "$jobs"
cmake --preset windows $support -DMORVANE_ALSO_TEST="build/native;build/windows-x64" >/dev/null
cmake --build --preset windows -j "$jobs"
