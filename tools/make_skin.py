#!/usr/bin/python3
"""Draws Chimebox's skin pictures and its icon.

Writes res/skin/*.png and res/chimebox.ico below the repository root. Every
picture is drawn here from scratch; the output is the same on every run for a
given Pillow/FreeType/zlib.

Shapes are drawn at SS times the final size and reduced with an area filter,
which gives clean anti-aliased edges. Small text is drawn at the final size so
FreeType's own anti-aliasing keeps it sharp.

Usage: /usr/bin/python3 tools/make_skin.py [output-root]
"""

import io
import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

FONT_PATH = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
SS = 4  # supersampling factor for shapes

# Palette
PINK = (243, 82, 137)
PINK_LIGHT = (255, 179, 213)     # caption-button hover
PINK_DEEP = (214, 45, 105)       # strong text on light grounds
PINK_DARK = (176, 30, 84)
PINK_TINT = (251, 219, 231)      # pale fills inside pink outlines
PINK_WASH = (255, 234, 242)      # hover wash of the download tile
WHITE = (255, 255, 255)
GROUND_CONNECTED = (253, 248, 250)
GROUND_GREY = (250, 250, 250)
GREY_LINE = (168, 168, 172)
GREY_DARK = (120, 120, 126)
GREY_TINT = (234, 234, 236)
TEXT_DARK = (72, 72, 78)
CAPTION = (90, 90, 96)         # step captions; the tile darkens its own on hover
CAPTION_HOVER = (150, 20, 70)
TEXT_MID = (130, 130, 136)
HELP_TEXT = (96, 96, 102)

# Window places the overlays use, in state-picture pixels (the state picture
# sits at window (2, 76)).
STATE_ORIGIN = (2, 76)
STATE_SIZE = (678, 417)
SYNC_LABEL_BOX = (285, 228, 285 + 116, 228 + 28)
HELP_BAR_BOX = (208, 362, 208 + 460, 362 + 23)
TILE_BOX = (62, 143, 62 + 132, 143 + 182)
KEEP_CLEAR_MARGIN = 6

HELP_URL = "http://help.chimebox.cn/HelpNew/helpWin.html"


def font(px):
    return ImageFont.truetype(FONT_PATH, px, index=0)


def mix(a, b, t):
    """Colour a moved a fraction t of the way to b."""
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def grow(box, m):
    return (box[0] - m, box[1] - m, box[2] + m, box[3] + m)


class Canvas:
    """An RGBA picture drawn at SS times its size; coordinates are final pixels."""

    def __init__(self, w, h, ground=None, ss=SS):
        self.w, self.h, self.ss = w, h, ss
        fill = (*ground, 255) if ground else (0, 0, 0, 0)
        self.img = Image.new("RGBA", (w * ss, h * ss), fill)
        self.d = ImageDraw.Draw(self.img)

    def _p(self, pts):
        return [(x * self.ss, y * self.ss) for x, y in pts]

    def _b(self, box):
        x0, y0, x1, y1 = box
        s = self.ss
        return (x0 * s, y0 * s, x1 * s - 1, y1 * s - 1)

    def rect(self, box, fill=None, outline=None, width=1.0, radius=0.0):
        s = self.ss
        self.d.rounded_rectangle(self._b(box), radius=radius * s,
                                 fill=fill, outline=outline,
                                 width=max(1, round(width * s)))

    def ellipse(self, box, fill=None, outline=None, width=1.0):
        self.d.ellipse(self._b(box), fill=fill, outline=outline,
                       width=max(1, round(width * self.ss)))

    def circle(self, cx, cy, r, **kw):
        self.ellipse((cx - r, cy - r, cx + r, cy + r), **kw)

    def polygon(self, pts, fill):
        self.d.polygon(self._p(pts), fill=fill)

    def line(self, pts, fill, width, round_caps=True):
        s = self.ss
        w = max(1, round(width * s))
        self.d.line(self._p(pts), fill=fill, width=w, joint="curve")
        if round_caps:
            for x, y in (pts[0], pts[-1]):
                r = w / 2
                self.d.ellipse((x * s - r, y * s - r, x * s + r, y * s + r), fill=fill)

    def arc(self, cx, cy, r, start, end, fill, width):
        s = self.ss
        self.d.arc(((cx - r) * s, (cy - r) * s, (cx + r) * s, (cy + r) * s),
                   start, end, fill=fill, width=max(1, round(width * s)))

    def text(self, xy, txt, px, fill, anchor="la", stroke=0.0):
        """Large text, drawn with the shapes (stroke thickens it slightly)."""
        s = self.ss
        self.d.text((xy[0] * s, xy[1] * s), txt, font=font(px * s), fill=fill,
                    anchor=anchor, stroke_width=round(stroke * s), stroke_fill=fill)

    def finish(self):
        if self.ss == 1:
            return self.img.copy()
        return self.img.resize((self.w, self.h), Image.BOX)


