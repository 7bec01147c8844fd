#!/usr/bin/env python3
"""Update benchmark under Wine, side by side in one run on loopback (called by bench/update.sh).
Each round runs, one after the other so machine load falls on all alike:

  - download_floor.exe, a plain URLDownloadToFileW caller, fetching the ~40 MB signed package;
  - download_host.exe (Morvane's download code, no dialog) fetching it over http;
  - a whole update by Morvane with the 1x1 GIF of the installation ("small GIF");
  - a whole update by Morvane with a 40-frame 640x480 noise GIF as Morvane.gif ("large GIF"),
    Yes clicked by the UI driver, which then times the dialog's answers to WM_NULL every
    20 ms until the process ends (its `watch`).

During each update the trail's lines are stamped as they arrive (polled every 20 ms) and the
private memory of the Morvane process is sampled (RssAnon of its Linux process: Wine runs it
as one, and the Windows counters Wine reports do not count what Wine's own heap holds).

Printed: (1) the dialog's longest answer and its answers over 100 ms from Yes to the end of
the clean-up; (2) Yes to the new wizard by step; (3) peak private memory during the download
and the check, and while the large GIF animates; (4) the download against the floor (ratio of
medians), then the https download against the floor over https and the bytes of a resume.

Usage: update.py BUILD_DIR [RUNS]
"""

import os
import re
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from harness import Build, Scenario, TINY_GIF, wine_path  # noqa: E402
from net_fixtures import Proxy, TlsServer, make_certs  # noqa: E402
from dialog_driver import YES, drive, json_lines, watch_answers  # noqa: E402
from test_flow import noise_gif  # noqa: E402
from update_scenario import SystemProxy, offer  # noqa: E402

MB = 1024 * 1024
# A quick pass (bench/update.sh --quick) shows every figure on a package a tenth the size.
PACKAGE_BYTES = (4 if os.environ.get("MORVANE_BENCH_QUICK") == "1" else 40) * MB
SLOW_MS = 100
POLL_S = 0.02
UPDATE_LIMIT_S = 240

# The trail's milestones, in order: (name, the line's start, which occurrence from the dialog's
# "downloading" on: start-up judges the local wizard before it, and that check is not the
# package's).
MILESTONES = [
    ("yes", "dialog: downloading", 0),
    ("fetching", "download: fetching", 0),
    ("stored", "download: package stored", 0),
    ("checked", "package check: accepted", 0),    # the package; the wizard's check is the 2nd
    ("staged", "staging: res tree completed", 0),
    ("wizard", "hand-over: the new wizard runs", 0),
    ("cleaned", "work folder: ", 1),               # its removal with all it held, the last line
]
# Spans of "Yes to the new wizard", named by what happens in them.
STEPS = [("yes", "fetching", "start"), ("fetching", "stored", "download"),
         ("stored", "checked", "check"), ("checked", "staged", "staging"),
         ("staged", "wizard", "hand-over")]


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


def memory_kb(pid, field="RssAnon"):
    """A field of /proc/PID/status in kB: RssAnon (private memory now) or VmHWM."""
    try:
        with open("/proc/%d/status" % pid) as f:
            match = re.search(field + r":\s+(\d+) kB", f.read())
            return int(match.group(1)) if match else None
    except OSError:
        return None


def median_text(values, fmt="%.2f"):
    return "%s (median of %d; runs %s)" % (fmt % statistics.median(values), len(values),
                                           " ".join(fmt % v for v in values))


def floor_download(build, url, target):
    """download_floor.exe's own timing of the download, and its peak private memory."""
    exe = os.path.join(build.dir, "bench", "download_floor.exe")
    out_path = target + ".out"
    with open(out_path, "wb") as out:
        proc = build.wine([exe, url, wine_path(target)], output=out)
        peak = 0
        while proc.poll() is None:
            pid = linux_pid("download_floor.exe")
            peak = max(peak, (pid and memory_kb(pid)) or 0)
            time.sleep(POLL_S)
    with open(out_path) as f:
        ms = int(re.search(r"download_ms (\d+)", f.read()).group(1))
    os.remove(target)
    return ms / 1000.0, peak


