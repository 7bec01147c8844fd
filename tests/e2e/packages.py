"""Packages for the tests, made the way a publisher makes them: morvane-pack, then a signature
from the test PKI.

    from packages import make_package
    section = make_package(build, src_dir, "KVNew", out_path, signer="dekavroline",
                           section="KV-1000", revision=6, url="http://127.0.0.1:8000/KVSetup.exe")

`build` is a Windows build folder (a path, or a harness.Build). The extractor is that build's
morvane-sfx.exe. The packer is the native one when the build's MORVANE_ALSO_TEST names a native
build that has it (fast, and it signs through osslsigncode itself), else the build's own
morvane-pack.exe under Wine (then osslsigncode signs afterwards). signer=None leaves the package
unsigned. The package records the section and revision it is for (by default those the harness
offers: KV-1000, revision 6). Returns the control-file section the packer printed ("" without url).

As a program, for ctest set-up steps:
    packages.py BUILD SRC_DIR FOLDER OUT [--signer NAME | --unsigned]
                [--section NAME] [--revision N] [--url URL]
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

PACK_TIMEOUT = 300
SKIPPED = 77  # what scripts/wine.sh gives for a 32-bit program where Wine runs none


class WineCannotRun(RuntimeError):
    """The build's packer is a 32-bit program and this machine's Wine runs only 64-bit ones."""


def _build_dir(build):
    return os.path.abspath(getattr(build, "dir", build))


def read_cmake_cache(build_dir):
    """{name: value} of a build folder's CMakeCache.txt."""
    values = {}
    with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^([A-Za-z_0-9]+):[A-Z]+=(.*)$", line.rstrip("\n"))
            if m:
                values[m.group(1)] = m.group(2)
    return values


def native_packer(build):
    """The native morvane-pack of a build named in MORVANE_ALSO_TEST, or None."""
    cache = read_cmake_cache(_build_dir(build))
    source = cache.get("CMAKE_HOME_DIRECTORY", "")
    for entry in filter(None, cache.get("MORVANE_ALSO_TEST", "").split(";")):
        folder = entry if os.path.isabs(entry) else os.path.join(source, entry)
        candidate = os.path.join(folder, "morvane-pack")
        if os.access(candidate, os.X_OK):
            return candidate
    return None


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _run(args, env=None):
    """Runs a program; (exit code, stdout, stderr). Output goes through files, not pipes: a
    wineserver started on the way would hold a pipe open after the program has ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=env,
                              timeout=PACK_TIMEOUT).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


def sign(build, path, signer="dekavroline"):
    """Signs a file in place with a signer of the build's test PKI."""
    pki = os.path.join(_build_dir(build), "fixtures", "pki")
    signed = path + ".signed"
    code, out, err = _run(["osslsigncode", "sign", "-certs", os.path.join(pki, signer + ".crt"),
                           "-key", os.path.join(pki, signer + ".key"), "-h", "sha256",
                           "-n", "Morvane test", "-in", path, "-out", signed])
    if code != 0:
        raise RuntimeError("osslsigncode failed (%d): %s%s" % (code, out, err))
    os.replace(signed, path)


def make_signer(build, folder, name, common_name, crl_url=None):
    """A code-signing certificate and key under the build's test root, made now, with a CRL
    distribution point at crl_url when given. Returns the path for sign(signer=...): its
    "<path>.crt" holds the signer's certificate and then the root's, so the signature carries
    the whole chain."""
    pki = os.path.join(_build_dir(build), "fixtures", "pki")
    os.makedirs(folder, exist_ok=True)
    base = os.path.join(folder, name)
    extensions = ["[signer]", "basicConstraints = critical, CA:false",
                  "keyUsage = critical, digitalSignature", "extendedKeyUsage = codeSigning",
                  "subjectKeyIdentifier = hash", "authorityKeyIdentifier = keyid"]
    if crl_url:
        extensions.append("crlDistributionPoints = URI:" + crl_url)
    with open(base + ".ext", "w") as f:
        f.write("\n".join(extensions) + "\n")
    for args in (["req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key",
                  "-out", base + ".csr", "-subj", "/CN=" + common_name],
                 ["x509", "-req", "-in", base + ".csr", "-CA", os.path.join(pki, "root.crt"),
                  "-CAkey", os.path.join(pki, "root.key"), "-set_serial",
                  "0x" + os.urandom(8).hex(), "-days", "30", "-out", base + ".only.crt",
                  "-extfile", base + ".ext", "-extensions", "signer"]):
        code, out, err = _run(["openssl"] + args)
        if code != 0:
            raise RuntimeError("openssl %s failed: %s" % (args[0], err))
    with open(base + ".crt", "wb") as bundle:
        for part in (base + ".only.crt", os.path.join(pki, "root.crt")):
            with open(part, "rb") as f:
                bundle.write(f.read())
    return base


