"""The update over https and through the system's proxy, and what start-up does when the
control file's server or the proxy is refused: real TLS servers on loopback with certificates
made at test time under the test PKI's root (installed into the prefix's machine Root store),
and a loopback proxy set as the prefix's system proxy for the run.

    python3 tests/e2e/test_secure_network.py <build folder>
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Scenario  # noqa: E402
from net_fixtures import Proxy, TlsServer  # noqa: E402
from packages import make_package  # noqa: E402
from dialog_driver import NO, PICTURE, YES, drive  # noqa: E402
from update_scenario import (FOLDER, PACKAGE, CertificatesMixin, SystemProxy,  # noqa: E402
                             UpdateTest, packaged_tree)

def serve_package(s, package_url):
    """Packs and signs a package into the scenario's www, and a control file offering it."""
    path = os.path.join(s.www, "pkg", PACKAGE)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    make_package(s.build, packaged_tree(s), FOLDER, path, signer="dekavroline")
    s.serve("ctl.ini", harness.control_file(revision=6, download_url=package_url,
                                            exe_path=FOLDER + "\\KVWizard.exe"))


class SecureNetwork(CertificatesMixin, UpdateTest):

    def yes_until_handed_over(self, s):
        with s.start() as run:
            code, out = drive(run, "click", YES)
            self.assertEqual(code, 0, out)
            self.assertHandedOver(s, run, s.temp_dir)
        return run

    def test_whole_update_over_https(self):
        with Scenario(self.build) as s:
            tls = TlsServer(s.www, self.certs["good"]).start()
            try:
                s.install(ctl_name=tls.url("ctl.ini"))
                serve_package(s, tls.url("pkg/" + PACKAGE))
                self.yes_until_handed_over(s)
                self.assertEqual(tls.requests(), ["GET /ctl.ini", "GET /pkg/" + PACKAGE])
                self.assertEqual(s.control.requests(), [])
            finally:
                tls.stop()

    def test_whole_update_through_the_system_proxy(self):
        with Scenario(self.build) as s:
            proxy = Proxy().start()
            try:
                s.install()
                serve_package(s, s.control.url("pkg/" + PACKAGE))
                with SystemProxy(self.build, proxy.address):
                    self.yes_until_handed_over(s)
                seen = proxy.requests()
                self.assertIn("PROXY GET " + s.ctl_url("ctl.ini"), seen)
                self.assertIn("PROXY GET " + s.control.url("pkg/" + PACKAGE), seen)
                self.assertIn("PROXY GET %s/" % self.build.support_url.rstrip("/"), seen)
            finally:
                proxy.stop()

    def test_refused_control_file_server_or_proxy_starts_the_local_wizard(self):
        cases = [("expired", "control file: certificate refused, expired"),
                 ("othername", "control file: certificate refused, wrong name"),
                 ("unknown", "control file: certificate refused, unknown root"),
                 ("redirect", "control file: insecure redirect refused"),
                 ("proxy", "support server through the proxy: proxy refused")]
        for case, line in cases:
            with self.subTest(case), Scenario(self.build) as s:
                tls = TlsServer(s.www, self.certs.get(case, self.certs["good"])).start()
                proxy = Proxy(refuse=True).start()
                try:
                    name = "tohttp/%d/ctl.ini" % s.control.port if case == "redirect" else "ctl.ini"
                    s.install(ctl_name=tls.url(name))
                    serve_package(s, tls.url("pkg/" + PACKAGE))
                    if case == "proxy":
                        with SystemProxy(self.build, proxy.address):
                            run = s.run()
                    else:
                        run = s.run()
                    self.assertWizardStartedOnceFromApp(run, s)
                    self.assertTrue(any(l.startswith(line) for l in run.trail), run.trail)
                    self.assertNotIn("GET /pkg/" + PACKAGE, tls.requests())
                finally:
                    tls.stop()
                    proxy.stop()

    def test_refused_package_server_shows_the_failed_view(self):
        """The control file comes over plain http; the package's https server is refused for its
        certificate, or redirects to http: the failed view, No opens the local wizard, and the
        trail names the fault."""
        cases = [("expired", "failure: download/certificate-expired"),
                 ("othername", "failure: download/certificate-wrong-name"),
                 ("unknown", "failure: download/certificate-unknown-root"),
                 ("redirect", "failure: download/insecure-redirect")]
        for case, line in cases:
            with self.subTest(case), Scenario(self.build) as s:
                tls = TlsServer(s.www, self.certs.get(case, self.certs["good"])).start()
                try:
                    s.install()
                    name = ("tohttp/%d/pkg/%s" % (s.control.port, PACKAGE) if case == "redirect"
                            else "pkg/" + PACKAGE)
                    serve_package(s, tls.url(name))
                    with s.start() as run:
                        self.assertFailedLook(self.click_and_wait(run, YES, "hidden", PICTURE))
                        self.assertEqual(drive(run, "click", NO)[0], 0)
                        run.finish()
                    self.assertTrue(any(l.startswith(line) for l in run.trail), run.trail)
                    self.assertWizardStartedOnceFromApp(run, s)
                    self.assertEqual(os.listdir(s.temp_dir), [], "nothing of the package stays")
                finally:
                    tls.stop()


if __name__ == "__main__":
    harness.main()