def host_download(build, url, target, attempts=1):
    """download_host.exe's attempts: [(outcome, first progress, last progress, ms)]."""
    exe = os.path.join(build.fixtures, "download_host.exe")
    folder, name = os.path.split(target)
    _, out = build.wine_output([exe, url, wine_path(folder), name, str(attempts)])
    if os.path.exists(target):
        os.remove(target)
    return [(o, int(f), int(l), int(ms)) for o, f, l, ms in
            re.findall(r"attempt \d+ (.+?) first (\d+) last (\d+) ms (\d+)", out)]


def host_seconds(build, url, target):
    rows = host_download(build, url, target)
    if not rows or rows[-1][0] != "stored":
        raise SystemExit("download_host did not store the package: %r" % rows)
    return rows[-1][3] / 1000.0


def update_once(s, watch):
    """One update from Yes to the end: the trail's milestones as Unix seconds, the memory
    samples [(Unix seconds, kB)], the private memory just before Yes, the click line and, with
    `watch`, the UI driver's watch report."""
    run = s.start()
    try:
        code, out = drive(run, "state", 60000)
        if code != 0:
            raise SystemExit("no dialog: %s" % out)
        pid = linux_pid(wine_path(os.path.join(s.app_dir, "Morvane.exe")))
        at_ask = pid and memory_kb(pid)
        result = {}

        def click():
            if watch:
                result["code"], result["watch"], result["out"] = watch_answers(run, "click", YES)
            else:
                result["code"], result["out"] = drive(run, "click", YES)

        driver = threading.Thread(target=click)
        driver.start()
        arrivals, samples, seen = [], [], 0
        deadline = time.monotonic() + UPDATE_LIMIT_S
        while run.running and time.monotonic() < deadline:
            now = time.time()
            trail = run.read_trail()
            arrivals += [(now, line) for line in trail[seen:]]
            seen = len(trail)
            if pid:
                kb = memory_kb(pid)
                if kb:
                    samples.append((now, kb))
            time.sleep(POLL_S)
        run.finish(timeout=60)
        arrivals += [(time.time(), line) for line in run.read_trail()[seen:]]
        driver.join(timeout=180)
    finally:
        if run.running:
            run.kill()
    marks = {}
    yes = next((i for i, (_, line) in enumerate(arrivals) if line.startswith(MILESTONES[0][1])),
               len(arrivals))
    for name, prefix, occurrence in MILESTONES:
        hits = [t for t, line in arrivals[yes:] if line.startswith(prefix)]
        if len(hits) > occurrence:
            marks[name] = hits[occurrence]
    clicks = [o["click"] for o in json_lines(result.get("out", "")) if "click" in o]
    if run.exit_code != 0 or "wizard" not in marks or not clicks:
        raise SystemExit("the update went otherwise (exit %r): %r\n%s"
                         % (run.exit_code, [line for _, line in arrivals], result.get("out")))
    return {"marks": marks, "samples": samples, "at_ask": at_ask, "click": clicks[-1],
            "watch": result.get("watch"), "pid_found": bool(pid)}


def peak_between(update, start, end):
    """The largest private-memory sample between two milestones, in kB."""
    marks = update["marks"]
    inside = [kb for t, kb in update["samples"] if marks[start] <= t <= marks[end]]
    return max(inside) if inside else 0


def step_of(update, unix_s):
    """The step of the update a moment falls in."""
    names = ["start"] + [name for _, _, name in STEPS[1:]] + ["the wizard, pause, clean-up"]
    bounds = ["fetching", "stored", "checked", "staged", "wizard"]
    for name, bound in zip(names, bounds):
        if unix_s < update["marks"].get(bound, float("inf")):
            return name
    return names[-1]


