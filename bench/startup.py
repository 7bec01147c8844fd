#!/usr/bin/env python3
"""Start-up benchmark under Wine: time from start to the wizard's start on the "no newer
revision" path, Morvane.exe against a floor program that only opens KVWizard.exe, alternating
in one run. Prints both medians, their ratio (goal <= 1.2) with the spread of the pairwise
ratios, where one traced run spends its time, the size of Morvane.exe (goal < 256 KB, aim 220 KB) with its
five largest parts, and the time to the wizard when the support server refuses connections
and when the control server accepts but never answers (bound 15 s). On the path that asks, the
cost of judging the signed offer (from the trail's time stamps: the rollout line, the last
before the judgement, to "offer signature: accepted"); the path to the wizard judges nothing,
which its trail shows.
Usage: startup.py BUILD_DIR [PAIRS] [HOSTILE_RUNS]"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
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


def step_costs(build, scenario, program):
    """One traced run on the same path: [(milliseconds, what)] from the process's start to each
    line of its trail, then to the wizard's start, from Wine's time stamps. Tracing slows the
    run, so these say where the time goes, not what a run takes."""
    env = {"MORVANE_MARKER": wine_path(scenario.marker), "LANG": "en_US.UTF-8",
           "MORVANE_WINEDEBUG": "+timestamp,warn+seh,+loaddll"}
    with tempfile.TemporaryFile() as out:
        build.wine([wine_path(program)], env=env, output=out).wait(timeout=harness.RUN_TIMEOUT)
        time.sleep(2)  # the wizard records its start after Morvane has ended
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    line = re.compile(r"^(\d+\.\d+):[0-9a-f]+:(?:trace:loaddll:\S+ Loaded L\"(.*?)\"|"
                      r"warn:seh:OutputDebugStringA \"Morvane: (.*?)\\n\")")
    start, steps = None, []
    for m in filter(None, map(line.match, text.splitlines())):
        at = float(m.group(1)) * 1000.0
        module = m.group(2)
        if module and module.lower().endswith("morvane.exe") and start is None:
            start = at
        elif start is not None and m.group(3):
            steps.append((at - start, harness.unescape_debugstr(m.group(3))))
        elif start is not None and module and module.lower().endswith("kvwizard.exe"):
            steps.append((at - start, "the wizard's process is loaded"))
            break
    return steps


def quartiles(values):
    q = statistics.quantiles(values, n=4)
    return q[0], q[2]


def judgement_costs(build, runs):
    """Milliseconds the signed offer's judgement takes on the path that asks, one per run:
    between the trail line before it and its verdict, from Wine's time stamps (only the debug
    strings are traced, so the figures are near an untraced run's)."""
    line = re.compile(r"^(\d+\.\d+):[0-9a-f]+:warn:seh:OutputDebugStringA \"Morvane: (.*?)\\n\"")
    costs = []
    for _ in range(runs):
        with Scenario(build) as s:
            s.install(revision=5)
            s.serve("ctl.ini", control_file(revision=6))
            run = s.run_expecting_dialog(env={"MORVANE_WINEDEBUG": "+timestamp,warn+seh"})
            with open(run.output, "rb") as f:
                text = f.read().decode("utf-8", "replace")
            stamps = {}
            for m in filter(None, map(line.match, text.splitlines())):
                what = m.group(2)
                key = ("before" if what.startswith("update check: rollout") else
                       "after" if what.startswith("offer signature: accepted") else None)
                if key and key not in stamps:
                    stamps[key] = float(m.group(1)) * 1000.0
            if run.dialog is None or len(stamps) != 2:
                raise SystemExit("the asking run did not judge and ask: %s" % run.read_trail())
            costs.append(stamps["after"] - stamps["before"])
    return costs


def hostile_times(build, runs, online, ctl_name):
    """Times to the wizard with misbehaving servers, each run in a scenario of its own."""
    times = []
    for _ in range(runs):
        with Scenario(build, online=online) as s:
            s.install(revision=5, ctl_name=ctl_name)
            s.serve("ctl.ini", control_file(revision=5))
            times.append(time_to_wizard(build, s, os.path.join(s.app_dir, "Morvane.exe")))
    return times


def main():
    build = Build(sys.argv[1] if len(sys.argv) > 1 else "build/windows")
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    hostile_runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
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
        steps = step_costs(build, s, morvane)
    judged = judgement_costs(build, 1 if os.environ.get("MORVANE_BENCH_QUICK") == "1" else 5)
    refused = hostile_times(build, hostile_runs, online=False, ctl_name="ctl.ini")
    silent = hostile_times(build, hostile_runs, online=True, ctl_name="silent/ctl.ini")

    m, f = statistics.median(times["morvane"]), statistics.median(times["floor"])
    pairs = [a / b for a, b in zip(times["morvane"], times["floor"])]
    low, high = quartiles(pairs)
    size = os.path.getsize(build.morvane)
    print("start to wizard, median of %d (ms): Morvane.exe %.0f, floor %.0f" % (repetitions, m, f))
    print("  Morvane.exe runs: %s" % ", ".join("%.0f" % t for t in times["morvane"]))
    print("  floor runs:       %s" % ", ".join("%.0f" % t for t in times["floor"]))
    print("ratio Morvane/floor: %.2f (goal <= 1.2); pairwise ratios: median %.2f, quartiles "
          "%.2f-%.2f, range %.2f-%.2f; control file fetched %d times"
          % (m / f, statistics.median(pairs), low, high, min(pairs), max(pairs), checks))
    print("one traced run, ms from Morvane's start (each step's share in brackets):")
    before = 0.0
    for at, what in steps:
        print("  %6.1f  (+%5.1f)  %s" % (at, at - before, what))
        before = at
    judging = [what for _, what in steps if what.startswith("offer signature")]
    print("the path to the wizard (nothing newer offered) judges no signature: %s"
          % ("yes" if not judging else "NO, " + "; ".join(judging)))
    print("judging the signed offer on the path that asks (ms): median %.1f of %s"
          % (statistics.median(judged), ", ".join("%.1f" % t for t in judged)))
    for what, runs in (("support server refuses", refused),
                       ("control server accepts and never answers", silent)):
        if runs:
            print("start to wizard, %s (ms): median %.0f of %s (bound 15000)"
                  % (what, statistics.median(runs), ", ".join("%.0f" % t for t in runs)))
    print("Morvane.exe size: %d bytes = %.0f KB (goal < 256 KB, aim 220 KB)" % (size, size / 1024.0))
    for contributor, bytes_ in largest_parts(os.path.join(build.dir, "Morvane.map"), 5):
        print("  %7d bytes  %s" % (bytes_, contributor))


def largest_parts(map_path, count):
    """The object files that take the most of the linked sections, from the linker's map:
    [(name, bytes)], largest first. Empty when the build wrote no map."""
    if not os.path.exists(map_path):
        return []
    sizes = {}
    section = re.compile(r"^ \.(?:text|rdata|data|eh_frame|rsrc|pdata|xdata)\S*"
                         r"(?:\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+))?\s*$")
    wrapped = re.compile(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)\s*$")
    pending = False
    in_layout = False
    with open(map_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if not in_layout:
                in_layout = line.startswith("Linker script and memory map")
                continue
            m = wrapped.match(line) if pending else section.match(line)
            pending = bool(m) and not pending and m.group(1) is None
            if m and m.group(1):
                name = os.path.basename(m.group(2))
                sizes[name] = sizes.get(name, 0) + int(m.group(1), 16)
    return sorted(sizes.items(), key=lambda item: -item[1])[:count]


if __name__ == "__main__":
    main()
