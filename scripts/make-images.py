#!/usr/bin/env python3
"""Draws the Windows program's images and writes them beside its resource script.

    status.bmp       32x16, 24-bit: the list's status images (0 information, 1 error)
    banner.bmp       442x28, 24-bit: the banner at the top of the main dialog
    KestrelSync.ico  32x32 and 16x16, 32-bit BGRA with an AND mask: the program icon

Every shape is a signed distance function (negative inside, in pixels); a pixel's coverage
is the share of 8x8 sample points inside the shape, so edges are smoothed and the output is
the same on every run. Only the standard library is used.

    scripts/make-images.py [--out DIR] [--preview DIR]

--preview also writes PNG copies (real size and magnified) for looking at the images.
"""

import argparse
import math
import os
import struct
import zlib

SAMPLES = 8  # sample points per pixel along each axis


# ---- shapes -----------------------------------------------------------------------------------


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def rounded_rect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def sdf(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return sdf


def rect(x0, y0, x1, y1):
    return rounded_rect(x0, y0, x1, y1, 0.0)


def polygon(points):
    """Any simple polygon; the sign comes from the even-odd rule."""
    n = len(points)

    def sdf(x, y):
        best = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            ex, ey = bx - ax, by - ay
            wx, wy = x - ax, y - ay
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            best = min(best, math.hypot(wx - ex * t, wy - ey * t))
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:
                inside = not inside
        return -best if inside else best

    return sdf


def capsule(ax, ay, bx, by, r):
    """A line from a to b with round ends, r pixels either side of its middle."""
    ex, ey = bx - ax, by - ay

    def sdf(x, y):
        wx, wy = x - ax, y - ay
        t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
        return math.hypot(wx - ex * t, wy - ey * t) - r

    return sdf


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def inset(shape, d):
    return lambda x, y: shape(x, y) + d


# ---- canvas -----------------------------------------------------------------------------------


class Canvas:
    """Straight (not premultiplied) RGBA in 0..1, row 0 at the top."""

    def __init__(self, width, height, fill=(0.0, 0.0, 0.0, 0.0)):
        self.width, self.height = width, height
        self.px = [[list(fill) for _ in range(width)] for _ in range(height)]

    def blend(self, x, y, rgb, alpha):
        if alpha <= 0.0:
            return
        dst = self.px[y][x]
        out_a = alpha + dst[3] * (1.0 - alpha)
        for i in range(3):
            dst[i] = (rgb[i] * alpha + dst[i] * dst[3] * (1.0 - alpha)) / out_a
        dst[3] = out_a

    def fill(self, shape, colour, bounds=None, opacity=1.0):
        """Paints shape; colour is an (r, g, b) tuple or a function of the pixel centre."""
        x0, y0, x1, y1 = bounds or (0, 0, self.width, self.height)
        step = 1.0 / SAMPLES
        offsets = [(i + 0.5) * step for i in range(SAMPLES)]
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                centre = shape(x + 0.5, y + 0.5)
                if centre > 1.5:
                    continue  # a pixel lies within 0.71 of its centre: nothing of it is inside
                if centre < -1.5:
                    cover = 1.0
                else:
                    hits = sum(1 for sy in offsets for sx in offsets
                               if shape(x + sx, y + sy) <= 0.0)
                    cover = hits / (SAMPLES * SAMPLES)
                rgb = colour(x + 0.5, y + 0.5) if callable(colour) else colour
                self.blend(x, y, rgb, cover * opacity)

    def bytes_rgba(self):
        """Rows top to bottom of (r, g, b, a) bytes."""
        return [[tuple(round(max(0.0, min(1.0, c)) * 255) for c in p) for p in row]
                for row in self.px]


def rgb(hex_colour):
    v = int(hex_colour.lstrip("#"), 16)
    return ((v >> 16) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


# ---- file formats -----------------------------------------------------------------------------


def bmp24(canvas):
    """A bottom-up 24-bit BMP; transparency is flattened onto white."""
    rows = canvas.bytes_rgba()
    stride = (canvas.width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b, a in row:
            line += bytes(round((c * a + 255 * (255 - a)) / 255) for c in (b, g, r))
        pixels += line + bytes(stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0, len(pixels),
                       2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + bytes(pixels)


def ico(canvases):
    """An icon file of 32-bit BGRA images, each with its AND mask (set where fully clear)."""
    images = []
    for c in canvases:
        rows = c.bytes_rgba()
        xor = bytearray()
        for row in reversed(rows):
            for r, g, b, a in row:
                xor += bytes((b, g, r, a))
        mask_stride = ((c.width + 31) // 32) * 4
        mask = bytearray()
        for row in reversed(rows):
            line = bytearray(mask_stride)
            for x, p in enumerate(row):
                if p[3] == 0:
                    line[x // 8] |= 0x80 >> (x % 8)
            mask += line
        info = struct.pack("<IiiHHIIiiII", 40, c.width, c.height * 2, 1, 32, 0,
                           len(xor) + len(mask), 0, 0, 0, 0)
        images.append((c.width, c.height, info + bytes(xor) + bytes(mask)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for w, h, data in images:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return out


def png(canvas, scale=1):
    """A PNG of the canvas on white, each pixel drawn as a scale x scale block."""
    raw = bytearray()
    for row in canvas.bytes_rgba():
        line = bytearray()
        for r, g, b, a in row:
            line += bytes(round((c * a + 255 * (255 - a)) / 255) for c in (r, g, b)) * scale
        for _ in range(scale):
            raw += b"\x00" + line

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", canvas.width * scale, canvas.height * scale, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


# ---- the images -------------------------------------------------------------------------------

DEEP_BLUE = rgb("#0B2F6B")
TEAL = rgb("#0E8C8C")
WING = rgb("#FFFFFF")
FAR_WING = rgb("#A9CBE8")
BODY = rgb("#F5A524")  # a kestrel's rufous back, brightened to read on blue


def kestrel_mark(x0, y0, size):
    """The mark, a kestrel flying to the right with its wings raised, in the square (x0, y0) ..
    (x0+size, y0+size), all triangles. Returns (near wing, far wing, body)."""

    def tri(*uv):
        # The bird spans 0.04 .. 0.80 of the height; 0.08 lower puts it in the middle.
        return polygon([(x0 + u * size, y0 + (v + 0.08) * size) for u, v in uv])

    near_wing = tri((0.30, 0.62), (0.62, 0.56), (0.22, 0.04))
    far_wing = tri((0.46, 0.58), (0.64, 0.55), (0.72, 0.14))
    body = union(
        tri((0.02, 0.60), (0.68, 0.52), (0.44, 0.80)),  # tail, back and belly
        tri((0.60, 0.50), (0.98, 0.50), (0.68, 0.64)),  # head and beak
    )
    return near_wing, far_wing, body


def status_images():
    c = Canvas(32, 16, (1.0, 1.0, 1.0, 1.0))

    # 0: information, a speech bubble with a tail at its lower left holding a blue "i".
    # Edges lie on pixel borders, so the outline is one crisp pixel wide.
    # The tail starts inside the bubble so that its inside opens into the bubble's.
    bubble = union(rounded_rect(0.0, 0.0, 16.0, 12.0, 3.0),
                   polygon([(2.5, 8.0), (10.0, 8.0), (2.0, 16.0)]))
    c.fill(bubble, rgb("#3C4F66"), (0, 0, 16, 16))
    c.fill(inset(bubble, 1.0), rgb("#F2F7FD"), (0, 0, 16, 16))
    blue = rgb("#1E63C8")
    c.fill(circle(8.0, 3.0, 1.3), blue, (0, 0, 16, 16))
    c.fill(union(rect(7.0, 5.0, 9.0, 10.0), rect(6.0, 5.0, 7.0, 6.0), rect(6.0, 9.0, 10.0, 10.0)),
           blue, (0, 0, 16, 16))

    # 1: error, a red disc with a white diagonal cross.
    c.fill(circle(24.0, 8.0, 7.5), rgb("#A8201A"), (16, 0, 32, 16))
    c.fill(circle(24.0, 8.0, 6.5), rgb("#E0392B"), (16, 0, 32, 16))
    cross = union(capsule(21.0, 5.0, 27.0, 11.0, 1.1), capsule(21.0, 11.0, 27.0, 5.0, 1.1))
    c.fill(cross, (1.0, 1.0, 1.0), (16, 0, 32, 16))
    return c


# A 5-row x-height, 7-row cap height and 2-row descender block font for the banner's name.
GLYPHS = {
    " ": ["..", "..", "..", "..", "..", "..", ".."],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "c": [".....", ".....", ".####", "#....", "#....", "#....", ".####"],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
    "g": [".....", ".....", ".####", "#...#", "#...#", "#...#", ".####", "....#", ".###."],
    "l": ["##.", ".#.", ".#.", ".#.", ".#.", ".#.", "###"],
    "m": [".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"],
    "n": [".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"],
    "o": [".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."],
    "r": [".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."],
    "s": [".....", ".....", ".####", "#....", ".###.", "....#", "####."],
    "t": [".#..", ".#..", "####", ".#..", ".#..", ".#..", "..##"],
    "u": [".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#"],
    "y": [".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#", "....#", ".###."],
}


def text_width(text, scale):
    return (sum(len(GLYPHS[ch][0]) + 1 for ch in text) - 1) * scale


def text_shape(text, x0, y0, scale):
    """The text as a shape; (x0, y0), the top of the capitals, and scale are whole pixels, so
    every block covers whole pixels and the shape needs no distances, only inside or out."""
    cells = set()
    x = x0
    for ch in text:
        rows = GLYPHS[ch]
        for j, row in enumerate(rows):
            for i, cell in enumerate(row):
                if cell == "#":
                    cells.add((x + i * scale, y0 + j * scale))
        x += (len(rows[0]) + 1) * scale

    def sdf(px, py):
        cx = x0 + (math.floor(px) - x0) // scale * scale
        cy = y0 + (math.floor(py) - y0) // scale * scale
        return -2.0 if (cx, cy) in cells else 2.0

    return sdf


def banner():
    w, h = 442, 28
    c = Canvas(w, h)

    def background(x, y):
        across = mix(DEEP_BLUE, TEAL, x / w)
        return mix(across, (1.0, 1.0, 1.0), 0.10 * (1.0 - y / h))  # a little light from above

    c.fill(rect(0, 0, w, h), background)
    c.fill(rect(0, h - 1, w, h), rgb("#06203F"), opacity=0.5)  # a thin edge under the banner

    near_wing, far_wing, body = kestrel_mark(6.0, 0.0, 28.0)
    c.fill(far_wing, FAR_WING, (0, 0, 40, h))
    c.fill(body, BODY, (0, 0, 40, h))
    c.fill(near_wing, WING, (0, 0, 40, h))

    # The program's name in white at twice the font's size, over a soft shadow one pixel down
    # and to the right.
    shadow = text_shape("KestrelSync", 44, 7, 2)
    c.fill(shadow, rgb("#041833"), (40, 0, 200, h), opacity=0.45)
    name = text_shape("KestrelSync", 43, 6, 2)
    c.fill(name, (1.0, 1.0, 1.0), (40, 0, 200, h))

    owner = "Lumen Forge"  # the application this program keeps current, small on the right
    left = w - 12 - text_width(owner, 1)
    c.fill(text_shape(owner, left, 10, 1), rgb("#DDF3F3"), (left, 0, w, h), opacity=0.8)
    return c


def icon(size):
    c = Canvas(size, size)
    margin = size / 32.0
    square = rounded_rect(margin, margin, size - margin, size - margin, size * 0.2)

    def background(x, y):
        return mix(DEEP_BLUE, TEAL, (x + y) / (2 * size))

    c.fill(square, background)
    pad = size * 0.10
    near_wing, far_wing, body = kestrel_mark(pad, pad, size - 2 * pad)
    c.fill(far_wing, FAR_WING)
    c.fill(body, BODY)
    c.fill(near_wing, WING)
    return c


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "..", "src", "ui", "win32"))
    parser.add_argument("--preview", help="also write PNG copies into this folder")
    args = parser.parse_args()

    status, top, icons = status_images(), banner(), [icon(32), icon(16)]
    outputs = {
        "status.bmp": bmp24(status),
        "banner.bmp": bmp24(top),
        "KestrelSync.ico": ico(icons),
    }
    for name, data in outputs.items():
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(data)

    if args.preview:
        os.makedirs(args.preview, exist_ok=True)
        previews = {
            "status.png": png(status), "status-x8.png": png(status, 8),
            "banner.png": png(top), "banner-x3.png": png(top, 3),
            "icon32.png": png(icons[0]), "icon32-x8.png": png(icons[0], 8),
            "icon16.png": png(icons[1]), "icon16-x8.png": png(icons[1], 8),
        }
        for name, data in previews.items():
            with open(os.path.join(args.preview, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
