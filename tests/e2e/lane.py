"""Runs one end-to-end scenario program in a lane, so that scenarios of different lanes can run
side by side.

    lane.py BUILD LANE -- COMMAND [ARG...]

Every scenario serves the support server on the one port compiled into Morvane.exe, and Wine
opens a program's sockets in its wineserver, not in the program. A lane is therefore a network
namespace of its own (a private loopback, where that port is free) holding a wineserver and an
Xvfb of its own, over a prefix of its own: BUILD/e2e-lanes/LANE/wineprefix, copied once from the
build's ready prefix (scripts/wine.sh reads it from MORVANE_WINE_HOME). The lane's wineserver and
Xvfb are stopped before and after each program, so none outlives the namespace it serves.

Where no network namespace can be made (not root, or no unshare), the program holds a lock on the
support port for the whole machine instead and runs on the shared loopback: lanes then take turns,
and their scenarios pass all the same.
"""

import ctypes
import fcntl
import os
import shutil
import socket
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from packages import read_cmake_cache  # noqa: E402

INSIDE = "MORVANE_LANE_INSIDE"


class _Sockaddr(ctypes.Structure):
    _fields_ = [("family", ctypes.c_ushort), ("data", ctypes.c_ubyte * 14)]


class _Route(ctypes.Structure):
    """struct rtentry of <net/route.h>."""
    _fields_ = [("pad1", ctypes.c_ulong), ("dst", _Sockaddr), ("gateway", _Sockaddr),
                ("genmask", _Sockaddr), ("flags", ctypes.c_ushort), ("pad2", ctypes.c_short),
                ("pad3", ctypes.c_ulong), ("pad4", ctypes.c_void_p), ("metric", ctypes.c_short),
                ("dev", ctypes.c_char_p), ("mtu", ctypes.c_ulong), ("window", ctypes.c_ulong),
                ("irtt", ctypes.c_ushort)]


def loopback_network():
    """Brings up "lo" of this network namespace, which starts down, and routes by default
    through it: Wine's InternetGetConnectedState counts the machine online only when an
    adapter that is up has a gateway, and Morvane asks it before its probe. Through the
    interface and route ioctls, since the ip tool may be missing."""
    siocgifflags, siocsifflags, siocaddrt, iff_up = 0x8913, 0x8914, 0x890B, 0x1
    rtf_up, rtf_gateway = 0x1, 0x2
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH14x", b"lo", 0)
        flags = struct.unpack("16sH14x", fcntl.ioctl(s, siocgifflags, request))[1]
        fcntl.ioctl(s, siocsifflags, struct.pack("16sH14x", b"lo", flags | iff_up))
        route = _Route(flags=rtf_up | rtf_gateway)
        for address in (route.dst, route.genmask, route.gateway):
            address.family = socket.AF_INET
        route.gateway.data[2:6] = (127, 0, 0, 1)
        fcntl.ioctl(s, siocaddrt, bytes(route))


def can_unshare_network():
    try:
        return subprocess.run(["unshare", "-n", "true"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def prepare_prefix(build, home):
    """The lane's prefix, copied from the build's when the lane has none yet (a copy takes a
    second; a new prefix takes Wine's whole first start). Without a ready prefix to copy,
    scripts/wine.sh makes one."""
    os.makedirs(home, exist_ok=True)
    ready = os.path.join(build, "wineprefix")
    target = os.path.join(home, "wineprefix")
    if os.path.exists(os.path.join(target, "system.reg")) or \
            not os.path.exists(os.path.join(ready, "system.reg")):
        return
    shutil.rmtree(target, ignore_errors=True)
    partial = target + ".part"
    shutil.rmtree(partial, ignore_errors=True)
    subprocess.run(["cp", "-a", ready, partial], check=True, timeout=600)
    os.replace(partial, target)


def wine_sh(build):
    source = read_cmake_cache(build).get("CMAKE_HOME_DIRECTORY", os.path.join(HERE, "..", ".."))
    return os.path.join(source, "scripts", "wine.sh")


def stop_lane_wine(build, env):
    subprocess.run([wine_sh(build), "teardown", build], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def run_in_lane(build, home, command):
    """The program with the lane's prefix and a display of its own; the lane's Wine stopped
    before (left over by a program that was killed) and after."""
    env = dict(os.environ, MORVANE_WINE_HOME=home)
    env.pop("DISPLAY", None)
    env.pop(INSIDE, None)
    stop_lane_wine(build, env)
    try:
        return subprocess.run(command, env=env).returncode
    finally:
        stop_lane_wine(build, env)


def support_port(build):
    url = read_cmake_cache(build).get("MORVANE_SUPPORT_URL", "")
    return url.rsplit(":", 1)[-1].strip("/") if url.startswith("http://127.0.0.1:") else "none"


def main():
    args = sys.argv[1:]
    if len(args) < 4 or args[2] != "--":
        print(__doc__, file=sys.stderr)
        return 2
    build, lane, command = os.path.abspath(args[0]), args[1], args[3:]
    home = os.path.join(build, "e2e-lanes", lane)
    if os.environ.get(INSIDE):
        loopback_network()
        return run_in_lane(build, home, command)
    with open(os.path.join(build, "e2e-lanes-%s.lock" % lane), "w") as lock:
        # One program per lane at a time, also outside ctest (which keeps them apart already).
        fcntl.flock(lock, fcntl.LOCK_EX)
        prepare_prefix(build, home)
        if can_unshare_network():
            return subprocess.run(["unshare", "-n", sys.executable, os.path.abspath(__file__)] +
                                  args, env=dict(os.environ, **{INSIDE: "1"})).returncode
        port = support_port(build)
        print("lane.py: no network namespace here; the support port %s is taken in turn" % port,
              file=sys.stderr)
        with open(os.path.join("/tmp", "morvane-support-port-%s.lock" % port), "a") as shared:
            fcntl.flock(shared, fcntl.LOCK_EX)
            return run_in_lane(build, home, command)


if __name__ == "__main__":
    sys.exit(main())
