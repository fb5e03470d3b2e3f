# Draws the VelofonPocket player artwork (keys, select-all bar, form backgrounds, icons) as PNG files,
# and the icon as an SVG too.
#
# Standard library only. Run from any directory:  python3 app/res/make-artwork.py
# Every image is written next to this script; re-running gives byte-identical files.

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------- palette

BASE = (165, 149, 132)          # form colour; the widgets fill their rectangles with it
BLACK = (0, 0, 0)               # only allowed on the bottom row of bitmap136

RIM = (58, 50, 44)              # dark outline of keys and bars
GLYPH = (44, 38, 33)            # key symbols
GLYPH_LIGHT = (216, 204, 190)   # 1px emboss under a symbol

KEY_TOP, KEY_BOTTOM = (206, 193, 178), (172, 157, 141)
KEY_HI, KEY_SHADE = (236, 228, 218), (132, 118, 104)

PRESSED_TOP, PRESSED_BOTTOM = (145, 130, 115), (168, 153, 137)
PRESSED_SHADE, PRESSED_HI = (108, 96, 84), (184, 170, 155)

DIS_RIM, DIS_BODY, DIS_GLYPH = (126, 116, 106), (174, 161, 147), (147, 135, 123)

GROOVE_DARK, GROOVE_LIGHT = (129, 116, 103), (191, 178, 163)
EDGE_LIGHT, EDGE_DARK = (194, 181, 166), (122, 110, 98)

SCREEN = (62, 53, 46)           # icon: recessed display
CREAM = (243, 233, 216)         # icon: symbol and wave
DEEP = (34, 29, 25)             # icon: shadows inside the display


# ---------------------------------------------------------------- canvas and PNG

class Canvas:
    def __init__(self, w, h, color=BASE):
        self.w, self.h = w, h
        self.px = [list(color) for _ in range(w * h)]

    def get(self, x, y):
        return tuple(self.px[y * self.w + x])

    def set(self, x, y, color):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y * self.w + x] = list(color)

    def blend(self, x, y, color, a):
        """Mix color over the pixel with coverage a (0..1)."""
        if a <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        if a >= 1:
            self.set(x, y, color)
            return
        p = self.px[y * self.w + x]
        self.px[y * self.w + x] = [int(round(p[i] + (color[i] - p[i]) * a)) for i in range(3)]


def png_bytes(c):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    for y in range(c.h):
        raw.append(0)                      # filter type 0 (none)
        for x in range(c.w):
            raw.extend(c.px[y * c.w + x])
    ihdr = struct.pack(">IIBBBBB", c.w, c.h, 8, 2, 0, 0, 0)   # 8-bit RGB, no interlace
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def save(c, name, size, black_bottom_row=False):
    assert (c.w, c.h) == size, "%s: %dx%d, wanted %dx%d" % (name, c.w, c.h, size[0], size[1])
    for y in range(c.h):
        for x in range(c.w):
            black = c.get(x, y) == BLACK
            if black_bottom_row and y == c.h - 1:
                assert black, "%s: bottom row must be black at x=%d" % (name, x)
            else:
                assert not black, "%s: pure black pixel at (%d,%d)" % (name, x, y)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(png_bytes(c))


# ---------------------------------------------------------------- drawing helpers
#
# Shapes are "inside" tests on continuous coordinates: pixel (x, y) covers the square
# [x, x+1) x [y, y+1). paint() samples every pixel ss x ss times and blends by coverage.

def lerp(a, b, t):
    t = min(max(t, 0.0), 1.0)
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def paint(c, inside, bbox, color, ss=4, hollow=None):
    """Blend color over every pixel of bbox by the share of its ss x ss samples that are inside.
    hollow, if given, is a pixel rectangle (x0, y0, x1, y1) known to be outside the shape
    (the middle of a ring); it is skipped to save time."""
    x0, y0, x1, y1 = bbox
    x0, y0 = max(int(x0) - 1, 0), max(int(y0) - 1, 0)
    x1, y1 = min(int(x1) + 2, c.w), min(int(y1) + 2, c.h)
    hx0, hy0, hx1, hy1 = hollow if hollow else (0, 0, 0, 0)
    offs = [(i + 0.5) / ss for i in range(ss)]
    n = float(ss * ss)
    for y in range(y0, y1):
        for x in range(x0, x1):
            if hx0 <= x < hx1 and hy0 <= y < hy1:
                continue
            hits = 0
            for oy in offs:
                for ox in offs:
                    if inside(x + ox, y + oy):
                        hits += 1
            if hits:
                col = color(x, y) if callable(color) else color
                c.blend(x, y, col, hits / n)


