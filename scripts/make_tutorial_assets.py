#!/usr/bin/env python3
"""Writes the files of the tutorial (docs/tutorial.md) into docs/tutorial/:

  tiles.png          16x16 tiles, 8 per row: 0-1 the hero walking, 2-3 a coin
                     turning, 8 a brick wall
  coin.wav           the sound of a coin picked up (mono, 8-bit, 22050 Hz)
  song.xm            a 4-channel tune for the tracker converter
  maps/level1.tmx    the tutorial's level as a Tiled map, walls on a tile
                     layer, coins and the start on an object layer

They are what an artist's tools would make, kept small. Run it again after
changing a drawing or the tune; the output is committed."""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "docs", "tutorial")

# The level of the tutorial's step 3, the same in the Tiled map.
LEVEL = [
    "##############################",
    "#............#...............#",
    "#.P..$.......#.....$.........#",
    "#............#...............#",
    "#...######...#....#####......#",
    "#........#........#...#..$...#",
    "#..$.....#........#.$.#......#",
    "#........#####....#...#......#",
    "#.................#...#......#",
    "#....$..................$....#",
    "#..........######............#",
    "#####......#....#.......######",
    "#..........#.$..#............#",
    "#.....$.........#.....$......#",
    "##############################",
]
assert all(len(row) == 30 for row in LEVEL) and len(LEVEL) == 15


