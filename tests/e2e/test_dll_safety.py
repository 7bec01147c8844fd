"""DLL safety: Morvane.exe imports only libraries Windows always takes from the system folder,
and never loads a DLL planted beside it, even when Wine is told to prefer such native copies.

Wine's loader, measured: for a name Wine has built in (wininet, urlmon, ...), a plain
LoadLibraryW takes Wine's builtin even when a copy lies in the program's folder, unless
WINEDLLOVERRIDES says "n,b" for that name; for a name Wine does not have built in, the copy in
the program's folder is loaded. So the planted-DLL scenario runs with "n,b" overrides for every
planted name, and unsafe_loader.exe (a plain LoadLibraryW) shows in the same setting that the
planted copies would be taken by a program without the system-folder restriction."""

import contextlib
import os
import re
import shutil
import subprocess
import tempfile

import harness
from dialog_driver import YES
from harness import ScenarioTest, Scenario, control_file
from net_fixtures import TlsServer, make_certs  # noqa: E402
from update_scenario import FOLDER, animated_gif, offer

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
                   "shlwapi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "msvcrt.dll"}
# Libraries Morvane binds at run time, or that those pull in, planted under their own names.
BOUND = ["wininet.dll", "urlmon.dll", "wintrust.dll", "crypt32.dll", "comctl32.dll"]
# Helpers that system code loads by name when first needed; Wine's builtins load them through
# delay-imports, which search the program's folder first whatever the process restricted, and
# only a system copy already in memory keeps a planted one out. Measured without the preload:
# the path to the wizard took a planted iphlpapi, the dialog's first paint msimg32, the
# package check imagehlp (the first one taken crashes the process; later ones go unseen).
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

def imported_dlls(exe):
    arch = "i686" if harness.is_32bit_pe(exe) else "x86_64"
    objdump = arch + "-w64-mingw32-objdump"
    out = subprocess.run([objdump, "-p", exe], check=True,
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
        # Online, once on the path to the local wizard; once through the whole update: the
        # dialog painting, Yes, the animation playing through a slow download, the package
        # check, the staging and the hand-over to the new wizard.
        for update in (False, True):
            with self.subTest(update=update), Scenario(self.build) as s:
                s.install(revision=5)
                self.plant_all(s)
                with self.assertNothingPlantedLoadedBy(s, "Morvane.exe"):
                    if update:
                        self.update(s)
                    else:
                        s.serve("ctl.ini", control_file(revision=5))
                        run = s.run(env=self.run_env())
                        self.assertWizardStartedOnceFromApp(run, s)
                # The run went the whole way, through the download, with the real libraries.
                self.assertEqual(s.control.requests()[0], "GET /ctl.ini")

    def test_update_over_https_never_loads_a_planted_dll(self):
        """The TLS helpers Wine's WinINet loads by name at the first https request come from the
        system folder: the whole update, control file and package over https, with every name
        planted beside Morvane.exe."""
        certs_dir = tempfile.mkdtemp(prefix="morvane-certs-")
        try:
            certs = make_certs(os.path.join(self.build.fixtures, "pki"), certs_dir)
            code, out = self.build.wine_output([
                os.path.join(self.build.fixtures, "install_root.exe"),
                harness.wine_path(os.path.join(self.build.fixtures, "pki", "root.der")),
                "machine"])
            self.assertEqual(code, 0, out)
            with Scenario(self.build) as s:
                tls = TlsServer(s.www, certs["good"]).start()
                try:
                    s.install(revision=5, ctl_name=tls.url("ctl.ini"))
                    self.plant_all(s)
                    with self.assertNothingPlantedLoadedBy(s, "Morvane.exe"):
                        self.update(s, url=tls.url("pkg/KVSetup.exe"))
                    self.assertEqual(tls.requests()[:2], ["GET /ctl.ini", "GET /pkg/KVSetup.exe"])
                finally:
                    tls.stop()
        finally:
            shutil.rmtree(certs_dir, ignore_errors=True)

    def update(self, s, url=None):
        animated_gif(os.path.join(s.res, "English", "Morvane.gif"))
        if url:
            offer(s, url=url)
        else:
            offer(s, url_prefix="slow/")
        new_wizard = harness.in_work_folder(FOLDER, "KVWizard.exe")
        with s.start(env=self.run_env()) as run:
            code, out = run.ui("state", harness.DIALOG_WAIT_MS, "click", YES)
            self.assertEqual(code, 0, out)
            def handed_over():
                return any(new_wizard.fullmatch(w.module.lower())
                           for w in harness.read_marker(s.marker))
            # A Morvane that took a planted copy has crashed: no point waiting for the wizard.
            harness.wait_for(lambda: handed_over() or not run.running)
            self.assertTrue(handed_over(), harness.read_marker(s.marker))
            run.finish()

    def test_package_check_never_loads_a_planted_dll(self):
        # Beyond what an update runs through: the check of a signed installer database (its own
        # subject interface package) beside a signed and a tampered program, in check_host.exe
        # behind the same restriction as Morvane.exe.
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
