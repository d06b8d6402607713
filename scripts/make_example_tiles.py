#!/usr/bin/env python3
"""Writes examples/hello/tiles.tga, the example game's tileset: a 64x32
colour-mapped TGA of 8x8 tiles, magenta as the transparent colour.

Tile numbers (8 per row):
  0       empty (fully transparent; map cells of tile 0 are never drawn)
  1-4     ground for a scrolling map: dark rock, lit rock, crystal, grass
  8-9     the ship, two frames of its exhaust flicker
  10-13   the gem, four frames of a turn
  16-19   a twinkling star, four frames
Run it again after changing a drawing; the output is committed."""
import math
import os

W, H, T = 64, 32, 8
MAGENTA = (255, 0, 255)
palette = [MAGENTA]
pixels = [[0] * W for _ in range(H)]


def colour(rgb):
    if rgb not in palette:
        palette.append(rgb)
    return palette.index(rgb)


def put(tile, x, y, rgb):
    tx, ty = tile % 8 * T, tile // 8 * T
    if 0 <= x < T and 0 <= y < T:
        pixels[ty + y][tx + x] = colour(rgb)


def ground(tile, base, speckle, every):
    for y in range(T):
        for x in range(T):
            lit = (x * 7 + y * 13 + tile) % every == 0
            put(tile, x, y, speckle if lit else base)


ground(1, (40, 34, 60), (70, 60, 95), 5)
ground(2, (70, 60, 95), (110, 96, 140), 4)
ground(3, (30, 60, 90), (120, 220, 255), 6)
ground(4, (30, 70, 40), (60, 130, 60), 3)

# The ship: a hull, wings, a cockpit, and an exhaust that flickers.
for frame, flame in ((8, (255, 140, 40)), (9, (255, 220, 90))):
    for y in range(1, 6):
        put(frame, 3, y, (90, 200, 255))
        put(frame, 4, y, (90, 200, 255))
    for x in range(0, 8):
        put(frame, x, 4, (40, 120, 220))
    put(frame, 3, 2, (255, 255, 255))
    put(frame, 3, 6, flame)
    put(frame, 4, 6, flame)
    if frame == 9:
        put(frame, 3, 7, flame)
        put(frame, 4, 7, flame)

# The gem turning: a diamond whose width follows the cosine of its angle.
for i in range(4):
    half = max(1, round(3 * abs(math.cos(i * math.pi / 4))))
    for y in range(T):
        span = half * (1 - abs(y - 3.5) / 4)
        for x in range(T):
            if abs(x - 3.5) <= span + 0.01:
                shade = 255 if x < 4 else 190
                put(10 + i, x, y, (shade, 60, shade))

# A star twinkling: a dot, a small cross, a big cross, a small cross.
for i, arm in enumerate((0, 1, 2, 1)):
    put(16 + i, 3, 3, (255, 255, 220))
    for d in range(1, arm + 1):
        for dx, dy in ((d, 0), (-d, 0), (0, d), (0, -d)):
            put(16 + i, 3 + dx, 3 + dy, (200, 200, 255))

assert len(palette) <= 256
# ID length 0, colour map present, type 1; the map starts at entry 0.
header = bytes([0, 1, 1]) + (0).to_bytes(2, "little")
header += len(palette).to_bytes(2, "little") + bytes([24]) + bytes(4)
header += W.to_bytes(2, "little") + H.to_bytes(2, "little") + bytes([8, 0])
cmap = b"".join(bytes([b, g, r]) for r, g, b in palette)
rows = b"".join(bytes(pixels[y]) for y in reversed(range(H)))  # bottom-up
out = os.path.join(os.path.dirname(__file__), "..", "examples", "hello", "tiles.tga")
with open(out, "wb") as f:
    f.write(header + cmap + rows)
