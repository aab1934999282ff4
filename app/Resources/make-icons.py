#!/usr/bin/env python3
"""Draws the tab bar icons (60 x 60 pixels, shown at 30 x 30 points) as PNG files."""
import math, struct, zlib

S = 60

def png(path, pixels):
    raw = b"".join(b"\0" + bytes(sum((pixels[y * S + x] for x in range(S)), ())) for y in range(S))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", S, S, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))

def draw(inside):
    out = []
    for y in range(S):
        for x in range(S):
            # 4x4 supersampling for smooth edges
            hits = sum(inside(x + (i + .5) / 4, y + (j + .5) / 4) for i in range(4) for j in range(4))
            out.append((230, 230, 230, round(255 * hits / 16)))
    return out

def bubble(x, y):
    in_ellipse = ((x - 30) / 26) ** 2 + ((y - 26) / 19) ** 2 <= 1
    tail = 14 <= x <= 26 and 38 <= y <= 54 and (x - 14) >= (y - 38) * 0.7
    dots = any((x - cx) ** 2 + (y - 26) ** 2 <= 12 for cx in (19, 30, 41))
    return (in_ellipse or tail) and not dots

def globe(x, y):
    r = math.hypot(x - 30, y - 30)
    ring = 21 <= r <= 25
    meridian = r < 22 and abs(((x - 30) / 10) ** 2 + ((y - 30) / 22) ** 2 - 1) < 0.18
    lines = r < 22 and (abs(y - 30) < 1.5 or abs(y - 20) < 1.3 or abs(y - 40) < 1.3 or abs(x - 30) < 1.5)
    return ring or meridian or lines

def phone(x, y):
    body = 16 <= x <= 44 and 6 <= y <= 54
    screen = 20 <= x <= 40 and 12 <= y <= 44
    button = (x - 30) ** 2 + (y - 49) ** 2 <= 7
    return body and not screen and not button

def question(x, y):
    r = math.hypot(x - 30, y - 30)
    if r > 26:
        return False
    arc = 6 <= math.hypot(x - 30, y - 23) <= 11 and not (x < 30 and y > 23)
    stem = 27 <= x <= 33 and 28 <= y <= 37
    dot = (x - 30) ** 2 + (y - 44) ** 2 <= 12
    return not (arc or stem or dot)

for name, fn in [("tab-sms", bubble), ("tab-web", globe), ("tab-local", phone), ("tab-ayuda", question)]:
    png(name + ".png", draw(fn))
