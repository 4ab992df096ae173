#!/usr/bin/env python3
"""Draws the window's two 32x32 icons and writes them as PNG files.

Not part of the build: run it by hand after changing a drawing and commit the
PNG files it writes next to itself. Only the standard library is used.
"""
import math
import os
import struct
import zlib

SIZE = 32
SUPER = 4  # samples per pixel along each axis, for smooth edges


def write_png(path, pixels):
    """pixels: rows of (r, g, b, a) tuples."""
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def render(shade):
    """shade(x, y) -> (r, g, b, a) or None at a point in pixel units."""
    rows = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUPER):
                for sx in range(SUPER):
                    c = shade(px + (sx + 0.5) / SUPER, py + (sy + 0.5) / SUPER)
                    if c:
                        a = c[3] / 255.0
                        acc[0] += c[0] * a
                        acc[1] += c[1] * a
                        acc[2] += c[2] * a
                        acc[3] += a
            n = SUPER * SUPER
            alpha = acc[3] / n
            if alpha > 0:
                rgb = [round(acc[i] / acc[3]) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row.append((rgb[0], rgb[1], rgb[2], round(alpha * 255)))
        rows.append(row)
    return rows


def segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


def antenna(x, y):
    """A mast on a base with radio waves on both sides of its tip."""
    mast = (40, 60, 110, 255)
    wave = (230, 110, 20, 255)
    cx, tip = 16.0, 11.0
    # tip of the mast
    if math.hypot(x - cx, y - tip) <= 2.4:
        return wave
    # the mast: two legs spreading to the base and a cross brace
    for ax, ay, bx, by in ((cx, tip, 10.0, 29.0), (cx, tip, 22.0, 29.0), (12.0, 23.0, 20.0, 23.0),
                           (13.5, 18.5, 18.5, 18.5), (8.0, 29.5, 24.0, 29.5)):
        if segment_distance(x, y, ax, ay, bx, by) <= 1.1:
            return mast
    # two arcs on each side of the tip
    r = math.hypot(x - cx, y - tip)
    angle = math.degrees(math.atan2(y - tip, x - cx))
    side = abs(angle) <= 40 or abs(angle) >= 140
    for radius in (6.0, 10.5):
        if side and abs(r - radius) <= 1.2:
            return wave
    return None


def refresh(x, y):
    """Two arrows chasing each other round a circle."""
    green = (30, 140, 60, 255)
    cx, cy, radius = 16.0, 16.0, 10.0
    r = math.hypot(x - cx, y - cy)
    angle = math.degrees(math.atan2(y - cy, x - cx)) % 360
    # two arcs, each 140 degrees, with gaps for the arrow heads
    for start in (20.0, 200.0):
        if (angle - start) % 360 <= 130 and abs(r - radius) <= 1.8:
            return green
    # arrow heads at the end of each arc, pointing along the circle
    for end in (150.0, 330.0):
        a = math.radians(end)
        tx, ty = cx + radius * math.cos(a), cy + radius * math.sin(a)
        # direction of travel (increasing angle) and the outward normal
        dx, dy = -math.sin(a), math.cos(a)
        nx, ny = math.cos(a), math.sin(a)
        tipx, tipy = tx + 6.0 * dx, ty + 6.0 * dy
        p1 = (tx + 5.0 * nx, ty + 5.0 * ny)
        p2 = (tx - 5.0 * nx, ty - 5.0 * ny)
        if inside_triangle(x, y, (tipx, tipy), p1, p2):
            return green
    return None


def inside_triangle(x, y, a, b, c):
    def cross(p, q, r):
        return (q[0] - p[0]) * (r[1] - p[1]) - (q[1] - p[1]) * (r[0] - p[0])

    d1, d2, d3 = cross(a, b, (x, y)), cross(b, c, (x, y)), cross(c, a, (x, y))
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_png(os.path.join(here, "wlassistant_4408.png"), render(antenna))
    write_png(os.path.join(here, "adept_update_1970.png"), render(refresh))
