"""Writes Standard MIDI Files of one track (format 0), for the sample and the
tests, and says when each event of such a song is due.

A song is a list of (tick, message) pairs in tick order: `message` is the
bytes of a channel message (status byte first) or of a meta event made with
tempo(). Ticks are absolute; `division` is ticks per quarter note.
"""

import struct

DEFAULT_TEMPO = 500000  # microseconds per quarter note, until a tempo event


def var_len(value):
    """A variable-length quantity: 7 bits per byte, high bit on all but the last."""
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def tempo(microseconds_per_quarter):
    return b"\xFF\x51\x03" + microseconds_per_quarter.to_bytes(3, "big")


def note(channel, key, velocity, on=True):
    return bytes([(0x90 if on else 0x80) | channel, key, velocity])


def encode(song, division=96):
    track = bytearray()
    previous = 0
    for tick, message in song:
        track += var_len(tick - previous) + message
        previous = tick
    track += b"\x00\xFF\x2F\x00"  # end of track
    header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, division)
    return header + b"MTrk" + struct.pack(">I", len(track)) + bytes(track)


def channel_messages(song, division=96):
    """(milliseconds from the song's start, message) for each channel message,
    with every tempo change taken into account; meta events are left out."""
    timed = []
    at_tick, at_ms, current = 0, 0.0, DEFAULT_TEMPO
    for tick, message in song:
        at_ms += (tick - at_tick) * current / division / 1000.0
        at_tick = tick
        if message[0] == 0xFF:
            if message[1] == 0x51:
                current = int.from_bytes(message[3:6], "big")
            continue
        timed.append((at_ms, message))
    return timed