def text_mask(size, xy, txt, px, anchor="la", underline=None):
    """Coverage mask of small text drawn at final size."""
    m = Image.new("L", size, 0)
    d = ImageDraw.Draw(m)
    f = font(px)
    d.text(xy, txt, font=f, fill=255, anchor=anchor)
    if underline:
        x0, x1, y = underline
        d.line([(x0, y), (x1, y)], fill=255, width=1)
    return m


def paint_text(img, mask, colour):
    """Blends colour into img through mask (keeps an opaque ground opaque)."""
    img.paste((*colour, 255), (0, 0), mask)


def text_width(txt, px):
    return font(px).getlength(txt)


# ---------------------------------------------------------------- shapes

def bezier(p0, p1, p2, p3, n=24):
    pts = []
    for i in range(n + 1):
        t = i / n
        u = 1 - t
        pts.append((u ** 3 * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t ** 3 * p3[0],
                    u ** 3 * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t ** 3 * p3[1]))
    return pts


def bell(c, cx, cy, size, colour):
    """A hand bell centred on (cx, cy), about size pixels tall."""
    def P(x, y):
        return (cx + x * size, cy + (y - 0.5) * size)
    right = bezier((0.0, 0.10), (0.22, 0.10), (0.28, 0.26), (0.28, 0.48)) + \
        bezier((0.28, 0.48), (0.28, 0.62), (0.33, 0.70), (0.42, 0.76))[1:]
    left = [(-x, y) for x, y in reversed(right)]
    body = left + right + [(0.42, 0.80), (-0.42, 0.80)]
    c.polygon([P(x, y) for x, y in body], fill=colour)
    # rim bar and clapper
    x0, y0 = P(-0.44, 0.75)
    x1, y1 = P(0.44, 0.82)
    c.rect((x0, y0, x1, y1), fill=colour, radius=(y1 - y0) / 2)
    kx, ky = P(0, 0.89)
    c.circle(kx, ky, 0.085 * size, fill=colour)
    tx, ty = P(0, 0.07)
    c.circle(tx, ty, 0.06 * size, fill=colour)


def check_mark(c, cx, cy, r, colour, width):
    c.line([(cx - 0.45 * r, cy + 0.02 * r), (cx - 0.12 * r, cy + 0.34 * r),
            (cx + 0.48 * r, cy - 0.30 * r)], fill=colour, width=width)


def info_sign(c, cx, cy, r, colour):
    c.circle(cx, cy - 0.42 * r, 0.13 * r, fill=colour)
    w = 0.11 * r
    c.rect((cx - w, cy - 0.16 * r, cx + w, cy + 0.52 * r), fill=colour, radius=w)


def exclamation(c, cx, cy, r, colour):
    w = 0.12 * r
    c.rect((cx - w, cy - 0.55 * r, cx + w, cy + 0.18 * r), fill=colour, radius=w)
    c.circle(cx, cy + 0.45 * r, 0.14 * r, fill=colour)


def down_arrow(c, cx, cy, r, colour):
    w = 0.10 * r
    c.rect((cx - w, cy - 0.52 * r, cx + w, cy + 0.18 * r), fill=colour, radius=w)
    c.line([(cx - 0.36 * r, cy - 0.04 * r), (cx, cy + 0.32 * r), (cx + 0.36 * r, cy - 0.04 * r)],
           fill=colour, width=0.2 * r)
    c.line([(cx - 0.42 * r, cy + 0.56 * r), (cx + 0.42 * r, cy + 0.56 * r)],
           fill=colour, width=0.14 * r)


