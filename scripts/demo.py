#!/usr/bin/env python3
"""Shows Morvane at work under Wine: a demo installation with all four language folders, a
publisher's package made with morvane-pack and signed by a throwaway test signer, its section
printed by morvane-pack offer from the signed package, a control file served on loopback signed
by the test signer, and four runs: a real update, a refused package, nothing newer, and the
dialog on a high-DPI screen (MORVANE_DEMO_DPI, default 144; from about 190 the dialog is wider
than the 1024x768 display scripts/wine.sh starts, so give it a larger one in DISPLAY).
Usage: demo.py BUILD_DIR (called by scripts/demo.sh)."""

import json
import math
import ntpath
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import harness  # noqa: E402
from harness import (Build, Scenario, LANGUAGES, read_marker,  # noqa: E402
                     screen_dpi, wait_for, wine_path)
import fixture_server  # noqa: E402  (on the path the harness set)
from packages import make_package, offer_section  # noqa: E402
from dialog_driver import (CANCEL, LINE, MESSAGE, NO, PICTURE, REASON, YES, drive,  # noqa: E402
                           read_state, screenshot)

PICTURES = "demo-pictures"
# The fixture server's slow/ prefix sends a file in 20 pieces; half a second between them makes
# a 10 s download, long enough to photograph its progress bar part-filled.
fixture_server.SLOW_PAUSE_S = 0.5


def make_spinner(path, size=16, frames=8):
    """A spinner GIF: a ring of dots whose dark head goes round, one step a frame, on a
    transparent background, each frame cleared before the next."""
    centre = (size - 1) / 2.0
    ring = size * 0.34
    args = ["convert", "-delay", "10", "-dispose", "Background"]
    for frame in range(frames):
        draws = []
        for dot in range(frames):
            age = (frame - dot) % frames  # 0 for the head, growing along the tail
            fade = min(1.0, age / (frames * 0.7))
            angle = 2 * math.pi * dot / frames - math.pi / 2
            x, y = centre + ring * math.cos(angle), centre + ring * math.sin(angle)
            radius = size * (0.12 - 0.05 * fade)
            colour = "#%02x%02x%02x" % tuple(int(dark + (light - dark) * fade) for dark, light in
                                             ((0x1f, 0xc4), (0x6f, 0xd3), (0xeb, 0xe8)))
            draws += ["-fill", colour,
                      "-draw", "circle %.2f,%.2f %.2f,%.2f" % (x, y, x + radius, y)]
        args += ["(", "-size", "%dx%d" % (size, size), "xc:#f0f0f0"] + draws + \
                ["-transparent", "#f0f0f0", ")"]
    subprocess.run(args + ["-loop", "0", path], check=True, timeout=60)


def photograph(build, run, name):
    """The dialog as the user sees it, cropped from the display, into <build>/demo-pictures."""
    look = read_state(run, 5000)
    full = screenshot(build, name)
    left, top, right, bottom = look["rect"]
    folder = os.path.join(build.dir, PICTURES)
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name + ".png")
    subprocess.run(["convert", full, "-crop", "%dx%d+%d+%d" % (right - left, bottom - top,
                                                               left, top),
                    "+repage", path], check=True, timeout=60)
    return path, look


def message_of(look):
    return look["controls"][MESSAGE]["text"].replace("\n", " ")


def click(run, *commands):
    code, out = drive(run, *commands)
    if code != 0:
        raise SystemExit("the UI driver failed: %s" % out)


def progress_reading(run):
    """The progress bar as the UI driver reads it, or None from a driver that cannot."""
    code, out = drive(run, "progress")
    lines = [json.loads(l) for l in out.splitlines() if l.startswith("{")]
    readings = [l["progress"] for l in lines if "progress" in l]
    return readings[-1] if code == 0 and readings else None


