"""The world chimebox.exe runs in for the end-to-end tests and the demo: a private Wine prefix
with Apple's registry keys pointing at a folder of simulated DLLs, a recording browser and a
font for Chinese text; a private Xvfb display; a simulated phone on disk; the program's process.

Command line (used by CTest): winenv.py make-prefix|stop-prefix --exe ... --support ... --work ..."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
COMPANION = "com.zephra.tonesmithclient"
TITLE = "晨钟铃声助手"

# Where the prefix keeps Apple's support: the real installer's place under drive C.
APPLE_ROOT = "Program Files (x86)/Common Files/Apple"
# A second support folder whose AirTrafficHost.dll exports nothing the program binds.
BROKEN_ROOT = "Program Files (x86)/Common Files/AppleBroken"
TOOLS = "chimebox-e2e"


def wait_until(condition, timeout, step=0.05):
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= end:
            return value
        time.sleep(step)


def parse_args(argv):
    p = argparse.ArgumentParser()
    p.add_argument("what", nargs="*")
    for name in ("exe", "support", "skin", "itunes", "browser", "work"):
        p.add_argument("--" + name, required=name in ("support", "work"))
    return p.parse_args(argv)


class Prefix:
    """A Wine prefix of our own under WORK/wineprefix, with its wineserver."""

    def __init__(self, work, support=None, itunes=None, browser=None):
        self.work = Path(work).resolve()
        self.path = self.work / "wineprefix"
        self.support = Path(support) if support else None
        self.itunes = Path(itunes) if itunes else None
        self.browser = Path(browser) if browser else None
        self.browser_log = self.work / "browser.log"
        # The X display of every Wine process of this prefix: the first one starts Wine's desktop
        # process, which keeps the display driver it found for all the others.
        self.display = None

    def env(self, **extra):
        env = dict(os.environ)
        env.update(WINEPREFIX=str(self.path), WINEDEBUG="-all", LANG="C.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=",
                   WINEARCH="win64", CHIMEBOX_E2E_BROWSER_LOG=self.windows_path(self.browser_log))
        if self.display:
            env["DISPLAY"] = self.display
        else:
            env.pop("DISPLAY", None)
        env.update(extra)
        return env

    @staticmethod
    def windows_path(path):
        """The Windows form of a Unix path, as Wine programs see it (drive Z:)."""
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    def drive_c(self, rel=""):
        return self.path / "drive_c" / rel

    def tool(self, name):
        """A helper program copied into the prefix, as a Windows path."""
        return "C:\\" + TOOLS + "\\" + name

    def run(self, *args, timeout=120, env=None):
        return subprocess.run([WINE, *args], env=env or self.env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout).returncode

    def make(self):
        """A fresh prefix: boot it, lay out the support folders and helpers, write the registry."""
        self.stop()
        shutil.rmtree(self.path, ignore_errors=True)
        # What the last run left for its post-mortem goes with it.
        shutil.rmtree(self.work / "failures", ignore_errors=True)
        (self.work / "wine.log").unlink(missing_ok=True)
        self.path.mkdir(parents=True)
        env = self.env()
        subprocess.run([WINE, "wineboot", "--init"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=240)
        if not (self.path / "drive_c/windows").is_dir():
            raise RuntimeError(f"wineboot did not make a prefix in {self.path}")
        self.lay_out_support()
        tools = self.drive_c(TOOLS)
        tools.mkdir(parents=True, exist_ok=True)
        for program in (self.itunes, self.browser):
            if program:
                shutil.copy2(program, tools / program.name)
        if self.itunes:
            # The same program under a name that differs from "iTunes.exe" only in case.
            (tools / "lower").mkdir(exist_ok=True)
            shutil.copy2(self.itunes, tools / "lower" / self.itunes.name.lower())
        self.import_reg(self.base_registry())
        self.set_support("present")
        subprocess.run([WINESERVER, "-w"], env=env, timeout=60)
        if not (self.path / "system.reg").exists():
            raise RuntimeError(f"the prefix {self.path} has no registry")

    def lay_out_support(self):
        good = self.drive_c(APPLE_ROOT)
        shutil.rmtree(good, ignore_errors=True)
        shutil.copytree(self.support, good)
        broken = self.drive_c(BROKEN_ROOT)
        shutil.rmtree(broken, ignore_errors=True)
        shutil.copytree(self.support, broken)
        shutil.copy2(broken / "CoreFP/CoreFP.dll", broken / "Mobile Device Support/AirTrafficHost.dll")

    def base_registry(self):
        lines = [
            r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]",
            '"微软雅黑"="WenQuanYi Micro Hei"',
            "",
        ]
        if self.browser:
            command = '"\\"' + self.tool(self.browser.name).replace("\\", "\\\\") + '\\" \\"%1\\""'
            for hive in ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"):
                for scheme in ("http", "https"):
                    lines += [rf"[{hive}\Software\Classes\{scheme}\shell\open\command]", "@=" + command, ""]
        return lines

    def import_reg(self, lines):
        text = "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"
        with tempfile.NamedTemporaryFile("wb", suffix=".reg", dir=self.work, delete=False) as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
            name = f.name
        try:
            self.run("regedit", "/S", self.windows_path(name))
        finally:
            os.unlink(name)

    def set_support(self, mode):
        """Apple's two registry keys in the 32-bit view: "present", "broken" (a support folder
        whose AirTrafficHost.dll cannot be bound) or "missing" (no iTunes registration)."""
        wow = r"HKEY_LOCAL_MACHINE\Software\Wow6432Node"
        apps = wow + r"\Apple Computer, Inc.\iPod\RegisteredApps\4"
        device = wow + r"\Apple Inc.\Apple Mobile Device Support"
        root = BROKEN_ROOT if mode == "broken" else APPLE_ROOT
        install = ("C:\\" + root.replace("/", "\\") + "\\Mobile Device Support\\").replace("\\", "\\\\")
        lines = [f"[-{apps}]", ""]
        if mode != "missing":
            lines += [f"[{apps}]", '"path"="C:\\\\Program Files\\\\iTunes\\\\iTunes.exe"', ""]
        lines += [f"[{device}]", f'"InstallDir"="{install}"', ""]
        self.import_reg(lines)

    def start(self):
        """Starts a wineserver that stays for the whole group (each process start is costly)."""
        subprocess.run([WINESERVER, "-p"], env=self.env(), timeout=30)

    def stop(self):
        if self.path.exists():
            subprocess.run([WINESERVER, "-k"], env=self.env(), stderr=subprocess.DEVNULL, timeout=30)
            subprocess.run([WINESERVER, "-w"], env=self.env(), stderr=subprocess.DEVNULL, timeout=30)


class Xvfb:
    """A private X display, 1280x1024x24, on a display number that Xvfb itself finds free."""

    def __init__(self):
        read, write = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                     pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as numbers:
            number = numbers.readline().strip()
        if not number or self.proc.poll() is not None:
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=10)


class Phone:
    """A simulated iPhone under PHONESIM_ROOT/phones/<udid>, with the companion app installed."""

    def __init__(self, root, udid="00008030-000A1B2C3D4E5F60", name="陈的 iPhone"):
        self.dir = Path(root) / "phones" / udid
        (self.dir / "media/iTunes_Control/iTunes").mkdir(parents=True, exist_ok=True)
        self.sync = self.dir / "apps" / COMPANION / "Documents/sync"
        self.sync.mkdir(parents=True, exist_ok=True)
        (self.dir / "name").write_text(name, encoding="utf-8")
        (self.dir / "paired").touch()
        self.tokens = 0

    def attach(self):
        self.tokens += 1
        (self.dir / "attached").write_text(str(self.tokens))

    def detach(self):
        (self.dir / "attached").unlink(missing_ok=True)

    def heartbeat(self):
        beat = self.sync / "HeartBeat"
        return beat.read_bytes() if beat.exists() else b""

    def queue_ringtone(self, file_name, title, data):
        """As the companion app does it: the file, an empty entry named after the title, then the
        request."""
        add = self.sync / "add"
        add.mkdir(exist_ok=True)
        (add / file_name).write_bytes(data)
        (add / title).write_bytes(b"")
        (self.sync / "UpdateRing").write_bytes(b"")

    def empty_queues(self):
        """The companion app empties its queue folders after a job (the program removes the
        folders only when they are empty)."""
        for kind in ("add", "rm"):
            for entry in (self.sync / kind).glob("*") if (self.sync / kind).exists() else []:
                entry.unlink()

    def update_served(self):
        return not (self.sync / "UpdateRing").exists()

    def announce_protocol(self, version):
        folder = self.sync / "protocol"
        folder.mkdir(exist_ok=True)
        (folder / ("protocol_" + version)).write_bytes(b"")

    def tracks(self):
        import json
        library = self.dir / "library.json"
        return json.loads(library.read_text(encoding="utf-8"))["tracks"] if library.exists() else []


class Program:
    """A Windows program started in the prefix on the display; stopped (killed) on close."""

    def __init__(self, prefix, path, env=None):
        # A Unix path is given whole (Wine resolves it from its own working directory otherwise);
        # a Windows path (C:\...) as it is.
        path = Path(path).resolve() if Path(path).exists() else path
        # Wine's own complaints go to a log beside the prefix, for a failure's post-mortem.
        with open(prefix.work / "wine.log", "ab") as log:
            self.proc = subprocess.Popen([WINE, str(path)], env=prefix.env(**(env or {})),
                                         stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def running(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout):
        try:
            self.proc.wait(timeout=timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def close(self):
        if self.running():
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait(timeout=10)


def main(argv):
    args = parse_args(argv)
    prefix = Prefix(args.work, args.support, args.itunes, args.browser)
    for what in args.what:
        if what == "make-prefix":
            prefix.work.mkdir(parents=True, exist_ok=True)
            prefix.make()
            print("prefix ready:", prefix.path)
        elif what == "stop-prefix":
            prefix.stop()
        else:
            raise SystemExit(f"unknown action {what}")


if __name__ == "__main__":
    main(sys.argv[1:])