def gear(c, cx, cy, r, colour, hole):
    teeth = 8
    pts = []
    for i in range(teeth * 4):
        a = 2 * math.pi * i / (teeth * 4)
        rr = r if (i % 4) in (0, 1) else r * 0.78
        pts.append((cx + rr * math.cos(a + math.pi / (teeth * 4)),
                    cy + rr * math.sin(a + math.pi / (teeth * 4))))
    c.polygon(pts, fill=colour)
    c.circle(cx, cy, 0.36 * r, fill=hole)


def restart_arrow(c, cx, cy, r, colour, width):
    c.arc(cx, cy, r, 300, 230, fill=colour, width=width)
    # arrow head at the arc's end (angles run clockwise on screen)
    a = math.radians(230)
    ex, ey = cx + r * math.cos(a), cy + r * math.sin(a)
    tx, ty = -math.sin(a), math.cos(a)  # direction of travel at the arc's end
    nx, ny = math.cos(a), math.sin(a)
    h = width * 1.6
    tip = (ex + tx * h * 1.5, ey + ty * h * 1.5)
    c.polygon([tip, (ex + nx * h, ey + ny * h), (ex - nx * h, ey - ny * h)], fill=colour)


def arrow_right(c, x0, x1, y, colour, width):
    c.line([(x0, y), (x1 - width * 1.5, y)], fill=colour, width=width)
    h = width * 2.6
    c.polygon([(x1, y), (x1 - h * 1.3, y - h), (x1 - h * 1.3, y + h)], fill=colour)


# ---------------------------------------------------------------- pictures

def title_bar():
    w, h = 682, 76
    c = Canvas(w, h, PINK)
    # a slightly deeper line along the bottom edge separates the bar from the body
    c.rect((0, h - 2, w, h), fill=mix(PINK, PINK_DARK, 0.35))
    # logo mark: white disc with a pink bell
    cx, cy, r = 44, 37, 22
    c.circle(cx, cy, r, fill=WHITE)
    bell(c, cx, cy + 1, 30, PINK)
    c.text((80, 38), "晨钟铃声助手", 27, WHITE, anchor="lm", stroke=0.35)
    tw = text_width("晨钟铃声助手", 27)
    c.text((80 + tw + 14, 41), "iPhone 铃声同步", 14, mix(WHITE, PINK, 0.22), anchor="lm")
    return c.finish()


def caption_button(ground, glyph):
    c = Canvas(25, 25, ground, ss=8)
    if glyph == "close":
        c.line([(8, 8), (17, 17)], fill=WHITE, width=2.0)
        c.line([(17, 8), (8, 17)], fill=WHITE, width=2.0)
    else:
        c.line([(7.5, 13), (17.5, 13)], fill=WHITE, width=2.0)
    return c.finish()


def step_icon(c, kind, cx, cy, r, disc, glyph):
    c.circle(cx, cy, r, fill=disc)
    if kind == "download":
        down_arrow(c, cx, cy - 2, r * 0.70, glyph)
    elif kind == "install":
        gear(c, cx, cy, r * 0.52, glyph, disc)
    else:
        restart_arrow(c, cx, cy, r * 0.44, glyph, r * 0.11)


STEPS = [("download", "下载iTunes", "第一步"),
         ("install", "安装iTunes", "第二步"),
         ("restart", "重启晨钟铃声助手", "第三步")]

BOX_W, BOX_H = 132, 182
BOX_ICON_CY, BOX_ICON_R = 48, 30      # icon ends at y 78, above the syncing-label band
BOX_CAPTION_Y, BOX_STEP_Y = 133, 160  # text starts below the band