def wait_for_part_filled(run):
    """Until the bar is between four tenths and nine tenths full, by when the line over it says
    how long is left; a driver that cannot read the bar gets a moment of the 10 s download
    instead. The share it saw, or None."""
    reading = progress_reading(run)
    if reading is None:
        time.sleep(2)
        return None

    def share():
        low, high = reading["min"], reading["max"]
        return (reading["position"] - low) / float(high - low) if high > low else 0.0

    deadline = time.monotonic() + 30
    while not 0.4 <= share() <= 0.9 and time.monotonic() < deadline:
        time.sleep(0.2)
        reading = progress_reading(run) or reading
    return share()


def filled(share):
    return "the bar %d%% full" % round(share * 100) if share is not None else "the bar filling"


def new_wizard_folder(s):
    """What the vendor ships as the new wizard: its program and one settings file of its own."""
    src = os.path.join(s.root, "KVNew-src")
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(os.path.join(src, "res", "English"))
    shutil.copy(s.build.stub_wizard, os.path.join(src, "KVWizard.exe"))
    with open(os.path.join(src, "wizard-mode.txt"), "w") as f:
        f.write("window:4000\n")  # the stand-in shows a window for 4 s
    with open(os.path.join(src, "res", "English", "uistrings.ini"), "w") as f:
        f.write("; the new wizard's own texts\n")
    # Data files enough for the extraction to take a moment the pictures can catch.
    os.makedirs(os.path.join(src, "data"))
    for i in range(3000):
        with open(os.path.join(src, "data", "file%04d.dat" % i), "wb") as f:
            f.write(os.urandom(64))
    return src


def publish(s, signer):
    # Served slowly, so the download can be watched on loopback.
    url = s.control.url("slow/pkg/KVSetup.exe")
    path = os.path.join(s.www, "pkg", "KVSetup.exe")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    make_package(s.build, new_wizard_folder(s), "KVNew", path, signer=signer,
                 section="KV-1000", revision=6)
    # The section, Size= included, comes from the final signed package itself, whichever packer
    # ran and whoever signed; the control file goes out signed by the test signer.
    section = offer_section(s.build, path, [url])
    s.serve("ctl.ini", section)
    return section


def update(s):
    print("\n1. The server offers revision 6 (newer than 5); the user clicks Yes:")
    with s.start() as run:
        path, look = photograph(s.build, run, "1-ask")
        print('  The dialog "%s" asks: "%s"  [%s]' % (look["title"], message_of(look), path))
        click(run, "click", YES, "shown", PICTURE)
        share = wait_for_part_filled(run)
        path, look = photograph(s.build, run, "2-downloading")
        print('  Downloading: "%s", Cancel, the spinner turns, %s, over it "%s"  [%s]'
              % (message_of(look), filled(share), look["controls"][LINE]["text"], path))
        click(run, "disabled", CANCEL)
        path, look = photograph(s.build, run, "3-staging")
        print("  The package passed its signature check; staging runs it hidden, Cancel disabled"
              "  [%s]" % path)
        expected = harness.in_work_folder("KVNew", "KVWizard.exe")
        wait_for(lambda: any(expected.fullmatch(w.module.lower())
                             for w in read_marker(s.marker)), 120)
        start = next((w for w in read_marker(s.marker) if expected.fullmatch(w.module.lower())),
                     None)
        if start:
            print("  The dialog hid; the new wizard started: %s" % start.command_line)
            folder = os.path.join(harness.work_folder_path(s.work_parent, start.module), "KVNew")
            print("  Extracted folder %s holds: %s" % (
                ntpath.dirname(start.module), ", ".join(sorted(os.listdir(folder)))))
        run.finish()
    print("  After the wizard ended and 3 s more, Morvane cleaned up and ended (exit %s);"
          % run.exit_code)
    print("  left in the temporary folder: %s" % (", ".join(run.temp_files) or "nothing"))
    return start is not None


