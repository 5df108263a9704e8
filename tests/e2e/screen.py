"""What the user sees and does on an X display: windows found with xdotool and xwininfo, real
mouse and keyboard input with xdotool, screenshots compared with the skin pictures region by
region, with a tolerance."""
import subprocess
import time
from pathlib import Path

from PIL import Image, ImageChops, ImageGrab, ImageStat

from winenv import TITLE, wait_until

# The main window's layout in client pixels: (x, y, width, height).
TITLE_BAR = (0, 0, 682, 76)
STATE = (2, 76, 678, 417)
TILE = (64, 219, 132, 182)
SYNCING = (287, 304, 116, 28)
HELP_BAR = (210, 438, 460, 23)
MINIMIZE = (612, 7, 25, 25)
CLOSE = (650, 7, 25, 25)
STATUS_LINE = (2, 492, 398, 31)
CLIENT = (682, 525)
# Alpha from which a skin pixel counts as solid in a comparison.
SOLID = 245


def centre(box):
    x, y, w, h = box
    return x + w // 2, y + h // 2


def inside(outer, inner):
    """inner, given in the same coordinates as outer, relative to outer's origin."""
    return inner[0] - outer[0], inner[1] - outer[1], inner[2], inner[3]


class Display:
    def __init__(self, display):
        self.display = display

    def _run(self, *args, check=False):
        r = subprocess.run(list(args), env={"DISPLAY": self.display, "PATH": "/usr/bin:/bin"},
                           capture_output=True, text=True, timeout=30)
        if check and r.returncode != 0:
            raise RuntimeError(f"{args[0]} failed: {r.stderr.strip()}")
        return r.stdout

    def xdotool(self, *args):
        return self._run("xdotool", *map(str, args))

    def grab(self):
        return ImageGrab.grab(xdisplay=self.display).convert("RGB")

    def windows(self, cls="chimebox"):
        """The visible top-level windows of Wine programs whose class contains cls."""
        out = self.xdotool("search", "--onlyvisible", "--class", cls)
        return [int(w) for w in out.split()]

    def geometry(self, wid):
        """(x, y, width, height) of a window on the screen, or None once it is gone."""
        out = self._run("xwininfo", "-id", str(wid))
        values = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        try:
            return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                    int(values["Width"]), int(values["Height"]))
        except KeyError:
            return None

    def map_state(self, wid):
        for line in self._run("xwininfo", "-id", str(wid)).splitlines():
            if "Map State:" in line:
                return line.split(":", 1)[1].strip()
        return None

    def iconic(self, wid):
        """Minimised: without a window manager Wine keeps the X window mapped and says so in the
        window's hints."""
        return "Iconic State" in self._run("xprop", "-id", str(wid), "WM_HINTS")

    def name(self, wid):
        return self.xdotool("getwindowname", wid).strip()

    def move(self, x, y):
        self.xdotool("mousemove", x, y)

    def click(self, x, y):
        self.xdotool("mousemove", x, y)
        time.sleep(0.1)
        self.xdotool("click", 1)

    def drag(self, x0, y0, x1, y1, steps=8):
        self.xdotool("mousemove", x0, y0)
        time.sleep(0.1)
        self.xdotool("mousedown", 1)
        time.sleep(0.15)
        for i in range(1, steps + 1):
            self.xdotool("mousemove", x0 + (x1 - x0) * i // steps, y0 + (y1 - y0) * i // steps)
            time.sleep(0.05)
        time.sleep(0.15)
        self.xdotool("mouseup", 1)

    def key(self, name):
        self.xdotool("key", name)


class Skin:
    """The skin pictures, composited on the ground they are drawn over where they have alpha."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.cache = {}

    def picture(self, name, box=None):
        if name not in self.cache:
            self.cache[name] = Image.open(self.folder / (name + ".png")).convert("RGBA")
        image = self.cache[name]
        if box:
            x, y, w, h = box
            image = image.crop((x, y, x + w, y + h))
        return image

    @staticmethod
    def difference(shot, picture, masks=()):
        """Mean absolute difference per channel (0..255) between a screenshot region and a skin
        picture of the same size. Where the picture is transparent the screen shows the ground,
        taken from the screenshot there; masks are boxes (in the region) left out, and so are
        half-transparent pixels."""
        assert shot.size == picture.size, (shot.size, picture.size)
        alpha = picture.getchannel("A")
        clear = alpha.point(lambda a: 255 if a == 0 else 0)
        ground = (250, 250, 250)
        if clear.getbbox():
            ground = tuple(int(v) for v in ImageStat.Stat(shot, clear).median)
        seen = Image.alpha_composite(Image.new("RGBA", picture.size, ground + (255,)), picture).convert("RGB")
        # Solid and clear pixels are judged apart, the worse counting, so that a mostly clear
        # picture (a line of text) is not matched by its ground alone. Soft edges are left out:
        # the program blends them over whatever the control showed before (the other picture
        # of a hover pair), not only over the ground.
        left_out = Image.new("L", picture.size, 255)
        for x, y, w, h in masks:
            left_out.paste(0, (x, y, x + w, y + h))
        changed = ImageChops.difference(shot, seen)
        worst = 0.0
        for group in (alpha.point(lambda a: 255 if a >= SOLID else 0), clear):
            group = ImageChops.multiply(group, left_out)
            if group.getbbox():
                stat = ImageStat.Stat(changed, group)
                worst = max(worst, sum(stat.mean) / len(stat.mean))
        return worst


# A mean absolute difference per channel (0..255) that still counts as the same picture.
MATCH = 5.0


def mean_distance(region, colour):
    """Mean absolute distance per channel between a region's average colour and a colour."""
    mean = ImageStat.Stat(region).mean
    return sum(abs(m - c) for m, c in zip(mean, colour)) / 3


def best_match(shot, candidates, masks=(), tolerance=MATCH):
    """Which of the candidates ({name: RGBA picture}) a screenshot region shows: (the closest
    name, or None when even that one is beyond the tolerance; every score)."""
    scores = {name: Skin.difference(shot, picture, masks) for name, picture in candidates.items()}
    best = min(scores, key=scores.get)
    return (best if scores[best] <= tolerance else None), scores


class Window:
    """A top-level window of the program: its X id, and its client area (the window has no
    border or caption of its own, so the client area is the whole window)."""

    def __init__(self, display, wid):
        self.display = display
        self.wid = wid

    def origin(self):
        g = self.display.geometry(self.wid)
        return (g[0], g[1]) if g else None

    def size(self):
        g = self.display.geometry(self.wid)
        return (g[2], g[3]) if g else None

    def viewable(self):
        return self.display.map_state(self.wid) == "IsViewable"

    def iconic(self):
        return self.display.iconic(self.wid)

    def to_screen(self, x, y):
        ox, oy = self.origin()
        return ox + x, oy + y

    def region(self, box, shot=None):
        shot = shot or self.display.grab()
        ox, oy = self.origin()
        x, y, w, h = box
        return shot.crop((ox + x, oy + y, ox + x + w, oy + y + h))

    def capture(self):
        w, h = self.size()
        return self.region((0, 0, w, h))

    def click(self, box_or_point):
        x, y = centre(box_or_point) if len(box_or_point) == 4 else box_or_point
        self.display.click(*self.to_screen(x, y))

    def hover(self, box_or_point):
        x, y = centre(box_or_point) if len(box_or_point) == 4 else box_or_point
        self.display.move(*self.to_screen(x, y))


def find_main_window(display, timeout):
    """The program's main window, found by its title once it is shown."""
    def look():
        out = display.xdotool("search", "--onlyvisible", "--name", "^" + TITLE + "$")
        ids = [int(w) for w in out.split()]
        return ids[0] if ids else None
    wid = wait_until(look, timeout, step=0.2)
    return Window(display, wid) if wid else None
