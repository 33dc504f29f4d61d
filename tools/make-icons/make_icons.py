#!/usr/bin/env python3
"""Draws the small PNG icons of the image tree, the thumbnail tiles and the mesh panel into
icons/ (run from the source root: python3 tools/make-icons/make_icons.py). Uses only the
standard library, so the icons can be drawn again on any machine."""
import os
import struct
import sys
import zlib


def png(path, w, h, pixel):
    rows = b""
    for y in range(h):
        rows += b"\0" + b"".join(bytes(pixel(x, y)) for x in range(w))
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


CLEAR = (0, 0, 0, 0)
LINE = (160, 160, 160, 255)


def tree_vline(x, y):
    return LINE if x == 8 else CLEAR


def tree_more(x, y):
    return LINE if x == 8 or (y == 8 and x >= 8) else CLEAR


def tree_end(x, y):
    return LINE if (x == 8 and y <= 8) or (y == 8 and x >= 8) else CLEAR


def disc(colour, inner=None):
    def f(x, y):
        d = ((x - 7.5) ** 2 + (y - 7.5) ** 2) ** 0.5
        if d <= 6.5:
            if inner and inner(x, y):
                return (255, 255, 255, 255)
            return colour
        return CLEAR
    return f


def moon(x, y):
    d1 = ((x - 7.5) ** 2 + (y - 7.5) ** 2) ** 0.5
    d2 = ((x - 10.5) ** 2 + (y - 5.5) ** 2) ** 0.5
    return (120, 130, 200, 255) if d1 <= 6.5 and d2 > 5.0 else CLEAR


def sun(x, y):
    d = ((x - 7.5) ** 2 + (y - 7.5) ** 2) ** 0.5
    if d <= 4.0:
        return (250, 200, 40, 255)
    if 5.5 <= d <= 7.0 and (x in (7, 8) or y in (7, 8) or abs(x - y) <= 0 or abs(x + y - 15) <= 0):
        return (250, 200, 40, 255)
    return CLEAR


def eye(open_):
    def f(x, y):
        ex = (x - 7.5) / 7.0
        ey = (y - 7.5) / 4.0
        inside = ex * ex + ey * ey <= 1.0
        edge = inside and ex * ex + ey * ey >= 0.7
        pupil = ((x - 7.5) ** 2 + (y - 7.5) ** 2) ** 0.5 <= 2.2
        if not open_ and abs(x - y) <= 0.5:
            return (200, 60, 60, 255)
        if edge or (open_ and pupil):
            return (90, 200, 120, 255) if open_ else (150, 150, 150, 255)
        return CLEAR
    return f


def cross_mark(visible):
    colour = (230, 80, 60, 255) if visible else (150, 150, 150, 255)
    def f(x, y):
        ring = 4.5 <= ((x - 7.5) ** 2 + (y - 7.5) ** 2) ** 0.5 <= 6.0
        hair = x in (7, 8) or y in (7, 8)
        if ring or (hair and 2 <= x <= 13 and 2 <= y <= 13):
            return colour
        return CLEAR
    return f


ICONS = {
    "stylesheet-vline.png": tree_vline,
    "stylesheet-branch-more.png": tree_more,
    "stylesheet-branch-end.png": tree_end,
    "sleep.png": moon,
    "wakeup.png": sun,
    "textureMapVisible.png": eye(True),
    "textureMapInvisible.png": eye(False),
    "CtrPntVis.png": cross_mark(True),
    "CtrPntInVis.png": cross_mark(False),
}

if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "icons"
    os.makedirs(out, exist_ok=True)
    for name, pixel in ICONS.items():
        png(os.path.join(out, name), 16, 16, pixel)