def rrect(x0, y0, x1, y1, r):
    """Inside test of a rounded rectangle with corners of radius r."""
    def inside(px, py):
        if px < x0 or px > x1 or py < y0 or py > y1:
            return False
        dx = max(x0 + r - px, 0.0, px - (x1 - r))
        dy = max(y0 + r - py, 0.0, py - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return inside


def circle(cx, cy, r):
    return lambda px, py: (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def polygon(points):
    """Even-odd inside test of a polygon given as [(x, y), ...]."""
    def inside(px, py):
        hit = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def capsule(ax, ay, bx, by, width):
    """A stroke from (ax, ay) to (bx, by) with round ends."""
    r2 = (width / 2.0) ** 2
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy

    def inside(px, py):
        t = 0.0 if ll == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / ll))
        qx, qy = ax + t * dx - px, ay + t * dy - py
        return qx * qx + qy * qy <= r2
    return inside


def union(*shapes):
    return lambda px, py: any(s(px, py) for s in shapes)


def minus(a, b):
    return lambda px, py: a(px, py) and not b(px, py)


def shifted(shape, dx, dy):
    return lambda px, py: shape(px - dx, py - dy)


def fill_rrect(c, x0, y0, x1, y1, r, color, ss=4):
    """Anti-aliased rounded rectangle; color is an RGB tuple or a function of (x, y)."""
    paint(c, rrect(x0, y0, x1, y1, r), (x0, y0, x1, y1), color, ss)


def vgrad(y0, y1, top, bottom):
    """Colour function for a vertical gradient from row y0 to row y1."""
    span = max(y1 - y0 - 1, 1)
    return lambda x, y: lerp(top, bottom, (y - y0) / span)


def hgrad(x0, x1, left, right):
    """Colour function for a horizontal gradient from column x0 to column x1."""
    span = max(x1 - x0 - 1, 1)
    return lambda x, y: lerp(left, right, (x - x0) / span)


def outline_rrect(c, x0, y0, x1, y1, r, width, color, ss=4):
    ring = minus(rrect(x0, y0, x1, y1, r),
                 rrect(x0 + width, y0 + width, x1 - width, y1 - width, max(r - width, 0)))
    m = max(r, width) + 1                   # pixels further in than this are inside the hole
    hollow = (int(x0 + m), int(y0 + m), int(x1 - m), int(y1 - m))
    paint(c, ring, (x0, y0, x1, y1), color, ss, hollow)


def bevel(c, shape, bbox, light, dark, lw=1.0, dw=1.0, ss=4):
    """Light rim (lw wide) on the top/left of a shape and a dark rim on its bottom (dw high)
    and right (half as wide), as if lit from the upper left."""
    if light is not None:
        paint(c, minus(shape, shifted(shape, lw, lw)), bbox, light, ss)
    if dark is not None:
        paint(c, minus(shape, shifted(shape, -dw / 2.0, -dw)), bbox, dark, ss)


def etched_rrect(c, x0, y0, x1, y1, r):
    """A groove cut into the form: dark line, then a light line 1px down-right."""
    outline_rrect(c, x0 + 1, y0 + 1, x1 + 1, y1 + 1, r, 1, GROOVE_LIGHT)
    outline_rrect(c, x0, y0, x1, y1, r, 1, GROOVE_DARK)


def etched_hline(c, x0, x1, y):
    for x in range(x0, x1):
        c.set(x, y, GROOVE_DARK)
        c.set(x + 1, y + 1, GROOVE_LIGHT)


def fill_rect(c, x0, y0, x1, y1, color):
    for y in range(y0, y1):
        for x in range(x0, x1):
            c.set(x, y, color)


# ---------------------------------------------------------------- pixel font (only the brand name)