def print_answers(updates, small):
    print("\n1. The dialog's answers, Yes to the end of the clean-up (large GIF; the UI driver"
          " sends WM_NULL every 20 ms; answers within 2.5 s after the dialog hides are left out:"
          " Wine's X11 driver without a window manager holds the hiding thread up to 2 s)")
    reports = [u["watch"] for u in updates]
    longest = [max(r["longest_ms"], u["click"]["took_ms"]) for r, u in zip(reports, updates)]
    print("answer_longest_ms %d (worst of %d runs; runs %s; goal < 100)"
          % (max(longest), len(longest), " ".join(str(x) for x in longest)))
    over = [len(r["slow"]) + (u["click"]["took_ms"] > SLOW_MS) for r, u in zip(reports, updates)]
    print("answers_over_100ms %d (all %d runs; runs %s; of %d answers timed, %d left out after"
          " the hide)" % (sum(over), len(over), " ".join(str(x) for x in over),
                          sum(r["samples"] for r in reports) + len(reports),
                          sum(r["ignored"] for r in reports)))
    print("yes_click_handler_ms %s | %s (the Yes handler's own time, large GIF | small GIF;"
          " counted above for the large GIF)"
          % (" ".join(str(u["click"]["took_ms"]) for u in updates),
             " ".join(str(u["click"]["took_ms"]) for u in small)))
    where = {}
    for r, u in zip(reports, updates):
        for at_ms, took in r["slow"]:
            where.setdefault(step_of(u, at_ms / 1000.0), []).append(took)
    for step, tooks in sorted(where.items()):
        print("  slow answers during %s: %d, longest %d ms" % (step, len(tooks), max(tooks)))
    for r, u in zip(reports, updates):
        if r["end"] != "process":
            print("  (a watch ended by %s, not with the process)" % r["end"])


def print_steps(kinds):
    print("\n2. Yes to the new wizard's start, by step (medians, seconds; from the trail's"
          " lines as they arrived, polled every 20 ms): %s" % " | ".join(kinds))
    for start, end, name in STEPS:
        print("step_%s_s %s" % (name, " | ".join(
            "%.3f" % statistics.median(u["marks"][end] - u["marks"][start] for u in updates)
            for updates in kinds.values())))
    print("yes_to_new_wizard_s %s" % " | ".join(
        "%.3f" % statistics.median(u["marks"]["wizard"] - u["marks"]["yes"] for u in updates)
        for updates in kinds.values()))
    print("yes_to_end_of_clean_up_s %s (the new wizard's run and the 3 s pause included)"
          % " | ".join("%.3f" % statistics.median(u["marks"]["cleaned"] - u["marks"]["yes"]
                                                  for u in updates)
                       for updates in kinds.values()))


def print_memory(small, large, floor_peaks):
    print("\n3. Peak private memory of the Morvane process (RssAnon of its Linux process under"
          " Wine, from /proc/PID/status every 20 ms; worst run)")
    if not all(u["pid_found"] for u in small + large):
        print("  (the Morvane process was not found in /proc in some runs)")
    mb = lambda kb: kb / 1024.0  # noqa: E731
    print("private_at_ask_mb %.1f | %.1f (before Yes, small GIF | large GIF)"
          % (mb(max(u["at_ask"] or 0 for u in small)), mb(max(u["at_ask"] or 0 for u in large))))
    print("peak_private_download_check_mb %.1f (small GIF, Yes to the package accepted;"
          " goal < 30)" % mb(max(peak_between(u, "yes", "checked") for u in small)))
    print("peak_private_download_check_large_gif_mb %.1f (the same with the large GIF)"
          % mb(max(peak_between(u, "yes", "checked") for u in large)))
    print("peak_private_animating_mb %.1f (large GIF, Yes to the new wizard: the animation"
          " runs until the dialog hides)" % mb(max(peak_between(u, "yes", "wizard")
                                                   for u in large)))
    print("peak_private_floor_downloader_mb %.1f (download_floor.exe: the same download in a"
          " bare program)" % mb(max(floor_peaks)))