def step_box(kind, caption, step, hover=False, ground=GROUND_CONNECTED):
    """One framed step box of the iTunes-needed picture, BOX_W x BOX_H."""
    c = Canvas(BOX_W, BOX_H, ground)
    fill = PINK_WASH if hover else WHITE
    c.rect((0.5, 0.5, BOX_W - 0.5, BOX_H - 0.5), fill=fill,
           outline=PINK if hover else mix(PINK, WHITE, 0.35), width=1.5, radius=10)
    step_icon(c, kind, BOX_W / 2, BOX_ICON_CY, BOX_ICON_R, PINK, WHITE)
    img = c.finish()
    cap_px = 16 if text_width(caption, 16) <= BOX_W - 12 else 14
    cap_colour = CAPTION_HOVER if hover else CAPTION
    paint_text(img, text_mask(img.size, (BOX_W / 2, BOX_CAPTION_Y), caption, cap_px, "mm"), cap_colour)
    paint_text(img, text_mask(img.size, (BOX_W / 2, BOX_STEP_Y), step, 12, "mm"),
               PINK if hover else TEXT_MID)
    return img


def download_tile(hover):
    kind, caption, step = STEPS[0]
    return step_box(kind, caption, step, hover)


def frame(c, colour):
    c.rect((0, 0, c.w, c.h), outline=colour, width=1.0)


def state_scene(connected):
    w, h = STATE_SIZE
    ground = GROUND_CONNECTED if connected else GROUND_GREY
    line = PINK if connected else GREY_LINE
    tint = PINK_TINT if connected else GREY_TINT
    c = Canvas(w, h, ground)
    frame(c, line)

    # phone, left
    px0, py0, px1, py1 = 118, 84, 222, 292
    mx0, my0, mx1, my1 = 414, 92, 614, 226
    shadow = mix(ground, line, 0.10)
    c.ellipse((px0 - 6, py1 - 4, px1 + 6, py1 + 10), fill=shadow)
    c.ellipse(((mx0 + mx1) / 2 - 70, my1 + 35, (mx0 + mx1) / 2 + 70, my1 + 49), fill=shadow)
    c.rect((px0, py0, px1, py1), fill=WHITE, outline=line, width=4, radius=18)
    c.rect((px0 + 10, py0 + 30, px1 - 10, py1 - 36), fill=tint, radius=3)
    c.rect(((px0 + px1) / 2 - 14, py0 + 13, (px0 + px1) / 2 + 14, py0 + 17), fill=line, radius=2)
    c.circle((px0 + px1) / 2, py1 - 18, 8, outline=line, width=2.5)
    # a note on the phone's screen
    nx, ny = (px0 + px1) / 2, (py0 + py1) / 2 - 6
    c.circle(nx - 8, ny + 22, 9, fill=line)
    c.rect((nx - 0.5, ny - 22, nx + 3.5, ny + 23), fill=line)
    c.polygon([(nx + 3.5, ny - 22), (nx + 22, ny - 12), (nx + 22, ny - 2), (nx + 3.5, ny - 12)], fill=line)

    # computer, right: monitor, neck, foot
    c.rect((mx0, my0, mx1, my1), fill=WHITE, outline=line, width=4, radius=10)
    c.rect((mx0 + 12, my0 + 12, mx1 - 12, my1 - 26), fill=tint, radius=3)
    mcx = (mx0 + mx1) / 2
    c.polygon([(mcx - 16, my1), (mcx + 16, my1), (mcx + 24, my1 + 34), (mcx - 24, my1 + 34)], fill=line)
    c.rect((mcx - 52, my1 + 32, mcx + 52, my1 + 41), fill=line, radius=4.5)
    scx, scy = mcx, (my0 + 12 + my1 - 26) / 2
    c.circle(scx, scy, 30, fill=line)
    if connected:
        check_mark(c, scx, scy, 30, WHITE, 6)
    else:
        info_sign(c, scx, scy, 30, WHITE)

    # cable from the phone's side to the monitor's side, plugs at both ends
    cy = 166
    x_from, x_to = px1, mx0
    plug = 16
    c.rect((x_from - 1, cy - 7, x_from + plug, cy + 7), fill=line, radius=3)
    c.rect((x_to - plug, cy - 7, x_to + 1, cy + 7), fill=line, radius=3)
    if connected:
        c.line([(x_from + plug, cy), (x_to - plug, cy)], fill=line, width=4, round_caps=False)
    else:
        x = x_from + plug + 6
        while x < x_to - plug - 6:
            c.line([(x, cy), (min(x + 10, x_to - plug - 6), cy)], fill=line, width=4)
            x += 20
    # label on the cable
    label = "设备已连接" if connected else "设备未连接"
    lx = 318
    lw = text_width(label, 17) + 34
    c.rect((lx - lw / 2, cy - 17, lx + lw / 2, cy + 17), fill=line if connected else ground,
           outline=line, width=2, radius=17)
    img = c.finish()
    paint_text(img, text_mask(img.size, (lx, cy), label, 17, "mm"), WHITE if connected else GREY_DARK)
    return img