FONT = {
    "V": ["X...X", "X...X", "X...X", "X...X", ".X.X.", ".X.X.", "..X.."],
    "e": ["....", "....", ".XX.", "X..X", "XXXX", "X...", ".XXX"],
    "l": ["X.", "X.", "X.", "X.", "X.", "X.", ".X"],
    "o": ["....", "....", ".XX.", "X..X", "X..X", "X..X", ".XX."],
    "f": [".XX", "X..", "XXX", "X..", "X..", "X..", "X.."],
    "n": ["....", "....", "XXX.", "X..X", "X..X", "X..X", "X..X"],
    "P": ["XXX.", "X..X", "X..X", "XXX.", "X...", "X...", "X..."],
    "c": ["....", "....", ".XXX", "X...", "X...", "X...", ".XXX"],
    "k": ["X...", "X...", "X..X", "X.X.", "XX..", "X.X.", "X..X"],
    "t": [".X.", ".X.", "XXX", ".X.", ".X.", ".X.", "..X"],
}


def engraved_text(c, x, y, text, dark, light):
    """Pixel text cut into the surface: a light copy 1px down-right under a dark copy."""
    for color, off in ((light, 1), (dark, 0)):
        cx = x
        for ch in text:
            rows = FONT[ch]
            for j, row in enumerate(rows):
                for i, bit in enumerate(row):
                    if bit == "X":
                        c.set(cx + i + off, y + j + off, color)
            cx += len(rows[0]) + 1


# ---------------------------------------------------------------- keys (42 x 39)

KEY_W, KEY_H = 42, 39


def glyph_shapes(kind, cx, cy):
    """The symbol of a key as an inside test, centred on (cx, cy)."""
    if kind == "play":
        return polygon([(cx - 4.5, cy - 7.5), (cx - 4.5, cy + 7.5), (cx + 7.5, cy)])
    if kind == "pause":
        return union(rrect(cx - 5.5, cy - 7, cx - 1.5, cy + 7, 1),
                     rrect(cx + 1.5, cy - 7, cx + 5.5, cy + 7, 1))
    if kind == "stop":
        return rrect(cx - 6, cy - 6, cx + 6, cy + 6, 1.5)
    if kind in ("slower", "faster"):
        d = -1 if kind == "slower" else 1      # direction the chevrons point
        arms = []
        for tip in (cx - d * 0.75, cx + d * 6.25):
            back = tip - d * 5.5
            arms.append(capsule(back, cy - 6, tip, cy, 2.4))
            arms.append(capsule(back, cy + 6, tip, cy, 2.4))
        return union(*arms)
    raise ValueError(kind)


def draw_key(kind, state):
    """One key: state is "normal", "pressed" or "disabled"."""
    c = Canvas(KEY_W, KEY_H, BASE)
    body_box = (1, 1, KEY_W - 1, KEY_H - 1)
    body = rrect(1, 1, KEY_W - 1, KEY_H - 1, 5)
    cx, cy = KEY_W / 2.0, KEY_H / 2.0

    if state == "normal":
        fill_rrect(c, 0, 0, KEY_W, KEY_H, 6, RIM)
        fill_rrect(c, 1, 1, KEY_W - 1, KEY_H - 1, 5, vgrad(1, KEY_H - 1, KEY_TOP, KEY_BOTTOM))
        bevel(c, body, body_box, KEY_HI, KEY_SHADE, 1.0, 2.0)
        g = glyph_shapes(kind, cx, cy)
        paint(c, shifted(g, 0, 1), body_box, GLYPH_LIGHT)
        paint(c, g, body_box, GLYPH)
    elif state == "pressed":
        fill_rrect(c, 0, 0, KEY_W, KEY_H, 6, RIM)
        fill_rrect(c, 1, 1, KEY_W - 1, KEY_H - 1, 5, vgrad(1, KEY_H - 1, PRESSED_TOP, PRESSED_BOTTOM))
        # inverted bevel: shadow along the top/left, faint light along the bottom/right
        paint(c, minus(body, shifted(body, 2, 2)), body_box, PRESSED_SHADE)
        paint(c, minus(body, shifted(body, -1, -1)), body_box, PRESSED_HI)
        g = glyph_shapes(kind, cx + 1, cy + 1)
        paint(c, g, body_box, GLYPH)
    elif state == "disabled":
        fill_rrect(c, 0, 0, KEY_W, KEY_H, 6, DIS_RIM)
        fill_rrect(c, 1, 1, KEY_W - 1, KEY_H - 1, 5, DIS_BODY)
        paint(c, glyph_shapes(kind, cx, cy), body_box, DIS_GLYPH)
    else:
        raise ValueError(state)
    return c


