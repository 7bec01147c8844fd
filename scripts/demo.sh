#!/usr/bin/env bash
# Builds Morvane.exe and shows it at work under Wine against a loopback control file: a real
# update to a package made and signed the way a publisher would, a package from another signer
# refused, and nothing newer on offer (the local wizard starts at once).
#   scripts/demo.sh [BUILD_DIR]        (default build/windows)
# The connectivity probe must reach a support server on loopback, which the demo serves on the
# port of MORVANE_SUPPORT_URL (default http://127.0.0.1:28731, the one scripts/build.sh uses).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/windows}
support=${MORVANE_SUPPORT_URL:-http://127.0.0.1:28731}
targets="Morvane stub_wizard launcher ui_driver morvane-sfx morvane-pack pki"
scripts/setup.sh
# The packer runs natively; it signs through osslsigncode.
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target morvane-pack >/dev/null
# The demo signs with a throwaway key made on the spot, which no build can pin.
unpinned=-DMORVANE_ALLOW_UNPINNED_SIGNER=ON
cmake --preset windows -B "$build" -DMORVANE_SUPPORT_URL="$support" $unpinned \
      -DMORVANE_ALSO_TEST="build/native;build/windows-x64" >/dev/null
cmake --build "$build" -j 2 --target $targets >/dev/null
run_build=$build
# A machine that runs no 32-bit programs runs the 64-bit build of the same sources.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    run_build=build/windows-x64
    cmake --preset windows-x64 -DMORVANE_SUPPORT_URL="$support" $unpinned >/dev/null
    cmake --build --preset windows-x64 -j 2 --target $targets >/dev/null
fi
scripts/wine.sh setup "$run_build"
status=0
python3 scripts/demo.py "$build" || status=$?
scripts/wine.sh teardown "$run_build"
exit $status
