"""chimebox.exe as a user meets it: started under Wine on a private Xvfb display, with a
simulated phone on disk, driven with real mouse and keyboard input (xdotool) and checked against
the skin pictures on the screen.
Usage: test_window.py GROUP --exe ... --support ... --skin ... --itunes ... --browser ... --work ..."""
import shutil
import sys
import tempfile
import time
import unittest
from pathlib import Path
from urllib.parse import urlparse

sys.path.insert(0, str(Path(__file__).resolve().parent))
import screen  # noqa: E402
import winenv  # noqa: E402
from screen import (CLIENT, CLOSE, HELP_BAR, MINIMIZE, STATE, STATUS_LINE, SYNCING, TILE, TITLE_BAR,  # noqa: E402
                    MATCH, Display, Skin, best_match, find_main_window, inside, mean_distance)
from winenv import Phone, Prefix, Program, wait_until  # noqa: E402

GROUP = sys.argv[1] if len(sys.argv) > 1 else ""
ARGS = winenv.parse_args(sys.argv[2:])
SLOW = 40        # seconds: a phone operation under Wine on a busy 2-core machine
START = 60       # seconds: the program's window appears
QUIET = 2.0      # seconds in which something must not happen
SERVED = 10.0    # seconds in which a phone that is served answers a request of the companion app
TONE = bytes(range(256)) * 64

STATE_PICTURES = ("connected", "not_connected", "itunes_needed")
# Controls drawn over the state picture, in its own coordinates.
STATE_OVERLAYS = [inside(STATE, HELP_BAR), inside(STATE, SYNCING)]


class World:
    """Shared by the cases of one group: the prefix, its wineserver and one X display."""
    prefix = None
    xvfb = None
    display = None
    skin = None


def setUpModule():
    World.prefix = Prefix(ARGS.work, ARGS.support, ARGS.itunes, ARGS.browser)
    if not (World.prefix.path / "system.reg").exists():
        World.prefix.make()
    World.xvfb = winenv.Xvfb()
    World.display = Display(World.xvfb.display)
    World.skin = Skin(ARGS.skin)
    World.prefix.display = World.xvfb.display
    World.prefix.start()


def tearDownModule():
    # The display goes with this group, so must every Wine process that holds it open.
    World.prefix.stop()
    World.xvfb.close()


