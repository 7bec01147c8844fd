#!/usr/bin/env python3
"""Shows Morvane at work under Wine: a demo installation with all four language folders, a
publisher's package made with morvane-pack and signed by a throwaway test signer, a control file
served on loopback, and three runs: a real update, a refused package, and nothing newer.
Usage: demo.py BUILD_DIR (called by scripts/demo.sh)."""

import json
import ntpath
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from harness import (Build, Scenario, LANGUAGES, read_marker,  # noqa: E402
                     wait_for, wine_path)
from packages import make_package  # noqa: E402
from dialog_driver import CANCEL, MESSAGE, NO, PICTURE, YES, drive, read_state, screenshot  # noqa: E402

PICTURES = "demo-pictures"


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
    section = make_package(s.build, new_wizard_folder(s), "KVNew", path, signer=signer,
                           section="KV-1000", revision=6, url=url)
    s.serve("ctl.ini", section)
    return section


def update(s):
    print("\n1. The server offers revision 6 (newer than 5); the user clicks Yes:")
    with s.start() as run:
        path, look = photograph(s.build, run, "1-ask")
        print('  The dialog "%s" asks: "%s"  [%s]' % (look["title"], message_of(look), path))
        click(run, "click", YES, "shown", PICTURE)
        path, look = photograph(s.build, run, "2-downloading")
        print('  Downloading: "%s", Cancel, the animation plays  [%s]' % (message_of(look), path))
        click(run, "disabled", CANCEL)
        path, look = photograph(s.build, run, "3-staging")
        print("  The package passed its signature check; staging runs it hidden, Cancel disabled"
              "  [%s]" % path)
        expected = wine_path(os.path.join(s.temp_dir, "KVNew", "KVWizard.exe")).lower()
        wait_for(lambda: any(w.module.lower() == expected for w in read_marker(s.marker)), 120)
        start = next((w for w in read_marker(s.marker) if w.module.lower() == expected), None)
        if start:
            print("  The dialog hid; the new wizard started: %s" % start.command_line)
            folder = os.path.join(s.temp_dir, "KVNew")
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
        print('  The check refused it: "%s", Retry or No  [%s]' % (message_of(look), path))
        click(run, "click", NO)
        run.finish()
    for start in run.wizard_starts:
        print("  No: the local wizard started: %s" % start.module)
    print("  The refused package stays in the temporary folder: %s" % ", ".join(run.temp_files))


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


def main():
    build = Build(sys.argv[1])
    # No window manager runs on the demo's display: unmanaged windows get the caption and close
    # box Wine draws itself, so the pictures show the title.
    build.wine(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N",
                "/f"]).wait(timeout=120)
    with Scenario(build) as s:
        s.install(languages=LANGUAGES, revision=5)
        subprocess.run(["convert", "-delay", "40", "-size", "16x16", "xc:#1f6feb", "xc:#2da44e",
                        "xc:#d29922", "-loop", "0",
                        os.path.join(s.res, "English", "Morvane.gif")], check=True, timeout=60)
        print("Demo installation: %s" % s.app_dir)
        print("  Morvane.exe, KVWizard.exe (a stand-in that records its start), res\\kavro.ini,")
        print("  res\\{%s}; local InstallerRevision 5" % ",".join(LANGUAGES))
        print("  control file %s, support server %s" % (s.ctl_url("ctl.ini"), build.support_url))
        print("\nThe publisher packs the new wizard's folder with morvane-pack and signs it;")
        print("the control-file section it printed, now served:")
        print("  " + publish(s, "dekavroline").strip().replace("\n", "\n  "))
        ok = update(s)
        s.control.clear_log()
        publish(s, "other")
        refused(s)
        ok = nothing_newer(s) and ok
        print("\nPictures of the dialog: %s" % os.path.join(build.dir, PICTURES))
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