# ---------------------------------------------------------------- select-all bar (10 x 157)

BAR_W, BAR_H = 10, 157


def draw_bar(state):
    """The select-all grip: a raised strip, inset when pressed, flat and grey when disabled."""
    c = Canvas(BAR_W, BAR_H, BASE)
    body_box = (1, 1, BAR_W - 1, BAR_H - 1)
    body = rrect(1, 1, BAR_W - 1, BAR_H - 1, 2)
    ridges = [BAR_H // 2 + 4 * k for k in range(-4, 5)]     # grip ridges, centred

    if state == "normal":
        fill_rrect(c, 0, 0, BAR_W, BAR_H, 3, RIM)
        fill_rrect(c, 1, 1, BAR_W - 1, BAR_H - 1, 2, hgrad(1, BAR_W - 1, KEY_TOP, KEY_BOTTOM))
        bevel(c, body, body_box, KEY_HI, KEY_SHADE, 1.0, 2.0)
        dark, light, d = KEY_SHADE, KEY_HI, 0
    elif state == "pressed":
        fill_rrect(c, 0, 0, BAR_W, BAR_H, 3, RIM)
        fill_rrect(c, 1, 1, BAR_W - 1, BAR_H - 1, 2, hgrad(1, BAR_W - 1, PRESSED_TOP, PRESSED_BOTTOM))
        paint(c, minus(body, shifted(body, 1, 2)), body_box, PRESSED_SHADE)
        paint(c, minus(body, shifted(body, -1, -1)), body_box, PRESSED_HI)
        dark, light, d = PRESSED_SHADE, PRESSED_HI, 1
    elif state == "disabled":
        fill_rrect(c, 0, 0, BAR_W, BAR_H, 3, DIS_RIM)
        fill_rrect(c, 1, 1, BAR_W - 1, BAR_H - 1, 2, DIS_BODY)
        dark, light, d = DIS_GLYPH, None, 0
    else:
        raise ValueError(state)

    for y in ridges:                    # a dark groove with a light lower lip, moved 1px when pressed
        if light is not None:
            fill_rect(c, 3 + d, y + 1 + d, 7 + d, y + 2 + d, light)
        fill_rect(c, 3 + d, y + d, 7 + d, y + 1 + d, dark)
    return c


# ---------------------------------------------------------------- form backgrounds

def window_edge(c, black_bottom=False):
    """A soft raised edge around the whole form."""
    for x in range(c.w):
        c.set(x, 0, EDGE_LIGHT)
        c.set(x, c.h - 2 if black_bottom else c.h - 1, EDGE_DARK)
    for y in range(c.h):
        c.set(0, y, EDGE_LIGHT)
        c.set(c.w - 1, y, EDGE_DARK)
    if black_bottom:
        for x in range(c.w):
            c.set(x, c.h - 1, BLACK)


def list_lip(c, x0, y0, x1, y1):
    """Light edge just right of and below a list box, so it reads as set into the form."""
    for y in range(y0, y1 + 1):
        c.set(x1, y, GROOVE_LIGHT)
    for x in range(x0, x1 + 1):
        c.set(x, y1, GROOVE_LIGHT)


def grille(c, x0, y0, cols, rows, step):
    """Small round vents, each a dark dimple with a light lower-right rim."""
    for j in range(rows):
        for i in range(cols):
            hx, hy = x0 + i * step + 0.5, y0 + j * step + 0.5
            box = (hx - 3, hy - 3, hx + 3, hy + 3)
            paint(c, circle(hx + 0.6, hy + 0.6, 1.6), box, GROOVE_LIGHT)
            paint(c, circle(hx, hy, 1.6), box, GROOVE_DARK)


def draw_landscape():
    """bitmap136: the 320 x 188 form. Controls (x, y, w, h) drawn over it:
    select-all (12,12,10,157), list (22,25,170,144), file name (24,12,250,13),
    progress (194,25,117,18), time (194,46,117,13), slower (194,73,42,39),
    speed (234,76,37,34), faster (271,73,42,39), stop (230,130,42,39), play (271,130,42,39)."""
    c = Canvas(320, 188, BASE)
    window_edge(c, black_bottom=True)
    etched_rrect(c, 7, 7, 317, 173, 4)           # panel holding all controls
    list_lip(c, 12, 25, 192, 169)                # under/right of select-all bar and list
    etched_hline(c, 197, 309, 65)                # between time and speed row
    etched_hline(c, 197, 309, 120)               # between speed row and transport keys
    grille(c, 199, 136, 4, 4, 7)                 # vents left of the Stop key
    engraved_text(c, 12, 177, "VelofonPocket", GROOVE_DARK, GROOVE_LIGHT)
    return c


def draw_portrait():
    """bitmap135: the 240 x 268 form. Controls (x, y, w, h) drawn over it:
    select-all (12,12,10,157), list (22,12,204,157), file name (12,177,215,13),
    progress (12,195,136,18), time (154,197,73,13), slower (99,218,42,39),
    speed (143,215,40,42), faster (185,218,42,39), stop (56,218,42,39), play (12,218,42,39)."""
    c = Canvas(240, 268, BASE)
    window_edge(c)
    etched_rrect(c, 7, 7, 231, 260, 4)
    list_lip(c, 12, 12, 226, 169)
    return c


# ---------------------------------------------------------------- application icon

# The sizes the icon theme lists for applications besides the two the window
# uses (icon.png at 48 and icon-256.png); the package installs them all.
THEME_ICON_SIZES = [16, 22, 24, 32, 64, 128, 512]

WAVE = [0.30, 0.62, 0.45, 0.95, 0.55, 0.80]   # a fixed, speech-like run of loud and soft bars


def draw_icon(size):
    """A play triangle pushing a speech wave along, on a recessed display set in a taupe key."""
    s = size / 48.0
    c = Canvas(size, size, RIM)
    ss = 4 if size <= 64 else 2
    full = (0, 0, size, size)

    tile = rrect(1 * s, 1 * s, size - 1 * s, size - 1 * s, 7 * s)
    paint(c, tile, full, vgrad(0, size, KEY_TOP, (150, 134, 118)), ss)
    bevel(c, tile, full, KEY_HI, KEY_SHADE, max(1.0, 1.2 * s), max(1.0, 1.5 * s), ss)

    # recessed display: dark lip on top, light lip below
    box = (6 * s, 8 * s, 42 * s, 40 * s)
    scr = rrect(box[0], box[1], box[2], box[3], 3.5 * s)
    paint(c, scr, box, SCREEN, ss)
    paint(c, minus(scr, shifted(scr, 0, 1.2 * s)), box, DEEP, ss)
    paint(c, minus(scr, shifted(scr, 0, -1.0 * s)), box, GROOVE_LIGHT, ss)

    # the wave trails to the left of the triangle and fades out like a speed streak
    mid = 24 * s
    for i, h in enumerate(WAVE):
        x = (9 + i * 3) * s
        half = max(0.8, h * 9.5 * s)
        col = lerp(SCREEN, CREAM, 0.25 + 0.7 * i / (len(WAVE) - 1))
        bar = capsule(x, mid - half, x, mid + half, 2 * s)
        paint(c, bar, (x - 2 * s, mid - half - 2 * s, x + 2 * s, mid + half + 2 * s), col, ss)

    tri = [(27 * s, 13 * s), (27 * s, 35 * s), (40 * s, 24 * s)]
    tbox = (26 * s, 12 * s, 41 * s, 37 * s)
    paint(c, polygon([(x + 0.8 * s, y + 1.0 * s) for x, y in tri]), tbox, DEEP, ss)
    paint(c, polygon(tri), tbox, CREAM, ss)
    return c


def icon_svg():
    """The same icon as draw_icon, in vector form at 48 units, in plain filled paths that every
    renderer draws. A rim that draw_icon paints as a shape minus the shape shifted is here the
    shape in the rim's colour under the part of it that the shifted shape overlaps, a rounded
    rectangle too (exact but for the corners where the two outlines cross, within a fraction of
    a unit). Rim widths are those of 48 px."""
    def rgb(color):
        return "#%02x%02x%02x" % color

    def rrect_path(x0, y0, x1, y1, r, fill):
        return ('<path d="M%g %gH%gA%g %g 0 0 1 %g %gV%gA%g %g 0 0 1 %g %gH%gA%g %g 0 0 1 %g %gV%gA%g %g 0 0 1 %g %gZ"'
                ' fill="%s"/>' % (x0 + r, y0, x1 - r, r, r, x1, y0 + r, y1 - r, r, r, x1 - r, y1,
                                  x0 + r, r, r, x0, y1 - r, y0 + r, r, r, x0 + r, y0, fill))

    def rimmed(box, r, fill, first, last):
        """box with the rim `first` (dx, dy, colour) painted over it, then the rim `last`."""
        (x0, y0, x1, y1), out = box, []
        for dx, dy, color in (last, first):
            out.append(rrect_path(x0, y0, x1, y1, r, rgb(color)))
            x0, y0, x1, y1 = max(x0, x0 + dx), max(y0, y0 + dy), min(x1, x1 + dx), min(y1, y1 + dy)
        out.append(rrect_path(x0, y0, x1, y1, r, fill))
        return out

    parts = ['<linearGradient id="key" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="0" y2="48">'
             '<stop offset="0" stop-color="%s"/><stop offset="1" stop-color="%s"/></linearGradient>'
             % (rgb(KEY_TOP), rgb((150, 134, 118))),
             '<rect width="48" height="48" fill="%s"/>' % rgb(RIM)]
    parts += rimmed((1, 1, 47, 47), 7, "url(#key)", (1.2, 1.2, KEY_HI), (-0.75, -1.5, KEY_SHADE))
    parts += rimmed((6, 8, 42, 40), 3.5, rgb(SCREEN), (0, 1.2, DEEP), (0, -1.0, GROOVE_LIGHT))
    for i, h in enumerate(WAVE):
        x, half = 9 + i * 3, max(0.8, h * 9.5)
        col = lerp(SCREEN, CREAM, 0.25 + 0.7 * i / (len(WAVE) - 1))
        parts.append('<path d="M%g %gV%g" stroke="%s" stroke-width="2" stroke-linecap="round"/>'
                     % (x, 24 - half, 24 + half, rgb(col)))
    tri = [(27, 13), (27, 35), (40, 24)]
    for (dx, dy), color in (((0.8, 1.0), DEEP), ((0, 0), CREAM)):
        parts.append('<path d="M%sZ" fill="%s"/>'
                     % ("L".join("%g %g" % (x + dx, y + dy) for x, y in tri), rgb(color)))
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">\n'
            + "\n".join(parts) + "\n</svg>\n")


