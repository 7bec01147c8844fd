"""Every failure says why: each reason caused for real ends in the failed view with its own line
under the message (the reason in the user's language and its code), and the trail's
"failure:" line names the step and the cause. In English and in Spanish; one Spanish text comes
from the language folder's uistrings.ini, the others are the built-in ones.

    python3 tests/e2e/test_failure_reasons.py <build folder>
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import LOCALES, Scenario, write_ini  # noqa: E402
from dialog_driver import IDS, MESSAGE, PICTURE, YES, drive, read_state  # noqa: E402
from net_fixtures import Proxy, TlsServer  # noqa: E402
from update_scenario import (FOLDER, PACKAGE, CertificatesMixin, SystemProxy,  # noqa: E402
                             UpdateTest, offer)

REASON = str(IDS["IDC_REASON"])
# The Spanish language folder says M-201 in its own words.
SPANISH_M201 = "La firma no es la del editor."


def small_disk(s, megabytes, filler_bytes):
    """A tmpfs of `megabytes` as the work folders' parent, and a package with that much filler.
    None where this machine cannot mount one (it needs CAP_SYS_ADMIN)."""
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % megabytes, "tmpfs",
                              s.work_parent], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if mounted.returncode != 0:
        return None
    offer(s, filler_bytes=filler_bytes)
    return lambda: subprocess.run(["umount", "-l", s.work_parent], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)


def full_disk(s):
    """The package does not fit: the download fails."""
    return small_disk(s, 1, 4 * 1024 * 1024)


def unpack_failure(s):
    """The package fits, what it unpacks does not: the signed extractor fails and says so with
    its exit code."""
    return small_disk(s, 2, 900 * 1024)


class FailureReasons(CertificatesMixin, UpdateTest):

    def cases(self):
        """(name, set-up returning a clean-up or None, failure value, code)."""
        certs = self.certs

        def https_other_name(s):
            tls = TlsServer(s.www, certs["othername"]).start()
            offer(s, url=tls.url("pkg/" + PACKAGE))
            return tls.stop

        def proxy_asking_credentials(s):
            # The system's proxy passes the probe and the control file, and asks for
            # credentials for the package.
            proxy = Proxy(refuse_only="/pkg/").start()
            offer(s)
            system = SystemProxy(self.build, proxy.address).__enter__()
            return lambda: (system.__exit__(None, None, None), proxy.stop())

        return [
            ("proxy 407", proxy_asking_credentials, "download/proxy-auth", "M-103"),
            ("wrong-name certificate", https_other_name, "download/certificate-wrong-name",
             "M-112"),
            ("cut server", lambda s: offer(s, url_prefix="cut/", filler_bytes=200000),
             "download/cut", "M-121"),
            ("stalled server", lambda s: offer(s, url_prefix="stallbody/", filler_bytes=200000),
             "download/stalled", "M-122"),
            ("full disk", full_disk, "download/disk-full", "M-131"),
            ("unsigned package", lambda s: offer(s, signer=None), "check/bad-signature", "M-201"),
            ("another signer", lambda s: offer(s, signer="other"), "check/other-signer", "M-202"),
            ("another revision", lambda s: offer(s, revision=7), "check/not-the-offer", "M-203"),
            ("package that cannot unpack", unpack_failure, "staging/unpack-failed", "M-301"),
            ("refused wizard", lambda s: offer(s, wizard_signer=None), "wizard/wizard-refused",
             "M-401"),
        ]

    def test_each_failure_shows_its_reason_and_code(self):
        for language in ("English", "Spanish"):
            for name, prepare, value, code in self.cases():
                with self.subTest(language=language, reason=name), Scenario(self.build) as s:
                    s.install(languages=(language,))
                    if language == "Spanish":
                        texts = dict(harness.UI_TEXTS["Spanish"], ReasonM201=SPANISH_M201)
                        write_ini(os.path.join(s.res, "Spanish", "uistrings.ini"),
                                  {"STARTUP": texts})
                    clean_up = prepare(s)
                    if prepare in (full_disk, unpack_failure) and clean_up is None:
                        self.skipTest("cannot mount a small tmpfs here (needs CAP_SYS_ADMIN)")
                    try:
                        with s.start(lang=LOCALES[language]) as run:
                            read_state(run)
                            # The stall alone takes 30 s; "hidden" waits up to 60.
                            code_, out = drive(run, "click", YES, "hidden", PICTURE)
                            self.assertEqual(code_, 0, out)
                            state = read_state(run)
                            self.assertEqual(drive(run, "close")[0], 0)
                            run.finish()
                    finally:
                        if callable(clean_up):
                            clean_up()
                    c = state["controls"]
                    self.assertEqual(c[MESSAGE]["text"],
                                     harness.UI_TEXTS[language]["DownloadError"])
                    self.assertTrue(c[REASON]["visible"], state)
                    line = c[REASON]["text"]
                    self.assertTrue(line.endswith(" (%s)" % code), line)
                    if language == "Spanish" and code == "M-201":
                        self.assertEqual(line, "%s (%s)" % (SPANISH_M201, code))
                    self.assertIn("failure: " + value, run.trail)
                    self.reasons.setdefault(code, set()).add(line)
        # Each reason reads differently, and in each language differently again.
        self.assertGreaterEqual(len(self.reasons), len(self.cases()) - 2)
        for code, lines in self.reasons.items():
            self.assertEqual(len(lines), 2, (code, lines))

    def setUp(self):
        super().setUp()
        self.reasons = {}


if __name__ == "__main__":
    harness.main()
