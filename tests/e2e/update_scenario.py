"""What the end-to-end scenarios of an update share: the package's names, the tree it is made
from, the control file that offers it, the dialog's looks along the way and the hand-over's
checks, the system proxy and the test servers' certificates.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import UI_TEXTS, read_marker, wait_for, wine_path  # noqa: E402
from net_fixtures import make_certs  # noqa: E402
from packages import make_package, sign  # noqa: E402
from dialog_driver import CANCEL, MESSAGE, NO, PICTURE, YES, DialogTest, drive, read_state  # noqa: E402

TEXTS = UI_TEXTS["English"]
FOLDER = "KVNew"
PACKAGE = "KVSetup.exe"
# Appended to the packaged wizard, so the one the package brought can be told from the local one.
PACKAGED_MARK = b"MORVANE-PACKAGED-WIZARD"
WIZARD_RUN_MS = 6000


def packaged_tree(s, wizard=True, wizard_bytes=None, filler_files=0, filler_bytes=0,
                  mode="window:%d" % WIZARD_RUN_MS, wizard_signer="dekavroline", extra=None):
    """The folder a package carries: the wizard (marked, in the stub's `mode`, by default
    running WIZARD_RUN_MS with a window, signed by `wizard_signer` unless that is None), one
    res file of its own that the staging must leave alone, filler files that make the
    extraction last long enough to be seen, one file of filler_bytes of noise that makes the
    package that large, and `extra` files ({name: bytes}) beside the wizard."""
    src = os.path.join(s.root, "package-src")
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(os.path.join(src, "res", "English"))
    if wizard:
        wizard_path = os.path.join(src, "KVWizard.exe")
        with open(wizard_path, "wb") as f:
            if wizard_bytes is None:
                with open(s.build.unsigned_stub_wizard, "rb") as stub:
                    wizard_bytes = stub.read() + PACKAGED_MARK
            f.write(wizard_bytes)
        # The wizard runs elevated and is judged like the package: the maker signs it (the
        # mark stays inside what the signature covers).
        if wizard_signer:
            sign(s.build, wizard_path, wizard_signer)
        with open(os.path.join(src, "wizard-mode.txt"), "w") as f:
            f.write(mode + "\n")
    with open(os.path.join(src, "res", "English", "uistrings.ini"), "wb") as f:
        f.write(b"; the package's own copy\r\n")
    for name, data in (extra or {}).items():
        with open(os.path.join(src, name), "wb") as f:
            f.write(data)
    if filler_files or filler_bytes:
        os.makedirs(os.path.join(src, "data"))
    if filler_bytes:
        with open(os.path.join(src, "data", "noise.bin"), "wb") as f:
            f.write(os.urandom(filler_bytes))
    for i in range(filler_files):
        with open(os.path.join(src, "data", "file%05d.dat" % i), "wb") as f:
            f.write(os.urandom(64))
    return src


def animated_gif(path):
    """A 16x16 GIF of three coloured frames, drawn by ImageMagick, so the screenshots show it."""
    subprocess.run(["convert", "-delay", "40", "-size", "16x16", "xc:#1f6feb", "xc:#2da44e",
                    "xc:#d29922", "-loop", "0", path], check=True, timeout=60)


def offer(s, url_prefix="", signer="dekavroline", exe_path=FOLDER + "\\KVWizard.exe", url=None,
          revision=6, packed_section="KV-1000", packed_revision=6, packed_folder=FOLDER,
          mirrors=(), **tree):
    """Packs, signs and serves a package (which says it is revision packed_revision of
    packed_section), and a control file offering it as `revision` (at `url`, or on the control
    server under url_prefix, then at each of `mirrors` as DownloadUrl2, DownloadUrl3...)."""
    path = os.path.join(s.www, "pkg", PACKAGE)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    make_package(s.build, packaged_tree(s, **tree), packed_folder, path, signer=signer,
                 section=packed_section, revision=packed_revision)
    url = url or s.control.url(url_prefix + "pkg/" + PACKAGE)
    more = {"DownloadUrl%d" % (i + 2): mirror for i, mirror in enumerate(mirrors)}
    s.serve("ctl.ini", harness.control_file(revision=revision, download_url=url,
                                            exe_path=exe_path, more=more))
    return path


def package_requests(s):
    return [r for r in s.control.requests() if r.startswith("GET") and r.endswith(PACKAGE)]


class UpdateTest(DialogTest):

    def assertDownloadingLook(self, state, picture=True):
        """picture=None: the picture's look is not judged (without an animation file it keeps
        the template's)."""
        c = state["controls"]
        self.assertEqual(c[MESSAGE]["text"], TEXTS["MessageDownload"])
        self.assertFalse(c[YES]["visible"])
        self.assertFalse(c[NO]["visible"])
        self.assertEqual((c[CANCEL]["text"], c[CANCEL]["visible"]), (TEXTS["CancelBtn"], True))
        if picture is not None:
            self.assertEqual(c[PICTURE]["visible"], picture)

    def assertFailedLook(self, state):
        c = state["controls"]
        self.assertEqual(c[MESSAGE]["text"], TEXTS["DownloadError"])
        self.assertEqual((c[YES]["text"], c[YES]["visible"]), (TEXTS["RetryBtn"], True))
        self.assertEqual((c[NO]["text"], c[NO]["visible"]), (TEXTS["NoBtn"], True))
        self.assertFalse(c[CANCEL]["visible"])
        self.assertFalse(c[PICTURE]["visible"])

    def click_and_wait(self, run, button, until, control):
        code, out = drive(run, "click", button, until, control)
        self.assertEqual(code, 0, out)
        return read_state(run)

    def new_wizard_start(self, s, temp_dir):
        """The marker's start of the wizard inside the extracted folder, once it has one."""
        expected = harness.in_work_folder(FOLDER, "KVWizard.exe")
        found = []

        def started():
            found[:] = [w for w in read_marker(s.marker) if expected.fullmatch(w.module.lower())]
            return bool(found)
        self.assertTrue(wait_for(started, timeout=120), read_marker(s.marker))
        return found[0]

    def assertHandedOver(self, s, run, temp_dir, leftovers=()):
        """The new wizard started once with the exact command line and a completed folder; the
        program ended after it and three more seconds, having removed the folder and the
        package and nothing else."""
        start = self.new_wizard_start(s, temp_dir)
        extracted = os.path.join(harness.work_folder_path(s.work_parent, start.module), FOLDER)
        expected_cmd = '"%s" /PATH="%s"' % (
            harness.work_wine_path(s.work_parent, os.path.join(extracted, "KVWizard.exe")),
            wine_path(s.app_dir))
        self.assertEqual(start.command_line.strip(), expected_cmd)
        # While the wizard runs: the package's own files stay as they came, missing ones were
        # copied from the application folder.
        with open(os.path.join(extracted, "KVWizard.exe"), "rb") as f:
            self.assertIn(PACKAGED_MARK, f.read(), "the packaged wizard was replaced")
        with open(os.path.join(extracted, "res", "English", "uistrings.ini"), "rb") as f:
            self.assertEqual(f.read(), b"; the package's own copy\r\n")
        for folder, _, files in os.walk(s.res):
            for name in files:
                relative = os.path.relpath(os.path.join(folder, name), s.res)
                self.assertTrue(os.path.isfile(os.path.join(extracted, "res", relative)), relative)
        run.finish()
        ended_ms = time.time() * 1000
        self.assertEqual(run.exit_code, 0)
        self.assertGreaterEqual(ended_ms - start.time_ms, WIZARD_RUN_MS + 3000 - 500)
        self.assertEqual([w.module for w in run.wizard_starts], [start.module],
                         "exactly the new wizard, once")
        self.assertTrue(os.path.isdir(temp_dir), "the temporary folder itself stays")
        self.assertEqual(sorted(os.listdir(temp_dir)), sorted(leftovers))
        self.assertTrue(any(line.startswith("package check: accepted, signed by")
                            for line in run.trail), run.trail)
        self.assertTrue(any(line.startswith("work folder: ") and line.endswith(" removed")
                            for line in run.trail), run.trail)


INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


class SystemProxy:
    """The prefix's system proxy for a block; ProxyEnable and ProxyServer are put back after."""

    def __init__(self, build, address):
        self.build = build
        self.address = address

    def _reg(self, *args):
        return self.build.wine_output(["reg"] + list(args), timeout=120)

    def __enter__(self):
        self._saved = {}
        for name in ("ProxyEnable", "ProxyServer"):
            code, out = self._reg("query", INTERNET_SETTINGS, "/v", name)
            line = next((l.split() for l in out.splitlines() if l.strip().startswith(name)), None)
            self._saved[name] = line[1:] if code == 0 and line and len(line) >= 3 else None
        self._reg("add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")
        self._reg("add", INTERNET_SETTINGS, "/v", "ProxyServer", "/t", "REG_SZ", "/d",
                  self.address, "/f")
        return self

    def __exit__(self, *exc):
        for name, saved in self._saved.items():
            if saved is None:
                self._reg("delete", INTERNET_SETTINGS, "/v", name, "/f")
            else:
                value = saved[1] if len(saved) > 1 else ""
                if saved[0] == "REG_DWORD":
                    value = str(int(value, 0))
                self._reg("add", INTERNET_SETTINGS, "/v", name, "/t", saved[0], "/d", value, "/f")
        return False


class CertificatesMixin:
    """The test server certificates (good, expired, othername, unknown) in cls.certs, and the
    test root trusted by the prefix, for the scenarios of a test class."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.certs_dir = tempfile.mkdtemp(prefix="morvane-certs-")
        cls.certs = make_certs(os.path.join(cls.build.fixtures, "pki"), cls.certs_dir)
        code, out = cls.build.wine_output([os.path.join(cls.build.fixtures, "install_root.exe"),
                                           wine_path(os.path.join(cls.build.fixtures, "pki",
                                                                  "root.der")), "machine"])
        assert code == 0, out

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.certs_dir, ignore_errors=True)
        super().tearDownClass()
