"""DLL safety: Morvane.exe imports only libraries Windows always takes from the system folder,
and never loads a DLL planted beside it, even when Wine is told to prefer such native copies.

Wine's loader, measured: for a name Wine has built in (wininet, urlmon, ...), a plain
LoadLibraryW takes Wine's builtin even when a copy lies in the program's folder, unless
WINEDLLOVERRIDES says "n,b" for that name; for a name Wine does not have built in, the copy in
the program's folder is loaded. So the planted-DLL scenario runs with "n,b" overrides for every
planted name, and unsafe_loader.exe (a plain LoadLibraryW) shows in the same setting that the
planted copies would be taken by a program without the system-folder restriction."""

import os
import re
import shutil
import subprocess

import harness
from harness import ScenarioTest, Scenario, control_file

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
                   "shlwapi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "msvcrt.dll"}
# Libraries Morvane binds at run time, or that those pull in, planted under their own names.
PLANTED_BUILTINS = ["wininet.dll", "urlmon.dll", "wintrust.dll", "crypt32.dll", "comctl32.dll",
                    "version.dll", "uxtheme.dll", "dwmapi.dll"]
# version.dll is planted but left to Wine's default order: Wine's own builtin gdi32 imports it,
# and Wine resolves that import through the program's folder when version is "n,b", at process
# start, before any code of Morvane runs. That is Wine's loader, not a load Morvane asks for.
NATIVE_OVERRIDES = ",".join(n[:-4] for n in PLANTED_BUILTINS if n != "version.dll") + "=n,b"


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
        s.plant(PLANTED_BUILTINS + ["morvaneprobe.dll"])

    def test_unrestricted_loader_takes_the_planted_copies(self):
        # The control case: without the restriction, the planted copies are what loads.
        with Scenario(self.build, online=False) as s:
            s.install()
            self.plant_all(s)
            shutil.copy(os.path.join(self.build.fixtures, "unsafe_loader.exe"), s.app_dir)
            names = ["wininet.dll", "urlmon.dll", "wintrust.dll", "morvaneprobe.dll"]
            code, out = self.build.wine_output(
                [harness.wine_path(os.path.join(s.app_dir, "unsafe_loader.exe"))] + names,
                env={"MORVANE_DLLOVERRIDES": NATIVE_OVERRIDES})
            self.assertEqual(code, 0, out)
            self.assertEqual(s.planted_loads(), sorted(n + ".loaded" for n in names), out)

    def test_full_run_never_loads_a_planted_dll(self):
        # Online with an update check that downloads the control file (wininet, urlmon), once
        # on the path to the local wizard and once to the dialog.
        for revision, update in ((5, False), (9, True)):
            with self.subTest(update=update), Scenario(self.build) as s:
                s.install(revision=5)
                self.plant_all(s)
                s.serve("ctl.ini", control_file(revision=revision))
                env = {"MORVANE_DLLOVERRIDES": NATIVE_OVERRIDES}
                run = s.run_expecting_dialog(env=env) if update else s.run(env=env)
                self.assertEqual(s.planted_loads_by("Morvane.exe"), [])
                # The run went the whole way, through the download, with the real libraries.
                self.assertEqual(s.control.requests(), ["GET /ctl.ini"])
                if update:
                    self.assertIsNotNone(run.dialog)
                else:
                    self.assertWizardStartedOnceFromApp(run, s)


if __name__ == "__main__":
    harness.main()