def itunes_needed():
    w, h = STATE_SIZE
    ground = GROUND_CONNECTED
    c = Canvas(w, h, ground)
    frame(c, PINK)
    notice = "您的电脑需要安装iTunes才能连接手机"
    ask = "请按以下步骤操作"
    n_px, a_px = 22, 15
    r = 24
    block = 2 * r + 16 + text_width(notice, n_px)
    x0 = (w - block) / 2
    c.circle(x0 + r, 68, r, fill=PINK)
    exclamation(c, x0 + r, 68, r, WHITE)
    tx = x0 + 2 * r + 16
    c.text((tx, 58), notice, n_px, TEXT_DARK, anchor="lm", stroke=0.15)

    # arrows between the boxes (outside the syncing-label band)
    y = TILE_BOX[1] + BOX_ICON_CY
    xs = [TILE_BOX[0] + i * (BOX_W + 79) for i in range(3)]
    for i in range(2):
        arrow_right(c, xs[i] + BOX_W + 16, xs[i + 1] - 16, y, mix(PINK, WHITE, 0.25), 3)
    img = c.finish()
    paint_text(img, text_mask(img.size, (tx, 88), ask, a_px, "lm"), TEXT_MID)
    for i, (kind, caption, step) in enumerate(STEPS):
        img.paste(step_box(kind, caption, step, ground=ground), (xs[i], TILE_BOX[1]))
    return img


def syncing_label(faded):
    w, h = 116, 28
    txt = "铃声正在同步..."
    px = 16
    while text_width(txt, px) > w - 4:
        px -= 1
    mask = text_mask((w, h), (w / 2, h / 2), txt, px, "mm")
    colour = mix(PINK_DEEP, GROUND_CONNECTED, 0.68) if faded else PINK_DEEP
    img = Image.new("RGBA", (w, h), (*colour, 0))
    img.putalpha(mask)
    return img


def help_bar(hover):
    w, h = 460, 23
    txt = "iPhone铃声设置图文教程：" + HELP_URL
    px = 13
    while text_width(txt, px) > w - 4:
        px -= 1
    tw = text_width(txt, px)
    x1 = w - 2
    underline = None
    if hover:
        url_w = text_width(HELP_URL, px)
        underline = (round(x1 - url_w), x1 - 1, 18)
    mask = text_mask((w, h), (x1, h / 2), txt, px, "rm", underline)
    colour = PINK if hover else HELP_TEXT
    img = Image.new("RGBA", (w, h), (*colour, 0))
    img.putalpha(mask)
    assert tw <= w
    return img


# ---------------------------------------------------------------- icon

def icon_image(size):
    ss = 8 if size < 64 else 4
    c = Canvas(size, size, None, ss=ss)
    m = size / 16 * 0.6 if size <= 24 else size * 0.04
    rad = size * 0.22
    c.rect((m, m, size - m, size - m), fill=PINK, radius=rad)
    bell(c, size / 2, size / 2 + size * 0.02, size * (0.66 if size <= 24 else 0.62), WHITE)
    return c.finish()