# ---------------------------------------------------------------- all images

KEYS = [(137, "slower"), (140, "pause"), (143, "play"), (146, "stop"), (149, "faster")]
STATES = ["normal", "pressed", "disabled"]


def main():
    for i, state in enumerate(STATES):
        save(draw_bar(state), "bitmap%d.png" % (132 + i), (BAR_W, BAR_H))
    save(draw_portrait(), "bitmap135.png", (240, 268))

    form = draw_landscape()
    counts = {}
    for p in form.px:
        counts[tuple(p)] = counts.get(tuple(p), 0) + 1
    assert max(counts, key=counts.get) == BASE, "bitmap136: most frequent colour must be BASE"
    save(form, "bitmap136.png", (320, 188), black_bottom_row=True)

    for first, kind in KEYS:
        for i, state in enumerate(STATES):
            key = draw_key(kind, state)
            for x, y in ((0, 0), (KEY_W - 1, 0), (0, KEY_H - 1), (KEY_W - 1, KEY_H - 1)):
                assert key.get(x, y) == BASE, "key corners must be the form colour"
            save(key, "bitmap%d.png" % (first + i), (KEY_W, KEY_H))

    save(draw_icon(48), "icon.png", (48, 48))
    save(draw_icon(256), "icon-256.png", (256, 256))
    for size in THEME_ICON_SIZES:
        save(draw_icon(size), "icon-%d.png" % size, (size, size))
    with open(os.path.join(HERE, "icon.svg"), "w") as f:
        f.write(icon_svg())


if __name__ == "__main__":
    main()
