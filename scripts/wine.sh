#!/usr/bin/env bash
# Wine helpers shared by the tests and the README's commands.
#   wine.sh setup BUILD_DIR        create the build folder's prefix, start Xvfb and a wineserver
#   wine.sh run BUILD_DIR PROG ... run a Windows program in that prefix
#   wine.sh teardown BUILD_DIR     stop the wineserver and the Xvfb started by setup
# MORVANE_WINE_HOME names another folder for the prefix and its state (default BUILD_DIR): an
# end-to-end lane (tests/e2e/lane.py) runs in a prefix, wineserver and display of its own.
set -euo pipefail

cmd=${1:?command}; build=$(cd "${2:?build dir}" && pwd); shift 2
home=${MORVANE_WINE_HOME:-$build}
mkdir -p "$home"
export WINEPREFIX="$home/wineprefix"
# MORVANE_WINEDEBUG adds channels, e.g. "warn+seh": Wine 8 prints debug strings such as
# Morvane's diagnostic trail there (later Wine versions on "+debugstr").
export WINEDEBUG="-all${MORVANE_WINEDEBUG:+,$MORVANE_WINEDEBUG}"
# MORVANE_DLLOVERRIDES adds entries, e.g. "wininet=n,b" for the DLL-planting scenario.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${MORVANE_DLLOVERRIDES:+;$MORVANE_DLLOVERRIDES}"
state="$home/wine.env"

# Some machines run no 32-bit Linux programs (a kernel without IA-32 emulation), and so no
# 32-bit Wine. There Wine runs through its 64-bit loader, which runs 64-bit programs only;
# a 32-bit program exits with 77, which the test tiers count as skipped. MORVANE_NO_32BIT=1
# takes that path on any machine.
wine=wine
if { [ "${MORVANE_NO_32BIT:-}" = 1 ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; } &&
    [ -x /usr/lib/wine/wine64 ]; then
    wine=/usr/lib/wine/wine64
    export WINELOADER=$wine
fi

# True for a 32-bit (i386) PE image: the machine field after the "PE\0\0" signature is 0x14c.
is_32bit_pe() {
    python3 - "$1" <<'PY'
import struct, sys
with open(sys.argv[1], "rb") as f:
    head = f.read(4096)
ok = head[:2] == b"MZ" and len(head) >= 64
pe = struct.unpack_from("<I", head, 60)[0] if ok else 0
sys.exit(0 if ok and head[pe:pe + 4] == b"PE\0\0" and struct.unpack_from("<H", head, pe + 4)[0] == 0x14C else 1)
PY
}

case "$cmd" in
setup)
    # Reuse a display that works; otherwise start an Xvfb of our own on a free number.
    if [ -f "$state" ]; then . "$state"; fi
    if [ -z "${DISPLAY:-}" ] || ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
        # Xvfb picks a free display number itself and writes it once it accepts clients, so
        # set-ups running side by side never race for one number.
        number="$home/xvfb.display"
        rm -f "$number"
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
        echo "XVFB_PID=$!" > "$state"
        for _ in $(seq 100); do [ -s "$number" ] && break; sleep 0.1; done
        export DISPLAY=":$(tr -d '[:space:]' < "$number")"
    fi
    echo "DISPLAY=$DISPLAY" >> "$state"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine" wineboot.exe -i >/dev/null 2>&1 || true
    fi
    # Debian's Wine 8 looks for its own fonts (fonts-wine's /usr/share/wine/fonts) at
    # "<data dir>\../fonts", a path it never finds, so it has no Marlett (the caption's close
    # box comes out as the letter "r") and no Tahoma for "MS Shell Dlg". It does load every
    # font in the prefix's windows\Fonts, so they are linked there, into old prefixes too.
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    for font in /usr/share/wine/fonts/*; do
        if [ -e "$font" ]; then ln -sf "$font" "$WINEPREFIX/drive_c/windows/Fonts/"; fi
    done
    # One persistent server for the whole run, so each test does not pay for a new one.
    wineserver -p >/dev/null 2>&1 || true
    "$wine" cmd /c ver >/dev/null 2>&1
    ;;
run)
    if [ -f "$state" ]; then . "$state"; export DISPLAY; fi
    program=${1:-}
    case "$program" in [Zz]:*) program=$(printf '%s' "${program:2}" | tr '\\' /) ;; esac
    if [ "$wine" != wine ] && [ -f "$program" ] && is_32bit_pe "$program"; then
        echo "wine.sh: this machine runs no 32-bit programs; skipped: $1" >&2
        exit 77
    fi
    exec "$wine" "$@"
    ;;
teardown)
    wineserver -k >/dev/null 2>&1 || true
    if [ -f "$state" ]; then
        . "$state"
        [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
        rm -f "$state"
    fi
    ;;
*) echo "unknown command $cmd" >&2; exit 2 ;;
esac