def ico_bytes(images):
    """An .ico holding the given square RGBA images: 32-bit DIBs, PNG for 256."""
    entries, blobs = [], []
    for im in images:
        n = im.size[0]
        if n >= 256:
            buf = io.BytesIO()
            im.save(buf, "PNG")
            blob = buf.getvalue()
        else:
            px = im.load()
            header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
            xor = bytearray()
            for y in range(n - 1, -1, -1):
                for x in range(n):
                    r, g, b, a = px[x, y]
                    xor += bytes((b, g, r, a))
            row_bytes = ((n + 31) // 32) * 4
            mask = bytearray()
            for y in range(n - 1, -1, -1):
                row = bytearray(row_bytes)
                for x in range(n):
                    if px[x, y][3] == 0:
                        row[x // 8] |= 0x80 >> (x % 8)
                mask += row
            blob = header + bytes(xor) + bytes(mask)
        entries.append((n, blob))
        blobs.append(blob)
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for n, blob in entries:
        dim = 0 if n >= 256 else n
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


# ---------------------------------------------------------------- checks

def uniform(img, box, colour):
    """True when every pixel of box in img is the opaque colour."""
    region = img.crop(box)
    lo_hi = region.getextrema()
    want = (*colour, 255)
    return all(lo == hi == v for (lo, hi), v in zip(lo_hi, want))


def check(pictures):
    sizes = {
        "title_bar.png": (682, 76), "connected.png": STATE_SIZE, "not_connected.png": STATE_SIZE,
        "itunes_needed.png": STATE_SIZE, "close.png": (25, 25), "minimize.png": (25, 25),
        "download_tile.png": (132, 182), "syncing_bright.png": (116, 28),
        "syncing_faded.png": (116, 28), "close_hover.png": (25, 25),
        "minimize_hover.png": (25, 25), "download_tile_hover.png": (132, 182),
        "help_bar.png": (460, 23), "help_bar_hover.png": (460, 23),
    }
    for name, size in sizes.items():
        im = pictures[name]
        assert im.size == size and im.mode == "RGBA", name
    grounds = {"connected.png": GROUND_CONNECTED, "not_connected.png": GROUND_GREY,
               "itunes_needed.png": GROUND_CONNECTED}
    for name, ground in grounds.items():
        assert uniform(pictures[name], grow(HELP_BAR_BOX, KEEP_CLEAR_MARGIN), ground), name
    for name in ("connected.png", "not_connected.png"):
        assert uniform(pictures[name], grow(SYNC_LABEL_BOX, KEEP_CLEAR_MARGIN), grounds[name]), name
    # in the iTunes-needed picture the label band falls inside the second box: plain white there
    x0, y0, x1, y1 = SYNC_LABEL_BOX
    band = (x0 - 2, y0 - KEEP_CLEAR_MARGIN, x1 + 2, y1 + KEEP_CLEAR_MARGIN)
    assert uniform(pictures["itunes_needed.png"], band, WHITE)
    # the tile covers the first box exactly
    assert pictures["itunes_needed.png"].crop(TILE_BOX).tobytes() == pictures["download_tile.png"].tobytes()
    # the caption buttons' corners match the title bar under them
    bar = pictures["title_bar.png"]
    for x in (612, 650):
        assert uniform(bar, (x - 8, 2, x + 25 + 4, 7 + 25 + 4), PINK)
    assert uniform(bar, (602, 0, 682, 72), PINK)


def main():
    root = os.path.normpath(sys.argv[1] if len(sys.argv) > 1 else
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    skin = os.path.join(root, "res", "skin")
    os.makedirs(skin, exist_ok=True)
    pictures = {
        "title_bar.png": title_bar(),
        "connected.png": state_scene(True),
        "not_connected.png": state_scene(False),
        "itunes_needed.png": itunes_needed(),
        "close.png": caption_button(PINK, "close"),
        "minimize.png": caption_button(PINK, "minimize"),
        "download_tile.png": download_tile(False),
        "syncing_bright.png": syncing_label(False),
        "syncing_faded.png": syncing_label(True),
        "close_hover.png": caption_button(PINK_LIGHT, "close"),
        "minimize_hover.png": caption_button(PINK_LIGHT, "minimize"),
        "download_tile_hover.png": download_tile(True),
        "help_bar.png": help_bar(False),
        "help_bar_hover.png": help_bar(True),
    }
    check(pictures)
    for name, im in pictures.items():
        im.save(os.path.join(skin, name), "PNG", optimize=True)
    icons = [icon_image(n) for n in (16, 24, 32, 48, 256)]
    with open(os.path.join(root, "res", "chimebox.ico"), "wb") as f:
        f.write(ico_bytes(icons))
    print("wrote %d pictures to %s and %s" % (len(pictures), skin, os.path.join(root, "res", "chimebox.ico")))


if __name__ == "__main__":
    main()