def refused(s):
    print("\n2. The same offer, but the package is signed by another signer:")
    with s.start() as run:
        click(run, "click", YES, "hidden", PICTURE)
        path, look = photograph(s.build, run, "4-failed")
        print('  The check refused it: "%s", why: "%s", Retry or No  [%s]'
              % (message_of(look), look["controls"][REASON]["text"], path))
        click(run, "click", NO)
        run.finish()
    for start in run.wizard_starts:
        print("  No: the local wizard started: %s" % start.module)
    print("  The refused package was deleted; left in the temporary folder: %s"
          % (", ".join(run.temp_files) or "nothing"))


def nothing_newer(s):
    s.serve("ctl.ini", "[KV-1000]\r\nDownloadUrl=%s\r\nExePath=KVNew\\KVWizard.exe\r\n"
                       "Revision=5\r\n" % s.control.url("pkg/KVSetup.exe"))
    print("\n3. The server offers revision 5 (the same):")
    run = s.run()
    for start in run.wizard_starts:
        print("  Decision: start the local wizard; no window was shown.")
        print("  Started: %s" % start.command_line)
        print("  From folder: %s" % ntpath.dirname(start.module))
    if run.dialog:
        print("  Unexpected: a dialog appeared")
    return bool(run.wizard_starts) and not run.dialog


def high_dpi(s, section, dpi):
    """The downloading view on a screen of `dpi` (LogPixels in the demo's own Wine prefix,
    put back afterwards), then Cancel."""
    print("\n4. The same offer again, on a screen of %d DPI:" % dpi)
    s.serve("ctl.ini", section)
    with screen_dpi(s.build, dpi):
        with s.start() as run:
            click(run, "click", YES, "shown", PICTURE)
            share = wait_for_part_filled(run)
            path, look = photograph(s.build, run, "5-downloading-%ddpi" % dpi)
            width, height = look["rect"][2] - look["rect"][0], look["rect"][3] - look["rect"][1]
            print('  Downloading, %s, "%s", the dialog %dx%d pixels  [%s]'
                  % (filled(share), look["controls"][LINE]["text"], width, height, path))
            click(run, "click", CANCEL)
            if drive(run, "gone", 5000)[0] != 0:  # the download had ended and been refused
                click(run, "click", NO)
            run.finish()
    for start in run.wizard_starts:
        print("  Cancel: the local wizard started: %s" % start.module)
    print("  Left in the temporary folder: %s" % (", ".join(run.temp_files) or "nothing"))
    return bool(run.wizard_starts)


def main():
    build = Build(sys.argv[1])
    # No window manager runs on the demo's display: unmanaged windows get the caption and close
    # box Wine draws itself, so the pictures show the title.
    build.wine(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N",
                "/f"]).wait(timeout=120)
    with Scenario(build) as s:
        s.install(languages=LANGUAGES, revision=5)
        make_spinner(os.path.join(s.res, "English", "Morvane.gif"))
        print("Demo installation: %s" % s.app_dir)
        print("  Morvane.exe, KVWizard.exe (a stand-in that records its start), res\\kavro.ini,")
        print("  res\\{%s}; local InstallerRevision 5" % ",".join(LANGUAGES))
        print("  control file %s, support server %s" % (s.ctl_url("ctl.ini"), build.support_url))
        print("\nThe publisher packs the new wizard's folder with morvane-pack and signs it;")
        print("morvane-pack offer prints the section from the signed package, served in a")
        print("control file signed by the test signer:")
        print("  " + publish(s, "dekavroline").strip().replace("\n", "\n  "))
        ok = update(s)
        s.control.clear_log()
        refused_offer = publish(s, "other")
        refused(s)
        ok = nothing_newer(s) and ok
        ok = high_dpi(s, refused_offer, int(os.environ.get("MORVANE_DEMO_DPI", "144"))) and ok
        print("\nPictures of the dialog: %s" % os.path.join(build.dir, PICTURES))
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
