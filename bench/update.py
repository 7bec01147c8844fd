#!/usr/bin/env python3
"""Update benchmark under Wine, side by side in one run on loopback (called by bench/update.sh):

  - the download of a 50 MB signed package by Morvane against download_floor.exe, a plain
    URLDownloadToFileW caller, alternating the two (ratio of medians; goal <= 1.1);
  - the time from Yes to the new wizard's start, split by step (download, check, staging,
    hand-over), read from Morvane's diagnostic trail as its lines arrive;
  - the peak private memory of the Morvane process during the download and the check (RssAnon
    of its Wine process, sampled; goal under 30 MB: the package is never held in memory), next to
    the floor downloader's, and Morvane's peak resident size with file-backed pages;
  - the package download (download_host.exe, the same code as Morvane's) over https against
    download_floor.exe over https, alternating (ratio of medians; goal <= 1.1);
  - the bytes a second attempt fetches after the first was cut at 90%, counted by a loopback
    proxy set as the prefix's system proxy (goal: the remaining 10% plus headers).

Usage: update.py BUILD_DIR [RUNS]
"""

import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from harness import Build, Scenario, control_file, wine_path  # noqa: E402
from net_fixtures import Proxy, TlsServer, make_certs  # noqa: E402
from packages import make_package  # noqa: E402
from dialog_driver import YES, drive  # noqa: E402
from test_secure_network import SystemProxy  # noqa: E402

PACKAGE_MB = 50


def linux_pid(program):
    """The Linux process running `program` (a Wine process shows its Windows path as its first
    argument), or None."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                first = f.read().split(b"\0")[0]
                if first.lower().endswith(program.lower().encode()):
                    return int(pid)
        except OSError:
            pass
    return None


def memory_kb(pid, field):
    """A field of /proc/PID/status in kB: VmHWM (peak resident, file-backed pages such as a
    mapped package included) or RssAnon (private memory now)."""
    try:
        with open("/proc/%d/status" % pid) as f:
            match = re.search(field + r":\s+(\d+) kB", f.read())
            return int(match.group(1)) if match else None
    except OSError:
        return None


def floor_download(build, url, target):
    """download_floor.exe's own timing of the download, and its peak memory while it ran."""
    exe = os.path.join(build.dir, "bench", "download_floor.exe")
    out_path = target + ".out"
    with open(out_path, "wb") as out:
        proc = build.wine([exe, url, wine_path(target)], output=out)
        peak = 0
        while proc.poll() is None:
            pid = linux_pid("download_floor.exe")
            peak = max(peak, (pid and memory_kb(pid, "RssAnon")) or 0)
            time.sleep(0.02)
    with open(out_path) as f:
        ms = int(re.search(r"download_ms (\d+)", f.read()).group(1))
    os.remove(target)
    return ms / 1000.0, peak


def host_download(build, url, target, attempts=1):
    """download_host.exe's attempts: [(outcome, first progress, last progress, ms)]."""
    exe = os.path.join(build.fixtures, "download_host.exe")
    _, out = build.wine_output([exe, url, wine_path(target), str(attempts)])
    if os.path.exists(target):
        os.remove(target)
    return [(o, int(f), int(l), int(ms)) for o, f, l, ms in
            re.findall(r"attempt \d+ (.+?) first (\d+) last (\d+) ms (\d+)", out)]


