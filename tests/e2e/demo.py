"""The demo: chimebox.exe under Wine with the simulated Apple support and a simulated iPhone,
driven as the phone and the companion app would drive it. Runs on $DISPLAY when it is set, else on
a private Xvfb; screenshots of the window are saved under WORK either way, and the last line of
output is the path of the last one.
Usage: demo.py --exe ... --support ... --skin ... --work ..."""
import os
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import screen  # noqa: E402
import winenv  # noqa: E402
from screen import STATE, SYNCING, Display, Skin, best_match, find_main_window, inside  # noqa: E402
from winenv import Phone, Prefix, Program, wait_until  # noqa: E402

TONE = bytes(range(256)) * 64


def say(text):
    print(text, flush=True)


class Demo:
    def __init__(self, args):
        self.args = args
        self.work = Path(args.work).resolve()
        self.work.mkdir(parents=True, exist_ok=True)
        self.prefix = Prefix(self.work, args.support)
        self.skin = Skin(args.skin)
        self.xvfb = None
        self.program = None
        self.last_shot = None

    def open_display(self):
        if os.environ.get("DISPLAY"):
            say(f"Showing the window on {os.environ['DISPLAY']}")
            return Display(os.environ["DISPLAY"])
        self.xvfb = winenv.Xvfb()
        say(f"No DISPLAY: running on a private Xvfb ({self.xvfb.display}); screenshots go to {self.work}/")
        return Display(self.xvfb.display)

    def start(self, support, root):
        self.prefix.set_support(support)
        self.program = Program(self.prefix, self.args.exe,
                               env={"PHONESIM_ROOT": self.prefix.windows_path(root)})
        self.window = find_main_window(self.display, 60)
        if not self.window:
            raise SystemExit("the window of chimebox.exe did not appear")
        wait_until(lambda: Skin.difference(self.window.region(screen.TITLE_BAR), self.skin.picture("title_bar")) < 18, 10)

    def stop(self):
        if self.program:
            self.program.close()
            wait_until(lambda: not self.display.windows(), 10)
            self.program = None

    def state(self):
        masks = [inside(STATE, screen.HELP_BAR), inside(STATE, SYNCING), inside(STATE, screen.TILE)]
        names = ("connected", "not_connected", "itunes_needed")
        return best_match(self.window.region(STATE), {n: self.skin.picture(n) for n in names}, masks)[0]

    def label_shown(self):
        pictures = {n: self.skin.picture(n) for n in ("syncing_bright", "syncing_faded")}
        pictures["hidden"] = self.skin.picture("connected", inside(STATE, SYNCING))
        return best_match(self.window.region(SYNCING), pictures)[0] in ("syncing_bright", "syncing_faded")

    def save(self, name, image=None):
        path = self.work / (name + ".png")
        (image or self.window.capture()).save(path)
        self.last_shot = path
        say(f"  screenshot: {path}")

    def run(self):
        # The display first: the prefix's first Wine process keeps the display it was given.
        self.display = self.open_display()
        self.prefix.display = self.display.display
        say("Laying out a Wine prefix with the simulated Apple support")
        if not (self.prefix.path / "system.reg").exists():
            self.prefix.make()
        else:
            self.prefix.lay_out_support()
            self.prefix.import_reg(self.prefix.base_registry())
        self.prefix.start()
        for old in self.work.glob("*.png"):
            old.unlink()
        root = self.work / "phonesim"
        phone = Phone(root)
        for stale in ("attached", "library.json", "calls.log", "ath-script"):
            (phone.dir / stale).unlink(missing_ok=True)
        for sub in ("add", "rm", "protocol"):
            for entry in (phone.sync / sub).glob("*") if (phone.sync / sub).exists() else []:
                entry.unlink()

        say("Without Apple's support registered, the window asks for iTunes")
        self.start("missing", root)
        self.save("itunes_needed")
        self.stop()

        say("With the simulated Apple support: waiting for a phone")
        self.start("present", root)
        wait_until(lambda: self.state() == "not_connected", 10)
        self.save("waiting")

        say(f"Plugging in the simulated iPhone \"{(phone.dir / 'name').read_text(encoding='utf-8')}\"")
        phone.attach()
        if not wait_until(lambda: phone.heartbeat().startswith(b"Version:"), 60):
            raise SystemExit("no heartbeat from the program")
        say("  heartbeat: " + phone.heartbeat().rstrip(b"\0").decode())
        wait_until(lambda: self.state() == "connected", 20)
        self.save("connected")

        say("The companion app queues the ringtone \"晨钟\" and asks for the update")
        phone.queue_ringtone("chimes.m4r", "晨钟", TONE)
        syncing = None
        end = time.monotonic() + 90
        while not phone.update_served() and time.monotonic() < end:
            if syncing is None and self.label_shown():
                syncing = self.window.capture()
            time.sleep(0.05)
        if not phone.update_served():
            raise SystemExit("the update was not served")
        if syncing:
            self.save("syncing", syncing)
        else:
            say("  (the job was done before the syncing label's first blink)")
        say("  update served: the request file is gone")
        wait_until(lambda: self.state() == "connected" and not self.label_shown(), 10)

        say("The phone's media library now holds:")
        for t in phone.tracks():
            state = "broken" if t.get("broken") else "registered"
            say(f"  pid {t['pid']}  {t['title']}  {t.get('path', '')}  ({state})")
        self.save("registered")

        say("Unplugging the phone")
        phone.detach()
        wait_until(lambda: self.state() == "not_connected", 20)
        self.save("unplugged")
        self.stop()
        print(self.last_shot)


if __name__ == "__main__":
    demo = Demo(winenv.parse_args(sys.argv[1:]))
    try:
        demo.run()
    finally:
        if demo.program:
            demo.program.close()
        demo.prefix.stop()
        if demo.xvfb:
            demo.xvfb.close()
