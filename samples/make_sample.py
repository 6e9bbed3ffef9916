#!/usr/bin/env python3
"""Draws samples/sample.png, the picture the demo cuts into a puzzle: a
landscape of sky, sun, hills and a lake, made from formulas only."""
import math
import struct
import sys
import zlib

W, H = 360, 240


def clamp(v):
    return max(0, min(255, int(v)))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def pixel(x, y):
    horizon = 150
    # Sky: deep blue at the top, warm near the horizon.
    t = y / horizon
    c = mix((40, 70, 150), (250, 180, 120), min(1.0, t) ** 1.5)
    # The sun with a soft glow.
    d = math.hypot(x - 250, y - 95)
    if d < 22:
        c = (255, 236, 170)
    elif d < 60:
        c = mix(c, (255, 220, 150), (60 - d) / 38 * 0.6)
    # Three ranges of hills, far to near.
    hills = [
        (118 + 14 * math.sin(x / 37.0) + 6 * math.sin(x / 11.0), (110, 120, 160)),
        (140 + 16 * math.sin(x / 29.0 + 1.7) + 5 * math.sin(x / 7.0), (70, 110, 90)),
        (170 + 12 * math.sin(x / 45.0 + 0.4), (50, 120, 50)),
    ]
    for top, colour in hills:
        if y >= top:
            shade = 1.0 - min(0.35, (y - top) / 160)
            c = tuple(v * shade for v in colour)
    # A lake in the foreground that mirrors the sky.
    lake = 205 + 6 * math.sin(x / 23.0)
    if y >= lake:
        sky = mix((40, 70, 150), (250, 180, 120), max(0.0, 1 - (y - lake) / 40))
        ripple = 12 * math.sin(y * 1.3 + x / 9.0)
        c = tuple(v + ripple for v in mix(sky, (30, 60, 110), 0.4))
    return tuple(clamp(v) for v in c)


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "samples/sample.png"
    rows = []
    for y in range(H):
        row = []
        for x in range(W):
            row.extend(pixel(x, y))
        rows.append(row)
    with open(out, "wb") as f:
        f.write(png(W, H, rows))


if __name__ == "__main__":
    main()
