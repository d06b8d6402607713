#!/usr/bin/env python3
"""Writes examples/hello/music.trk, the example game's music: a short,
cheerful loop in the engine's "[TRK]" tracker format.

Four channels at 125 BPM, speed 6 (four rows to a beat), two patterns of
four bars over C - G - Am - F, played A, B, A, B, ... for ever:
  channel 0  the tune          instrument 1, a square wave
  channel 1  a bouncing bass   instrument 2, a triangle wave
  channel 2  chord arpeggios   instrument 4, a thin pulse, on the right
  channel 3  hats and snares   instrument 3, noise
Every instrument has a volume envelope, so the notes pluck and die away.
Run it again after changing the tune; the output is committed."""
import os
import random

CHANNELS = 4
ROWS = 64  # four bars of sixteen rows
SPEED, BPM = 6, 125
LINEAR_FREQUENCY = 1

# In linear mode note 49 (C-4) plays a sample at 8363 Hz, so a waveform with
# a 32-sample cycle sounds at 8363 / 32 = 261 Hz, which is C-4.
CYCLE = 32


def note(name):
    """'C-4', 'F#5' -> the tracker note number (1 = C-0)."""
    names = ["C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"]
    return int(name[2]) * 12 + names.index(name[:2]) + 1


KEY_OFF = 97


def u8(v):
    return bytes([v & 0xFF])


def u16(v):
    return (v & 0xFFFF).to_bytes(2, "little")


def u32(v):
    return (v & 0xFFFFFFFF).to_bytes(4, "little")


# ---- samples: 8-bit signed values, delta-coded when written ----

def square(amplitude, duty):
    high = int(CYCLE * duty)
    return [amplitude if i < high else -amplitude for i in range(CYCLE)]


def triangle(amplitude):
    half = CYCLE // 2
    return [round(amplitude * (4 * i / CYCLE - 1)) if i < half
            else round(amplitude * (3 - 4 * i / CYCLE)) for i in range(CYCLE)]


def noise(amplitude, length):
    rng = random.Random(7)  # the same hiss on every run
    return [rng.randint(-amplitude, amplitude) for _ in range(length)]


def sample_block(values, loop, volume=64, panning=128):
    """A 17-byte sample header and its delta-coded 8-bit data; a looping
    sample loops whole."""
    data, previous = bytearray(), 0
    for v in values:
        data += u8(v - previous)
        previous = v
    n = len(values)
    header = u32(n) + u32(0) + u32(n if loop else 0)
    header += u8(volume) + u8(0) + u8(1 if loop else 0) + u8(panning) + u8(0)
    return header + bytes(data)


def instrument(values, loop, envelope, fadeout, panning=128):
    """One instrument of one sample (every note plays it) with a volume
    envelope. The panning envelope is switched off but holds one neutral
    point, and every envelope starts at tick 0: a reader that takes a point
    count as a 16-bit word (its high byte is the next byte of the file)
    then reads this module exactly as pelto does."""
    assert envelope[0][0] == 0
    block = u16(1) + bytes(96)  # one sample; the keymap picks sample 0 for every note
    block += u8(len(envelope)) + b"".join(u16(x) + u16(y) for x, y in envelope)
    block += u8(1) + u16(0) + u16(32)  # panning: one neutral point at tick 0
    block += u8(1) + u8(0) + bytes(2)  # volume envelope on, no sustain
    block += u8(0) + u8(0) + bytes(2)  # panning envelope off
    block += bytes(4) + u16(fadeout)
    return block + sample_block(values, loop, panning=panning)


INSTRUMENTS = [
    instrument(square(40, 0.5), True, [(0, 64), (2, 56), (12, 36), (40, 20), (120, 0)], 512, 112),
    instrument(triangle(80), True, [(0, 64), (6, 52), (30, 24), (90, 0)], 512),
    instrument(noise(64, 2048), False, [(0, 64), (2, 30), (8, 0)], 2048),
    instrument(square(32, 0.25), True, [(0, 48), (3, 40), (10, 16), (24, 0)], 1024, 176),
]
LEAD, BASS, DRUM, ARP = 1, 2, 3, 4

# ---- the tune ----

CHORDS = [  # bass root, chord tones for the arpeggio
    ("C-2", ["C-4", "E-4", "G-4", "C-5"]),
    ("G-1", ["B-3", "D-4", "G-4", "B-4"]),
    ("A-1", ["A-3", "C-4", "E-4", "A-4"]),
    ("F-1", ["A-3", "C-4", "F-4", "A-4"]),
]

# (row within the bar, note) for each bar of the two tunes.
TUNE_A = [
    [(0, "C-5"), (4, "E-5"), (8, "G-5"), (12, "E-5")],
    [(0, "D-5"), (6, "G-5"), (8, "F-5"), (12, "D-5"), (14, "B-4")],
    [(0, "C-5"), (4, "E-5"), (8, "A-5"), (12, "G-5")],
    [(0, "F-5"), (4, "E-5"), (8, "C-5"), (12, "D-5"), (15, None)],
]
TUNE_B = [
    [(0, "G-5"), (2, "E-5"), (4, "G-5"), (8, "C-6"), (12, "G-5")],
    [(0, "B-5"), (4, "A-5"), (8, "G-5"), (12, "D-5")],
    [(0, "E-5"), (4, "A-5"), (6, "C-6"), (8, "B-5"), (12, "A-5")],
    [(0, "A-5"), (4, "G-5"), (6, "F-5"), (8, "E-5"), (10, "D-5"), (12, "C-5")],
]


ARP_STEPS = [0, 1, 2, 3, 2, 1]  # which chord tone, row by row


def volume_column(v):
    return 0x10 + v  # 0x10-0x50 sets the volume 0-64


def pattern(tune):
    cells = [[bytes(5)] * CHANNELS for _ in range(ROWS)]

    def put(row, channel, n, ins, volume, effect=0, param=0):
        cells[row][channel] = bytes([n, ins, volume_column(volume) if ins else 0, effect, param])

    for bar, ((root, tones), line) in enumerate(zip(CHORDS, tune)):
        base = bar * 16
        for row, name in line:  # the tune; None lets the last note go
            if name is None:
                put(base + row, 0, KEY_OFF, 0, 0)
            else:
                put(base + row, 0, note(name), LEAD, 40)
        for i in range(8):  # the bass bounces between the root and its octave
            put(base + 2 * i, 1, note(root) + (12 if i % 2 else 0), BASS, 48)
        for i in range(16):  # the chord, up and down, a note a row
            put(base + i, 2, note(tones[ARP_STEPS[i % len(ARP_STEPS)]]), ARP, 20)
        for i in range(4):  # hats off the beat, a snare on beats two and four
            put(base + 4 * i + 2, 3, note("C-6"), DRUM, 18)
            if i % 2:
                put(base + 4 * i, 3, note("F-4"), DRUM, 36)
    return u16(ROWS) + b"".join(b"".join(row) for row in cells)


PATTERNS = [pattern(TUNE_A), pattern(TUNE_B)]
ORDERS = [0, 1]

header = b"[TRK]\x01" + u16(LINEAR_FREQUENCY) + u16(CHANNELS) + u16(len(PATTERNS))
header += u16(len(INSTRUMENTS)) + u16(BPM) + u16(SPEED) + u16(len(ORDERS)) + u16(0)
module = header + bytes(ORDERS) + b"".join(PATTERNS) + b"".join(INSTRUMENTS)

out = os.path.join(os.path.dirname(__file__), "..", "examples", "hello", "music.trk")
with open(out, "wb") as f:
    f.write(module)
