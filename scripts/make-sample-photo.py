#!/usr/bin/env python3
"""Renders docs/sample-photo.png: a small black-and-white still life (a wall,
a table, a ball and a jug, lit from the upper left) used for the README's
screenshot. Made from scratch by this script; no outside image is involved."""
import math
import random
import struct
import sys
import zlib

W, H = 640, 440
random.seed(7)

# Smooth value noise for texture.
GRID = 24
noise_grid = [[random.random() for _ in range(W // GRID + 3)] for _ in range(H // GRID + 3)]


def noise(x, y):
    gx, gy = (x % W) / GRID, (y % H) / GRID
    ix, iy = int(gx), int(gy)
    fx, fy = gx - ix, gy - iy
    fx, fy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
    a = noise_grid[iy][ix] * (1 - fx) + noise_grid[iy][ix + 1] * fx
    b = noise_grid[iy + 1][ix] * (1 - fx) + noise_grid[iy + 1][ix + 1] * fx
    return a * (1 - fy) + b * fy


light = (-0.5, -0.6, 0.62)
norm = math.sqrt(sum(c * c for c in light))
light = tuple(c / norm for c in light)

ball_c, ball_r = (250, 255), 78
jug_cx, jug_top, jug_bottom, jug_r = (450, 120, 318, 62)
table_y = 300

rows = []
for y in range(H):
    row = bytearray()
    for x in range(W):
        if y < table_y:
            v = 0.72 - 0.25 * y / table_y + 0.06 * (noise(x, y) - 0.5)
            v -= 0.18 * math.exp(-((x - 470) ** 2) / 9000 - ((y - 290) ** 2) / 900)  # jug shadow
        else:
            grain = math.sin(x * 0.05 + 6 * noise(x * 0.3, y)) * 0.04
            v = 0.42 - 0.12 * (y - table_y) / (H - table_y) + grain
            d = ((x - 280) / 110) ** 2 + ((y - 332) / 16) ** 2  # ball shadow
            v -= 0.2 * math.exp(-d)
        dx, dy = x - ball_c[0], y - ball_c[1]
        if dx * dx + dy * dy < ball_r * ball_r:
            nz = math.sqrt(ball_r * ball_r - dx * dx - dy * dy) / ball_r
            n = (dx / ball_r, dy / ball_r, nz)
            lambert = max(0.0, sum(a * b for a, b in zip(n, light)))
            spec = max(0.0, lambert) ** 40
            v = 0.12 + 0.7 * lambert + 0.5 * spec + 0.03 * (noise(x * 2, y * 2) - 0.5)
        if jug_top < y < jug_bottom and abs(x - jug_cx) < jug_r * (0.75 + 0.25 * math.sin(math.pi * (y - jug_top) / (jug_bottom - jug_top))):
            half = jug_r * (0.75 + 0.25 * math.sin(math.pi * (y - jug_top) / (jug_bottom - jug_top)))
            u = (x - jug_cx) / half
            n = (u, 0.0, math.sqrt(max(0.0, 1 - u * u)))
            lambert = max(0.0, sum(a * b for a, b in zip(n, light)))
            v = 0.2 + 0.6 * lambert + 0.35 * lambert ** 30 + 0.02 * (noise(x, y * 3) - 0.5)
            if abs(y - 170) < 5:
                v *= 0.7  # a band round the jug
        row.append(max(0, min(255, int(v * 255))))
    rows.append(bytes(row))

raw = b"".join(b"\x00" + r for r in rows)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 0, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
out = sys.argv[1] if len(sys.argv) > 1 else "docs/sample-photo.png"
with open(out, "wb") as f:
    f.write(png)
