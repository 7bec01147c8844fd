#!/usr/bin/env bash
# Builds Morvane.exe and shows it at work under Wine against a loopback control file: once with
# a newer revision on offer (it shows its dialog), once without (it starts the local wizard).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build/windows
# The connectivity probe must reach a loopback support server; the demo serves one there.
cmake --preset windows -DMORVANE_SUPPORT_URL=http://127.0.0.1:28731 >/dev/null
cmake --build --preset windows -j 2 --target Morvane stub_wizard launcher ui_driver >/dev/null
scripts/wine.sh setup "$build"
exec python3 scripts/demo.py "$build"
