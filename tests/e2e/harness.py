"""Whole-program harness: Morvane.exe in a demo installation under Wine, against loopback servers.

A scenario builds an installation in a scratch folder (Morvane.exe from the build, the stub wizard
as KVWizard.exe, the res tree, driver information files), serves control files from a "control"
server on an ephemeral port, and, for online runs, a "support" server on the port of the build's
MORVANE_SUPPORT_URL (read from CMakeCache.txt; the connectivity probe connects there). Morvane runs
through launch.exe, which gives it a temporary folder of the scenario's own, under Wine with the
LANG of the scenario. The run reports the exit code, Morvane's Windows process id, the wizard's
recorded starts, the control server's request log, the support server's connections and what is
left in the temporary folder.

Usage from a test:
    build = Build(sys.argv[1])
    with Scenario(build) as s:
        s.install()                                   # English, revision 5, control file ctl.ini
        s.serve("ctl.ini", control_file(revision=6))
        run = s.run()                                 # waits until Morvane and its children end
        run.wizard_starts, s.control.requests(), run.temp_files
"""

import contextlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "fixtures"))
from fixture_server import Blackhole, FixtureServer  # noqa: E402
from packages import read_cmake_cache, sign  # noqa: E402

RUN_TIMEOUT = 180  # seconds; a loaded 2-core machine under Wine can be slow
DIALOG_WAIT_MS = 60000
UNEXPECTED_DIALOG_WAIT = 45  # seconds before a run that should end is checked for a dialog
LANGUAGES = ("English", "Spanish", "French", "Portuguese")
# The smallest GIF: one frame, 1x1.
TINY_GIF = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00"
            b"\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")
UI_TEXTS = {
    "English": {"TitleUpdate": "%s Update", "MessageUpdate": "A newer version is available.\\nUpdate now?",
                "MessageDownload": "Downloading the update...", "DownloadError": "The download failed.",
                "NoBtn": "No", "YesBtn": "Yes", "CancelBtn": "Cancel", "CloseBtn": "Close",
                "RetryBtn": "Retry", "MessageOSCap": "This system is not supported."},
    "Spanish": {"TitleUpdate": "Actualizaci\u00f3n de %s", "MessageUpdate": "Hay una versi\u00f3n nueva.",
                "MessageDownload": "Descargando...", "DownloadError": "La descarga fall\u00f3.",
                "NoBtn": "No", "YesBtn": "S\u00ed", "CancelBtn": "Cancelar", "CloseBtn": "Cerrar",
                "RetryBtn": "Reintentar", "MessageOSCap": "Sistema no compatible."},
    "French": {"TitleUpdate": "Mise \u00e0 jour de %s", "MessageUpdate": "Une version plus r\u00e9cente existe.",
               "MessageDownload": "T\u00e9l\u00e9chargement...", "DownloadError": "\u00c9chec du t\u00e9l\u00e9chargement.",
               "NoBtn": "Non", "YesBtn": "Oui", "CancelBtn": "Annuler", "CloseBtn": "Fermer",
               "RetryBtn": "R\u00e9essayer", "MessageOSCap": "Syst\u00e8me non pris en charge."},
    "Portuguese": {"TitleUpdate": "Atualiza\u00e7\u00e3o do %s", "MessageUpdate": "H\u00e1 uma vers\u00e3o nova.",
                   "MessageDownload": "Baixando...", "DownloadError": "Falha no download.",
                   "NoBtn": "N\u00e3o", "YesBtn": "Sim", "CancelBtn": "Cancelar", "CloseBtn": "Fechar",
                   "RetryBtn": "Repetir", "MessageOSCap": "Sistema n\u00e3o suportado."},
}
LOCALES = {"English": "en_US.UTF-8", "Spanish": "es_ES.UTF-8", "French": "fr_FR.UTF-8",
           "Portuguese": "pt_BR.UTF-8"}


