#!/usr/bin/env python3
"""Start-up benchmark under Wine: time from start to the wizard's start on the "no newer
revision" path, Morvane.exe against a floor program that only opens KVWizard.exe, interleaved
in one run. Prints both medians, their ratio (goal <= 1.5) and the size of Morvane.exe (goal
< 400 KB).  Usage: startup.py BUILD_DIR [REPETITIONS]"""

import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import harness  # noqa: E402
from harness import Build, Scenario, control_file, read_marker, wine_path  # noqa: E402


def time_to_wizard(build, scenario, program):
    """Milliseconds from starting program until the stub wizard records its start."""
    before = len(read_marker(scenario.marker))
    env = {"MORVANE_MARKER": wine_path(scenario.marker), "LANG": "en_US.UTF-8"}
    started = time.time()
    proc = build.wine([wine_path(program)], env=env)
    proc.wait(timeout=harness.RUN_TIMEOUT)
    if not harness.wait_for(lambda: len(read_marker(scenario.marker)) > before, timeout=60,
                            interval=0.01):
        raise SystemExit("the wizard did not start from %s" % program)
    return read_marker(scenario.marker)[-1].time_ms - started * 1000.0


def main():
    build = Build(sys.argv[1] if len(sys.argv) > 1 else "build/windows")
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    floor = os.path.join(build.dir, "bench", "floor_launcher.exe")
    with Scenario(build) as s:
        s.install(revision=5)
        s.serve("ctl.ini", control_file(revision=5))
        floor_dir = os.path.join(s.root, "floor")
        os.makedirs(floor_dir)
        shutil.copy(floor, floor_dir)
        shutil.copy(build.stub_wizard, floor_dir)
        morvane = os.path.join(s.app_dir, "Morvane.exe")
        floor_exe = os.path.join(floor_dir, "floor_launcher.exe")
        time_to_wizard(build, s, floor_exe)  # warm the prefix and the file cache
        time_to_wizard(build, s, morvane)
        times = {"morvane": [], "floor": []}
        for _ in range(repetitions):
            times["morvane"].append(time_to_wizard(build, s, morvane))
            times["floor"].append(time_to_wizard(build, s, floor_exe))
        checks = len(s.control.requests())
    m, f = statistics.median(times["morvane"]), statistics.median(times["floor"])
    size = os.path.getsize(build.morvane)
    print("start to wizard, median of %d (ms): Morvane.exe %.0f, floor %.0f" % (repetitions, m, f))
    print("  Morvane.exe runs: %s" % ", ".join("%.0f" % t for t in times["morvane"]))
    print("  floor runs:       %s" % ", ".join("%.0f" % t for t in times["floor"]))
    print("ratio Morvane/floor: %.2f (goal <= 1.5); control file fetched %d times" % (m / f, checks))
    print("Morvane.exe size: %d bytes = %.0f KB (goal < 400 KB)" % (size, size / 1024.0))


if __name__ == "__main__":
    main()
