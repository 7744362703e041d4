"""Shared by the animpack tests: small GIFs written byte by byte, a fake
32-bit Windows executable, running the command, and reading a flattened
GIF back with Pillow (an independent decoder) as the player shows it."""

import io
import os
import struct
import subprocess
import sys
from dataclasses import dataclass, field
from typing import List, Optional, Sequence, Tuple

import numpy as np
import pytest
from PIL import Image

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import gifwriter  # noqa: E402

ANIMPACK = os.path.join(ROOT, "tools", "animpack")

# Colours of the test pictures by letter, so expected pictures read as text.
COLOURS = {
    "K": (0, 0, 0), "W": (255, 255, 255), "R": (255, 0, 0), "G": (0, 255, 0),
    "B": (0, 0, 255), "Y": (255, 255, 0), "C": (0, 255, 255), "M": (255, 0, 255),
    "O": (255, 128, 0), "P": (128, 0, 128),
}


def rgb_picture(rows: Sequence[str]) -> np.ndarray:
    return np.array([[COLOURS[c] for c in row] for row in rows], np.uint8)


@dataclass
class FramePlan:
    rows: List[List[int]]
    left: int = 0
    top: int = 0
    delay: Optional[int] = 10
    disposal: int = 0
    transparent: Optional[int] = None
    local: Optional[str] = None        # letters of a local colour table
    interlaced: bool = False
    data: Optional[bytes] = None       # image data in place of the encoded rows
    code_size: Optional[int] = None    # LZW minimum code size; None: from the table size


@dataclass
class GifPlan:
    width: int
    height: int
    palette: Optional[str]             # letters of the global colour table; None: no table
    frames: List[FramePlan] = field(default_factory=list)
    background: int = 0
    loop: Optional[int] = 0            # None: no loop extension

    def encode(self) -> bytes:
        return gifwriter.encode(gifwriter.Animation(
            self.width, self.height, letter_colours(self.palette),
            [writer_frame(frame) for frame in self.frames],
            loop=self.loop is not None, loop_count=self.loop or 0, background=self.background))


def letter_colours(letters: Optional[str]):
    return [COLOURS[c] for c in letters] if letters else None


def writer_frame(frame: FramePlan) -> gifwriter.Frame:
    return gifwriter.Frame(frame.rows, frame.left, frame.top, frame.delay, frame.interlaced,
                           letter_colours(frame.local), frame.disposal, frame.transparent,
                           frame.data, frame.code_size)


def rows(*text: str) -> List[List[int]]:
    """Index rows from digit strings: rows("012", "210")."""
    return [[int(c) for c in line] for line in text]


def fake_player(overlay: bytes = b"", machine: int = 0x14C) -> bytes:
    """A minimal PE image: DOS header, PE header, one section of 512 bytes
    of raw data, then `overlay`."""
    dos = bytearray(64)
    dos[:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 64)
    optional = bytearray(0xE0)
    struct.pack_into("<H", optional, 0, 0x10B)
    coff = struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, len(optional), 0x0102)
    header_end = 64 + 4 + len(coff) + len(optional) + 40
    raw_pointer = (header_end + 511) // 512 * 512
    section = struct.pack("<8sIIIIIIHHI", b".text", 512, 0x1000, 512, raw_pointer, 0, 0, 0, 0, 0x60000020)
    head = bytes(dos) + b"PE\0\0" + coff + bytes(optional) + section
    head += bytes(raw_pointer - len(head))
    body = b"---GIF_BEGINS_HERE\0---WAVE_BEGINS_HERE\0" + bytes(512 - 39)
    return head + body + overlay


def wave_bytes() -> bytes:
    fmt = struct.pack("<HHIIHH", 1, 1, 8000, 8000, 1, 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", 4) + b"\x80\x90\x80\x70"
    return b"RIFF" + struct.pack("<I", len(body)) + body


def midi_bytes() -> bytes:
    events = b"\x00\x90\x3C\x40\x60\x80\x3C\x40\x00\xFF\x2F\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" + struct.pack(">I", len(events)) + events


def run_animpack(*arguments, check=True, launcher=False) -> subprocess.CompletedProcess:
    """Runs the command in a child process: through the launcher script, or
    directly with this interpreter, which saves the launcher's probing."""
    command = [ANIMPACK] if launcher else [sys.executable, "-m", "animpack_core"]
    environment = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "tools"))
    result = subprocess.run(command + [str(a) for a in arguments], capture_output=True, text=True,
                            env=environment)
    if check and result.returncode != 0:
        raise AssertionError(f"animpack {' '.join(map(str, arguments))} failed ({result.returncode}):\n"
                             f"{result.stdout}{result.stderr}")
    return result


def pillow_pictures(data: bytes) -> List[Tuple[np.ndarray, int]]:
    """(RGB picture, delay in hundredths) of each frame, read by Pillow. For
    a GIF with opaque frames and no disposal this is what the player shows."""
    pictures = []
    with Image.open(io.BytesIO(data)) as image:
        for index in range(image.n_frames):
            image.seek(index)
            pictures.append((np.asarray(image.convert("RGB")).copy(), image.info.get("duration", 0) // 10))
    return pictures


def without_transparency_or_disposal(data: bytes) -> bytes:
    """The GIF with every graphic control extension set to disposal 1 and no
    transparent index: frames then simply pile up opaquely, as the player
    draws them."""
    out = bytearray(data)
    pos = 13 + (3 * (2 << (data[10] & 7)) if data[10] & 0x80 else 0)

    def skip_sub_blocks(pos):
        while data[pos]:
            pos += data[pos] + 1
        return pos + 1

    while pos < len(data) and data[pos] != 0x3B:
        if data[pos] == 0x21:
            if data[pos + 1] == 0xF9:
                out[pos + 3] = 0x04
            pos = skip_sub_blocks(pos + 2)
        elif data[pos] == 0x2C:
            packed = data[pos + 9]
            pos += 10 + (3 * (2 << (packed & 7)) if packed & 0x80 else 0)
            pos = skip_sub_blocks(pos + 1)
        else:
            raise ValueError(f"unexpected block 0x{data[pos]:02X} at {pos}")
    return bytes(out)


def player_pictures(data: bytes) -> List[Tuple[np.ndarray, int]]:
    """What the player shows of a GIF whose colours are all in its global
    table, read by Pillow."""
    return pillow_pictures(without_transparency_or_disposal(data))


@pytest.fixture
def player_exe(tmp_path):
    """A player to pack with: the real one when the build made it (CTest
    names it in ANIMPACK_PLAYER), else a fake executable."""
    real = os.environ.get("ANIMPACK_PLAYER")
    if real and os.path.exists(real):
        return real
    path = tmp_path / "player.exe"
    path.write_bytes(fake_player())
    return str(path)
