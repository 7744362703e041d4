"""Writes GIF89a files: a small encoder for the sample animation and tests.

Frames are lists of rows of colour indices. Each frame may carry a delay in
hundredths of a second, a disposal method and a transparent index (written
as a graphic control extension), may be stored interlaced and may carry a
local colour table. Tests may also give a frame's image data as it stands,
or its LZW minimum code size.
"""

import struct
from dataclasses import dataclass, field
from typing import List, Optional, Sequence, Tuple

Colour = Tuple[int, int, int]


@dataclass
class Frame:
    rows: List[List[int]]
    left: int = 0
    top: int = 0
    delay: Optional[int] = None      # hundredths of a second; None: no control extension
    interlaced: bool = False
    local_colours: Optional[Sequence[Colour]] = None
    disposal: int = 0
    transparent: Optional[int] = None
    data: Optional[bytes] = None       # image data written in place of the encoded rows
    code_size: Optional[int] = None    # LZW minimum code size; None: from the table size

    @property
    def width(self) -> int:
        return len(self.rows[0]) if self.rows else 0

    @property
    def height(self) -> int:
        return len(self.rows)


@dataclass
class Animation:
    width: int
    height: int
    colours: Optional[Sequence[Colour]]  # global colour table; None: no table
    frames: List[Frame] = field(default_factory=list)
    loop: bool = True                  # write a loop extension
    loop_count: int = 0                # its count; 0: for ever
    background: int = 0                # background colour index


def table_size_bits(count: int) -> int:
    """Size bits b such that 2^(b+1) entries hold `count` colours."""
    bits = 0
    while (2 << bits) < count:
        bits += 1
    return bits


def colour_table_bytes(colours: Sequence[Colour]) -> bytes:
    bits = table_size_bits(len(colours))
    padded = list(colours) + [(0, 0, 0)] * ((2 << bits) - len(colours))
    return b"".join(bytes(c) for c in padded)


def interlaced_order(height: int) -> List[int]:
    order = []
    for start, step in ((0, 8), (4, 8), (2, 4), (1, 2)):
        order.extend(range(start, height, step))
    return order


class CodePacker:
    """Packs variable-width codes into bytes, lowest bit first."""

    def __init__(self) -> None:
        self.out = bytearray()
        self.bit_buffer = 0
        self.bit_count = 0

    def emit(self, code: int, size: int) -> None:
        self.bit_buffer |= code << self.bit_count
        self.bit_count += size
        while self.bit_count >= 8:
            self.out.append(self.bit_buffer & 0xFF)
            self.bit_buffer >>= 8
            self.bit_count -= 8

    def finish(self) -> bytes:
        if self.bit_count:
            self.out.append(self.bit_buffer & 0xFF)
        return bytes(self.out)


def lzw_encode(pixels: Sequence[int], min_code_size: int) -> bytes:
    """LZW-compresses indices into GIF code stream bytes (no sub-blocks)."""
    clear = 1 << min_code_size
    end = clear + 1
    packer = CodePacker()
    emit = packer.emit

    def fresh_table():
        return {(i,): i for i in range(clear)}

    table = fresh_table()
    next_code = end + 1
    code_size = min_code_size + 1
    emit(clear, code_size)
    current: Tuple[int, ...] = ()
    for p in pixels:
        candidate = current + (p,)
        if candidate in table:
            current = candidate
            continue
        emit(table[current], code_size)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            # The decoder widens its codes once slot 2^size - 1 is filled.
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear, code_size)
            table = fresh_table()
            next_code = end + 1
            code_size = min_code_size + 1
        current = (p,)
    if current:
        emit(table[current], code_size)
    emit(end, code_size)
    return packer.finish()


def sub_blocks(data: bytes) -> bytes:
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def encode_frame(frame: Frame, colour_count: int) -> bytes:
    out = bytearray()
    if frame.delay is not None or frame.disposal or frame.transparent is not None:
        packed = frame.disposal << 2 | (1 if frame.transparent is not None else 0)
        out += b"\x21\xF9\x04" + struct.pack("<BHB", packed, frame.delay or 0,
                                             frame.transparent or 0) + b"\x00"
    packed = 0x40 if frame.interlaced else 0
    if frame.local_colours:
        packed |= 0x80 | table_size_bits(len(frame.local_colours))
    out += b"\x2C" + struct.pack("<HHHHB", frame.left, frame.top, frame.width, frame.height, packed)
    if frame.local_colours:
        out += colour_table_bytes(frame.local_colours)
        colour_count = len(frame.local_colours)
    min_code_size = frame.code_size or max(2, table_size_bits(colour_count) + 1)
    out.append(min_code_size)
    if frame.data is not None:
        return bytes(out) + sub_blocks(frame.data)
    order = interlaced_order(frame.height) if frame.interlaced else range(frame.height)
    pixels = [p for y in order for p in frame.rows[y]]
    out += sub_blocks(lzw_encode(pixels, min_code_size))
    return bytes(out)


def encode(animation: Animation) -> bytes:
    out = bytearray(b"GIF89a")
    packed = 0
    if animation.colours:
        packed = 0x80 | 0x70 | table_size_bits(len(animation.colours))
    out += struct.pack("<HHBBB", animation.width, animation.height, packed, animation.background, 0)
    if animation.colours:
        out += colour_table_bytes(animation.colours)
    if animation.loop:
        out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", animation.loop_count) + b"\x00"
    colour_count = len(animation.colours) if animation.colours else 256
    for frame in animation.frames:
        out += encode_frame(frame, colour_count)
    out.append(0x3B)
    return bytes(out)


def solid(width: int, height: int, index: int) -> List[List[int]]:
    row = [index] * width
    return [row] * height   # one row shared: a frame's rows are only read


def solid_data(count: int, index: int, min_code_size: int) -> bytes:
    """The code stream of `count` pixels of one index, written without a
    dictionary: the n-th code after a clear stands for n copies of the
    index, so huge flat frames encode in a moment. It is a code stream a
    decoder must take as any other (each code is the one it is about to
    define), widening its codes and clearing as it would."""
    clear = 1 << min_code_size
    end = clear + 1
    packer = CodePacker()
    code_size = min_code_size + 1
    next_code = end + 1

    def emit(code: int) -> None:
        packer.emit(code, code_size)

    def defined() -> None:
        # The decoder's side: one more entry, and wider codes once the
        # last code of this width is taken.
        nonlocal code_size, next_code
        if next_code < 4096:
            next_code += 1
            if next_code == 1 << code_size and code_size < 12:
                code_size += 1

    remaining = count
    while remaining:
        emit(clear)
        code_size = min_code_size + 1
        next_code = end + 1
        emit(index)
        remaining -= 1
        length = 2
        while remaining and next_code < 4096:
            run = min(length, remaining)
            emit(index if run == 1 else end + run - 1)
            defined()
            remaining -= run
            length += 1
    emit(end)
    return packer.finish()
