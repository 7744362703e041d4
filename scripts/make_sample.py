#!/usr/bin/env python3
"""Makes the bundled sample animation: a GIF of a ball bouncing over a
striped sky, a short WAVE chime and a short MIDI tune.

usage: make_sample.py OUTPUT_DIR   (writes sample.gif, sample.wav, sample.mid)
"""

import math
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import gifwriter  # noqa: E402
import midiwriter  # noqa: E402

WIDTH, HEIGHT, FRAMES = 240, 160, 12


def palette():
    sky = [(40 + 8 * i, 80 + 8 * i, 160 + 6 * i) for i in range(12)]
    ground = [(60, 140, 60), (40, 110, 40)]
    ball = [(250, 210, 40), (230, 120, 20), (255, 255, 255), (20, 20, 20)]
    return sky + ground + ball + [(0, 0, 0)] * (32 - len(sky) - len(ground) - len(ball))


def background():
    rows = []
    for y in range(HEIGHT):
        if y >= HEIGHT - 24:
            rows.append([12 + ((x // 8 + y // 8) % 2) for x in range(WIDTH)])
        else:
            rows.append([min(11, y * 12 // (HEIGHT - 24))] * WIDTH)
    return rows


def frame_rows(step, base):
    rows = [list(r) for r in base]
    cx = 30 + step * (WIDTH - 60) // (FRAMES - 1)
    cy = HEIGHT - 24 - 18 - int(90 * abs(math.sin(math.pi * step / (FRAMES - 1) * 2)))
    for y in range(cy - 18, cy + 19):
        for x in range(cx - 18, cx + 19):
            d = math.hypot(x - cx, y - cy)
            if d <= 18 and 0 <= y < HEIGHT and 0 <= x < WIDTH:
                rows[y][x] = 17 if d > 16.5 else (15 if x - cx + y - cy > 8 else 14)
                if math.hypot(x - cx + 6, y - cy + 6) < 4:
                    rows[y][x] = 16
    return rows


def gif_bytes():
    base = background()
    animation = gifwriter.Animation(WIDTH, HEIGHT, palette())
    for step in range(FRAMES):
        delay = 40 if step in (0, FRAMES - 1) else 8
        animation.frames.append(gifwriter.Frame(frame_rows(step, base), delay=delay))
    return gifwriter.encode(animation)


def wave_bytes(rate=11025, seconds=0.25):
    samples = bytearray()
    count = int(rate * seconds)
    for n in range(count):
        envelope = 1.0 - n / count
        value = envelope * (0.6 * math.sin(2 * math.pi * 880 * n / rate)
                            + 0.3 * math.sin(2 * math.pi * 1320 * n / rate))
        samples.append(int(128 + 100 * value))
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate, 1, 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(samples)) + bytes(samples)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def midi_bytes():
    song = [(0, midiwriter.tempo(500000)),       # 120 beats a minute
            (0, bytes([0xC0, 0x0B]))]            # vibraphone
    for step, key in enumerate((60, 64, 67, 72, 67, 64)):
        song.append((96 * step, midiwriter.note(0, key, 96)))
        song.append((96 * (step + 1), midiwriter.note(0, key, 0, on=False)))
    return midiwriter.encode(song)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, data in (("sample.gif", gif_bytes()), ("sample.wav", wave_bytes()),
                       ("sample.mid", midi_bytes())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