def wine_path(path):
    """The Z: path under which Wine sees a Unix path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ini_text(sections):
    """INI text from {section: {key: value}} (values written as given, escapes included)."""
    lines = []
    for section, keys in sections.items():
        lines.append("[%s]" % section)
        lines.extend("%s=%s" % (k, v) for k, v in keys.items())
        lines.append("")
    return "\r\n".join(lines)


def write_ini(path, sections):
    """ASCII text stays ASCII; anything else becomes UTF-16LE with a BOM, which the profile reader
    takes as Unicode."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    text = ini_text(sections)
    try:
        data = text.encode("ascii")
    except UnicodeEncodeError:
        data = b"\xff\xfe" + text.encode("utf-16-le")
    with open(path, "wb") as f:
        f.write(data)


def control_file(revision=6, drvname="KV-1000", download_url="http://127.0.0.1:9/pkg/KVSetup.exe",
                 exe_path="KVSetup\\KVWizard.exe", extra=None):
    """A control file offering a revision in the section named by drvname. None leaves a key out."""
    keys = {}
    if download_url is not None:
        keys["DownloadUrl"] = download_url
    if exe_path is not None:
        keys["ExePath"] = exe_path
    if revision is not None:
        keys["Revision"] = str(revision)
    sections = {drvname: keys}
    sections.update(extra or {})
    return ini_text(sections).encode("utf-8")


