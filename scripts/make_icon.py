#!/usr/bin/env python3
"""Draws Zelquin's application icon and writes it as a Windows .ico file.

One image, 256 x 256 pixels, 32 bits per pixel: a video camera on a blue panel tile, with a record
light and a settings gear. Shapes are drawn from signed distances, so every edge is anti-aliased.
The image is stored as PNG (8-bit RGBA), the way Windows Vista and later take a 256 x 256 icon
frame, rather than as an uncompressed DIB four times its size. The output is the same for the same
script: no time stamps or other chunks that vary. Standard library only.

    make_icon.py OUTPUT.ico
"""

import math
import struct
import sys
import zlib

SIZE = 256


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def coverage(sd):
    """Pixel coverage from a signed distance in pixels (negative inside)."""
    return clamp(0.5 - sd)


def sd_round_rect(x, y, x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def sd_circle(x, y, cx, cy, r):
    return math.hypot(x - cx, y - cy) - r


def sd_convex_polygon(x, y, points):
    """Signed distance to a convex polygon given clockwise in screen coordinates."""
    best = None
    inside = True
    for i, (ax, ay) in enumerate(points):
        bx, by = points[(i + 1) % len(points)]
        ex, ey = bx - ax, by - ay
        wx, wy = x - ax, y - ay
        t = clamp((wx * ex + wy * ey) / (ex * ex + ey * ey))
        d = math.hypot(wx - ex * t, wy - ey * t)
        best = d if best is None else min(best, d)
        if ex * wy - ey * wx < 0:
            inside = False
    return -best if inside else best


def sd_gear(x, y, cx, cy, body, tooth_len, tooth_half, teeth, hole):
    dx, dy = x - cx, y - cy
    dist = math.hypot(dx, dy)
    sd = dist - body
    angle = math.atan2(dy, dx)
    step = 2 * math.pi / teeth
    # The nearest tooth, as a rounded bar along its own axis.
    k = round(angle / step)
    a = k * step
    u = dx * math.cos(a) + dy * math.sin(a)
    v = -dx * math.sin(a) + dy * math.cos(a)
    tooth = sd_round_rect(u, v, body - 4, -tooth_half, body + tooth_len, tooth_half, 3)
    sd = min(sd, tooth)
    return max(sd, hole - dist)


def mix(c0, c1, t):
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def hex_color(text):
    return tuple(int(text[i:i + 2], 16) / 255 for i in (1, 3, 5))


# Palette.
TILE_TOP = hex_color("#2F6EA5")
TILE_BOTTOM = hex_color("#14385C")
TILE_EDGE = hex_color("#5C9AD0")
BODY_TOP = hex_color("#F4F7FA")
BODY_BOTTOM = hex_color("#B8C6D4")
BODY_EDGE = hex_color("#0D2236")
LENS_RING = hex_color("#1B2A38")
LENS_RING_LIGHT = hex_color("#5B6D7E")
GLASS_CENTRE = hex_color("#4FA3F0")
GLASS_EDGE = hex_color("#0A1A30")
RECORD = hex_color("#E8322F")
RECORD_LIGHT = hex_color("#FF8A7A")
GEAR = hex_color("#FFB627")
GEAR_DARK = hex_color("#C77800")

HOOD = [(166, 112), (216, 90), (216, 180), (166, 158)]


def shade(x, y):
    """The colour of one pixel as premultiplied (r, g, b, a), layers composited back to front."""
    r = g = b = a = 0.0

    def over(color, alpha):
        nonlocal r, g, b, a
        if alpha <= 0:
            return
        r = color[0] * alpha + r * (1 - alpha)
        g = color[1] * alpha + g * (1 - alpha)
        b = color[2] * alpha + b * (1 - alpha)
        a = alpha + a * (1 - alpha)

    # Soft shadow under the tile, then the tile with a light rim.
    shadow = sd_round_rect(x, y - 5, 14, 14, 242, 242, 44)
    over((0, 0, 0), 0.35 * clamp(1 - (shadow + 2) / 10) if shadow > -2 else 0.35)
    tile = sd_round_rect(x, y, 12, 10, 244, 242, 44)
    over(TILE_EDGE, coverage(tile))
    over(mix(TILE_TOP, TILE_BOTTOM, clamp((y - 10) / 232)), coverage(tile + 3))
    # A gentle gloss over the upper half of the tile.
    gloss = sd_round_rect(x, y, 15, 13, 241, 126, 41)
    over((1, 1, 1), 0.08 * coverage(gloss))

    # The camera: lens hood, body, the viewfinder hump; dark outline first.
    hood = sd_convex_polygon(x, y, HOOD)
    body = sd_round_rect(x, y, 40, 96, 172, 184, 18)
    hump = sd_round_rect(x, y, 112, 78, 158, 104, 8)
    camera = min(hood, body, hump)
    over(BODY_EDGE, coverage(camera - 3))
    body_color = mix(BODY_TOP, BODY_BOTTOM, clamp((y - 78) / 106))
    over(body_color, coverage(min(body, hump)))
    over(mix(body_color, BODY_BOTTOM, 0.55), coverage(hood))
    # The seam between body and hood.
    over(BODY_EDGE, coverage(abs(x - 169) - 1.2) * coverage(camera))

    # The lens: ring, glass with a radial falloff, a highlight.
    lens_x, lens_y = 100, 140
    ring = sd_circle(x, y, lens_x, lens_y, 34)
    over(mix(LENS_RING_LIGHT, LENS_RING, clamp((y - 106) / 60)), coverage(ring))
    glass = sd_circle(x, y, lens_x, lens_y, 24)
    glow = clamp(math.hypot(x - lens_x + 6, y - lens_y + 6) / 30)
    over(mix(GLASS_CENTRE, GLASS_EDGE, glow), coverage(glass))
    pupil = sd_circle(x, y, lens_x, lens_y, 9)
    over(GLASS_EDGE, 0.85 * coverage(pupil))
    shine = sd_circle(x, y, lens_x - 10, lens_y - 10, 6)
    over((1, 1, 1), 0.75 * coverage(shine))

    # The record light above the body.
    dot = sd_circle(x, y, 62, 66, 15)
    over((0.35, 0, 0), coverage(dot - 2))
    over(mix(RECORD_LIGHT, RECORD, clamp(math.hypot(x - 57, y - 61) / 14)), coverage(dot))

    # The settings gear, lower right, over a dark disc that sets it off the camera.
    disc = sd_circle(x, y, 192, 194, 44)
    over(TILE_BOTTOM, coverage(disc))
    gear = sd_gear(x, y, 192, 194, 26, 11, 6.5, 8, 10)
    over(GEAR_DARK, coverage(gear - 2))
    over(mix(GEAR, GEAR_DARK, clamp((y - 160) / 80)), coverage(gear))
    return r, g, b, a


def render():
    """BGRA rows, top row first, straight (not premultiplied) colour."""
    rows = []
    for py in range(SIZE):
        row = bytearray()
        for px in range(SIZE):
            r, g, b, a = shade(px + 0.5, py + 0.5)
            if a <= 0:
                row += b"\0\0\0\0"
                continue
            row += bytes(
                int(round(clamp(c / a) * 255)) for c in (b, g, r)
            ) + bytes([int(round(a * 255))])
        rows.append(bytes(row))
    return rows


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filtered(row, previous, kind):
    """One PNG scanline under filter `kind` (0 none, 1 sub, 2 up, 3 average, 4 Paeth)."""
    out = bytearray(len(row))
    for i, x in enumerate(row):
        a = row[i - 4] if i >= 4 else 0
        b = previous[i]
        c = previous[i - 4] if i >= 4 else 0
        predictor = (0, a, b, (a + b) >> 1, paeth(a, b, c))[kind]
        out[i] = (x - predictor) & 0xFF
    return bytes(out)


def png(rows):
    """The BGRA rows as a PNG: 8-bit RGBA, each scanline under the filter that suits it best."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    stream = bytearray()
    previous = bytes(SIZE * 4)
    for bgra in rows:
        row = bytearray(bgra)
        row[0::4], row[2::4] = bgra[2::4], bgra[0::4]
        row = bytes(row)
        # The usual choice: the filter whose output has the smallest sum of magnitudes.
        candidates = [filtered(row, previous, kind) for kind in range(5)]
        scores = [sum(v if v < 128 else 256 - v for v in line) for line in candidates]
        kind = scores.index(min(scores))
        stream += bytes([kind]) + candidates[kind]
        previous = row
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(stream), 9)) + chunk(b"IEND", b""))


def ico(image):
    """An icon file of one 256 x 256, 32-bit frame (width and height 0 mean 256)."""
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    data = ico(png(render()))
    with open(sys.argv[1], "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