def png(width, height, rgba_rows):
    """An 8-bit RGBA PNG; rgba_rows: rows of (r, g, b, a) tuples."""
    raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in rgba_rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def make_tiles():
    T, COLUMNS, ROWS = 16, 8, 2
    clear = (0, 0, 0, 0)
    pixels = [[clear] * (T * COLUMNS) for _ in range(T * ROWS)]

    def put(tile, x, y, rgb):
        if 0 <= x < T and 0 <= y < T:
            pixels[tile // COLUMNS * T + y][tile % COLUMNS * T + x] = rgb + (255,)

    # The hero: a round body, eyes, and feet that swap between the frames.
    for frame in (0, 1):
        for y in range(2, 13):
            for x in range(2, 14):
                if (x - 7.5) ** 2 + (y - 7.5) ** 2 <= 30:
                    put(frame, x, y, (70, 150, 255) if y < 10 else (40, 100, 210))
        for x in (5, 10):
            put(frame, x, 6, (255, 255, 255))
            put(frame, x, 7, (20, 20, 40))
        for x in ((3, 4, 5) if frame == 0 else (10, 11, 12)):
            put(frame, x, 13, (255, 200, 60))
            put(frame, x, 14, (255, 200, 60))
        for x in ((10, 11, 12) if frame == 0 else (3, 4, 5)):
            put(frame, x, 13, (255, 200, 60))

    # The coin, face on and turned.
    for frame, half in ((2, 5.5), (3, 2.5)):
        for y in range(2, 14):
            for x in range(2, 14):
                d = ((x - 7.5) / half) ** 2 + ((y - 7.5) / 5.5) ** 2
                if d <= 1:
                    put(frame, x, y, (255, 230, 80) if d < 0.5 else (220, 160, 20))

    # A brick wall.
    for y in range(T):
        for x in range(T):
            mortar = y % 8 == 7 or (x + (4 if y // 8 else 12)) % 16 == 0
            put(8, x, y, (90, 80, 90) if mortar else (170 - (x * 5 + y * 3) % 30, 70, 50))

    return png(T * COLUMNS, T * ROWS, pixels)


def make_coin_sound():
    rate = 22050
    samples = []
    for i in range(int(rate * 0.15)):
        t = i / rate
        freq = 880 if t < 0.05 else 1320  # two notes up, the sound of a coin
        fade = 1 - t / 0.15
        value = 1 if math.sin(2 * math.pi * freq * t) >= 0 else -1
        samples.append(128 + int(value * 70 * fade))
    data = bytes(samples)
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate, 1, 8)
    return (b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE" +
            b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data)


def make_song():
    """A 4-channel XM: a square lead, a triangle bass, 2 patterns of 32 rows."""
    channels, rows = 4, 32

    def note(name):  # "C-4" -> 49, as trackers count (C-0 is 1)
        steps = {"C-": 0, "C#": 1, "D-": 2, "D#": 3, "E-": 4, "F-": 5, "F#": 6, "G-": 7, "G#": 8,
                 "A-": 9, "A#": 10, "B-": 11}
        return steps[name[:2]] + 12 * int(name[2]) + 1

    lead_a = "E-5 . G-5 . A-5 . . . G-5 . E-5 . D-5 . . . C-5 . D-5 . E-5 . G-5 . E-5 . . . . . . .".split()
    lead_b = "A-5 . . . G-5 . E-5 . G-5 . . . E-5 . D-5 . C-5 . D-5 . E-5 . D-5 . C-5 . . . . . . .".split()
    bass_a = "C-3 . . . C-3 . . . A-2 . . . A-2 . . . F-2 . . . F-2 . . . G-2 . . . G-2 . . .".split()
    bass_b = "F-2 . . . F-2 . . . G-2 . . . G-2 . . . C-3 . . . A-2 . . . G-2 . . . C-3 . . .".split()

    def pattern(lead, bass):
        data = b""
        for row in range(rows):
            cells = [(lead[row], 1, 0x30), (bass[row], 2, 0x38), (".", 0, 0), (".", 0, 0)]
            for text, instrument, volume in cells:
                if text == ".":
                    data += bytes(5)
                else:
                    data += bytes([note(text), instrument, 0x10 + volume, 0, 0])
        return struct.pack("<IBHH", 9, 0, rows, len(data)) + data

    def delta(samples):
        out, last = bytearray(), 0
        for s in samples:
            out.append((s - last) & 0xFF)
            last = s
        return bytes(out)

    def instrument(name, wave):
        # One looping 8-bit sample of 32 points: at 8363 Hz that is C-4 for note C-4.
        header = struct.pack("<I22sBH", 263, name.encode(), 0, 1)
        header += struct.pack("<I", 40) + bytes(96)                     # sample header size, keymap
        header += bytes(48) + bytes(48)                                 # envelope points
        header += bytes(14) + struct.pack("<H", 0) + bytes(22)          # counts, flags, vibrato, fadeout, padding
        assert len(header) == 263, len(header)
        sample = struct.pack("<IIIBbBBbB22s", len(wave), 0, len(wave), 64, 0, 1, 128, 0, 0, b"")
        return header + sample + delta(wave)

    square = [100 if i < 16 else -100 & 0xFF for i in range(32)]
    triangle = [(int(-110 + 220 * (i / 16 if i < 16 else (32 - i) / 16))) & 0xFF for i in range(32)]
    orders = [0, 1]
    head = b"Extended Module: " + b"pelto tutorial".ljust(20, b"\0") + b"\x1a" + b"pelto".ljust(20, b"\0")
    head += struct.pack("<HIHHHHHHHH", 0x0104, 276, len(orders), 0, channels, 2, 2, 1, 6, 125)
    head += bytes(orders).ljust(256, b"\0")
    return (head + pattern(lead_a, bass_a) + pattern(lead_b, bass_b) +
            instrument("square lead", square) + instrument("triangle bass", triangle))


def make_tiled_level():
    wall_gid = 1 + 8  # first gid 1, tile 8 of tiles.png
    rows = [",".join(str(wall_gid if c == "#" else 0) for c in row) for row in LEVEL]
    objects = []
    next_id = 1
    for y, row in enumerate(LEVEL):
        for x, c in enumerate(row):
            if c in "$P":
                name = "coin" if c == "$" else "start"
                objects.append('  <object id="%d" name="%s" x="%d" y="%d" width="16" height="16"/>' %
                               (next_id, name, x * 16, y * 16))
                next_id += 1
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<map version="1.10" orientation="orthogonal" renderorder="right-down" width="30" height="15" '
            'tilewidth="16" tileheight="16" infinite="0" nextlayerid="3" nextobjectid="%d">\n'
            ' <tileset firstgid="1" name="tiles" tilewidth="16" tileheight="16" tilecount="16" columns="8">\n'
            '  <image source="../tiles.png" width="128" height="32"/>\n'
            ' </tileset>\n'
            ' <layer id="1" name="walls" width="30" height="15">\n'
            '  <data encoding="csv">\n%s\n</data>\n'
            ' </layer>\n'
            ' <objectgroup id="2" name="things">\n%s\n </objectgroup>\n'
            '</map>\n') % (next_id, ",\n".join(rows), "\n".join(objects))


def write(name, data):
    path = os.path.join(OUT, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


write("tiles.png", make_tiles())
write("coin.wav", make_coin_sound())
write("song.xm", make_song())
write("maps/level1.tmx", make_tiled_level().encode())