def runs_32bit_programs():
    """False on machines whose kernel runs no 32-bit Linux programs, and so no 32-bit Wine
    (MORVANE_NO_32BIT=1 takes that path on any machine)."""
    if os.environ.get("MORVANE_NO_32BIT") == "1":
        return False
    try:
        return subprocess.run(["/usr/lib/wine/wine", "--version"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def is_32bit_pe(path):
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 64:
        return False
    pe = int.from_bytes(head[60:64], "little")
    return head[pe:pe + 4] == b"PE\0\0" and int.from_bytes(head[pe + 4:pe + 6], "little") == 0x14C


def runnable_build_dir(path):
    """The build folder itself; on a machine without 32-bit Wine, for a 32-bit build, the 64-bit
    build of the same sources that it tests alongside (MORVANE_ALSO_TEST)."""
    path = os.path.abspath(path)
    morvane = os.path.join(path, "Morvane.exe")
    if not os.path.exists(morvane) or not is_32bit_pe(morvane) or runs_32bit_programs():
        return path
    cache = read_cmake_cache(path)
    source = cache.get("CMAKE_HOME_DIRECTORY", "")
    for other in filter(None, cache.get("MORVANE_ALSO_TEST", "").split(";")):
        other = os.path.join(source, other)
        if os.path.exists(os.path.join(other, "Morvane.exe")):
            print("harness: this machine runs no 32-bit programs; scenarios run on %s" % other,
                  file=sys.stderr)
            return os.path.abspath(other)
    return path


class Build:
    """A configured and built Windows build folder (32-bit, or 64-bit where 32-bit Wine cannot
    run)."""

    def __init__(self, path):
        self.dir = runnable_build_dir(path)
        self.morvane = os.path.join(self.dir, "Morvane.exe")
        self.fixtures = os.path.join(self.dir, "fixtures")
        self.launcher = os.path.join(self.fixtures, "launch.exe")
        # The wizard runs elevated, so Morvane judges it like the package: the stand-in is signed
        # by the maker's test signer; the unsigned build is there for the tests that refuse it.
        self.unsigned_stub_wizard = os.path.join(self.fixtures, "stubwizard", "KVWizard.exe")
        self.stub_wizard = self._signed_copy(self.unsigned_stub_wizard, "stubwizard-signed")
        self.ui_driver = os.path.join(self.fixtures, "ui_driver.exe")
        self.planted_dir = os.path.join(self.fixtures, "planted")
        self.cache = read_cmake_cache(self.dir)
        self.source_dir = self.cache.get("CMAKE_HOME_DIRECTORY", os.path.join(HERE, "..", ".."))
        self.wine_sh = os.path.join(self.source_dir, "scripts", "wine.sh")
        # Where wine.sh keeps the prefix and its display: the build folder, or the folder of
        # the end-to-end lane this program runs in (lane.py).
        self.wine_home = os.environ.get("MORVANE_WINE_HOME") or self.dir
        self.support_url = self.cache.get("MORVANE_SUPPORT_URL", "")
        match = re.match(r"^http://127\.0\.0\.1:(\d+)/?$", self.support_url)
        self.support_port = int(match.group(1)) if match else None

    def _signed_copy(self, path, folder):
        signed = os.path.join(self.fixtures, folder, os.path.basename(path))
        if (not os.path.exists(signed) or
                os.path.getmtime(signed) < os.path.getmtime(path)):
            os.makedirs(os.path.dirname(signed), exist_ok=True)
            partial = signed + ".part"
            shutil.copy(path, partial)
            sign(self.dir, partial)
            os.replace(partial, signed)
        return signed

    def ensure_wine(self):
        """A persistent wineserver for this build's prefix (what the ctest fixture sets up).
        Without it, the first Wine program of a run starts a wineserver that inherits that
        program's output pipes and keeps them open, and reading the output never ends."""
        if not getattr(self, "_wine_ready", False):
            subprocess.run([self.wine_sh, "setup", self.dir], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            self._wine_ready = True

    def require_loopback_support(self):
        if self.support_port is None:
            raise AssertionError("configure this build with -DMORVANE_SUPPORT_URL=http://127.0.0.1:"
                                 "<port> (found %r)" % self.support_url)

    def wine(self, args, env=None, output=None, **popen):
        """Popen of a Windows program in this build's prefix, its stdout and stderr going to the
        file object output (or nowhere). Never a pipe: Wine helper processes started on the
        way (explorer /desktop, rpcss, a wineserver) inherit the program's handles and would
        hold a pipe open long after the program has ended."""
        self.ensure_wine()
        full_env = dict(os.environ)
        full_env.update(env or {})
        sink = output if output is not None else subprocess.DEVNULL
        popen.setdefault("stdout", sink)
        popen.setdefault("stderr", sink)
        return subprocess.Popen([self.wine_sh, "run", self.dir] + list(args), env=full_env,
                                stdin=subprocess.DEVNULL, **popen)

    def wine_output(self, args, env=None, timeout=RUN_TIMEOUT):
        """Runs a Windows program to its end; (exit code, its output)."""
        with tempfile.TemporaryFile() as output:
            proc = self.wine(args, env=env, output=output)
            try:
                proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(60)
                raise
            output.seek(0)
            return proc.returncode, output.read().decode("utf-8", "replace")


class WizardStart:
    def __init__(self, fields):
        self.time_ms = int(fields[0])
        self.pid = int(fields[1])
        self.module = fields[2]
        self.cwd = fields[3]
        self.command_line = fields[4]

    def __repr__(self):
        return "WizardStart(%r, cmdline=%r, cwd=%r)" % (self.module, self.command_line, self.cwd)


def unescape_debugstr(text):
    """A debug string as Wine prints it ("\\\\" for a backslash, "\\x.." for other bytes)."""
    def one(m):
        code = m.group(1)
        if code.startswith("x"):
            return chr(int(code[1:], 16))
        return {"n": "\n", "r": "\r", "t": "\t"}.get(code, code)
    return re.sub(r"\\(x[0-9a-fA-F]{2}|.)", one, text)


# Morvane's work folder for one run's update, below the Windows folder's Temp (never below the
# user's TEMP): its Wine path, and its Unix path in a build's prefix (Scenario.work_parent).
WORK_FOLDER = re.compile(r"Morvane-[0-9a-f]{32}")
WORK_PARENT = "C:\\windows\\Temp"


def work_parent(build):
    return os.path.join(build.wine_home, "wineprefix", "drive_c", "windows", "temp")


def work_folders(parent):
    """The work folders in their parent folder (Scenario.work_parent)."""
    if not os.path.isdir(parent):
        return []
    return sorted(n for n in os.listdir(parent) if WORK_FOLDER.fullmatch(n))


def work_files(parent):
    """Every file inside the work folders, relative to their parent."""
    found = []
    for name in work_folders(parent):
        for folder, _, files in os.walk(os.path.join(parent, name)):
            found += [os.path.relpath(os.path.join(folder, f), parent) for f in files]
    return sorted(found)


def in_work_folder(*parts):
    """A pattern of the lower-case Wine path of a file inside a work folder."""
    return re.compile(re.escape(WORK_PARENT.lower()) + r"\\morvane-[0-9a-f]{32}" +
                      "".join(re.escape("\\" + p.lower()) for p in parts))


def work_wine_path(parent, path):
    """The Wine path of `path`, a Unix path below the work folders' parent."""
    return WORK_PARENT + "\\" + os.path.relpath(path, parent).replace("/", "\\")


def work_folder_path(parent, module):
    """The Unix path of the work folder a started module (its Wine path) lies in."""
    name = module.lower()[len(WORK_PARENT) + 1:].split("\\")[0]
    return os.path.join(parent, "Morvane-" + name[len("morvane-"):])


def read_marker(path):
    if not os.path.exists(path):
        return []
    starts = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\r\n").split("\t")
            if len(parts) == 6 and parts[0] == "START":
                starts.append(WizardStart(parts[1:]))
    return starts


def read_records(path, kind):
    """The stub wizard's other records of one kind ("BROADCAST", "FINISHED"): for each, its
    fields after the kind, the time and the process id as numbers."""
    if not os.path.exists(path):
        return []
    records = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\r\n").split("\t")
            if parts[0] == kind and len(parts) >= 3:
                records.append([int(parts[1]), int(parts[2])] + parts[3:])
    return records


class Run:
    """One started Morvane.exe (through launch.exe); finish() waits for it and its children."""

    def __init__(self, scenario, proc, output, earlier_starts):
        self.scenario = scenario
        self.proc = proc
        self.output = output
        self.tree_done = False
        self.exit_code = None
        self.dialog = None
        self.pid = None
        self._earlier_starts = earlier_starts  # starts recorded before this run
        wait_for(lambda: self._pid_line() or self.proc.poll() is not None, timeout=RUN_TIMEOUT)
        line = self._pid_line()
        if line:
            self.pid = int(line[4:])

    def _pid_line(self):
        return next((l for l in self._launcher_lines() if l.startswith("PID ")), None)

    def _launcher_lines(self):
        with open(self.output, "rb") as f:
            return f.read().decode("utf-8", "replace").split("\n")

    @property
    def running(self):
        return self.proc.poll() is None

    def finish(self, timeout=RUN_TIMEOUT):
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            self.proc.wait(60)
            raise AssertionError("Morvane did not end within %d s" % timeout)
        lines = [line.strip() for line in self._launcher_lines()]
        self.tree_done = "TREE-DONE" in lines
        # Unix milliseconds at which Morvane started running and ended, as the launcher saw them.
        self.launched_ms = next((int(l.split()[1]) for l in lines if l.startswith("LAUNCHED ")),
                                None)
        self.ended_ms = next((int(l.split()[1]) for l in lines if l.startswith("ENDED ")), None)
        self.exit_code = self.proc.returncode
        if not self.tree_done:
            time.sleep(3)  # no job accounting: give a just-started wizard time to record itself
        s = self.scenario
        self.wizard_starts = read_marker(s.marker)[self._earlier_starts:]
        self.trail = self.read_trail()
        self.temp_files = sorted(os.listdir(s.temp_dir)) if os.path.isdir(s.temp_dir) else []
        return self

    def read_trail(self):
        """Morvane's diagnostic trail so far: the text of each "Morvane: ..." debug string."""
        text = "\n".join(self._launcher_lines())
        return [unescape_debugstr(m.group(1))
                for m in re.finditer(r'OutputDebugString[AW] "Morvane: (.*?)\\n"', text)]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        """A run still going when its block ends, however it ends, is killed."""
        if self.running:
            self.kill()
        return False

    def kill(self):
        """Ends Morvane by its Windows process id, then the launcher."""
        if self.pid:
            self.scenario.build.wine_output(["taskkill", "/f", "/pid", str(self.pid)], timeout=60)
        if self.proc.poll() is None:
            self.proc.kill()

    def ui(self, *commands, timeout=RUN_TIMEOUT):
        """Runs ui_driver.exe on this run's process; (exit code, its output)."""
        build = self.scenario.build
        if not os.path.exists(build.ui_driver):
            raise AssertionError("ui_driver.exe is not built")
        args = [build.ui_driver, str(self.pid)] + [str(c) for c in commands]
        code, out = build.wine_output(args, timeout=timeout)
        if code not in (0, 2) and not any(l.startswith("{") for l in out.splitlines()):
            # ui_driver reports each of its failures as a JSON line, so this is Wine failing to
            # start it (seen once in CI, exit code 1 and no output): nothing was driven, and one
            # more try is safe.
            print("harness: ui_driver did not run (exit code %d): %r; trying once more"
                  % (code, out), file=sys.stderr)
            code, out = build.wine_output(args, timeout=timeout)
        return code, out


class Scenario:
    """A scratch folder with an installation, a temp folder, a wizard marker and servers."""

    def __init__(self, build, online=True, keep=False, support="serve"):
        """support: how the support server on the build's port behaves when online: "serve"
        (accepts and answers), or "blackhole" (its connection queue is full, so a connection
        attempt is never answered at all)."""
        self.build = build
        self.online = online
        self.support_mode = support
        self.keep = keep or bool(os.environ.get("MORVANE_E2E_KEEP"))

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="morvane-e2e-")
        self.app_dir = os.path.join(self.root, "app")
        self.temp_dir = os.path.join(self.root, "temp")
        # Where the update works. A run killed on purpose leaves its folder there, and under
        # Wine (which keeps no owner) the next start cannot tell it is Morvane's: a scenario
        # begins without any.
        self.work_parent = work_parent(self.build)
        for name in work_folders(self.work_parent):
            shutil.rmtree(os.path.join(self.work_parent, name), ignore_errors=True)
        self.www = os.path.join(self.root, "www")
        self.marker = os.path.join(self.root, "wizard-started.txt")
        os.makedirs(self.app_dir)
        os.makedirs(self.temp_dir)
        self.control = FixtureServer(self.www, os.path.join(self.root, "control.log")).start()
        self.support = None
        if self.online:
            self.build.require_loopback_support()
            if self.support_mode == "blackhole":
                self.support = Blackhole(self.build.support_port)
            else:
                self.support = FixtureServer(os.path.join(self.root, "support"),
                                             os.path.join(self.root, "support.log"),
                                             port=self.build.support_port,
                                             log_connections=True).start()
        return self

    def __exit__(self, *exc):
        self.control.stop()
        if self.support:
            self.support.stop()
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    # The installation ---------------------------------------------------------------------

    @property
    def res(self):
        return os.path.join(self.app_dir, "res")

    def ctl_url(self, name="ctl.ini"):
        return self.control.url(name)

    def install(self, languages=("English",), revision=5, ctl_name="ctl.ini", drvname="KV-1000",
                kavro=None, language_file="language.ini", uistrings_file="uistrings.ini",
                kif=None, bicon=0):
        """Morvane.exe, KVWizard.exe, res/kavro.ini and one folder per language whose
        language settings point at ctl_name (a name on the control server, or a full URL)."""
        shutil.copy(self.build.morvane, self.app_dir)
        shutil.copy(self.build.stub_wizard, self.app_dir)
        main = {"ProductName": "Kavro Demo", "OSMajor": "5", "OSMinor": "1", "SPMajor": "3",
                "Bicon": str(bicon)}
        if kavro is not None:
            main = kavro
        write_ini(os.path.join(self.res, "kavro.ini"), {"STARTUP": main})
        for language in languages:
            self.add_language(language, revision=revision, ctl_name=ctl_name, drvname=drvname,
                              language_file=language_file, uistrings_file=uistrings_file)
        if kif is not None:
            self.add_driver_info(kif, bicon=bicon)
        return self

    def add_language(self, language, revision=5, ctl_name="ctl.ini", drvname="KV-1000",
                     language_file="language.ini", uistrings_file="uistrings.ini"):
        folder = os.path.join(self.res, language)
        os.makedirs(folder, exist_ok=True)
        url = ctl_name if "://" in ctl_name or ctl_name.startswith(("Z:", "C:")) or ctl_name == "" \
            else self.ctl_url(ctl_name)
        keys = {}
        if drvname is not None:
            keys["DRVNAME"] = drvname
        keys["InstallerCtlFile"] = url
        keys["InstallerRevision"] = str(revision)
        if language_file:
            write_ini(os.path.join(folder, language_file), {"Alternative Drivers": keys})
        if uistrings_file:
            write_ini(os.path.join(folder, uistrings_file), {"STARTUP": UI_TEXTS[language]})
        with open(os.path.join(folder, "Morvane.gif"), "wb") as f:
            f.write(TINY_GIF)

    def add_driver_info(self, drvname, bicon=0, name="kv1000.kif"):
        if bicon:
            folder = os.path.join(self.app_dir, "Driver", "Printer", "Driver", "WINX86", "SETUP")
        else:
            folder = os.path.join(self.app_dir, "Common", "Printer", "WINX86", "SETUP")
        write_ini(os.path.join(folder, name), {"Strings": {"DRVNAME": drvname}})

    def serve(self, name, data):
        path = os.path.join(self.www, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))

    def plant(self, names):
        """Copies of the planted DLL beside Morvane.exe under the given names."""
        for name in names:
            shutil.copy(os.path.join(self.build.planted_dir, name), self.app_dir)

    def planted_loads(self):
        """Names of the planted DLLs that some process has loaded, as "<dll>.loaded"."""
        return sorted(f for f in os.listdir(self.app_dir) if f.endswith(".loaded"))

    def planted_loads_by(self, program):
        """The planted DLLs that the given program of the installation has loaded."""
        loads = []
        for marker in self.planted_loads():
            with open(os.path.join(self.app_dir, marker), encoding="utf-8") as f:
                hosts = [line.strip().lower() for line in f]
            if any(h.endswith("\\" + program.lower()) for h in hosts):
                loads.append(marker[: -len(".loaded")])
        return loads

    # Running ------------------------------------------------------------------------------

    def start(self, lang="en_US.UTF-8", temp="default", tmp=None, env=None, program=None,
              app=None):
        """Starts Morvane.exe (or another program of the installation) through the launcher.
        temp: "default" gives the scenario's temp folder; None removes TEMP. app: the Windows
        path the installation is started from (default its Z: path; a drive root such as
        "M:\\" from drive_letter)."""
        args = [self.build.launcher, "--tree"]
        if temp == "default":
            temp = wine_path(self.temp_dir)
        args += ["--temp", temp] if temp is not None else ["--no-temp"]
        args += ["--tmp", tmp] if tmp is not None else ["--no-tmp"]
        folder = app or wine_path(self.app_dir)
        args += ["--", folder.rstrip("\\") + "\\" + (program or "Morvane.exe")]
        full_env = {"LANG": lang, "LC_ALL": lang, "MORVANE_MARKER": wine_path(self.marker),
                    "MORVANE_WINEDEBUG": "warn+seh"}
        full_env.update(env or {})
        self._runs = getattr(self, "_runs", 0) + 1
        output_path = os.path.join(self.root, "launch-%d.out" % self._runs)
        earlier_starts = len(read_marker(self.marker))
        with open(output_path, "wb") as output:
            proc = self.build.wine(args, env=full_env, output=output)
        return Run(self, proc, output_path, earlier_starts)

    @contextlib.contextmanager
    def drive_letter(self, folder):
        """A Wine drive letter mapped to `folder` (a link in the prefix's dosdevices), as
        installation media at the root of a CD or USB stick; yields its root ("M:\\")."""
        devices = os.path.join(self.build.wine_home, "wineprefix", "dosdevices")
        letter = next(c for c in "mnopqrstuvwx" if not os.path.lexists(
            os.path.join(devices, c + ":")))
        link = os.path.join(devices, letter + ":")
        os.symlink(os.path.abspath(folder), link)
        try:
            yield letter.upper() + ":\\"
        finally:
            os.remove(link)

    def run(self, **kwargs):
        """Starts Morvane and waits for its end. A run that is still going after a while is
        asked for a dialog; one found is recorded in run.dialog and closed, so that a scenario
        expecting the wizard fails at once instead of waiting out the time limit."""
        run = self.start(**kwargs)
        try:
            run.proc.wait(timeout=UNEXPECTED_DIALOG_WAIT)
        except subprocess.TimeoutExpired:
            code, out = run.ui("state", 5000)
            if code == 0:
                run.dialog = out.strip().splitlines()[-1]
                run.ui("close")
        return run.finish()

    def run_expecting_dialog(self, **kwargs):
        """Starts Morvane, waits for its dialog, records how it looks, closes it with the close
        box and waits for the end. run.dialog holds the ui_driver's state line (or None)."""
        run = self.start(**kwargs)
        try:
            code, out = run.ui("state", DIALOG_WAIT_MS)
            if code == 0:
                run.dialog = out.strip().splitlines()[-1]
                run.ui("close")
        finally:
            if run.running and run.dialog is None:
                run.kill()
        return run.finish()


DESKTOP_KEY = "HKCU\\Control Panel\\Desktop"


@contextlib.contextmanager
def screen_dpi(build, dpi):
    """Programs started inside the block see a screen of `dpi` pixels per inch: Wine 8 reads
    LogPixels from the user's desktop settings when a process starts. Only the build's own
    prefix changes, and the value it had (or its absence) comes back at the end."""
    code, out = build.wine_output(["reg", "query", DESKTOP_KEY, "/v", "LogPixels"])
    before = next((f[2] for f in (line.split() for line in out.splitlines())
                   if code == 0 and len(f) == 3 and f[0].lower() == "logpixels"), None)

    def put(value):
        args = (["add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(value), "/f"]
                if value is not None else ["delete", DESKTOP_KEY, "/v", "LogPixels", "/f"])
        build.wine_output(["reg"] + args)

    put(dpi)
    try:
        yield
    finally:
        put(int(before, 0) if before is not None else None)


CRYPTOGRAPHY_KEY = "HKLM\\SOFTWARE\\Microsoft\\Cryptography"


@contextlib.contextmanager
def machine_guid(build, value):
    """Programs started inside the block see `value` as the machine's MachineGuid (None: no
    such value), in the 64-bit view of the build's prefix, which Morvane reads also when it is
    32-bit. The value it had comes back at the end."""
    def query():
        code, out = build.wine_output(["reg", "query", CRYPTOGRAPHY_KEY, "/v", "MachineGuid",
                                       "/reg:64"])
        return next((f[2] for f in (line.split() for line in out.splitlines())
                     if code == 0 and len(f) == 3 and f[0].lower() == "machineguid"), None)

    def put(guid):
        args = (["add", CRYPTOGRAPHY_KEY, "/v", "MachineGuid", "/t", "REG_SZ", "/d", guid, "/f"]
                if guid is not None else ["delete", CRYPTOGRAPHY_KEY, "/v", "MachineGuid", "/f"])
        code, out = build.wine_output(["reg"] + args + ["/reg:64"])
        if code != 0 and guid is not None:
            raise AssertionError("reg could not set MachineGuid: %s" % out)

    before = query()
    put(value)
    try:
        if query() != value:
            raise AssertionError("MachineGuid did not take the value %r" % value)
        yield
    finally:
        put(before)


def wait_for(predicate, timeout=RUN_TIMEOUT, interval=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(interval)
    return False


_build = None


def build():
    """The build folder given as the test program's first argument (or MORVANE_BUILD)."""
    global _build
    if _build is None:
        _build = Build(os.environ.get("MORVANE_BUILD") or sys.argv[1])
    return _build


def main():
    """unittest.main with the build folder taken off the command line."""
    if len(sys.argv) > 1 and os.path.isdir(sys.argv[1]):
        os.environ["MORVANE_BUILD"] = sys.argv.pop(1)
    unittest.main(verbosity=2)


class ScenarioTest(unittest.TestCase):
    """Base class: self.build, and assertions on runs."""

    @classmethod
    def setUpClass(cls):
        cls.build = build()

    def assertWizardStartedOnceFromApp(self, run, scenario, dialog_allowed=False):
        if not dialog_allowed:
            self.assertIsNone(run.dialog, "a dialog appeared instead of the wizard")
        self.assertEqual(len(run.wizard_starts), 1, run.wizard_starts)
        start = run.wizard_starts[0]
        self.assertEqual(start.module.lower(),
                         wine_path(os.path.join(scenario.app_dir, "KVWizard.exe")).lower())
        # Started with no parameters: the command line is the path alone; and from its own
        # folder, never from wherever Morvane was started.
        self.assertEqual(start.command_line.strip().strip('"').lower(), start.module.lower())
        self.assertEqual(start.cwd.rstrip("\\").lower(), wine_path(scenario.app_dir).lower())
        return start

    def assertNoWizard(self, run):
        self.assertEqual(run.wizard_starts, [], "the wizard must not start")

    def assertNoControlRequest(self, scenario):
        self.assertEqual(scenario.control.requests(), [])
