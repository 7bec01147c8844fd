"""DLL safety: Morvane.exe imports only libraries Windows always takes from the system folder,
and never loads a DLL planted beside it, even when Wine is told to prefer such native copies.

Wine's loader, measured: for a name Wine has built in (wininet, urlmon, ...), a plain
LoadLibraryW takes Wine's builtin even when a copy lies in the program's folder, unless
WINEDLLOVERRIDES says "n,b" for that name; for a name Wine does not have built in, the copy in
the program's folder is loaded. So the planted-DLL scenario runs with "n,b" overrides for every
planted name, and unsafe_loader.exe (a plain LoadLibraryW) shows in the same setting that the
planted copies would be taken by a program without the system-folder restriction."""

import contextlib
import json
import os
import re
import shutil
import subprocess
import time

import harness
from harness import ScenarioTest, Scenario, control_file

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
                   "shlwapi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "msvcrt.dll"}
# Libraries Morvane binds at run time, or that those pull in, planted under their own names.
BOUND = ["wininet.dll", "urlmon.dll", "wintrust.dll", "crypt32.dll", "comctl32.dll"]
# Helpers that system code loads by name when first needed; Wine's builtins load them through
# delay-imports, which search the program's folder first whatever the process restricted, and
# only a system copy already in memory keeps a planted one out. Under Wine, the wizard path
# loads uxtheme, iphlpapi and dnsapi; the first paint msimg32; the picture decoder
# windowscodecs and propsys; the package check imagehlp and msisip.
ON_DEMAND = ["version.dll", "uxtheme.dll", "dwmapi.dll", "msimg32.dll", "cryptbase.dll",
             "iphlpapi.dll", "dnsapi.dll", "dhcpcsvc.dll", "secur32.dll", "sspicli.dll",
             "windowscodecs.dll", "propsys.dll", "imagehlp.dll", "cryptnet.dll", "cryptsp.dll",
             "rsaenh.dll", "msisip.dll"]
PLANTED = BOUND + ON_DEMAND + ["morvaneprobe.dll"]
# version.dll is planted but left to Wine's default order: Wine's own builtin user32 imports it,
# and Wine resolves that import through the program's folder when version is "n,b", at process
# start, before any code of Morvane runs. That is Wine's loader, not a load Morvane asks for.
# A planted copy exports nothing, so a process that takes one crashes; with the debugger off it
# ends at once instead of waiting in winedbg, and the test reports what it loaded.
NATIVE_OVERRIDES = (",".join(n[:-4] for n in BOUND + ON_DEMAND if n != "version.dll") + "=n,b"
                    ";winedbg.exe=d")
NO, YES, PICTURE = "1000", "1001", "1004"
DOWNLOADING = 3


def animated_gif():
    """Two 1x1 frames, a tenth of a second each, looping: the animation thread keeps drawing."""
    def frame(pixel_data):
        return (b"!\xf9\x04\x00\x0a\x00\x00\x00"          # 10/100 s, no transparency
                b",\x00\x00\x00\x00\x01\x00\x01\x00\x00"  # 1x1 at 0,0, global colours
                b"\x02\x02" + pixel_data + b"\x00")
    return (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff"
            b"!\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
            + frame(b"D\x01") + frame(b"L\x01") + b";")


def imported_dlls(exe):
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], check=True,
                         stdout=subprocess.PIPE).stdout.decode("utf-8", "replace")
    return sorted({m.lower() for m in re.findall(r"DLL Name:\s*(\S+)", out)})


class ImportTable(ScenarioTest):

    def test_imports_only_system_folder_libraries(self):
        dlls = imported_dlls(self.build.morvane)
        self.assertTrue(dlls, "no import table found")
        self.assertEqual([d for d in dlls if d not in ALLOWED_IMPORTS], [])
        self.assertEqual([d for d in dlls if d.startswith(("api-ms-", "ext-ms-"))], [])