class WindowCase(unittest.TestCase):
    support = "present"
    last_scores = {}

    def setUp(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="chimebox-e2e-"))
        self.root = self.tmp / "phonesim"
        (self.root / "phones").mkdir(parents=True)
        self.programs = []
        self.browser_log = World.prefix.browser_log
        self.browser_log.unlink(missing_ok=True)
        self.display = World.display
        self.skin = World.skin
        # No pointer left resting on a control from the case before.
        self.display.move(1270, 1010)

    def tearDown(self):
        result = getattr(getattr(self, "_outcome", None), "result", None)
        failed = result is not None and any(test is self or getattr(test, "test_case", None) is self
                                            for test, _ in result.failures + result.errors)
        if failed:
            # What the screen showed when the case failed, for the post-mortem.
            folder = World.prefix.work / "failures"
            folder.mkdir(exist_ok=True)
            self.display.grab().save(folder / (self.id().rsplit(".", 1)[-1] + ".png"))
        for program in reversed(self.programs):
            program.close()
        # A killed program leaves no window behind before the next case looks for one.
        wait_until(lambda: not self.display.windows(), 10)
        shutil.rmtree(self.tmp, ignore_errors=True)

    # --- the program and its world

    def phone(self, **kw):
        return Phone(self.root, **kw)

    def start(self, support=None):
        World.prefix.set_support(support or self.support)
        program = Program(World.prefix, ARGS.exe,
                          env={"PHONESIM_ROOT": World.prefix.windows_path(self.root)})
        self.programs.append(program)
        window = find_main_window(self.display, START)
        self.assertIsNotNone(window, "the main window did not appear")
        self.assertEqual(window.size(), CLIENT)
        self.program = program
        self.window = window
        # The first pictures are drawn: the title bar is there.
        self.assertTrue(wait_until(lambda: self.matches(TITLE_BAR, "title_bar"), SLOW), self.report(TITLE_BAR, "title_bar"))
        return window

    def start_itunes(self, name="iTunes.exe"):
        program = Program(World.prefix, World.prefix.tool(name))
        self.programs.insert(0, program)
        return program

    def pages(self):
        """The addresses the browser stand-in was asked to open, in order."""
        if not self.browser_log.exists():
            return []
        lines = self.browser_log.read_text(encoding="utf-8").splitlines()
        return [line.strip().strip('"') for line in lines if line.strip()]

    def page_paths(self):
        return [urlparse(url).path for url in self.pages()]

    # --- what is on the screen

    def difference(self, box, picture, shot=None, masks=()):
        if isinstance(picture, str):
            picture = self.skin.picture(picture)
        return Skin.difference(self.window.region(box, shot), picture, masks)

    def matches(self, box, picture, shot=None, masks=()):
        return self.difference(box, picture, shot, masks) <= MATCH

    def report(self, box, picture):
        return f"{picture}: difference {self.difference(box, picture):.1f} > {MATCH}"

    def shows(self, box, candidates, shot=None, masks=()):
        """Which of the candidate pictures (skin names, or (name, image) pairs) the region shows:
        the closest one, if it is within the tolerance; else None."""
        pictures = dict((c, self.skin.picture(c)) if isinstance(c, str) else c for c in candidates)
        best, self.last_scores = best_match(self.window.region(box, shot), pictures, masks)
        return best

    def under(self, state, box):
        """The part of a state picture that a control covers, as a candidate for shows()."""
        return (state + " beneath", self.skin.picture(state, inside(STATE, box)))

    def state_picture(self, shot=None):
        """The state picture shown, judged over the parts that no other control covers."""
        shot = shot or self.display.grab()
        masks = list(STATE_OVERLAYS)
        if self.tile_shown(shot):
            masks.append(inside(STATE, TILE))
        return self.shows(STATE, STATE_PICTURES, shot, masks)

    def tile_shown(self, shot=None):
        candidates = ["download_tile", "download_tile_hover"] + [self.under(s, TILE) for s in STATE_PICTURES]
        return self.shows(TILE, candidates, shot) in ("download_tile", "download_tile_hover")

    def assertShows(self, box, candidates, expected, timeout=15):
        """The region comes to show the expected picture and keeps it: a picture change lags the
        input a little, so one look right after the input could still see the old one."""
        def steady():
            return self.shows(box, candidates) == expected and (time.sleep(0.3) or self.shows(box, candidates) == expected)
        self.assertTrue(wait_until(steady, timeout, step=0.1), f"expected {expected}, scores {self.last_scores}")

    def assertState(self, expected, timeout=SLOW):
        seen = wait_until(lambda: self.state_picture() == expected, timeout, step=0.2)
        self.assertTrue(seen, f"state picture {self.state_picture()!r}, expected {expected!r}: {self.last_scores}")

    def syncing_label(self, shot=None):
        """'bright', 'faded' or 'hidden' (the connected picture shows through at its place)."""
        found = self.shows(SYNCING, ["syncing_bright", "syncing_faded", self.under("connected", SYNCING),
                                     self.under("not_connected", SYNCING)], shot)
        return {"syncing_bright": "bright", "syncing_faded": "faded"}.get(found, "hidden" if found else None)

    def status_line(self):
        return self.window.region(STATUS_LINE)

    def status_line_differs(self, before):
        """How far the status line now is from an earlier look at it (0: the same text)."""
        return Skin.difference(self.status_line(), before.convert("RGBA"))

    def prompts(self):
        """The program's other visible top-level windows of prompt size (tooltips are smaller)."""
        found = []
        for wid in self.display.windows():
            if wid == self.window.wid:
                continue
            g = self.display.geometry(wid)
            if g and g[2] >= 200 and g[3] >= 100:
                found.append(screen.Window(self.display, wid))
        return found

    @staticmethod
    def prompt_kind(prompt):
        """By shape, since prompts may overlap: the version prompt (336 x 178) is taller than
        the close-iTunes prompt (336 x 140)."""
        w, h = prompt.size()
        return "version" if h / w > 0.475 else "itunes"

    @staticmethod
    def pink_button(prompt):
        """Whether the prompt shows a pink-filled button face in its middle band (立即更新), where
        the close-iTunes prompt has its text on white."""
        w, h = prompt.size()
        face = prompt.region((w // 2 - 80, int(h * 0.50), 20, 10))
        return mean_distance(face, (243, 82, 137)) < 40

    def wait_prompts(self, count, timeout=SLOW):
        return wait_until(lambda: len(self.prompts()) == count, timeout, step=0.2)

    def click_in(self, window, fx, fy):
        """A click at a fraction of a window's size: prompts are laid out in proportion."""
        w, h = window.size()
        window.click((int(w * fx), int(h * fy)))

    def closed(self, program, timeout=SLOW):
        return program.wait_exit(timeout)


# Each picture with the one that replaces it on hover.
TILE_PAIR = ("download_tile", "download_tile_hover")
HELP_PAIR = ("help_bar", "help_bar_hover")
CLOSE_PAIR = ("close", "close_hover")
MINIMIZE_PAIR = ("minimize", "minimize_hover")

# Prompt buttons as fractions of the prompt's size (336 x 140 and 336 x 178 at the reference scale).
ITUNES_OK = (0.5, 123.5 / 140)
ITUNES_TEXT = (0.5, 52.5 / 140)
VERSION_TEXT = (0.5, 57 / 178)
UPDATE_NOW = (0.5, 99.5 / 178)
SECOND_CHOICE = (0.5, 161.5 / 178)


class NoSupport(WindowCase):
    """No Apple support registered: the iTunes-needed window, its tile, links and window chrome."""
    support = "missing"

    def test_itunes_needed_window_and_its_links(self):
        self.start()
        shot = self.display.grab()
        self.assertEqual(self.state_picture(shot), "itunes_needed")
        for box, pair in ((TILE, TILE_PAIR), (HELP_BAR, HELP_PAIR), (MINIMIZE, MINIMIZE_PAIR), (CLOSE, CLOSE_PAIR)):
            with self.subTest(picture=pair[0]):
                self.assertEqual(self.shows(box, pair, shot), pair[0], self.last_scores)
        # The status line holds text: dark pixels on the light ground.
        extrema = self.window.region(STATUS_LINE, shot).convert("L").getextrema()
        self.assertLess(extrema[0], 120, "no text on the status line")
        self.assertGreater(extrema[1], 200)

        # Hovering swaps the tile's picture; a click opens the download page.
        self.assertShows(TILE, TILE_PAIR, "download_tile")
        self.window.hover(TILE)
        self.assertShows(TILE, TILE_PAIR, "download_tile_hover")
        self.window.click(TILE)
        self.assertTrue(wait_until(lambda: self.pages(), 15), "no page opened for the tile")
        self.assertEqual(self.page_paths(), ["/cn/itunes/download/"])

        # The help bar: pressed outside and released on it opens the help page; pressed on it and
        # released outside opens nothing.
        help_x, help_y = self.window.to_screen(*screen.centre(HELP_BAR))
        self.display.drag(help_x, help_y - 120, help_x, help_y)
        self.assertTrue(wait_until(lambda: len(self.pages()) == 2, 15), "no page opened for the help bar")
        self.assertEqual(self.page_paths()[1], "/HelpNew/helpWin.html")
        self.assertShows(HELP_BAR, HELP_PAIR, "help_bar_hover")
        self.display.drag(help_x, help_y, help_x, help_y - 120)
        time.sleep(QUIET)
        self.assertEqual(len(self.pages()), 2, self.pages())
        self.assertShows(HELP_BAR, HELP_PAIR, "help_bar")

    def test_caption_buttons_hover_with_tooltips(self):
        self.start()
        self.window.hover(STATE)
        time.sleep(0.5)
        before = set(self.display.windows())
        for box, pair in ((CLOSE, CLOSE_PAIR), (MINIMIZE, MINIMIZE_PAIR)):
            normal, hover = pair
            with self.subTest(button=normal):
                self.assertShows(box, pair, normal)
                self.window.hover(box)
                self.assertShows(box, pair, hover)
                # The tooltip is a window of its own that shows while the pointer rests there.
                tip = wait_until(lambda: set(self.display.windows()) - before, 8, step=0.2)
                self.assertTrue(tip, "no tooltip window appeared")
                self.window.hover((300, 200))
                self.assertShows(box, pair, normal)
                self.assertTrue(wait_until(lambda: not (set(self.display.windows()) - before), 8, step=0.2),
                                "the tooltip stayed after the pointer left")

    def test_title_bar_drags_the_window_and_the_picture_does_not(self):
        self.start()
        for start, offset, moves in (((120, 40), (150, 90), True), ((340, 200), (150, 90), False),
                                     ((100, 505), (-60, -40), False)):
            with self.subTest(start=start):
                before = self.window.origin()
                x, y = self.window.to_screen(*start)
                self.display.drag(x, y, x + offset[0], y + offset[1])
                expected = (before[0] + offset[0], before[1] + offset[1]) if moves else before
                wait_until(lambda: self.window.origin() == expected, 5, step=0.1)
                self.assertEqual(self.window.origin(), expected)
        # Moved, it still draws its pictures where they belong.
        self.assertEqual(self.state_picture(), "itunes_needed")

    def test_escape_does_nothing_and_enter_closes(self):
        self.start()
        self.window.hover((340, 200))
        self.display.key("Escape")
        time.sleep(QUIET)
        self.assertTrue(self.program.running(), "Escape ended the program")
        self.assertTrue(self.window.viewable())
        self.display.key("Return")
        self.assertTrue(self.closed(self.program), "Enter did not close the program")

    def test_minimise_and_close_buttons(self):
        self.start()
        self.assertFalse(self.window.iconic())
        self.window.click(MINIMIZE)
        self.assertTrue(wait_until(self.window.iconic, SLOW), "the window was not minimised")
        self.assertTrue(self.program.running())
        self.programs.pop().close()

        self.start()
        self.window.click(CLOSE)
        self.assertTrue(self.closed(self.program), "the close button did not end the program")


class WithPhone(WindowCase):
    """Apple support present and a simulated phone: states, the syncing label, the library."""

    def test_failing_binder_keeps_not_connected(self):
        phone = self.phone()
        self.start(support="broken")
        self.assertState("not_connected", SLOW)
        phone.attach()
        time.sleep(QUIET + 1)
        self.assertEqual(self.state_picture(), "not_connected")
        self.assertEqual(phone.heartbeat(), b"", "a phone was served without AirTrafficHost bound")
        self.assertFalse(self.tile_shown(), "the tile is shown with support present")
        self.window.click(CLOSE)
        self.assertTrue(self.closed(self.program))

    def test_plug_sync_unplug(self):
        phone = self.phone(name="陈的 iPhone")
        self.start()
        self.assertState("not_connected", SLOW)
        waiting = self.status_line()
        # The tile's place reacts to nothing in this mode.
        self.window.click(TILE)
        time.sleep(QUIET)
        self.assertEqual(self.pages(), [])

        phone.attach()
        self.assertState("connected")
        self.assertTrue(wait_until(lambda: phone.heartbeat().startswith(b"Version:1.1.1,HeartBeat:"), SLOW))
        self.assertTrue(wait_until(lambda: self.status_line_differs(waiting) > 1.0, SLOW),
                        "the status line did not change for the phone's name")
        self.assertEqual(self.syncing_label(), "hidden")
        # The help bar is drawn again above the new state picture.
        self.assertShows(HELP_BAR, HELP_PAIR, "help_bar")
        # A request of the companion app is served (the version prompt's case below expects the
        # opposite within SERVED seconds).
        (phone.sync / "GetCurrentRing").write_bytes(b"")
        self.assertTrue(wait_until(lambda: not (phone.sync / "GetCurrentRing").exists(), SERVED),
                        "GetCurrentRing was not served")

        # The phone answers only the start of the conversation: the job stays syncing, and the
        # label blinks.
        script = phone.dir / "ath-script"
        script.write_text("SyncAllowed\n")
        phone.queue_ringtone("chimes.m4r", "晨钟", TONE)
        self.assertBlinks()
        self.assertEqual(self.state_picture(), "connected")
        # The phone finishes the conversation: the job ends and the label goes.
        with script.open("a") as more:
            more.write("ReadyForSync\nAssetManifest\nSyncFinished\n")
        self.assertTrue(wait_until(phone.update_served, SLOW), "the job did not end")
        self.assertTrue(wait_until(lambda: self.syncing_label() == "hidden", 5), "the syncing label stayed")
        self.assertState("connected", SLOW)
        phone.empty_queues()

        # Unplugged mid-job: back to waiting, label hidden, the waiting text again.
        script.write_text("SyncAllowed\n")
        phone.queue_ringtone("chimes.m4r", "晨钟", TONE)
        self.assertBlinks()
        phone.detach()
        self.assertState("not_connected")
        self.assertTrue(wait_until(lambda: self.syncing_label() == "hidden", 5), "the syncing label stayed")
        self.assertTrue(wait_until(lambda: self.status_line_differs(waiting) < 1.0, SLOW),
                        "the status line did not return to waiting")
        self.assertShows(HELP_BAR, HELP_PAIR, "help_bar")

        # Plugged in again with a phone that answers: the request stayed, is served now and the
        # track registered.
        script.unlink()
        phone.attach()
        self.assertTrue(wait_until(phone.update_served, SLOW * 2), "the update was not served")
        tracks = phone.tracks()
        self.assertEqual([(t["title"], t["path"], t["broken"]) for t in tracks],
                         [("晨钟", "/iTunes_Control/Ringtones/chimes.m4r", False)])
        self.assertState("connected", SLOW)
        self.assertTrue(wait_until(lambda: self.syncing_label() == "hidden", 5), "the syncing label stayed")

    def assertBlinks(self):
        """Both syncing pictures show at the label's place within a few blinks."""
        seen = set()
        wait_until(lambda: seen.add(self.syncing_label()) or {"bright", "faded"} <= seen, SLOW, step=0.1)
        self.assertLessEqual({"bright", "faded"}, seen, "the syncing label did not blink")

    def test_itunes_running_prompts_once_per_run(self):
        phone = self.phone()
        self.start_itunes()
        self.start()
        self.assertState("not_connected", SLOW)
        time.sleep(QUIET)
        self.assertEqual(self.prompts(), [], "a prompt without a phone")
        phone.attach()
        self.assertTrue(self.wait_prompts(1), "no close-iTunes prompt")
        (prompt,) = self.prompts()
        self.assertEqual(self.prompt_kind(prompt), "itunes")
        self.assertFalse(self.pink_button(prompt))
        # Escape leaves it open; Enter closes it (its button is the default one).
        self.click_in(prompt, *ITUNES_TEXT)
        self.display.key("Escape")
        time.sleep(QUIET)
        self.assertEqual(len(self.prompts()), 1, "Escape closed the prompt")
        self.display.key("Return")
        self.assertTrue(self.wait_prompts(0, SLOW), "Enter did not close the prompt")
        self.assertTrue(self.program.running())
        # Unplugged and plugged in again with iTunes still running: no second prompt.
        phone.detach()
        self.assertState("not_connected")
        phone.attach()
        self.assertState("connected")
        time.sleep(QUIET + 1)
        self.assertEqual(self.prompts(), [], "a second close-iTunes prompt")

    def test_itunes_is_recognised_by_its_exact_name_only(self):
        phone = self.phone()
        itunes = self.start_itunes("lower\\itunes.exe")
        self.start()
        phone.attach()
        self.assertState("connected")
        time.sleep(QUIET + 1)
        self.assertEqual(self.prompts(), [], "a process named itunes.exe was taken for iTunes")
        self.assertTrue(itunes.running(), "the stand-in itunes.exe is not running")


class Prompts(WindowCase):
    """A newer companion app: the version prompt, alone and together with the iTunes prompt."""

    def open_version_prompt(self, version):
        phone = self.phone()
        phone.announce_protocol(version)
        self.start()
        phone.attach()
        self.assertTrue(self.wait_prompts(1), "no version prompt")
        (prompt,) = self.prompts()
        return phone, prompt

    def test_version_prompt_update_now_keeps_it_open(self):
        phone, prompt = self.open_version_prompt("1.1.2")
        self.assertEqual(self.prompt_kind(prompt), "version")
        self.assertTrue(self.pink_button(prompt), "no pink 立即更新 button on the version prompt")
        self.assertEqual((phone.sync / "protocol/pc_update").read_bytes(), b"1")
        self.click_in(prompt, *VERSION_TEXT)
        self.display.key("Escape")
        time.sleep(QUIET)
        self.assertEqual(len(self.prompts()), 1, "Escape closed the prompt")
        self.click_in(prompt, *UPDATE_NOW)
        self.assertTrue(wait_until(lambda: self.pages(), 15), "立即更新 opened no page")
        self.assertEqual(self.page_paths(), ["/"])
        time.sleep(0.5)
        self.assertEqual(len(self.prompts()), 1, "立即更新 closed the prompt")
        self.assertTrue(self.program.running())

    def test_version_prompt_close_ends_the_program(self):
        _, prompt = self.open_version_prompt("2.0")
        self.click_in(prompt, *SECOND_CHOICE)
        self.assertTrue(wait_until(lambda: not self.display.windows(), SLOW), "关闭 left windows open")
        self.assertTrue(self.closed(self.program, 15), "关闭 did not end the program")
        self.assertEqual(self.pages(), [])

    def test_both_prompts_at_once_and_enter_closes_only_the_prompt(self):
        phone = self.phone()
        phone.announce_protocol("1.2")
        self.start_itunes()
        self.start()
        phone.attach()
        self.assertTrue(self.wait_prompts(2), f"{len(self.prompts())} prompts open, expected both")
        kinds = {self.prompt_kind(p): p for p in self.prompts()}
        self.assertEqual(sorted(kinds), ["itunes", "version"])
        self.click_in(kinds["itunes"], *ITUNES_OK)
        self.assertTrue(self.wait_prompts(1, SLOW), "the close-iTunes prompt did not close")
        self.assertEqual(self.prompt_kind(self.prompts()[0]), "version")
        self.click_in(kinds["version"], *VERSION_TEXT)
        self.display.key("Return")
        self.assertTrue(self.wait_prompts(0, SLOW), "Enter did not close the version prompt")
        self.assertTrue(self.program.running(), "Enter on the prompt ended the program")
        # The phone stays attached, but nothing is served for it.
        self.assertState("connected", SLOW)
        (phone.sync / "GetCurrentRing").write_bytes(b"")
        time.sleep(SERVED)
        self.assertTrue((phone.sync / "GetCurrentRing").exists(), "a request was served for a newer companion app")


GROUPS = {"NoSupport": NoSupport, "Phone": WithPhone, "Prompts": Prompts}

if __name__ == "__main__":
    suite = unittest.TestLoader().loadTestsFromTestCase(GROUPS[GROUP])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
