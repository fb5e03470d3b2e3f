# Checks the VelofonPocket player artwork PNGs: sizes, no pure black, and the form colour of bitmap136;
# and that the scalable icon is an SVG of the icon's 48 units.
#
# Standard library only. Run from any directory:  python3 app/res/check-artwork.py
# Prints "artwork ok" and exits 0, or prints every problem found and exits 1.

import os
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

BASE = (165, 149, 132)
BLACK = (0, 0, 0)

SIZES = {"bitmap132.png": (10, 157), "bitmap133.png": (10, 157), "bitmap134.png": (10, 157),
         "bitmap135.png": (240, 268), "bitmap136.png": (320, 188),
         "icon.png": (48, 48), "icon-256.png": (256, 256)}
for n in (16, 22, 24, 32, 64, 128, 512):
    SIZES["icon-%d.png" % n] = (n, n)
for n in range(137, 152):
    SIZES["bitmap%d.png" % n] = (42, 39)


class PngError(Exception):
    pass


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def decode_png(path):
    """Decode an 8-bit RGB, non-interlaced PNG into (width, height, rows of bytes)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise PngError("not a PNG file")
    pos, idat, header = 8, [], None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = data[pos + 8 + length:pos + 12 + length]
        if len(body) != length or len(crc) != 4:
            raise PngError("truncated %s chunk" % kind.decode("latin-1"))
        if struct.unpack(">I", crc)[0] != zlib.crc32(kind + body) & 0xFFFFFFFF:
            raise PngError("bad CRC in %s chunk" % kind.decode("latin-1"))
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
        pos += 12 + length
    if header is None:
        raise PngError("no IHDR chunk")
    w, h, depth, ctype, _comp, _filt, interlace = header
    if depth != 8 or ctype != 2 or interlace != 0:
        raise PngError("only 8-bit RGB non-interlaced PNGs are expected (depth %d, colour type %d, "
                       "interlace %d)" % (depth, ctype, interlace))
    try:
        raw = zlib.decompress(b"".join(idat))
    except zlib.error as e:
        raise PngError("bad image data: %s" % e)
    bpp, stride = 3, w * 3
    if len(raw) != h * (stride + 1):
        raise PngError("image data has %d bytes, expected %d" % (len(raw), h * (stride + 1)))

    rows, prev = [], bytearray(stride)
    for y in range(h):
        ftype = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if ftype == 0:
                pred = 0
            elif ftype == 1:
                pred = a
            elif ftype == 2:
                pred = b
            elif ftype == 3:
                pred = (a + b) // 2
            elif ftype == 4:
                pred = paeth(a, b, c)
            else:
                raise PngError("unknown filter type %d on row %d" % (ftype, y))
            line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line))
        prev = line
    return w, h, rows


def pixels(rows):
    for y, row in enumerate(rows):
        for x in range(len(row) // 3):
            yield x, y, (row[3 * x], row[3 * x + 1], row[3 * x + 2])


def check(name, size):
    problems = []
    path = os.path.join(HERE, name)
    if not os.path.isfile(path):
        return ["%s: missing" % name]
    try:
        w, h, rows = decode_png(path)
    except (PngError, struct.error) as e:
        return ["%s: %s" % (name, e)]
    if (w, h) != size:
        return ["%s: size %dx%d, expected %dx%d" % (name, w, h, size[0], size[1])]

    is_form = name == "bitmap136.png"
    counts = {}
    stray_black, grey_bottom = [], []
    for x, y, p in pixels(rows):
        counts[p] = counts.get(p, 0) + 1
        if is_form and y == h - 1:
            if p != BLACK:
                grey_bottom.append((x, p))
        elif p == BLACK:
            stray_black.append((x, y))
    if grey_bottom:
        problems.append("%s: bottom row must be black, %d pixel(s) are not, first at x=%d: %s"
                        % (name, len(grey_bottom), grey_bottom[0][0], grey_bottom[0][1]))
    if stray_black:
        problems.append("%s: %d pure black pixel(s), first at %s" % (name, len(stray_black), stray_black[0]))
    if is_form:
        top = max(counts, key=counts.get)
        if top != BASE:
            problems.append("%s: most frequent colour is %s, expected %s" % (name, top, BASE))
    return problems


def check_svg(name):
    """The scalable icon: an SVG of 48 by 48 units whose colours hold no pure black either."""
    try:
        root = ElementTree.parse(os.path.join(HERE, name)).getroot()
    except (OSError, ElementTree.ParseError) as e:
        return ["%s: %s" % (name, e)]
    problems = []
    if root.tag != "{http://www.w3.org/2000/svg}svg" or root.get("viewBox") != "0 0 48 48":
        problems.append("%s: not an SVG with the viewBox 0 0 48 48" % name)
    for element in root.iter():
        for key in ("fill", "stroke", "stop-color"):
            if element.get(key, "").lower() in ("#000", "#000000", "black"):
                problems.append("%s: pure black %s" % (name, key))
    return problems


def main():
    problems = check_svg("icon.svg")
    for name in sorted(SIZES):
        problems.extend(check(name, SIZES[name]))
    if problems:
        for p in problems:
            print("artwork check failed: " + p, file=sys.stderr)
        return 1
    print("artwork ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
