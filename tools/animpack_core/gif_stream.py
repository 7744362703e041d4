"""Reads the block structure of a GIF: screen, colour tables, frames with
their graphic control fields, loop count. Pixels stay LZW-compressed here.

The reader stops where the player's parser stops (an unknown block, a
graphic control extension whose size is not 4 or whose terminator is not 0,
the end of the data), so both views of a stream hold the same frames.
"""

import struct
from dataclasses import dataclass, field
from typing import List, Optional

import numpy as np


class GifError(Exception):
    """The input is not a GIF that can be made into an animation."""


@dataclass
class Frame:
    left: int
    top: int
    width: int
    height: int
    interlaced: bool
    local_table: Optional[np.ndarray]   # (n, 3) uint8, or None
    min_code_size: int = -1              # -1: the data ends before it
    data: bytes = b""                    # the image data sub-blocks' payload, joined
    delay: int = 0                       # hundredths of a second
    disposal: int = 0
    transparent: Optional[int] = None
    has_control: bool = False
    player_has_pixels: bool = True       # False: the player may hold no bitmap for it


@dataclass
class GifFile:
    width: int
    height: int
    global_table: Optional[np.ndarray]   # (n, 3) uint8, or None
    background_index: int
    loop_count: Optional[int] = None     # None: no loop extension; 0: for ever
    frames: List[Frame] = field(default_factory=list)
    ended_early: str = ""                # why the stream stopped before its trailer
    size: int = 0                        # bytes in the file
    raw: bytes = field(default=b"", repr=False)


class Reader:
    """A read position over the bytes; reads past the end raise Reader.End."""

    class End(Exception):
        pass

    def __init__(self, data: bytes):
        self.data = data
        self.pos = 0

    def at_end(self) -> bool:
        return self.pos >= len(self.data)

    def byte(self) -> int:
        if self.pos >= len(self.data):
            raise Reader.End()
        value = self.data[self.pos]
        self.pos += 1
        return value

    def word(self) -> int:
        return self.byte() | self.byte() << 8

    def take(self, count: int) -> bytes:
        chunk = self.data[self.pos:self.pos + count]
        self.pos += count
        if len(chunk) < count:
            raise Reader.End()
        return chunk

    def sub_blocks(self) -> bytes:
        """Data sub-blocks up to the zero count; joined payload."""
        parts = []
        while True:
            count = self.byte()
            if count == 0:
                return b"".join(parts)
            parts.append(self.take(count))


def read_table(reader: Reader, size_bits: int) -> np.ndarray:
    """A colour table of 2^(size_bits+1) entries; entries that a table cut
    short by the end of the data does not hold read as black."""
    count = 2 << size_bits
    raw = reader.data[reader.pos:reader.pos + 3 * count]
    reader.pos = min(reader.pos + 3 * count, len(reader.data))
    raw = raw + bytes(3 * count - len(raw))
    return np.frombuffer(raw, np.uint8).reshape(count, 3).copy()


LOOP_APPLICATIONS = (b"NETSCAPE2.0", b"ANIMEXTS1.0")


def read_loop_extension(payload: bytes) -> Optional[int]:
    """Loop count from an application extension's data, or None."""
    if len(payload) >= 14 and payload[:11] in LOOP_APPLICATIONS and payload[11] == 1:
        return payload[12] | payload[13] << 8
    return None


def parse(data: bytes) -> GifFile:
    if len(data) < 13 or data[:3] != b"GIF":
        raise GifError("not a GIF file (no GIF signature)")
    reader = Reader(data)
    reader.pos = 6
    width, height, packed, background, _aspect = struct.unpack_from("<HHBBB", data, 6)
    reader.pos = 13
    gif = GifFile(width, height, None, background, size=len(data), raw=data)
    if packed & 0x80:
        gif.global_table = read_table(reader, packed & 7)
        if reader.at_end():
            gif.ended_early = "the file ends after the global colour table"
            return gif
    try:
        read_blocks(reader, gif)
    except Reader.End:
        gif.ended_early = "the file ends inside a block"
    return gif


def read_blocks(reader: Reader, gif: GifFile) -> None:
    pending = None  # the last graphic control extension's fields
    while True:
        if reader.at_end():
            gif.ended_early = "the file has no trailer"
            return
        introducer = reader.byte()
        if introducer == 0x21:
            label = reader.byte()
            if label == 0xF9:
                pending = read_graphic_control(reader, gif)
                if pending is None:
                    return
            else:
                payload = reader.sub_blocks()
                if label == 0xFF:
                    loop = read_loop_extension(payload)
                    if loop is not None and gif.loop_count is None:
                        gif.loop_count = loop
        elif introducer == 0x2C:
            frame = read_image(reader, gif)
            if pending is not None:
                frame.delay, frame.disposal, frame.transparent = pending
                frame.has_control = True
                pending = None
            gif.frames.append(frame)
            if frame.min_code_size < 0:
                gif.ended_early = "the file ends inside an image"
                return
        elif introducer == 0x3B:
            return
        else:
            gif.ended_early = f"unknown block 0x{introducer:02X} at byte {reader.pos - 1}"
            return


def read_graphic_control(reader: Reader, gif: GifFile):
    """(delay, disposal, transparent index or None), or None when malformed."""
    size = reader.byte()
    if size != 4:
        gif.ended_early = f"graphic control extension of size {size} at byte {reader.pos - 3}"
        return None
    packed = reader.byte()
    delay = reader.word()
    transparent = reader.byte()
    if reader.byte() != 0:
        gif.ended_early = f"graphic control extension without terminator before byte {reader.pos}"
        return None
    return delay, (packed >> 2) & 7, transparent if packed & 1 else None


def read_image(reader: Reader, gif: GifFile) -> Frame:
    left, top, width, height = reader.word(), reader.word(), reader.word(), reader.word()
    packed = reader.byte()
    frame = Frame(left, top, width, height, bool(packed & 0x40), None)
    if packed & 0x80:
        frame.local_table = read_table(reader, packed & 7)
    if reader.at_end():
        frame.player_has_pixels = False
        return frame
    frame.min_code_size = reader.byte()
    parts = []
    while not reader.at_end():
        count = reader.byte()
        if count == 0:
            break
        parts.append(reader.data[reader.pos:reader.pos + count])
        reader.pos += count
    frame.data = b"".join(parts)
    if width == 0 or height == 0:
        # The player's bitmap would be a block of 0 bytes, which the system
        # may or may not hand out.
        frame.player_has_pixels = False
    return frame