def print_download(small, large, floor, host):
    print("\n4. The package download (trail: fetching to stored) against download_floor.exe,"
          " a plain URLDownloadToFileW caller, over http")
    ours = [u["marks"]["stored"] - u["marks"]["fetching"] for u in small]
    print("download_morvane_s %s" % median_text(ours))
    print("download_morvane_large_gif_s %s" % median_text(
        [u["marks"]["stored"] - u["marks"]["fetching"] for u in large]))
    print("download_host_s %s (Morvane's download code alone, its own timing)"
          % median_text(host))
    print("download_floor_s %s" % median_text(floor))
    print("download_ratio %.2f (Morvane's update with the small GIF against the floor; goal"
          " <= 1.0)" % (statistics.median(ours) / statistics.median(floor)))
    print("download_ratio_host %.2f (the download code alone against the floor)"
          % (statistics.median(host) / statistics.median(floor)))


def https_and_resume(build, s, package, name, runs):
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
        url = tls.url(name)
        for _ in range(runs):
            theirs.append(floor_download(build, url, target)[0])
            ours.append(host_seconds(build, url, target))
    finally:
        tls.stop()
    print("https_download_ours_s %s" % median_text(ours))
    print("https_download_floor_s %s" % median_text(theirs))
    print("https_download_ratio %.2f (goal <= 1.0)"
          % (statistics.median(ours) / statistics.median(theirs)))

    proxy = Proxy().start()
    try:
        with SystemProxy(build, proxy.address):
            rows = host_download(build, s.control.url("cut90/" + name), target, attempts=2)
    finally:
        proxy.stop()
    sent = [int(line.split()[-1]) for line in proxy.requests() if line.startswith("PROXY SENT ")]
    size = os.path.getsize(package)
    if len(sent) != 2 or [r[0] for r in rows] != ["cut", "stored"]:
        raise SystemExit("the cut and resumed download went otherwise: %r %r" % (rows, sent))
    rest = size - size * 9 // 10
    print("resume_first_attempt_bytes %d (cut at 90%% of %d)" % (sent[0], size))
    print("resume_second_attempt_bytes %d (goal: the remaining %d plus headers, so %d of "
          "headers)" % (sent[1], rest, sent[1] - rest))


def main():
    build = Build(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    began = time.monotonic()
    # As the dialog scenarios run: no window manager, unmanaged windows.
    build.wine(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N",
                "/f"]).wait(timeout=120)
    small, large, floor, floor_peaks, host = [], [], [], [], []
    with Scenario(build) as s:
        s.install()
        gifs = os.path.join(s.root, "gifs")
        os.makedirs(gifs)
        noise = os.path.join(gifs, "noise.gif")
        noise_gif(noise)
        package = offer(s, filler_bytes=PACKAGE_BYTES, mode="window:1000")
        name = os.path.relpath(package, s.www).replace(os.sep, "/")
        url = s.control.url(name)
        animation = os.path.join(s.res, "English", "Morvane.gif")
        print("package %.1f MB, served on loopback; large GIF: 40 frames 640x480, %.1f MB;"
              " %d runs; load average %s" % (os.path.getsize(package) / 1e6,
                                             os.path.getsize(noise) / 1e6, runs,
                                             os.getloadavg()[0]))
        for _ in range(runs):
            seconds, peak = floor_download(build, url, os.path.join(s.root, "floor.bin"))
            floor.append(seconds)
            floor_peaks.append(peak)
            host.append(host_seconds(build, url, os.path.join(s.root, "host.bin")))
            with open(animation, "wb") as f:
                f.write(TINY_GIF)
            small.append(update_once(s, watch=False))
            with open(noise, "rb") as src, open(animation, "wb") as f:
                f.write(src.read())
            large.append(update_once(s, watch=True))
        print_answers(large, small)
        print_steps({"small GIF": small, "large GIF": large})
        print_memory(small, large, floor_peaks)
        print_download(small, large, floor, host)
        https_and_resume(build, s, package, name, runs)
    print("\nbenchmark_s %.0f (load average now %.2f)"
          % (time.monotonic() - began, os.getloadavg()[0]))


if __name__ == "__main__":
    main()