class PlantedDll(ScenarioTest):

    def plant_all(self, s):
        s.plant(PLANTED)

    def run_env(self):
        return {"MORVANE_DLLOVERRIDES": NATIVE_OVERRIDES}

    @contextlib.contextmanager
    def assertNothingPlantedLoadedBy(self, s, program):
        """Checked however the block ends: a process that took a planted copy may have crashed
        and failed the block's own checks, and what it loaded is the finding to report."""
        try:
            yield
        finally:
            self.assertEqual(s.planted_loads_by(program), [],
                             "%s loaded planted copies" % program)

    def test_unrestricted_loader_takes_the_planted_copies(self):
        # The control case: without the restriction, the planted copies are what loads.
        with Scenario(self.build, online=False) as s:
            s.install()
            self.plant_all(s)
            shutil.copy(os.path.join(self.build.fixtures, "unsafe_loader.exe"), s.app_dir)
            names = ["wininet.dll", "urlmon.dll", "wintrust.dll", "msimg32.dll", "uxtheme.dll",
                     "morvaneprobe.dll"]
            code, out = self.build.wine_output(
                [harness.wine_path(os.path.join(s.app_dir, "unsafe_loader.exe"))] + names,
                env=self.run_env())
            self.assertEqual(code, 0, out)
            self.assertEqual(s.planted_loads(), sorted(n + ".loaded" for n in names), out)

    def test_full_run_never_loads_a_planted_dll(self):
        # Online with an update check that downloads the control file (wininet, urlmon), once
        # on the path to the local wizard and once to the dialog, left open for a while so that
        # it has painted; Yes starts the download of a package that never finishes arriving.
        for revision, update in ((5, False), (9, True)):
            with self.subTest(update=update), Scenario(self.build) as s:
                s.install(revision=5)
                self.plant_all(s)
                s.serve("pkg.exe", b"MZ" + b"\0" * 4096)
                s.serve("ctl.ini", control_file(revision=revision,
                                                download_url=s.control.url("stall/pkg.exe")))
                with self.assertNothingPlantedLoadedBy(s, "Morvane.exe"):
                    if update:
                        with s.start(env=self.run_env()) as run:
                            code, out = run.ui("state", harness.DIALOG_WAIT_MS, "click", YES)
                            self.assertEqual(code, 0, out)
                            time.sleep(3)
                            code, out = run.ui("state", 5000, "close")
                            self.assertEqual(code, 0, out)
                            run.finish()
                    else:
                        run = s.run(env=self.run_env())
                        self.assertWizardStartedOnceFromApp(run, s)
                # The run went the whole way, through the download, with the real libraries.
                self.assertEqual(s.control.requests()[0], "GET /ctl.ini")

    def test_animation_never_loads_a_planted_dll(self):
        # The dialog in its downloading state, the animation decoded and playing, in the dialog
        # host (the dialog outside start-up, behind the same restriction as Morvane.exe).
        with Scenario(self.build, online=False) as s:
            s.install()
            with open(os.path.join(s.res, "English", "Morvane.gif"), "wb") as f:
                f.write(animated_gif())
            self.plant_all(s)
            shutil.copy(os.path.join(self.build.fixtures, "dialog_host.exe"), s.app_dir)
            env = dict(self.run_env(), MORVANE_HOST_STATES=str(DOWNLOADING))
            with self.assertNothingPlantedLoadedBy(s, "dialog_host.exe"), \
                    s.start(program="dialog_host.exe", env=env) as run:
                code, out = run.ui("state", harness.DIALOG_WAIT_MS)
                self.assertEqual(code, 0, out)
                self.assertTrue(json.loads(out.strip().splitlines()[-1])
                                ["controls"][PICTURE]["visible"], out)
                time.sleep(3)
                self.assertEqual(run.ui("close")[0], 0)
                run.finish()

    def test_package_check_never_loads_a_planted_dll(self):
        # The check of a signed program, of a signed installer database, and of a tampered
        # program, behind the same restriction as Morvane.exe.
        pki = os.path.join(self.build.fixtures, "pki")
        packages = ["signed-dekavroline.exe", "signed-dekavroline.msi", "tampered.exe"]
        with Scenario(self.build, online=False) as s:
            self.plant_all(s)
            shutil.copy(os.path.join(self.build.fixtures, "check_host.exe"), s.app_dir)
            with self.assertNothingPlantedLoadedBy(s, "check_host.exe"):
                code, out = self.build.wine_output(
                    [harness.wine_path(os.path.join(s.app_dir, "check_host.exe"))]
                    + [harness.wine_path(os.path.join(pki, p)) for p in packages],
                    env=self.run_env())
                self.assertEqual(code, 0, out)
                self.assertEqual(out.split(), ["1", "1", "0"], out)


if __name__ == "__main__":
    harness.main()