def https_and_resume(build, s, package, runs):
    """The https download side by side with the floor, then a cut attempt and its resume."""
    certs = make_certs(os.path.join(build.fixtures, "pki"), os.path.join(s.root, "certs"))
    code, out = build.wine_output([os.path.join(build.fixtures, "install_root.exe"),
                                   wine_path(os.path.join(build.fixtures, "pki", "root.der")),
                                   "machine"])
    if code != 0:
        raise SystemExit("the test root could not be installed: %s" % out)
    target = os.path.join(s.root, "https.bin")
    ours, theirs = [], []
    tls = TlsServer(s.www, certs["good"]).start()
    try:
        url = tls.url(os.path.basename(package))
        for _ in range(runs):
            theirs.append(floor_download(build, url, target)[0])
            rows = host_download(build, url, target)
            if rows and rows[-1][0] == "stored":
                ours.append(rows[-1][3] / 1000.0)
    finally:
        tls.stop()
    if not ours:
        raise SystemExit("the https download never stored the package")
    print("https_download_ours_s %.3f (median of %d; runs %s)"
          % (statistics.median(ours), len(ours), " ".join("%.2f" % t for t in ours)))
    print("https_download_floor_s %.3f (median of %d; runs %s)"
          % (statistics.median(theirs), len(theirs), " ".join("%.2f" % t for t in theirs)))
    print("https_download_ratio %.2f (goal <= 1.1)"
          % (statistics.median(ours) / statistics.median(theirs)))

    proxy = Proxy().start()
    try:
        with SystemProxy(build, proxy.address):
            rows = host_download(build, s.control.url("cut90/" + os.path.basename(package)),
                                 target, attempts=2)
    finally:
        proxy.stop()
    sent = [int(line.split()[-1]) for line in proxy.requests() if line.startswith("PROXY SENT ")]
    size = os.path.getsize(package)
    if len(sent) != 2 or [r[0] for r in rows] != ["failed", "stored"]:
        raise SystemExit("the cut and resumed download went otherwise: %r %r" % (rows, sent))
    print("resume_first_attempt_bytes %d (cut at 90%% of %d)" % (sent[0], size))
    print("resume_second_attempt_bytes %d (goal: the remaining %d plus headers, so %d of "
          "headers)" % (sent[1], size - size * 9 // 10, sent[1] - (size - size * 9 // 10)))


def morvane_update(s):
    """Clicks Yes and follows the trail: {step: seconds}, Morvane's peak memory."""
    run = s.start()
    steps = [("fetching", "download: fetching"), ("stored", "download: package stored"),
             ("checked", "package check: accepted"), ("staged", "staging: res tree completed"),
             ("wizard", "runner: started " + wine_path(os.path.join(s.temp_dir, "KVNew",
                                                                    "KVWizard.exe")))]
    seen = {}
    peak = {"VmHWM": 0, "RssAnon": 0}
    try:
        code, out = drive(run, "state", 60000)
        pid = linux_pid(wine_path(os.path.join(s.app_dir, "Morvane.exe")))
        clicked = time.monotonic()
        drive(run, "click", YES)
        deadline = clicked + 120
        while len(seen) < len(steps) and time.monotonic() < deadline:
            trail = run.read_trail()
            now = time.monotonic()
            for name, prefix in steps:
                if name not in seen and any(line.startswith(prefix) for line in trail):
                    seen[name] = now - clicked
            # Download and check: until the package was accepted.
            if pid and "checked" not in seen:
                for field in peak:
                    peak[field] = max(peak[field], memory_kb(pid, field) or 0)
            time.sleep(0.02)
        if len(seen) < len(steps) and os.environ.get("MORVANE_BENCH_VERBOSE"):
            print("incomplete trail: %r" % run.read_trail())
        run.finish()
    finally:
        if run.running:
            run.kill()
    return seen, peak


def main():
    if os.environ.get("MORVANE_BENCH_TRACE"):
        import faulthandler
        faulthandler.dump_traceback_later(int(os.environ["MORVANE_BENCH_TRACE"]), exit=True)
    build = Build(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    ours, theirs, timelines, our_peaks, floor_peaks = [], [], [], [], []
    with Scenario(build) as s:
        s.install()
        src = os.path.join(s.root, "src")
        os.makedirs(src)
        with open(os.path.join(src, "payload.bin"), "wb") as f:
            f.write(os.urandom(PACKAGE_MB * 1024 * 1024))
        with open(os.path.join(src, "wizard-mode.txt"), "w") as f:
            f.write("exit\n")
        package = os.path.join(s.www, "KVSetup.exe")
        os.makedirs(s.www, exist_ok=True)
        make_package(build, src, "KVNew", package)
        url = s.control.url("KVSetup.exe")
        s.serve("ctl.ini", control_file(revision=6, download_url=url,
                                        exe_path="KVNew\\KVWizard.exe"))
        print("package: %.1f MB, served on loopback" % (os.path.getsize(package) / 1e6))
        for _ in range(runs):
            seconds, peak = floor_download(build, url, os.path.join(s.root, "floor.bin"))
            theirs.append(seconds)
            floor_peaks.append(peak)
            seen, peak = morvane_update(s)
            if "stored" in seen and "fetching" in seen:
                ours.append(seen["stored"] - seen["fetching"])
            timelines.append(seen)
            our_peaks.append(peak)
        https_and_resume(build, s, package, runs)
    if os.environ.get("MORVANE_BENCH_VERBOSE"):
        print("timelines: %r" % timelines)
    if not ours:
        raise SystemExit("Morvane's trail never showed the download: %r" % timelines)
    print("download_morvane_s %.3f (median of %d; runs %s)"
          % (statistics.median(ours), len(ours), " ".join("%.2f" % t for t in ours)))
    print("download_floor_s %.3f (median of %d; runs %s)"
          % (statistics.median(theirs), len(theirs), " ".join("%.2f" % t for t in theirs)))
    ratio = statistics.median(ours) / statistics.median(theirs)
    print("download_ratio %.2f (goal <= 1.1)" % ratio)
    order = ["fetching", "stored", "checked", "staged", "wizard"]
    names = {"stored": "download", "checked": "check", "staged": "staging", "wizard": "hand-over"}
    complete = [t for t in timelines if all(k in t for k in order)]
    if complete:
        for before, after in zip(order, order[1:]):
            spans = [t[after] - t[before] for t in complete]
            print("step_%s_s %.3f" % (names[after], statistics.median(spans)))
        print("yes_to_new_wizard_s %.3f" % statistics.median(t["wizard"] for t in complete))
    print("peak_private_morvane_mb %.1f (download and check; goal < 30)"
          % (max(p["RssAnon"] for p in our_peaks) / 1024.0))
    print("peak_resident_morvane_mb %.1f (the same with file-backed pages: the mapped package,"
          " Wine's DLLs)" % (max(p["VmHWM"] for p in our_peaks) / 1024.0))
    print("peak_private_floor_downloader_mb %.1f (the same download in a bare program)"
          % (max(floor_peaks) / 1024.0))


if __name__ == "__main__":
    main()
