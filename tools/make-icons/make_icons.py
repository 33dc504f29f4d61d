#!/usr/bin/env python3
"""Draws the small PNG icons of the image tree, the thumbnail tiles and the mesh panel into
icons/, and the host's toolbar and window icons into icons/orvhost/ (run from the source root:
python3 tools/make-icons/make_icons.py). Uses only the standard library, so the icons can be
drawn again on any machine."""
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


# ---- the host's toolbar (24 x 24) and window (48 x 48) icons ----------------------------------

OUTLINE = (70, 70, 80, 255)
WHITE = (250, 250, 250, 255)


def in_rect(x, y, x0, y0, x1, y1):
    return x0 <= x <= x1 and y0 <= y <= y1


def on_rect_edge(x, y, x0, y0, x1, y1):
    return in_rect(x, y, x0, y0, x1, y1) and (x in (x0, x1) or y in (y0, y1))


def near_segment(x, y, a, b, width=0.7):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
    px, py = ax + t * dx, ay + t * dy
    return ((x - px) ** 2 + (y - py) ** 2) ** 0.5 <= width


def plus_badge(x, y):
    """A green plus in the bottom-right corner, or None outside it."""
    if ((x - 18.5) ** 2 + (y - 18.5) ** 2) ** 0.5 > 5.5:
        return None
    if (x in (18, 19) and 15 <= y <= 22) or (y in (18, 19) and 15 <= x <= 22):
        return WHITE
    return (60, 170, 80, 255)


def page(x, y):
    # A sheet with its top-right corner folded down.
    if not in_rect(x, y, 5, 2, 18, 21):
        return CLEAR
    if x >= 13 and y <= 7:
        e = (18 - x) + (y - 2)
        if e < 5:
            return CLEAR
        if e == 5 or x == 13 or y == 7:
            return OUTLINE
        return (215, 215, 220, 255)
    if x in (5, 18) or y in (2, 21):
        return OUTLINE
    return WHITE


def folder(x, y):
    if in_rect(x, y, 2, 5, 10, 8):
        return OUTLINE if y == 5 or x in (2, 10) else (230, 180, 70, 255)
    if on_rect_edge(x, y, 2, 8, 21, 19):
        return OUTLINE
    if in_rect(x, y, 2, 8, 21, 19):
        return (245, 200, 90, 255)
    return CLEAR


def photo(x, y):
    if on_rect_edge(x, y, 1, 3, 19, 17):
        return OUTLINE
    if not in_rect(x, y, 1, 3, 19, 17):
        return CLEAR
    if ((x - 14.5) ** 2 + (y - 7.5) ** 2) ** 0.5 <= 2.0:
        return (250, 210, 60, 255)
    if y >= 13 - (x % 7) // 3:
        return (80, 160, 80, 255)
    return (130, 190, 240, 255)


def with_plus(base):
    def f(x, y):
        badge = plus_badge(x, y)
        return badge if badge else base(x, y)
    return f


MESH_POINTS = [(2, 18), (9, 4), (17, 6), (19, 16), (10, 19), (10, 11)]
MESH_EDGES = [(0, 1), (1, 2), (2, 3), (3, 4), (4, 0), (5, 0), (5, 1), (5, 2), (5, 3), (5, 4)]


def mesh(x, y):
    for i, j in MESH_EDGES:
        if near_segment(x, y, MESH_POINTS[i], MESH_POINTS[j]):
            return (40, 90, 190, 255)
    for px, py in MESH_POINTS:
        if abs(x - px) <= 1 and abs(y - py) <= 1:
            return (20, 50, 120, 255)
    return CLEAR


def floppy(x, y):
    if not in_rect(x, y, 3, 3, 20, 20) or (x >= 18 and y <= 4):
        return CLEAR
    if x in (3, 20) or y in (3, 20):
        return OUTLINE
    if in_rect(x, y, 7, 4, 15, 9):
        return (200, 200, 210, 255) if not x == 13 else OUTLINE
    if in_rect(x, y, 6, 12, 17, 19):
        return WHITE if y not in (14, 16) else (170, 170, 180, 255)
    return (50, 90, 170, 255)


def window_icon(x, y):
    # A photograph with a triangle mesh laid over it, 48 x 48.
    if not in_rect(x, y, 2, 6, 45, 41):
        return CLEAR
    if x in (2, 45) or y in (6, 41):
        return OUTLINE
    for (ax, ay), (bx, by) in [((4, 38), (20, 12)), ((20, 12), (43, 16)), ((43, 16), (40, 38)),
                               ((40, 38), (4, 38)), ((20, 12), (24, 27)), ((24, 27), (4, 38)),
                               ((24, 27), (43, 16)), ((24, 27), (40, 38))]:
        if near_segment(x, y, (ax, ay), (bx, by), 1.0):
            return (30, 70, 170, 255)
    if ((x - 36) ** 2 + (y - 12) ** 2) ** 0.5 <= 3.5:
        return (250, 210, 60, 255)
    return (90, 165, 90, 255) if y >= 30 else (150, 200, 240, 255)


# name: (drawing, edge in pixels)
HOST_ICONS = {
    "new.png": (page, 24),
    "open.png": (folder, 24),
    "add-photos.png": (with_plus(photo), 24),
    "add-meshes.png": (with_plus(mesh), 24),
    "save.png": (floppy, 24),
    "orvhost.png": (window_icon, 48),
}

if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "icons"
    os.makedirs(out, exist_ok=True)
    for name, pixel in ICONS.items():
        png(os.path.join(out, name), 16, 16, pixel)
    host = os.path.join(out, "orvhost")
    os.makedirs(host, exist_ok=True)
    for name, (pixel, edge) in HOST_ICONS.items():
        png(os.path.join(host, name), edge, edge, pixel)