def make_crl(build, folder, revoked, out_path):
    """A CRL of the build's test root in DER, listing the certificates of the signers in
    `revoked` (paths make_signer returned)."""
    pki = os.path.join(_build_dir(build), "fixtures", "pki")
    ca = os.path.join(folder, "crl-ca")
    os.makedirs(ca, exist_ok=True)
    open(os.path.join(ca, "index.txt"), "w").close()
    with open(os.path.join(ca, "crlnumber"), "w") as f:
        f.write("01\n")
    config = os.path.join(ca, "ca.cnf")
    with open(config, "w") as f:
        f.write("[ca]\ndefault_ca = test\n[test]\ndatabase = %s\ncrlnumber = %s\n"
                "default_md = sha256\ndefault_crl_days = 7\n"
                % (os.path.join(ca, "index.txt"), os.path.join(ca, "crlnumber")))
    keys = ["-config", config, "-keyfile", os.path.join(pki, "root.key"),
            "-cert", os.path.join(pki, "root.crt")]
    steps = [["ca", "-revoke", base + ".only.crt"] + keys for base in revoked]
    steps += [["ca", "-gencrl", "-out", os.path.join(ca, "crl.pem")] + keys,
              ["crl", "-in", os.path.join(ca, "crl.pem"), "-outform", "DER", "-out", out_path]]
    for args in steps:
        code, out, err = _run(["openssl"] + args)
        if code != 0:
            raise RuntimeError("openssl %s failed: %s" % (" ".join(args[:2]), err))


def make_package(build, src_dir, folder, out_path, signer="dekavroline", section="KV-1000",
                 revision=6, url=None, rollout=None):
    """Packs src_dir into out_path (unpacking into %TEMP%\\<folder>), signs it unless signer is
    None, and returns the printed control-file section."""
    build_dir = _build_dir(build)
    stub = os.path.join(build_dir, "morvane-sfx.exe")
    if not os.path.exists(stub):
        raise RuntimeError("morvane-sfx.exe is not built in %s" % build_dir)
    pki = os.path.join(build_dir, "fixtures", "pki")
    offer = ["--section", section, "--revision", str(revision)] + (["--url", url] if url else [])
    if rollout is not None:
        offer += ["--rollout", str(rollout)]
    packer = native_packer(build_dir)
    if packer:
        args = [packer, "--from", src_dir, "--folder", folder, "--out", out_path, "--stub", stub]
        if signer:
            args += ["--sign-cert", os.path.join(pki, signer + ".crt"),
                     "--sign-key", os.path.join(pki, signer + ".key")]
        code, out, err = _run(args + offer)
    else:
        source = read_cmake_cache(build_dir).get("CMAKE_HOME_DIRECTORY", "")
        wine_sh = os.path.join(source, "scripts", "wine.sh")
        args = [wine_sh, "run", build_dir, os.path.join(build_dir, "morvane-pack.exe"),
                "--from", wine_path(src_dir), "--folder", folder, "--out", wine_path(out_path),
                "--stub", wine_path(stub)]
        env = dict(os.environ, WINEDEBUG="-all")
        code, out, err = _run(args + offer, env=env)
        if code == SKIPPED:
            raise WineCannotRun("morvane-pack.exe cannot run here: %s" % err.strip())
        if code == 0 and signer:
            sign(build_dir, out_path, signer)
    if code != 0:
        raise RuntimeError("morvane-pack failed (%d): %s" % (code, err))
    return out.replace("\r\n", "\n")


def offer_section(build, package, urls, rollout=None):
    """The control-file section `morvane-pack offer` prints for a final, signed package: its
    record and its size, read from the package itself. The native packer where there is one,
    else the build's morvane-pack.exe under Wine."""
    build_dir = _build_dir(build)
    args = ["offer", "--package", package]
    for url in urls:
        args += ["--url", url]
    if rollout is not None:
        args += ["--rollout", str(rollout)]
    packer = native_packer(build_dir)
    if packer:
        code, out, err = _run([packer] + args)
    else:
        source = read_cmake_cache(build_dir).get("CMAKE_HOME_DIRECTORY", "")
        args[2] = wine_path(package)
        code, out, err = _run([os.path.join(source, "scripts", "wine.sh"), "run", build_dir,
                               os.path.join(build_dir, "morvane-pack.exe")] + args,
                              env=dict(os.environ, WINEDEBUG="-all"))
        if code == SKIPPED:
            raise WineCannotRun("morvane-pack.exe cannot run here: %s" % err.strip())
    if code != 0:
        raise RuntimeError("morvane-pack offer failed (%d): %s" % (code, err))
    return out.replace("\r\n", "\n")


def main():
    parser = argparse.ArgumentParser(description="Make a test package with morvane-pack.")
    parser.add_argument("build")
    parser.add_argument("src_dir")
    parser.add_argument("folder")
    parser.add_argument("out")
    parser.add_argument("--signer", default="dekavroline")
    parser.add_argument("--unsigned", action="store_true")
    parser.add_argument("--section", default="KV-1000")
    parser.add_argument("--revision", default="6")
    parser.add_argument("--url")
    args = parser.parse_args()
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    try:
        sys.stdout.write(make_package(args.build, args.src_dir, args.folder, args.out,
                                      signer=None if args.unsigned else args.signer,
                                      section=args.section, revision=args.revision, url=args.url))
    except WineCannotRun as error:
        print(error, file=sys.stderr)
        sys.exit(SKIPPED)


if __name__ == "__main__":
    main()
