"""Shared helpers for the integration tests: a simulated phone on disk and chimebox-headless run
as its own process, natively or under Wine."""
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

COMPANION = "com.zephra.tonesmithclient"


def wine_path(path):
    """The Windows form of a Unix path, as the Wine side sees it (drive Z:)."""
    return "Z:" + str(path).replace("/", "\\")


class Run:
    """One test's world: a fresh PHONESIM_ROOT and mutex folder, and the headless program."""

    def __init__(self, headless, windows):
        self.headless = headless
        self.windows = windows
        self.tmp = Path(tempfile.mkdtemp(prefix="chimebox-it-"))
        self.root = self.tmp / "phonesim"
        (self.root / "phones").mkdir(parents=True)
        (self.tmp / "mutex").mkdir()
        self.proc = None
        self.lines = []

    def host_path(self, path):
        return wine_path(path) if self.windows else str(path)

    def env(self):
        env = dict(os.environ)
        env["PHONESIM_ROOT"] = self.host_path(self.root)
        env["CHIMEBOX_MUTEX_DIR"] = str(self.tmp / "mutex")
        return env

    def command(self, program, *args):
        return (["/usr/lib/wine/wine64", program] if self.windows else [program]) + list(args)

    def phone(self, udid, name="Test iPhone", paired=True, app=True):
        d = self.root / "phones" / udid
        (d / "media").mkdir(parents=True)
        if name is not None:
            (d / "name").write_text(name, encoding="utf-8")
        if paired:
            (d / "paired").touch()
        if app:
            (d / "apps" / COMPANION / "Documents").mkdir(parents=True)
        return Phone(d)

    def start(self, support_root):
        self.proc = subprocess.Popen(self.command(self.headless, self.host_path(support_root) + ("\\" if self.windows else "/")),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=self.env(), text=True)
        return self.proc

    def stop(self, timeout=30):
        """Closes standard input, as a parent that goes away would, and waits for the exit."""
        self.proc.stdin.close()
        out = self.proc.stdout.read()
        code = self.proc.wait(timeout=timeout)
        self.lines = out.split()
        return code

    def cleanup(self):
        if self.proc:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait()
            for pipe in (self.proc.stdin, self.proc.stdout):
                if pipe and not pipe.closed:
                    pipe.close()
        shutil.rmtree(self.tmp, ignore_errors=True)


class Phone:
    def __init__(self, path):
        self.dir = path
        self.tokens = 0

    def attach(self):
        self.tokens += 1
        (self.dir / "attached").write_text(str(self.tokens))

    def detach(self):
        (self.dir / "attached").unlink(missing_ok=True)

    def calls(self, *names):
        log = self.dir / "calls.log"
        if not log.exists():
            return []
        lines = log.read_text(encoding="utf-8", errors="replace").splitlines()
        return [l for l in lines if not names or l.split("\t")[0] in names]


def wait_until(condition, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return condition()
