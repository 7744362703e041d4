#!/usr/bin/env python3
"""Makes the packed players that the start-up tests run, with the packer.

Writes into OUTDIR: song.mid and tone.wav (small valid sound files) and one
packed copy of the player for each start-up case.
"""

import argparse
import os
import struct
import subprocess
import sys


def standard_midi_file():
    """Format 0, one track: a quarter note of middle C at 120 beats a minute."""
    events = bytes([
        0x00, 0xC0, 0x00,        # program change: piano
        0x00, 0x90, 0x3C, 0x40,  # note on, middle C
        0x60, 0x80, 0x3C, 0x40,  # 96 ticks later: note off
        0x00, 0xFF, 0x2F, 0x00,  # end of track
    ])
    header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96)
    return header + b"MTrk" + struct.pack(">I", len(events)) + events


def wave_file():
    """8-bit mono PCM at 8000 Hz: 0.1 s of a square wave."""
    samples = bytes((0x60 if (i // 10) % 2 else 0xA0) for i in range(800))
    fmt = struct.pack("<HHIIHH", 1, 1, 8000, 8000, 1, 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + \
        b"data" + struct.pack("<I", len(samples)) + samples
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--player", required=True, help="the player executable")
    parser.add_argument("--packer", required=True, help="tests/support/pack.py")
    parser.add_argument("--playing-gif", required=True, help="a GIF with a global colour table")
    parser.add_argument("--no-table-gif", required=True, help="a GIF without a global colour table")
    parser.add_argument("outdir")
    args = parser.parse_args()

    os.makedirs(args.outdir, exist_ok=True)
    song = os.path.join(args.outdir, "song.mid")
    tone = os.path.join(args.outdir, "tone.wav")
    with open(song, "wb") as f:
        f.write(standard_midi_file())
    with open(tone, "wb") as f:
        f.write(wave_file())

    cases = {
        "bare.exe": [],
        "sounds_no_colour_table.exe":
            ["--midi", song, "--wave", tone, "--gif", args.no_table_gif],
        "sounds_no_gif.exe": ["--wave", tone, "--midi", song],
        # The GIF section is last, so its payload really ends a byte short.
        "sounds_short_gif.exe":
            ["--midi", song, "--wave", tone, "--gif", args.playing_gif, "--length-delta", "+1"],
        "gif_only.exe": ["--gif", args.playing_gif],
        "full.exe": ["--gif", args.playing_gif, "--wave", tone, "--midi", song],
    }
    for name, sections in cases.items():
        output = os.path.join(args.outdir, name)
        subprocess.run([sys.executable, args.packer, args.player, output] + sections, check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
